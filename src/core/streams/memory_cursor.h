// The bounds rules every memory stream applies to a {data, size, position} cursor: reads and cut
// writes never touch a byte at or past the size, and every position + count or offset + length is
// summed in 64 bits so that a huge count cannot wrap round into range.
#pragma once

#include <algorithm>
#include <cstdint>

namespace Orvan::MemoryCursor {

// The largest size or end a memory stream can hold (4 GiB - 1).
inline constexpr std::uint64_t kMaximumEnd = 0xFFFFFFFFu;

// Of `count` bytes asked at `position`, how many lie before `size`.
inline std::uint32_t Available(std::uint32_t size, std::uint32_t position, std::uint32_t count) noexcept {
  return position >= size ? 0 : std::min(count, size - position);
}

// A count as the i32 result of Read or Write (counts above 2^31 - 1 read as that).
inline std::int32_t CountAsResult(std::uint64_t count) noexcept {
  return static_cast<std::int32_t>(std::min<std::uint64_t>(count, 0x7FFFFFFF));
}

// Copies what exists of `count` bytes at the position and advances past them; returns the count.
std::uint32_t Read(const std::uint8_t* data, std::uint32_t size, std::uint32_t& position, void* destination,
                   std::uint32_t count) noexcept;
// Read with a status: kStreamStatusShort when fewer than `count` bytes were there, else done.
std::uint32_t ReadWithStatus(const std::uint8_t* data, std::uint32_t size, std::uint32_t& position, void* destination,
                             std::uint32_t count, std::uint32_t& status) noexcept;
// Overwrites what exists of `count` bytes at the position (a block keeps its size) and advances
// past them; returns the count.
std::uint32_t WriteInPlace(std::uint8_t* data, std::uint32_t size, std::uint32_t& position, const void* source,
                           std::uint32_t count) noexcept;
// Origin 0: to the offset; origin 2: to size - offset; any other origin adds the offset. 32-bit
// arithmetic, no bound check.
void Seek(std::uint32_t& position, std::uint32_t size, std::uint32_t offset, std::uint32_t origin) noexcept;

// The part of [offset, offset + length) that lies within `size` bytes: empty when the offset is at
// or past the size (an offset of 2^32 or more included), cut at the size otherwise.
struct TByteRange {
  std::uint32_t offset;
  std::uint32_t length;
};
TByteRange ClampRange(std::uint32_t size, std::uint64_t offset, std::uint64_t length) noexcept;

// Copies what exists of [offset, offset + count) into the destination.
void CopyAt(const std::uint8_t* data, std::uint32_t size, std::uint64_t offset, void* destination,
            std::uint32_t count) noexcept;

}  // namespace Orvan::MemoryCursor
