// TSaveFileWriter builds a save-file container (the replay's file form) in a memory stream: Begin
// writes the header, AddChunk one record per call, Finish the total size and the digest.
#pragma once

#include <cstdint>

#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"
#include "core/streams/memory_view.h"

namespace Orvan {

class TSaveFileWriter {
 public:
  enum EState : std::uint32_t { kCreated = 0, kBegun = 1, kFinished = 2 };
  enum EError : std::uint32_t { kNoError = 0, kOutOfOrder = 3, kChunkRefused = 4 };

  // A new, empty stream.
  TSaveFileWriter();
  // The container fills `stream` from its start: give an empty one.
  explicit TSaveFileWriter(const TCountedPtr<TMemoryStream>& stream);
  // A new stream, with an option word for the caller's own use (the writer never reads it).
  explicit TSaveFileWriter(std::uint32_t optionWord);
  TSaveFileWriter(const TSaveFileWriter&) = delete;
  TSaveFileWriter& operator=(const TSaveFileWriter&) = delete;

  // Each answers false when called out of order (error 3), changing nothing.
  // The header with a zero size and digest. Only once, first.
  bool Begin();
  // One record: tag, value, size, 0, then the bytes. Only between Begin and Finish. A refused chunk
  // (refuse set, or one that would take the container past 4 GiB - 1 bytes, the most its 32-bit
  // sizes can tell) writes nothing and sets error 4. std::bad_alloc when the stream cannot grow,
  // with nothing written.
  bool AddChunk(std::uint32_t tag, std::uint32_t value, const void* data, std::uint32_t size, bool refuse = false);
  // Fills in the total size and the digest of everything after the header. std::bad_alloc when
  // OpenSSL has no memory for the digest.
  bool Finish();

  // A view of the whole stream (the header's size and digest are zero until Finish). The stream
  // must not grow while views live: take one after Finish, or drop it before the next chunk.
  TCountedPtr<TMemoryView> GetMemoryView() const;
  const TCountedPtr<TMemoryStream>& GetStream() const { return stream_; }

  std::uint32_t GetState() const { return state_; }
  std::uint32_t GetError() const { return error_; }
  std::uint32_t GetOptionWord() const { return optionWord_; }

 private:
  bool RefuseOutOfOrder();

  TCountedPtr<TMemoryStream> stream_;
  std::uint32_t sizePosition_ = 0;
  std::uint32_t optionWord_ = 1;
  std::uint32_t state_ = kCreated;
  std::uint32_t error_ = kNoError;
};

}  // namespace Orvan
