// The growth rule shared by every engine array.
#include "core/containers/engine_vector.h"

#include <bit>

namespace Orvan {

namespace {
// Per-block overhead of the engine allocators: a grown block plus this fits a power of two.
constexpr std::uint64_t kHeader = kBlockHeaderSize;
// Arrays up to this many bytes double; with the header they stay within 256 bytes.
constexpr std::uint64_t kDoublingLimit = 256 - kHeader;
constexpr std::uint64_t kTooLarge = std::numeric_limits<std::uint64_t>::max();
}  // namespace

std::uint32_t ComputeGrownCapacity(std::uint32_t capacity, std::uint32_t elementSize) {
  const std::uint64_t grown = ComputeGrownCapacity64(capacity, elementSize);
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint32_t>::max();
  return static_cast<std::uint32_t>(grown < kLargest ? grown : kLargest);
}

std::uint64_t ComputeGrownCapacity64(std::uint64_t capacity, std::uint64_t elementSize) {
  if (capacity == 0) return elementSize <= 256 ? 4 : 1;
  std::uint64_t bytes;
  if (__builtin_mul_overflow(capacity, elementSize, &bytes)) return kTooLarge;
  // bytes <= 120 is 2 x bytes <= 240 without the doubling overflowing.
  if (bytes <= kDoublingLimit / 2) return capacity <= kTooLarge / 2 ? 2 * capacity : kTooLarge;
  const std::uint64_t wanted = bytes + bytes / 2;
  if (wanted < bytes || wanted > (std::uint64_t{1} << 63)) return kTooLarge;
  // bytes > 120 here, so the power is at least 256 and above the header.
  const std::uint64_t power = std::bit_ceil(wanted);
  const std::uint64_t fitting = (power - kHeader) / elementSize;
  if (fitting > capacity) return fitting;
  return capacity < kTooLarge ? capacity + 1 : kTooLarge;
}

}  // namespace Orvan
