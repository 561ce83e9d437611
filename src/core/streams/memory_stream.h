// TMemoryStream, the growable in-memory stream: a buffer from the big-chunk heap that grows by half
// its capacity at a time, so that repeated appends copy each byte a bounded number of times, and
// shrinks only when it holds more than twice the size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/memory/typed_pool.h"
#include "core/streams/abstract_memory_stream.h"

namespace Orvan {

class TMemoryStream : public TAbstractMemoryStream {
 public:
  // Size and capacity n, position 0; the n bytes are not cleared. std::bad_alloc when the buffer
  // cannot be had.
  explicit TMemoryStream(std::uint32_t size = 0);
  // Frees the buffer. Views of the stream must be gone.
  ~TMemoryStream() override;

  std::uint32_t GetSize() const override { return size_; }
  std::uint32_t GetPosition() const override { return position_; }
  // No check: a position past the size reads nothing and writes leave the gap uncleared.
  void SetPosition(std::uint32_t position) override { position_ = position; }
  // Reads are cut at the size; the result is the count copied.
  std::int32_t Read(void* destination, std::uint32_t count) override;
  std::uint32_t ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) override;
  // Grows the buffer to max(capacity x 1.5, position + count) when needed. The source may lie in
  // the stream's own buffer. std::bad_alloc, with nothing changed, when the end would pass
  // 4 GiB - 1 or the buffer cannot be had.
  std::int32_t Write(const void* source, std::uint32_t count) override;
  // Grows as Write does; shrinks to exactly `size` bytes when the capacity is more than twice the
  // size (size 0 frees the buffer). The position is kept. std::bad_alloc leaves everything as it was.
  void SetSize(std::uint32_t size) override;

  std::uint8_t* GetData() const override { return buffer_; }
  void Seek(std::uint32_t offset, std::uint32_t origin) override;
  // SetSize; std::bad_alloc for sizes above 4 GiB - 1.
  void ResizeProvidedMemory(std::uint64_t size) override;

  std::uint32_t GetCapacity() const noexcept { return capacity_; }

  ORV_POOLED_ALLOCATION(TMemoryStream)

 protected:
  // The growing operations, told which provider's views show this buffer besides the stream's own
  // (the file stream that embeds a content stream hands its views out over the content's bytes).
  std::int32_t WriteShownBy(const TMemoryViewProvider& shower, const void* source, std::uint32_t count);
  void SetSizeShownBy(const TMemoryViewProvider& shower, std::uint64_t size);

 private:
  // Moves the bytes into a buffer of `capacity` bytes (none for 0), copying what both can hold.
  void Reallocate(const TMemoryViewProvider& shower, std::uint32_t capacity);
  // The same, handing the old buffer to the caller to free.
  std::uint8_t* Replace(const TMemoryViewProvider& shower, std::uint32_t capacity);

  std::uint32_t position_ = 0;
  std::uint32_t capacity_ = 0;
  std::uint8_t* buffer_ = nullptr;
  std::uint32_t size_ = 0;
};

}  // namespace Orvan
