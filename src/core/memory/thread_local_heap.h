// Each engine thread's own heap, kept in the thread-local slot "ThreadLocalHeap": made on the
// thread's first need and destroyed with the thread's slots when it detaches from the engine.
// Memory that belongs to one thread comes from here and is freed on that thread.
#pragma once

#include <boost/checked_delete.hpp>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "core/memory/heap.h"
#include "core/threads/thread_local_storage.h"

namespace Orvan {

using TThreadLocalHeapHolder = TThreadLocalObjectHolder<THeap, boost::checked_deleter<THeap>>;

// Engine start-up: builds the thread-local storage manager, registers the slot "ThreadLocalHeap"
// and keeps its index.
void RegisterThreadLocalHeapSlot();
std::uint32_t GetThreadLocalHeapSlotIndex();

// The calling thread's heap, made on first use. Only for threads attached to the engine.
THeap* GetThreadLocalHeap();

// Storage from the calling thread's heap; blocks go back to the heap of the thread that frees them,
// which must be the thread that allocated them.
template <typename T>
struct thread_local_allocator {
  using value_type = T;
  thread_local_allocator() noexcept = default;
  template <typename U>
  thread_local_allocator(const thread_local_allocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) ThrowBadAlloc();
    return static_cast<T*>(GetThreadLocalHeap()->Allocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { GetThreadLocalHeap()->Free(p); }
  template <typename U>
  bool operator==(const thread_local_allocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace Orvan
