// Array utilities: word copies, three-value ordering, the pointer hash and the rank index.
#include "core/containers/array_utilities.h"

#include "core/text/hash_functors.h"

namespace Orvan {

static_assert(std::is_same_v<TRankIndexMap, TU32ToU32Map>);

void CopyWords(std::uint32_t* destination, const std::uint32_t* source, std::uint32_t n) noexcept {
  if (n > 8) {
    std::memcpy(destination, source, std::size_t{n} * sizeof(std::uint32_t));
    return;
  }
  std::uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    destination[i] = source[i];
    destination[i + 1] = source[i + 1];
    destination[i + 2] = source[i + 2];
    destination[i + 3] = source[i + 3];
  }
  for (; i < n; ++i) destination[i] = source[i];
}

std::uint32_t* SwapWords(std::uint32_t* a, std::uint32_t* b) noexcept {
  const std::uint32_t held = *a;
  *a = *b;
  *b = held;
  return b;
}

void SortThree(std::uint32_t* a, std::uint32_t* b, std::uint32_t* c) noexcept {
  if (*b < *a) SwapWords(a, b);
  if (*c < *b) SwapWords(b, c);
  if (*b < *a) SwapWords(a, b);
}

std::uint32_t HashPointer(std::uintptr_t key) noexcept {
  return TPointerHash::HashAddress(TPointerHash::FoldAddress(key));
}

void BuildRankIndex(TVector<std::uint64_t>& values, TRankIndexMap& map, TVector<std::uint32_t>& ids) {
  const std::uint32_t n = values.GetSize();
  ArraySortDetail::QuickSort(values.Data(), values.Data() + n,
                             [](std::uint64_t a, std::uint64_t b) { return a < b; });
  map.RemoveAll();
  ids.Resize(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint32_t low = static_cast<std::uint32_t>(values[i]);
    *FindOrAddDefault(map, low).second = i;
    ids[i] = low;
  }
}

}  // namespace Orvan
