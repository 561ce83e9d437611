// The per-thread heaps and their slot.
#include "core/memory/thread_local_heap.h"

#include <new>

#include "core/memory/global_allocation.h"

namespace Orvan {

namespace {

std::uint32_t g_threadLocalHeapSlot = TThreadLocalStorageManager::kNoSlot;

}  // namespace

void RegisterThreadLocalHeapSlot() {
  TThreadLocalStorageManager* manager = CreateThreadLocalStorageManager();
  manager->RegisterSlot("ThreadLocalHeap");
  g_threadLocalHeapSlot = manager->FindSlotIndex("ThreadLocalHeap");
}

std::uint32_t GetThreadLocalHeapSlotIndex() { return g_threadLocalHeapSlot; }

THeap* GetThreadLocalHeap() {
  if (auto* holder = static_cast<TThreadLocalHeapHolder*>(ReadThreadLocalSlot(g_threadLocalHeapSlot))) {
    return holder->Get();
  }
  // Allocated as operator new would, so that the holder's checked_deleter can delete it.
  void* block = AllocateMemory(kDomainOperatorNew, sizeof(THeap), true);
  THeap* heap;
  try {
    heap = ::new (block) THeap;
  } catch (...) {
    FreeMemory(kDomainOperatorNew, block);
    throw;
  }
  TThreadLocalHeapHolder* holder;
  try {
    holder = new TThreadLocalHeapHolder(heap);
  } catch (...) {
    delete heap;
    throw;
  }
  GetThreadLocalStorageManager()->SetSlot(g_threadLocalHeapSlot, holder);
  return heap;
}

}  // namespace Orvan
