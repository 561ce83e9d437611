// Small algorithms over the engine's arrays: word copies, sorting objects by a multi-word key
// through a permutation (the objects never move during the sort), applying a permutation in place,
// the rank index of sorted 64-bit values, and the pointer hash shared by several units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

#include "core/containers/engine_vector.h"
#include "core/containers/open_hash_map.h"
#include "core/memory/global_allocation.h"
#include "core/memory/stack_based_allocator.h"

namespace Orvan {

struct TIntegerHash;
struct TWordEqual;

// ---- Word copies.

// Copies n words: memcpy above 8, an unrolled loop below.
void CopyWords(std::uint32_t* destination, const std::uint32_t* source, std::uint32_t n) noexcept;

// The same for plain 8-byte elements: memcpy above 8, an unrolled copy of up to eight below.
template <typename T>
  requires(sizeof(T) == 8 && std::is_trivially_copyable_v<T>)
void CopyPodArray8(T* destination, const T* source, std::uint32_t n) noexcept {
  if (n > 8) {
    std::memcpy(static_cast<void*>(destination), static_cast<const void*>(source), std::size_t{n} * 8);
    return;
  }
  switch (n) {
    case 8: destination[7] = source[7]; [[fallthrough]];
    case 7: destination[6] = source[6]; [[fallthrough]];
    case 6: destination[5] = source[5]; [[fallthrough]];
    case 5: destination[4] = source[4]; [[fallthrough]];
    case 4: destination[3] = source[3]; [[fallthrough]];
    case 3: destination[2] = source[2]; [[fallthrough]];
    case 2: destination[1] = source[1]; [[fallthrough]];
    case 1: destination[0] = source[0]; [[fallthrough]];
    default: break;
  }
}

// Exchanges two words and returns b.
std::uint32_t* SwapWords(std::uint32_t* a, std::uint32_t* b) noexcept;

// Orders three values ascending in place (unsigned).
void SortThree(std::uint32_t* a, std::uint32_t* b, std::uint32_t* c) noexcept;

// The engine's pointer hash (the hash of its pointer-keyed tables): a 64-bit key is folded to 32
// bits first, so keys below 2^32 hash as on a 32-bit host.
std::uint32_t HashPointer(std::uintptr_t key) noexcept;

// ---- Sorting by key.

// The key of a sorted object: `count` u32 ids from `ids`. Keys order lexicographically, ids as
// unsigned, a proper prefix first: {1, 5} < {1, 5, 0} < {2}.
struct TSortKey {
  const std::uint32_t* ids;
  std::uint32_t count;
};

inline bool IsKeyLess(const TSortKey& a, const TSortKey& b) noexcept {
  const std::uint32_t common = a.count < b.count ? a.count : b.count;
  for (std::uint32_t i = 0; i < common; ++i) {
    if (a.ids[i] != b.ids[i]) return a.ids[i] < b.ids[i];
  }
  return a.count < b.count;
}

// Marks a permutation entry already applied.
inline constexpr std::uint32_t kPermutationDone = 0xFFFFFFFFu;

namespace ArraySortDetail {

// Scratch arrays live on the stack while their bytes + 15 stay below this limit (at most 16,401
// bytes: 4,100 u32 or 1,025 sort records); larger ones come from the calling thread's stack-based
// allocator, never from a heap.
inline constexpr std::size_t kStackScratchLimit = 16417;
inline constexpr std::size_t kStackScratchBytes = kStackScratchLimit - 16;

// n elements of T, released on every exit. T must be trivially copyable and at most 16-aligned.
template <typename T>
class TScratchArray {
  static_assert(std::is_trivially_copyable_v<T> && alignof(T) <= 16);

 public:
  explicit TScratchArray(std::uint32_t count) {
    const std::size_t bytes = std::size_t{count} * sizeof(T);
    if (bytes + 15 < kStackScratchLimit) {
      data_ = reinterpret_cast<T*>(stack_);
      return;
    }
    if (bytes > std::numeric_limits<std::uint32_t>::max()) ThrowBadAlloc();
    block_.Reset(static_cast<std::uint32_t>(bytes));
    data_ = static_cast<T*>(block_.data);
  }
  TScratchArray(const TScratchArray&) = delete;
  TScratchArray& operator=(const TScratchArray&) = delete;

  T* Data() noexcept { return data_; }

 private:
  alignas(16) unsigned char stack_[kStackScratchBytes];
  TStackBasedBlock block_;
  T* data_;
};

// What the sort moves: the key and the position before the sort (16 bytes on this host).
struct TSortRecord {
  const std::uint32_t* ids;
  std::uint32_t count;
  std::uint32_t position;
};
static_assert(sizeof(TSortRecord) == 16);

// Ranges of at most this many elements are finished by insertion sort.
inline constexpr std::ptrdiff_t kInsertionSortThreshold = 32;

template <typename T, typename TLess>
void InsertionSort(T* first, T* last, const TLess& less) {
  for (T* i = first + 1; i < last; ++i) {
    T value = *i;
    T* j = i;
    for (; j > first && less(value, *(j - 1)); --j) *j = *(j - 1);
    *j = value;
  }
}

template <typename T, typename TLess>
const T& MedianOfThree(const T& a, const T& b, const T& c, const TLess& less) {
  if (less(a, b)) {
    if (less(b, c)) return b;
    return less(a, c) ? c : a;
  }
  if (less(a, c)) return a;
  return less(b, c) ? c : b;
}

// Quicksort: ranges above the threshold are split three ways around the median of their first,
// middle and last elements; the smaller side recurses, the larger one loops, so the depth stays
// logarithmic. Equal elements end in no defined order.
template <typename T, typename TLess>
void QuickSort(T* first, T* last, const TLess& less) {
  while (last - first > kInsertionSortThreshold) {
    const T pivot = MedianOfThree(*first, first[(last - first) / 2], *(last - 1), less);
    T* below = first;
    T* scan = first;
    T* above = last;
    while (scan < above) {
      if (less(*scan, pivot)) {
        std::swap(*below++, *scan++);
      } else if (less(pivot, *scan)) {
        std::swap(*scan, *--above);
      } else {
        ++scan;
      }
    }
    if (below - first < last - above) {
      QuickSort(first, below, less);
      first = above;
    } else {
      QuickSort(above, last, less);
      last = below;
    }
  }
  if (last - first > 1) InsertionSort(first, last, less);
}

}  // namespace ArraySortDetail

// Writes the sorted order of the objects as a permutation: out[i] is the position before the sort
// of the object that sorts i-th. T gives its key with `TSortKey GetSortKey() const`.
template <typename T>
void BuildSortOrder(std::uint32_t* out, T* const* first, T* const* last) {
  using ArraySortDetail::TSortRecord;
  const std::uint32_t n = static_cast<std::uint32_t>(last - first);
  if (n == 0) return;
  ArraySortDetail::TScratchArray<TSortRecord> records(n);
  TSortRecord* record = records.Data();
  for (std::uint32_t i = 0; i < n; ++i) {
    const TSortKey key = first[i]->GetSortKey();
    record[i] = TSortRecord{key.ids, key.count, i};
  }
  ArraySortDetail::QuickSort(record, record + n, [](const TSortRecord& a, const TSortRecord& b) {
    return IsKeyLess(TSortKey{a.ids, a.count}, TSortKey{b.ids, b.count});
  });
  for (std::uint32_t i = 0; i < n; ++i) out[i] = record[i].position;
}

// Reorders the items in place so that item i becomes the old item permutation[i]; each item moves
// once, following the permutation's cycles. The permutation is consumed: every entry ends as
// kPermutationDone.
template <typename T>
void ApplyPermutation(T* first, T* last, std::uint32_t* permutation) {
  const std::uint32_t n = static_cast<std::uint32_t>(last - first);
  if (n < 2) return;
  for (std::uint32_t start = 0; start < n; ++start) {
    if (permutation[start] == kPermutationDone) continue;
    if (permutation[start] == start) {
      permutation[start] = kPermutationDone;
      continue;
    }
    T held = std::move(first[start]);
    std::uint32_t at = start;
    for (;;) {
      const std::uint32_t from = permutation[at];
      permutation[at] = kPermutationDone;
      if (from == start) {
        first[at] = std::move(held);
        break;
      }
      first[at] = std::move(first[from]);
      at = from;
    }
  }
}

// Reorders the object pointers so that their keys ascend (see BuildSortOrder). Fewer than two
// pointers take no memory; otherwise the scratch comes from the stack or the calling thread's
// stack-based allocator, never from a heap.
template <typename T>
void SortByKey(T** first, T** last) {
  const std::uint32_t n = static_cast<std::uint32_t>(last - first);
  if (n < 2) return;
  ArraySortDetail::TScratchArray<std::uint32_t> permutation(n);
  BuildSortOrder(permutation.Data(), first, last);
  ApplyPermutation(first, last, permutation.Data());
}

// ---- Rank index.

// The u32-keyed table of the rank index (a TU32ToU32Map).
using TRankIndexMap =
    TOpenHashMap<TKeyValueEntry<std::uint32_t, std::uint32_t>, TIntegerHash, TWordEqual, default_allocator<unsigned char>>;

// Sorts the values ascending (unsigned 64-bit), empties the map (keeping its storage), sizes ids
// to the number of values, then for each position i maps the low word of value i to i and sets
// ids[i] to that low word. A low word seen twice ends mapped to its later position.
void BuildRankIndex(TVector<std::uint64_t>& values, TRankIndexMap& map, TVector<std::uint32_t>& ids);

}  // namespace Orvan
