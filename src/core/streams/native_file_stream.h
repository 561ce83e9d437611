// TNativeFileStream, the stream over an open POSIX file descriptor: every operation is one or a few
// system calls, with no buffering of its own. The descriptor's file offset is the position, so a
// stream is used by one thread at a time.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "core/objects/ref_counting.h"
#include "core/streams/stream.h"

namespace Orvan {

class TNativeFileStream : public TStream, public TWeakAndRefCountable {
 public:
  // Takes ownership of the descriptor (-1 for none). The second argument is the opener's and is not
  // kept; the value is kept with the stream and used by none of its operations.
  TNativeFileStream(std::int32_t descriptor, std::uint32_t opener, std::uint32_t value) noexcept;
  // Closes the descriptor unless it is -1.
  ~TNativeFileStream() override;

  // "<Unavailable>".
  TOrvString<char> GetDescription() const override;
  // The low 32 bits of the file's size; the position is left where it was.
  std::uint32_t GetSize() const override;
  std::uint32_t GetPosition() const override;
  void SetPosition(std::uint32_t position) override;
  // One read; its result.
  std::int32_t Read(void* destination, std::uint32_t count) override;
  // One read: a failure gives 0 and kStreamStatusError, fewer bytes than asked kStreamStatusShort.
  std::uint32_t ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) override;
  // Writes until every byte is written, retrying interrupted calls. Returns the count written (0
  // for count 0), or -1 when the first write fails; a later failure ends with the count so far.
  std::int32_t Write(const void* source, std::uint32_t count) override;
  // Sets the file's length. EVolumeFull when the volume has no room; any other failure leaves the
  // file as it was and reports nothing.
  void SetSize(std::uint32_t size) override;

  std::uint64_t GetSize64() const { return GetSize(); }
  // Origin 0: to the offset; origin 2: to size - offset; any other origin: position + offset. The
  // position moves only when the target is not above the size.
  void Seek(std::uint32_t offset, std::uint32_t origin);

  std::int32_t GetDescriptor() const noexcept { return descriptor_; }
  std::uint32_t GetValue() const noexcept { return value_; }

 private:
  std::int32_t descriptor_;
  std::uint32_t value_;
};

// The system calls behind the stream's writes and length changes. Tests swap them to make short
// writes, interruptions and failures that a disk would not give on demand; each setter returns the
// call it replaces.
using TNativeWriteCall = ssize_t (*)(int descriptor, const void* source, std::size_t count);
using TNativeTruncateCall = int (*)(int descriptor, off64_t length);
TNativeWriteCall SetNativeWriteCallForTests(TNativeWriteCall call);
TNativeTruncateCall SetNativeTruncateCallForTests(TNativeTruncateCall call);

}  // namespace Orvan
