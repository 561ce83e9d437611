// The bounds rules of memory-stream cursors.
#include "core/streams/memory_cursor.h"

#include <cstring>

#include "core/streams/stream.h"

namespace Orvan::MemoryCursor {

std::uint32_t Read(const std::uint8_t* data, std::uint32_t size, std::uint32_t& position, void* destination,
                   std::uint32_t count) noexcept {
  const std::uint32_t available = Available(size, position, count);
  if (available != 0) std::memcpy(destination, data + position, available);
  position += available;
  return available;
}

std::uint32_t ReadWithStatus(const std::uint8_t* data, std::uint32_t size, std::uint32_t& position, void* destination,
                             std::uint32_t count, std::uint32_t& status) noexcept {
  status = std::uint64_t{position} + count > size ? kStreamStatusShort : kStreamStatusDone;
  return Read(data, size, position, destination, count);
}

std::uint32_t WriteInPlace(std::uint8_t* data, std::uint32_t size, std::uint32_t& position, const void* source,
                           std::uint32_t count) noexcept {
  const std::uint32_t available = Available(size, position, count);
  if (available != 0) std::memcpy(data + position, source, available);
  position += available;
  return available;
}

void Seek(std::uint32_t& position, std::uint32_t size, std::uint32_t offset, std::uint32_t origin) noexcept {
  if (origin == kSeekFromStart) {
    position = offset;
  } else if (origin == kSeekFromEnd) {
    position = size - offset;
  } else {
    position += offset;
  }
}

TByteRange ClampRange(std::uint32_t size, std::uint64_t offset, std::uint64_t length) noexcept {
  if (offset >= size) return {size, 0};
  const auto start = static_cast<std::uint32_t>(offset);
  return {start, static_cast<std::uint32_t>(std::min<std::uint64_t>(length, size - start))};
}

void CopyAt(const std::uint8_t* data, std::uint32_t size, std::uint64_t offset, void* destination,
            std::uint32_t count) noexcept {
  const TByteRange range = ClampRange(size, offset, count);
  if (range.length != 0) std::memcpy(destination, data + range.offset, range.length);
}

}  // namespace Orvan::MemoryCursor
