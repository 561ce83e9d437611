// The growable memory stream: its buffer rules and cut reads.
#include "core/streams/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "core/memory/big_chunk_allocator.h"
#include "core/streams/memory_cursor.h"

namespace Orvan {

namespace {

// Growth by half the capacity, but at least to `end`; never past what a size can hold.
std::uint32_t GrownCapacity(std::uint32_t capacity, std::uint64_t end) {
  const std::uint64_t grown = std::max<std::uint64_t>(std::uint64_t{capacity} + capacity / 2, end);
  return static_cast<std::uint32_t>(std::min(grown, MemoryCursor::kMaximumEnd));
}

std::uint8_t* AllocateBuffer(std::uint32_t capacity) {
  if (capacity == 0) return nullptr;
  auto* buffer = static_cast<std::uint8_t*>(AllocateFromBigChunkHeap(capacity));
  if (buffer == nullptr) ThrowBadAlloc();
  return buffer;
}

}  // namespace

TMemoryStream::TMemoryStream(std::uint32_t size) : capacity_(size), buffer_(AllocateBuffer(size)), size_(size) {}

TMemoryStream::~TMemoryStream() {
  // The provider part reports views that outlive the buffer.
  FreeToBigChunkHeap(buffer_);
}

std::int32_t TMemoryStream::Read(void* destination, std::uint32_t count) {
  return MemoryCursor::CountAsResult(MemoryCursor::Read(buffer_, size_, position_, destination, count));
}

std::uint32_t TMemoryStream::ReadWithStatus(void* destination, std::uint32_t count, std::uint32_t& status) {
  return MemoryCursor::ReadWithStatus(buffer_, size_, position_, destination, count, status);
}

std::int32_t TMemoryStream::Write(const void* source, std::uint32_t count) {
  return WriteShownBy(*this, source, count);
}

void TMemoryStream::SetSize(std::uint32_t size) { SetSizeShownBy(*this, size); }

void TMemoryStream::Seek(std::uint32_t offset, std::uint32_t origin) {
  MemoryCursor::Seek(position_, size_, offset, origin);
}

void TMemoryStream::ResizeProvidedMemory(std::uint64_t size) { SetSizeShownBy(*this, size); }

std::int32_t TMemoryStream::WriteShownBy(const TMemoryViewProvider& shower, const void* source, std::uint32_t count) {
  if (count == 0) return 0;
  const std::uint64_t end = std::uint64_t{position_} + count;
  if (end > MemoryCursor::kMaximumEnd) ThrowBadAlloc();
  // The source may lie in this very buffer: a grown buffer's old block goes only once the bytes
  // are copied, and memmove copies a source that overlaps the destination.
  std::uint8_t* retired = nullptr;
  if (end > capacity_) retired = Replace(shower, GrownCapacity(capacity_, end));
  std::memmove(buffer_ + position_, source, count);
  FreeToBigChunkHeap(retired);
  position_ = static_cast<std::uint32_t>(end);
  size_ = std::max(size_, position_);
  return MemoryCursor::CountAsResult(count);
}

void TMemoryStream::SetSizeShownBy(const TMemoryViewProvider& shower, std::uint64_t size) {
  if (size > MemoryCursor::kMaximumEnd) ThrowBadAlloc();
  if (size > capacity_) {
    Reallocate(shower, GrownCapacity(capacity_, size));
  } else if (capacity_ > 2 * size) {
    Reallocate(shower, static_cast<std::uint32_t>(size));
  }
  size_ = static_cast<std::uint32_t>(size);
}

void TMemoryStream::Reallocate(const TMemoryViewProvider& shower, std::uint32_t capacity) {
  FreeToBigChunkHeap(Replace(shower, capacity));
}

std::uint8_t* TMemoryStream::Replace(const TMemoryViewProvider& shower, std::uint32_t capacity) {
  CheckNoLiveViewsBeforeMove(GetLiveViewCount() + (&shower != this ? shower.GetLiveViewCount() : 0));
  std::uint8_t* buffer = AllocateBuffer(capacity);
  if (buffer_ != nullptr && buffer != nullptr) std::memcpy(buffer, buffer_, std::min(capacity_, capacity));
  capacity_ = capacity;
  return std::exchange(buffer_, buffer);
}

}  // namespace Orvan
