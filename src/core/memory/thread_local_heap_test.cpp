#include "core/memory/thread_local_heap.h"

#include <gtest/gtest.h>

#include <barrier>
#include <set>
#include <thread>
#include <vector>

#include "core/threads/thread_attachment.h"

namespace Orvan {
namespace {

TEST(ThreadLocalHeap, TheSlotIsRegisteredAtStartUpAndFoundByName) {
  EXPECT_NE(GetThreadLocalHeapSlotIndex(), TThreadLocalStorageManager::kNoSlot);
  EXPECT_EQ(GetThreadLocalStorageManager()->FindSlotIndex("threadlocalheap"), GetThreadLocalHeapSlotIndex());
}

TEST(ThreadLocalHeap, AThreadKeepsOneHeapThatCountsItsBlocks) {
  THeap* heap = GetThreadLocalHeap();
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(GetThreadLocalHeap(), heap);
  const std::uint32_t live = heap->GetLiveCount();
  {
    std::vector<int, thread_local_allocator<int>> values(100, 7);
    EXPECT_EQ(heap->GetLiveCount(), live + 1);
  }
  EXPECT_EQ(heap->GetLiveCount(), live);
}

TEST(ThreadLocalHeapThreaded, EveryThreadHasItsOwnHeap) {
  constexpr int kThreads = 6;
  std::barrier allHaveHeaps(kThreads);
  std::vector<THeap*> heaps(kThreads);
  std::vector<char> stable(kThreads);  // not vector<bool>: its bits share words
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      AttachThreadToEngine();
      heaps[t] = GetThreadLocalHeap();
      void* block = heaps[t]->Allocate(64);
      // Every heap is alive at once here, so no address can have been reused.
      allHaveHeaps.arrive_and_wait();
      stable[t] = GetThreadLocalHeap() == heaps[t] && heaps[t]->GetLiveCount() == 1;
      heaps[t]->Free(block);
      DetachThreadFromEngine();
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<THeap*> distinct(heaps.begin(), heaps.end());
  distinct.insert(GetThreadLocalHeap());
  EXPECT_EQ(distinct.size(), std::size_t{kThreads} + 1);
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(stable[t]) << "thread " << t;
}

// Lives in a slot registered before "ThreadLocalHeap", so it dies after the heap's holder.
struct THeapWatcher final : TThreadLocalObject {
  explicit THeapWatcher(TThreadLocalObject** seen) : seen_(seen) {}
  ~THeapWatcher() override { *seen_ = ReadThreadLocalSlot(GetThreadLocalHeapSlotIndex()); }
  TThreadLocalObject** seen_;
};

// A fresh manager whose first slot is the watcher's and whose second is the heap's.
class ThreadLocalHeapDetachThreaded : public ::testing::Test {
 protected:
  void SetUp() override {
    DetachThreadFromEngine();
    DestroyThreadLocalStorageManager();
    watcherSlot_ = CreateThreadLocalStorageManager()->RegisterSlot("HeapWatcher");
    RegisterThreadLocalHeapSlot();
  }
  void TearDown() override {
    GetThreadLocalStorageManager()->UnregisterThread();
    DestroyThreadLocalStorageManager();
    RegisterThreadLocalHeapSlot();
    AttachThreadToEngine();
  }
  std::uint32_t watcherSlot_ = 0;
};

TEST_F(ThreadLocalHeapDetachThreaded, TheHeapDiesWithItsThreadsSlots) {
  TThreadLocalObject* heapSlotAtWatcherDeath = reinterpret_cast<TThreadLocalObject*>(0x1);
  TThreadLocalObject* heapSlotWhileAttached = nullptr;
  std::thread([&] {
    AttachThreadToEngine();
    GetThreadLocalStorageManager()->SetSlot(watcherSlot_, new THeapWatcher(&heapSlotAtWatcherDeath));
    GetThreadLocalHeap()->Free(GetThreadLocalHeap()->Allocate(16));
    heapSlotWhileAttached = ReadThreadLocalSlot(GetThreadLocalHeapSlotIndex());
    DetachThreadFromEngine();
  }).join();
  EXPECT_NE(heapSlotWhileAttached, nullptr);
  // The heap's holder was destroyed (and its slot emptied) before the lower slot's object died.
  EXPECT_EQ(heapSlotAtWatcherDeath, nullptr);
}

}  // namespace
}  // namespace Orvan
