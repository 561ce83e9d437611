// Pools per type and per size class: process-wide singletons over the locked untyped pool, built
// on first use and destroyed by the singleton registry at shutdown. Small engine objects that are
// created and destroyed often take their memory from them through a class-level operator new and
// operator delete (ORV_POOLED_ALLOCATION below).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>

#include "core/memory/global_allocation.h"
#include "core/memory/untyped_pool.h"
#include "core/singletons/singleton.h"

namespace Orvan {

namespace PoolDetail {

// The locked pool as the typed pools use it: every element handed out is counted until it comes
// back.
template <typename TDomainTag>
class TCountingPool : public TUntypedPoolAllocation<TDomainTag> {
  using TPool = TUntypedPoolAllocation<TDomainTag>;

 public:
  void* Allocate() {
    void* element = TPool::Allocate();
    this->liveCount_.fetch_add(1, std::memory_order_relaxed);
    return element;
  }
  void Free(void* element) {
    TPool::Free(element);
    this->liveCount_.fetch_sub(1, std::memory_order_relaxed);
  }

 protected:
  using TPool::TPool;
};

}  // namespace PoolDetail

// The pool of one type: elements of the type's size.
template <typename TPooled, typename TDomainTag = Domain::TMemoryDomainTag>
class TPoolAllocation final : public PoolDetail::TCountingPool<TDomainTag>,
                              public Meta::TSingleton<TPoolAllocation<TPooled, TDomainTag>, true> {
  using TPool = PoolDetail::TCountingPool<TDomainTag>;
  using TSingletonPart = Meta::TSingleton<TPoolAllocation, true>;

 public:
  static constexpr std::uint32_t kElementSize = RoundPoolElementSize(sizeof(TPooled));
  static_assert(alignof(TPooled) <= kBlockAlignment, "pool elements are aligned as heap blocks at most");

  // The release of wholly free chunks on the pool when it exists; 0, and nothing built, otherwise.
  // No other thread may use the pool meanwhile.
  static std::uint32_t ReleaseFreeChunks(THeap* scratchHeap) {
    TPoolAllocation* pool = TSingletonPart::GetInstancePointer();
    return pool != nullptr ? pool->TPool::ReleaseFreeChunks(scratchHeap) : 0;
  }
  // The same with the calling thread's heap for the scratch buckets.
  static std::uint32_t ReleaseFreeChunks() {
    TPoolAllocation* pool = TSingletonPart::GetInstancePointer();
    return pool != nullptr ? pool->TPool::ReleaseFreeChunks() : 0;
  }
  static void FreeAllChunks() {
    TPoolAllocation* pool = TSingletonPart::GetInstancePointer();
    if (pool != nullptr) pool->TPool::FreeAllChunks();
  }

 private:
  friend TSingletonPart;
  // The pool part is built before the singleton part registers the whole.
  TPoolAllocation() : TPool(kElementSize, &Domain::AllDomain, "") {}
};

// The pool of one size class, shared by classes derived from `TBase` that fit it.
template <std::size_t SizeClass, typename TBase, typename TDomainTag = Domain::TMemoryDomainTag>
class TPoolAllocationRegionSegregated final
    : public PoolDetail::TCountingPool<TDomainTag>,
      public Meta::TSingleton<TPoolAllocationRegionSegregated<SizeClass, TBase, TDomainTag>, true> {
  using TPool = PoolDetail::TCountingPool<TDomainTag>;
  using TSingletonPart = Meta::TSingleton<TPoolAllocationRegionSegregated, true>;

 public:
  static constexpr std::uint32_t kElementSize = RoundPoolElementSize(SizeClass);

 private:
  friend TSingletonPart;
  TPoolAllocationRegionSegregated() : TPool(kElementSize, &Domain::AllDomain, "") {}
};

// The size class that serves a set of classes: the largest of their sizes as a pool element.
template <typename... TServed>
inline constexpr std::size_t kPoolSizeClassOf = RoundPoolElementSize(std::max({sizeof(TServed)...}));

namespace PoolDetail {

// A request larger than the pool's element (a derived class that did not declare its own
// allocation) goes to the global allocation; the sized delete routes the free the same way.
template <typename TPool>
void* AllocatePooledObject(std::size_t size) {
  if (size > TPool::kElementSize) return ::operator new(size);
  void* element = TPool::Instance()->Allocate();
  if (element == nullptr) ThrowBadAlloc();
  return element;
}

// The pool exists whenever an object from it does, so this path never builds it.
template <typename TPool>
void FreePooledObject(void* block, std::size_t size) noexcept {
  if (block == nullptr) return;
  if (size > TPool::kElementSize) {
    ::operator delete(block);
    return;
  }
  TPool::GetInstancePointer()->Free(block);
}

}  // namespace PoolDetail

}  // namespace Orvan

// Class-level allocation from a pool. The sized operator delete is the only one declared, so every
// delete passes the size of the object's dynamic type: a pooled class deleted through a base
// pointer needs a virtual destructor. The static_assert keeps a class from outgrowing its pool's
// element. The declaring macros leave the class in public access.
#define ORV_POOLED_ALLOCATION_BODY(Class, ...)                                                          \
  {                                                                                                     \
    static_assert(sizeof(Class) <= __VA_ARGS__::kElementSize, #Class " does not fit its pool element"); \
    return ::Orvan::PoolDetail::AllocatePooledObject<__VA_ARGS__>(size);                                \
  }
#define ORV_POOLED_FREE_BODY(...) \
  { ::Orvan::PoolDetail::FreePooledObject<__VA_ARGS__>(block, size); }

// Allocation from the class's own pool, defined in the class.
#define ORV_POOLED_ALLOCATION(Class)                                                                     \
 public:                                                                                                 \
  static void* operator new(std::size_t size) ORV_POOLED_ALLOCATION_BODY(Class, ::Orvan::TPoolAllocation<Class>) \
  static void operator delete(void* block, std::size_t size) noexcept                                    \
      ORV_POOLED_FREE_BODY(::Orvan::TPoolAllocation<Class>)

// Allocation from a pool named later (a size-class pool derived from the sizes of every class it
// serves): declared in the class, then defined once those classes are complete.
#define ORV_DECLARE_POOLED_ALLOCATION()                  \
 public:                                                 \
  static void* operator new(std::size_t size);           \
  static void operator delete(void* block, std::size_t size) noexcept;
#define ORV_DEFINE_POOLED_ALLOCATION(Class, ...)                                                      \
  inline void* Class::operator new(std::size_t size) ORV_POOLED_ALLOCATION_BODY(Class, __VA_ARGS__) \
  inline void Class::operator delete(void* block, std::size_t size) noexcept ORV_POOLED_FREE_BODY(__VA_ARGS__)
