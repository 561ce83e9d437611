// Fixed-size element pools: blocks of one size carved from chunks, kept on a free list when given
// back. The locked pool takes and gives back elements lock-free from any thread; the unlocked
// variants serve owners that serialise every call themselves.
#pragma once

#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "core/memory/global_allocation.h"
#include "core/memory/heap.h"
#include "core/sync/mutex.h"
#include "core/sync/tagged_pointer.h"

namespace Orvan {

// A requested element count of all bits set asks for the default first chunk.
inline constexpr std::uint32_t kPoolDefaultRequest = 0xFFFFFFFFu;
inline constexpr std::uint32_t kPoolDefaultElementsPerChunk = 32;
// The first chunk stays below 16 KiB; later chunks grow by a quarter while they hold at most 4095
// elements and stay below 128 KiB.
inline constexpr std::uint32_t kPoolFirstChunkBytes = 16384;
inline constexpr std::uint32_t kPoolGrowthMaxElements = 4095;
inline constexpr std::uint32_t kPoolChunkBytesLimit = 131072;
// A free element holds the address of the next one in its first word, so no element is smaller
// than a pointer and every element size is a multiple of it.
inline constexpr std::uint32_t kPoolElementGranularity = sizeof(void*);

struct TPoolChunkRecord {
  std::uintptr_t start;        // address of the chunk's first element
  std::uint32_t elementCount;  // elements the chunk holds
};

struct TPoolStatistics {
  std::uint32_t used;
  std::uint32_t free;
  std::uint32_t bytes;
  std::uint32_t reserved;  // always 0
};

// Called once per element in use by ForEachAllocatedElement.
using TPoolElementCallback = void (*)(void* element, void* userValue);

constexpr std::uint32_t RoundPoolElementSize(std::size_t size) {
  if (size < kPoolElementGranularity) return kPoolElementGranularity;
  return static_cast<std::uint32_t>((size + kPoolElementGranularity - 1) & ~std::size_t{kPoolElementGranularity - 1});
}

// Element count of a pool's first chunk for a requested count and a rounded element size.
std::uint32_t ComputeFirstElementsPerChunk(std::uint32_t requested, std::uint32_t elementSize);
// Element count of the chunk after one of `current` elements.
std::uint32_t ComputeNextElementsPerChunk(std::uint32_t current, std::uint32_t elementSize);

// Whether `address` lies in the chunk: an address below the start wraps to a large difference.
inline bool IsInPoolChunk(const TPoolChunkRecord& chunk, std::uint32_t elementSize, const void* address) {
  return reinterpret_cast<std::uintptr_t>(address) - chunk.start <
         static_cast<std::uintptr_t>(elementSize) * chunk.elementCount;
}

// The chunk records of a pool: four kept inline, then a block grown by the engine growth rule.
class TPoolChunkList {
 public:
  static constexpr std::uint32_t kInlineRecords = 4;
  enum class TStorage : std::uint8_t { GeneralHeap, EngineAllocation };

  explicit TPoolChunkList(TStorage storage) : storage_(storage) {}
  ~TPoolChunkList();
  TPoolChunkList(const TPoolChunkList&) = delete;
  TPoolChunkList& operator=(const TPoolChunkList&) = delete;

  std::uint32_t Size() const { return size_; }
  std::uint32_t Capacity() const { return capacity_; }
  bool IsInline() const { return data_ == inline_; }
  TPoolChunkRecord& operator[](std::uint32_t index) { return data_[index]; }
  const TPoolChunkRecord& operator[](std::uint32_t index) const { return data_[index]; }
  TPoolChunkRecord* begin() { return data_; }
  TPoolChunkRecord* end() { return data_ + size_; }
  const TPoolChunkRecord* begin() const { return data_; }
  const TPoolChunkRecord* end() const { return data_ + size_; }

  // Makes room for one more record; std::bad_alloc when the storage cannot grow.
  void ReserveOneMore();
  void Append(const TPoolChunkRecord& record);
  // Drops the records from `size` on; the storage stays.
  void Truncate(std::uint32_t size) { size_ = size; }
  // Inline records are copied across; heap blocks exchange their pointers and capacities.
  void Swap(TPoolChunkList& other);

 private:
  void* AllocateStorage(std::size_t bytes) const;
  void FreeStorage(void* block) const;

  TPoolChunkRecord* data_ = inline_;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = kInlineRecords;
  TStorage storage_;
  TPoolChunkRecord inline_[kInlineRecords]{};
};

namespace PoolDetail {

inline void* NextOf(void* element) { return *static_cast<void**>(element); }
inline void SetNextOf(void* element, void* next) { *static_cast<void**>(element) = next; }

// Links a fresh chunk's elements in address order; the last one ends the list.
void LinkChunkElements(void* start, std::uint32_t elementCount, std::uint32_t elementSize);
std::uint32_t ComputeStatistics(const TPoolChunkList& chunks, std::uint32_t elementSize, void* freeHead,
                                TPoolStatistics* statistics);

// Gives a wholly free chunk's memory back.
using TChunkRelease = void (*)(void* context, void* chunk);
// The whole-pool maintenance shared by every variant, on a quiescent pool. The release drops the
// records of the chunks it frees from `chunks` and returns the rebuilt free list in *rebuiltHead.
std::uint32_t ReleaseWhollyFreeChunks(TPoolChunkList& chunks, std::uint32_t elementSize, void* freeHead,
                                      THeap* scratchHeap, TChunkRelease release, void* releaseContext,
                                      void** rebuiltHead);
void VisitAllocatedElements(const TPoolChunkList& chunks, std::uint32_t elementSize, void* freeHead,
                            TPoolElementCallback callback, void* userValue);

}  // namespace PoolDetail

// The locked pool. Allocate and Free are lock-free from any number of threads; the mutex is taken
// only to add a chunk. Chunks come from the general heap and stay until FreeAllChunks, the
// destructor or ReleaseFreeChunks.
template <typename TDomainTag = Domain::TMemoryDomainTag>
class TUntypedPoolAllocation {
 public:
  // The name is accepted for the callers' sake and not kept.
  explicit TUntypedPoolAllocation(std::uint32_t elementSize,
                                  const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain,
                                  const char* name = "",
                                  std::uint32_t requestedElementsPerChunk = kPoolDefaultRequest);
  // Frees every chunk, whether or not elements are still in use.
  ~TUntypedPoolAllocation();
  TUntypedPoolAllocation(const TUntypedPoolAllocation&) = delete;
  TUntypedPoolAllocation& operator=(const TUntypedPoolAllocation&) = delete;

  // Never null: a chunk that cannot be allocated raises std::bad_alloc.
  void* Allocate() {
    for (;;) {
      const TTaggedPointer head = LoadTaggedPointer(freeHead_);
      if (head.pointer == nullptr) {
        AddChunk();
        continue;
      }
      // A free element holds the next one's address in its first word.
      void* next = ReadRacyLink(static_cast<void* const*>(head.pointer));
      __builtin_prefetch(next);
      if (CompareAndSwapTaggedPointer(freeHead_, head, {next, head.tag + 1})) return head.pointer;
      __builtin_ia32_pause();
    }
  }

  // Puts an element of this pool back (null is ignored); returns the previous first free element.
  void* Free(void* element) {
    if (element == nullptr) return nullptr;
    for (;;) {
      const TTaggedPointer head = LoadTaggedPointer(freeHead_);
      static_cast<void>(__atomic_exchange_n(static_cast<void**>(element), head.pointer, __ATOMIC_SEQ_CST));
      if (CompareAndSwapTaggedPointer(freeHead_, head, {element, head.tag + 1})) return head.pointer;
      __builtin_ia32_pause();
    }
  }

  // The first free element, read without synchronisation.
  void* GetFreeListHead() const { return __atomic_load_n(&freeHead_.parts.pointer, __ATOMIC_RELAXED); }
  // One swap attempt installing {newFirst, tag + 1} over the pair as read; returns the pair found.
  TTaggedPointer TrySetFreeListHead(void* newFirst);

  // Allocates, links and records a chunk; the caller holds the mutex.
  TPoolChunkRecord AllocateChunk();

  // The statistics, the chunk release and the visit assume that no other thread uses the pool.
  std::uint32_t GetStatistics(TPoolStatistics* statistics) const;
  // Gives every chunk back; elements still in use become invalid.
  void FreeAllChunks();
  // Returns the bytes of the chunks whose elements were all free and rebuilds the free list in
  // address order; the scratch buckets of big pools come from `scratchHeap`.
  std::uint32_t ReleaseFreeChunks(THeap* scratchHeap);
  // The same with the calling thread's heap for the scratch buckets (an attached thread).
  std::uint32_t ReleaseFreeChunks();
  // Calls `callback` for every element not on the free list, chunk by chunk in address order.
  void ForEachAllocatedElement(TPoolElementCallback callback, void* userValue) const;

  // Elements handed out and not given back, as counted by the typed pools.
  std::uint32_t GetLiveCount() const { return liveCount_.load(std::memory_order_relaxed); }
  std::uint32_t GetElementSize() const { return elementSize_; }
  std::uint32_t GetElementsPerChunk() const { return elementsPerChunk_; }
  std::uint32_t GetChunkCount() const { return chunks_.Size(); }
  const TPoolChunkRecord& GetChunk(std::uint32_t index) const { return chunks_[index]; }

 protected:
  std::atomic<std::uint32_t> liveCount_{0};

 private:
  // Refill: a chunk under the mutex, then its list spliced in front of the free list lock-free.
  // Two threads that find the list empty at once each add a chunk.
  void AddChunk();

  const Domain::TMemoryDomainRecord* domain_;
  // The first free element and a counter bumped by every change of it.
  TAtomicTaggedPointer freeHead_;
  TMutex mutex_;
  std::uint32_t elementsPerChunk_;
  std::uint32_t elementSize_;
  TPoolChunkList chunks_{TPoolChunkList::TStorage::GeneralHeap};
};

extern template class TUntypedPoolAllocation<Domain::TMemoryDomainTag>;

namespace PoolDetail {

// Where an unlocked pool's chunks come from and go back to.
struct TGeneralHeapChunkMemory {
  static constexpr TPoolChunkList::TStorage kListStorage = TPoolChunkList::TStorage::GeneralHeap;
  void* AllocateChunkMemory(std::size_t bytes, const Domain::TMemoryDomainRecord* domain);
  void FreeChunkMemory(void* chunk);
};

// Chunks aligned to 128 bytes through the any-alignment allocation.
struct TAlignedChunkMemory {
  static constexpr std::size_t kChunkAlignment = 128;
  static constexpr TPoolChunkList::TStorage kListStorage = TPoolChunkList::TStorage::GeneralHeap;
  void* AllocateChunkMemory(std::size_t bytes, const Domain::TMemoryDomainRecord* domain);
  void FreeChunkMemory(void* chunk);
};

// Chunks from one thread's heap: the one given at construction, else the heap of the thread that
// allocates the first chunk. Chunk records in engine allocation.
struct TThreadHeapChunkMemory {
  static constexpr TPoolChunkList::TStorage kListStorage = TPoolChunkList::TStorage::EngineAllocation;
  explicit TThreadHeapChunkMemory(THeap* heap) : heap_(heap) {}
  void* AllocateChunkMemory(std::size_t bytes, const Domain::TMemoryDomainRecord* domain);
  void FreeChunkMemory(void* chunk);
  THeap* heap_;
};

// The unlocked pool: a plain free-list head and no synchronisation; the owner serialises calls.
template <typename TChunkMemory>
class TUnlockedPool : protected TChunkMemory {
 public:
  TUnlockedPool(const TUnlockedPool&) = delete;
  TUnlockedPool& operator=(const TUnlockedPool&) = delete;

  void* Allocate() {
    if (head_ == nullptr) head_ = reinterpret_cast<void*>(AllocateChunk().start);
    void* element = head_;
    head_ = NextOf(element);
    __builtin_prefetch(head_);
    return element;
  }
  // Null is ignored.
  void Free(void* element) {
    if (element == nullptr) return;
    SetNextOf(element, head_);
    head_ = element;
  }

  void* GetFreeListHead() const { return head_; }
  void SetFreeListHead(void* first) { head_ = first; }
  bool HasNoChunk() const { return chunks_.Size() == 0; }
  // Whether the address lies in one of the pool's chunks.
  bool ContainsAddress(const void* address) const;

  // Allocates, links and records a chunk (not yet on the free list).
  TPoolChunkRecord AllocateChunk();
  std::uint32_t GetStatistics(TPoolStatistics* statistics) const;
  // Every chunk back, chunk list and free list emptied.
  void FreeAllChunks();
  std::uint32_t ReleaseFreeChunks(THeap* scratchHeap);
  // The same with the calling thread's heap for the scratch buckets (an attached thread).
  std::uint32_t ReleaseFreeChunks();
  void ForEachAllocatedElement(TPoolElementCallback callback, void* userValue) const;

  std::uint32_t GetElementSize() const { return elementSize_; }
  std::uint32_t GetElementsPerChunk() const { return elementsPerChunk_; }
  std::uint32_t GetChunkCount() const { return chunks_.Size(); }
  const TPoolChunkRecord& GetChunk(std::uint32_t index) const { return chunks_[index]; }

 protected:
  TUnlockedPool(TChunkMemory memory, std::uint32_t elementSize, const Domain::TMemoryDomainRecord* domain,
                std::uint32_t requestedElementsPerChunk);
  ~TUnlockedPool();
  // Exchanges free lists, chunk counts, element sizes and chunk lists; the domain and the chunk
  // memory stay with each pool.
  void SwapContents(TUnlockedPool& other);

 private:
  static void ReleaseChunk(void* context, void* chunk);

  const Domain::TMemoryDomainRecord* domain_;
  void* head_ = nullptr;
  std::uint32_t elementsPerChunk_;
  std::uint32_t elementSize_;
  TPoolChunkList chunks_{TChunkMemory::kListStorage};
};

extern template class TUnlockedPool<TGeneralHeapChunkMemory>;
extern template class TUnlockedPool<TAlignedChunkMemory>;
extern template class TUnlockedPool<TThreadHeapChunkMemory>;

}  // namespace PoolDetail

// Unlocked pool with chunks from the general heap (the file-name registry's pools).
class TUntypedPoolAllocationNoLock final : public PoolDetail::TUnlockedPool<PoolDetail::TGeneralHeapChunkMemory> {
 public:
  explicit TUntypedPoolAllocationNoLock(std::uint32_t elementSize,
                                        const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain,
                                        const char* name = "",
                                        std::uint32_t requestedElementsPerChunk = kPoolDefaultRequest)
      : TUnlockedPool({}, elementSize, domain, requestedElementsPerChunk) {
    static_cast<void>(name);
  }
  void Swap(TUntypedPoolAllocationNoLock& other) { SwapContents(other); }
};

// Unlocked pool whose chunks are aligned to 128 bytes.
class TUntypedPoolAllocationAlignedNoLock final
    : public PoolDetail::TUnlockedPool<PoolDetail::TAlignedChunkMemory> {
 public:
  explicit TUntypedPoolAllocationAlignedNoLock(std::uint32_t elementSize,
                                               const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain,
                                               const char* name = "",
                                               std::uint32_t requestedElementsPerChunk = kPoolDefaultRequest)
      : TUnlockedPool({}, elementSize, domain, requestedElementsPerChunk) {
    static_cast<void>(name);
  }
};

// Unlocked pool whose chunks come from one thread's heap: the calling thread's when the first chunk
// is allocated, or the heap given at construction.
class TUntypedPoolAllocationThreadHeapNoLock final
    : public PoolDetail::TUnlockedPool<PoolDetail::TThreadHeapChunkMemory> {
 public:
  explicit TUntypedPoolAllocationThreadHeapNoLock(std::uint32_t elementSize,
                                                  const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain,
                                                  const char* name = "",
                                                  std::uint32_t requestedElementsPerChunk = kPoolDefaultRequest)
      : TUntypedPoolAllocationThreadHeapNoLock(nullptr, elementSize, domain, name, requestedElementsPerChunk) {}
  TUntypedPoolAllocationThreadHeapNoLock(THeap* heap, std::uint32_t elementSize,
                                         const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain,
                                         const char* name = "",
                                         std::uint32_t requestedElementsPerChunk = kPoolDefaultRequest)
      : TUnlockedPool(PoolDetail::TThreadHeapChunkMemory(heap), elementSize, domain, requestedElementsPerChunk) {
    static_cast<void>(name);
  }
  THeap* GetHeap() const { return heap_; }
  void Swap(TUntypedPoolAllocationThreadHeapNoLock& other) { SwapContents(other); }
};

}  // namespace Orvan
