// The growth rule shared by every engine array.
#include "core/text_and_containers/engine_vector.h"

namespace Orvan {

std::uint32_t ComputeGrownCapacity(std::uint32_t capacity, std::uint32_t elementSize) {
  return static_cast<std::uint32_t>(ComputeGrownCapacity64(capacity, elementSize));
}

std::uint64_t ComputeGrownCapacity64(std::uint64_t capacity, std::uint64_t elementSize) {
  constexpr std::uint64_t kHeader = 16;
  if (capacity == 0) return elementSize <= 256 ? 4 : 1;
  const std::uint64_t bytes = capacity * elementSize;
  if (2 * bytes <= 256 - kHeader) return 2 * capacity;
  const std::uint64_t wanted = bytes + bytes / 2;
  std::uint64_t power = 1;
  while (power < wanted) power <<= 1;
  const std::uint64_t fitting = (power - kHeader) / elementSize;
  return fitting > capacity ? fitting : capacity + 1;
}

}  // namespace Orvan
