// The slot-array helpers shared by every open hash map instance.
#include "core/containers/open_hash_map.h"

namespace Orvan {

void ZeroWords(std::uint32_t* words, std::uint32_t n) noexcept {
  if (n != 0) std::memset(words, 0, n * sizeof(std::uint32_t));
}

void EraseHashSlot(std::uint32_t* slots, std::uint32_t mask, std::uint32_t tagShift, std::uint32_t homeShift,
                   std::uint32_t hole) noexcept {
  std::uint32_t j = (hole + 1) & mask;
  if (slots[j] == 0) {
    slots[hole] = 0;
    return;
  }
  std::uint32_t end = j;
  while (slots[end] != 0) end = (end + 1) & mask;
  for (std::uint32_t cur = j; cur != end; cur = (cur + 1) & mask) {
    const std::uint32_t word = slots[cur];
    const std::uint32_t home = ((word >> tagShift) << homeShift) & mask;
    // A word moves back when the hole lies cyclically in [home, cur): its probe path crosses it.
    const bool moves = home <= cur ? (home <= hole && hole < cur) : (hole >= home || hole < cur);
    if (moves) {
      slots[hole] = word;
      hole = cur;
    }
  }
  slots[hole] = 0;
}

}  // namespace Orvan
