// The two whole-pool operations that must know which elements are free (release of wholly free
// chunks, visit of the elements in use) and the sort they use. Both run on a quiescent pool.
#include "core/memory/pool_maintenance.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <utility>

#include "core/containers/engine_vector.h"
#include "core/memory/untyped_pool.h"

namespace Orvan {

// ---- SortWords

namespace {

// Ranges of up to this many values are finished by insertion sort.
constexpr std::ptrdiff_t kInsertionSortLimit = 32;
// Above this many values the pivot is the median of three medians.
constexpr std::ptrdiff_t kNintherLimit = 41;

void InsertionSortWords(std::uintptr_t* first, std::uintptr_t* last) {
  for (std::uintptr_t* i = first + 1; i < last; ++i) {
    const std::uintptr_t value = *i;
    std::uintptr_t* j = i;
    for (; j > first && j[-1] > value; --j) *j = j[-1];
    *j = value;
  }
}

std::uintptr_t MedianOfThree(std::uintptr_t a, std::uintptr_t b, std::uintptr_t c) {
  if (a < b) {
    if (b < c) return b;
    return a < c ? c : a;
  }
  if (a < c) return a;
  return b < c ? c : b;
}

}  // namespace

void SortWords(std::uintptr_t* first, std::uintptr_t* last) {
  while (last - first > kInsertionSortLimit) {
    const std::ptrdiff_t count = last - first;
    std::uintptr_t* middle = first + count / 2;
    std::uintptr_t* back = last - 1;
    std::uintptr_t pivot;
    if (count > kNintherLimit) {
      const std::ptrdiff_t step = count / 8;
      pivot = MedianOfThree(MedianOfThree(first[0], first[step], first[2 * step]),
                            MedianOfThree(middle[-step], middle[0], middle[step]),
                            MedianOfThree(back[-2 * step], back[-step], back[0]));
    } else {
      pivot = MedianOfThree(*first, *middle, *back);
    }
    // [first, below) < pivot, [below, scan) == pivot, [above, last) > pivot.
    std::uintptr_t* below = first;
    std::uintptr_t* scan = first;
    std::uintptr_t* above = last;
    while (scan < above) {
      if (*scan < pivot) {
        std::swap(*below++, *scan++);
      } else if (*scan > pivot) {
        std::swap(*scan, *--above);
      } else {
        ++scan;
      }
    }
    // Recursion on the smaller side bounds the depth by log2 of the count.
    if (below - first < last - above) {
      SortWords(first, below);
      first = above;
    } else {
      SortWords(above, last);
      last = below;
    }
  }
  if (last - first > 1) InsertionSortWords(first, last);
}

namespace PoolDetail {

namespace {

// A growable list of element addresses keeping `InlineCount` of them in place; its heap storage
// comes from `heap`, or from the engine allocation when `heap` is null.
template <std::uint32_t InlineCount>
class TWordBucket {
 public:
  explicit TWordBucket(THeap* heap) : heap_(heap) {}
  ~TWordBucket() {
    if (data_ != inline_.data()) FreeStorage(data_);
  }
  TWordBucket(const TWordBucket&) = delete;
  TWordBucket& operator=(const TWordBucket&) = delete;

  void Append(std::uintptr_t value) {
    if (size_ == capacity_) Grow();
    data_[size_++] = value;
  }
  std::uint32_t Size() const { return size_; }
  std::uintptr_t* begin() { return data_; }
  std::uintptr_t* end() { return data_ + size_; }

 private:
  void Grow() {
    const std::uint32_t grown = ComputeGrownCapacity(capacity_, sizeof(std::uintptr_t));
    const std::size_t bytes = std::size_t{grown} * sizeof(std::uintptr_t);
    auto* storage = static_cast<std::uintptr_t*>(heap_ != nullptr ? heap_->Allocate(bytes)
                                                                   : AllocateMemoryOrThrow(kDomainEngine, bytes));
    if (size_ != 0) std::memcpy(storage, data_, std::size_t{size_} * sizeof(std::uintptr_t));
    if (data_ != inline_.data()) FreeStorage(data_);
    data_ = storage;
    capacity_ = grown;
  }
  void FreeStorage(std::uintptr_t* storage) {
    if (heap_ != nullptr) {
      heap_->Free(storage);
    } else {
      FreeMemory(kDomainEngine, storage);
    }
  }

  THeap* heap_;
  std::array<std::uintptr_t, InlineCount> inline_;
  std::uintptr_t* data_ = inline_.data();
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = InlineCount;
};

// One bucket per chunk: up to `LocalCount` buckets in the operation's own storage, more in a
// block from `heap` (the engine allocation when null).
template <std::uint32_t InlineCount, std::uint32_t LocalCount>
class TBucketArray {
 public:
  using TBucket = TWordBucket<InlineCount>;

  TBucketArray(std::uint32_t count, THeap* heap) : heap_(heap) {
    void* storage = local_;
    if (count > LocalCount) {
      const std::size_t bytes = std::size_t{count} * sizeof(TBucket);
      storage = heap != nullptr ? heap->Allocate(bytes) : AllocateMemoryOrThrow(kDomainEngine, bytes);
    }
    buckets_ = static_cast<TBucket*>(storage);
    for (; count_ < count; ++count_) new (&buckets_[count_]) TBucket(heap);
  }
  ~TBucketArray() {
    for (std::uint32_t i = 0; i < count_; ++i) buckets_[i].~TBucket();
    if (static_cast<void*>(buckets_) != static_cast<void*>(local_)) {
      if (heap_ != nullptr) {
        heap_->Free(buckets_);
      } else {
        FreeMemory(kDomainEngine, buckets_);
      }
    }
  }
  TBucketArray(const TBucketArray&) = delete;
  TBucketArray& operator=(const TBucketArray&) = delete;

  TBucket& operator[](std::uint32_t index) { return buckets_[index]; }

 private:
  THeap* heap_;
  TBucket* buckets_ = nullptr;
  std::uint32_t count_ = 0;
  alignas(TBucket) unsigned char local_[LocalCount == 0 ? 1 : LocalCount * sizeof(TBucket)];
};

// Index of the chunk holding `element`, trying `hint` first; chunks.Size() when none does.
std::uint32_t FindChunk(const TPoolChunkList& chunks, std::uint32_t elementSize, const void* element,
                        std::uint32_t hint) {
  if (hint < chunks.Size() && IsInPoolChunk(chunks[hint], elementSize, element)) return hint;
  for (std::uint32_t i = 0; i < chunks.Size(); ++i) {
    if (IsInPoolChunk(chunks[i], elementSize, element)) return i;
  }
  return chunks.Size();
}

}  // namespace

std::uint32_t ReleaseWhollyFreeChunks(TPoolChunkList& chunks, std::uint32_t elementSize, void* freeHead,
                                      THeap* scratchHeap, TChunkRelease release, void* releaseContext,
                                      void** rebuiltHead) {
  // Up to 64 chunks of up to 64 free elements each need no heap memory.
  constexpr std::uint32_t kInlineElements = 64;
  constexpr std::uint32_t kLocalBuckets = 64;
  const std::uint32_t chunkCount = chunks.Size();
  TBucketArray<kInlineElements, kLocalBuckets> buckets(chunkCount, scratchHeap);

  // Sorting every free element into its chunk's bucket is all that can fail; nothing changes before.
  std::uint32_t previous = 0;
  for (void* element = freeHead; element != nullptr; element = NextOf(element)) {
    const std::uint32_t chunk = FindChunk(chunks, elementSize, element, previous);
    if (chunk == chunkCount) continue;  // not of this pool: left off the rebuilt list
    buckets[chunk].Append(reinterpret_cast<std::uintptr_t>(element));
    previous = chunk;
  }

  std::uint32_t released = 0;
  std::uint32_t kept = 0;
  void* rebuilt = nullptr;
  for (std::uint32_t i = 0; i < chunkCount; ++i) {
    const TPoolChunkRecord chunk = chunks[i];
    auto& bucket = buckets[i];
    if (bucket.Size() == chunk.elementCount) {
      released += chunk.elementCount * elementSize;
      release(releaseContext, reinterpret_cast<void*>(chunk.start));
      continue;
    }
    chunks[kept++] = chunk;
    if (bucket.Size() == 0) continue;
    SortWords(bucket.begin(), bucket.end());
    std::uintptr_t* addresses = bucket.begin();
    for (std::uint32_t j = 0; j + 1 < bucket.Size(); ++j) {
      SetNextOf(reinterpret_cast<void*>(addresses[j]), reinterpret_cast<void*>(addresses[j + 1]));
    }
    SetNextOf(reinterpret_cast<void*>(addresses[bucket.Size() - 1]), rebuilt);
    rebuilt = reinterpret_cast<void*>(addresses[0]);
  }
  chunks.Truncate(kept);
  *rebuiltHead = rebuilt;
  return released;
}

void VisitAllocatedElements(const TPoolChunkList& chunks, std::uint32_t elementSize, void* freeHead,
                            TPoolElementCallback callback, void* userValue) {
  const std::uint32_t chunkCount = chunks.Size();
  TBucketArray<0, 0> buckets(chunkCount, nullptr);
  for (void* element = freeHead; element != nullptr; element = NextOf(element)) {
    const std::uint32_t chunk = FindChunk(chunks, elementSize, element, chunkCount);
    if (chunk != chunkCount) buckets[chunk].Append(reinterpret_cast<std::uintptr_t>(element));
  }
  for (std::uint32_t i = 0; i < chunkCount; ++i) {
    auto& bucket = buckets[i];
    if (bucket.Size() > 1) SortWords(bucket.begin(), bucket.end());
    std::uintptr_t address = chunks[i].start;
    for (std::uint32_t k = 0; k < chunks[i].elementCount; ++k, address += elementSize) {
      if (!std::binary_search(bucket.begin(), bucket.end(), address)) {
        callback(reinterpret_cast<void*>(address), userValue);
      }
    }
  }
}

}  // namespace PoolDetail

}  // namespace Orvan
