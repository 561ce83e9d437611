// TStream, the one byte-stream interface of the engine: files, memory buffers, packet readers and
// writers all read and write through it. Sizes, positions and counts are unsigned 32-bit.
//
// Counted streams (every memory stream, the native file stream) carry their count beside this
// interface, so a TCountedPtr<TStream> holds any of them.
#pragma once

#include <cstdint>

#include "core/singletons/non_copyable.h"
#include "core/text/engine_string.h"

namespace Orvan {

// Outcome of ReadWithStatus.
inline constexpr std::uint32_t kStreamStatusDone = 0;
// Fewer bytes than asked: the end of the data came first.
inline constexpr std::uint32_t kStreamStatusShort = 2;
inline constexpr std::uint32_t kStreamStatusError = 260;

// Seek origins: from the start, from the position (any other value too), backwards from the end.
inline constexpr std::uint32_t kSeekFromStart = 0;
inline constexpr std::uint32_t kSeekFromPosition = 1;
inline constexpr std::uint32_t kSeekFromEnd = 2;

class TStream : public Meta::NonCopyable {
 public:
  virtual ~TStream() = default;

  // "no info" unless a stream says more of itself.
  virtual TOrvString<char> GetDescription() const;
  virtual std::uint32_t GetSize() const = 0;
  virtual std::uint32_t GetPosition() const = 0;
  virtual void SetPosition(std::uint32_t position) = 0;
  // The count read, or -1 on a failure the stream can report.
  virtual std::int32_t Read(void* destination, std::uint32_t count) = 0;
  // The count copied; status is kStreamStatusDone, kStreamStatusShort or kStreamStatusError.
  virtual std::uint32_t ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) = 0;
  // The count written, or -1 on a failure the stream can report.
  virtual std::int32_t Write(const void* source, std::uint32_t count) = 0;
  virtual void SetSize(std::uint32_t size) = 0;

 protected:
  TStream() = default;
};

}  // namespace Orvan
