// Structural checks of an open hash map, shared by its unit tests and its fuzz target: every slot
// word names a live entry once, carries the tag of that entry's hash, and is reachable from its
// home without crossing an empty slot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/containers/open_hash_map.h"

namespace OrvTest {

// Empty when the map is sound, else what is wrong.
template <typename TMap>
std::string CheckOpenHashMapInvariants(const TMap& map) {
  using namespace Orvan::OpenHashMapLayout;
  const std::uint32_t k = map.SlotBits();
  const std::uint32_t count = map.Count();
  if (k == 0) return count == 0 ? std::string() : "entries without storage";
  if (count > map.Capacity()) return "count above capacity";
  const std::uint32_t slotCount = 1u << k;
  const std::uint32_t tagShift = TagShift(k);
  const std::uint32_t homeShift = HomeShift(k);
  const std::uint32_t indexMask = map.Capacity() - 1;
  const std::uint32_t* slots = map.SlotWords();
  std::vector<int> seen(count, 0);
  std::uint32_t used = 0;
  for (std::uint32_t i = 0; i < slotCount; ++i) {
    const std::uint32_t word = slots[i];
    if (word == 0) continue;
    ++used;
    const std::uint32_t index = word & indexMask;
    if (index >= count) return "slot " + std::to_string(i) + " names a dead entry";
    if (++seen[index] != 1) return "entry " + std::to_string(index) + " has two slots";
    const std::uint32_t hash = typename TMap::TEntryHash()(map.Entries()[index]);
    const std::uint32_t tag = Tag(hash, tagShift);
    if ((word >> tagShift) != tag) return "slot " + std::to_string(i) + " carries a wrong tag";
    if ((word & ((1u << tagShift) - 1) & ~indexMask) != 0) return "stray bits in slot " + std::to_string(i);
    for (std::uint32_t j = Home(tag, homeShift, slotCount - 1); j != i; j = (j + 1) & (slotCount - 1)) {
      if (slots[j] == 0) return "slot " + std::to_string(i) + " is cut off from its home";
    }
  }
  if (used != count) return "slot count differs from entry count";
  return std::string();
}

}  // namespace OrvTest
