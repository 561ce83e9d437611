// Whole-pool maintenance helpers: the engine's sort of address-sized words, used to put a pool's
// free elements back in address order.
#pragma once

#include <cstdint>

namespace Orvan {

// Sorts [first, last) ascending in place: a three-way quicksort (median of three, or of three
// medians for more than 41 values) that finishes ranges of up to 32 values by insertion.
void SortWords(std::uintptr_t* first, std::uintptr_t* last);

}  // namespace Orvan
