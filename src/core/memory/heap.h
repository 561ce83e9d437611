// Heaps: allocation fronts that count their live blocks. The process keeps a string heap and a
// general heap (created at core start-up), one heap per engine thread, and an optional current
// heap for code that allocates through plain function entries.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "core/memory/global_allocation.h"
#include "core/sync/mutex.h"

namespace Orvan {

struct HeapStatistics {
  std::uint32_t counters[5];
};

class TAbstractHeap {
 public:
  virtual ~TAbstractHeap() = default;
  virtual void* Allocate(std::size_t size) = 0;
  virtual void Free(void* block) = 0;
  virtual void* Reallocate(void* block, std::size_t size) = 0;
  virtual void GetStatistics(HeapStatistics* statistics) = 0;
};

// Straight onto the global allocation; keeps no statistics.
class TFakeHeap final : public TAbstractHeap {
 public:
  void* Allocate(std::size_t size) override;
  void Free(void* block) override;
  void* Reallocate(void* block, std::size_t size) override;
  void GetStatistics(HeapStatistics* statistics) override;
};

class THeap {
 public:
  THeap();
  ~THeap();
  THeap(const THeap&) = delete;
  THeap& operator=(const THeap&) = delete;

  // Raising forms: a null result for a size above 0 throws std::bad_alloc; size 0 may give null.
  void* Allocate(std::size_t size);
  void Free(void* block);
  void* Reallocate(void* block, std::size_t size);

  // The same without the optional lock; they pass a null result back instead of raising.
  void* AllocateNoLock(std::size_t size);
  void FreeNoLock(void* block);
  void* ReallocateNoLock(void* block, std::size_t size);

  void GetStatistics(HeapStatistics* statistics);
  // Live allocations: a statistic, updated without ordering by whichever thread uses the heap.
  std::uint32_t GetLiveCount() const { return liveCount_.load(std::memory_order_relaxed); }

 private:
  TAbstractHeap* implementation_;
  TMutex* lock_;  // optional; no heap of this system sets it
  TMutex embeddedMutex_;
  std::atomic<std::uint32_t> liveCount_;
};

// ---- The string heap: storage of the engine's string representations.
void CreateStringHeap();
void DestroyStringHeap();
THeap* GetStringHeap();
void* AllocateFromStringHeap(std::size_t size, const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain);
void* ReallocateInStringHeap(void* block, std::size_t size,
                             const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain);
void FreeToStringHeap(void* block);
void GetStringHeapStatistics(HeapStatistics* statistics);

// ---- The general heap: container storage, the singleton registry, pool chunks, region records.
void CreateGeneralHeap();
void DestroyGeneralHeap();
THeap* GetGeneralHeap();
void* AllocateFromGeneralHeap(std::size_t size, const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain);
void* ReallocateInGeneralHeap(void* block, std::size_t size);
void FreeToGeneralHeap(void* block);
void GetGeneralHeapStatistics(HeapStatistics* statistics);

// ---- The current heap, for engine users that allocate through plain entries.
void InitCurrentHeap();
void DestroyCurrentHeap();
THeap* GetCurrentHeap();
void* CurrentHeapAllocate(std::size_t size);
void* CurrentHeapReallocate(void* block, std::size_t size);
void CurrentHeapFree(void* block);
char* CurrentHeapDuplicateString(const char* text);
// The plain family beside it: straight to the global allocation, domain 0.
void* PlainAllocateNoThrow(std::size_t size);
void* PlainAllocateZeroed(std::size_t count, std::size_t size);
void* PlainReallocate(void* block, std::size_t size);
void PlainFree(void* block);

template <typename T>
struct string_allocator {
  using value_type = T;
  string_allocator() noexcept = default;
  template <typename U>
  string_allocator(const string_allocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) ThrowBadAlloc();
    return static_cast<T*>(AllocateFromStringHeap(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { FreeToStringHeap(p); }
  template <typename U>
  bool operator==(const string_allocator<U>&) const noexcept {
    return true;
  }
};

template <typename T>
struct general_heap_allocator {
  using value_type = T;
  general_heap_allocator() noexcept = default;
  template <typename U>
  general_heap_allocator(const general_heap_allocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > SIZE_MAX / sizeof(T)) ThrowBadAlloc();
    return static_cast<T*>(AllocateFromGeneralHeap(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { FreeToGeneralHeap(p); }
  template <typename U>
  bool operator==(const general_heap_allocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace Orvan
