#include "core/memory/heap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/process_allocator_seam.h"

namespace {

using namespace Orvan;

TEST(Heap, CountsLiveBlocks) {
  THeap heap;
  void* zero = heap.Allocate(0);
  EXPECT_NE(zero, nullptr);
  EXPECT_EQ(heap.GetLiveCount(), 1u);

  heap.Free(nullptr);
  EXPECT_EQ(heap.GetLiveCount(), 1u);

  void* grown = heap.Reallocate(nullptr, 64);  // an allocation
  EXPECT_EQ(heap.GetLiveCount(), 2u);
  grown = heap.Reallocate(grown, 4096);  // a resize: count unchanged
  EXPECT_EQ(heap.GetLiveCount(), 2u);
  EXPECT_EQ(heap.Reallocate(grown, 0), nullptr);  // a free
  EXPECT_EQ(heap.GetLiveCount(), 1u);

  heap.Free(zero);
  EXPECT_EQ(heap.GetLiveCount(), 0u);
}

TEST(Heap, FailuresRaiseAndLeaveTheCount) {
  THeap heap;
  void* kept = heap.Allocate(16);
  OrvTest::InstallSeam();
  OrvTest::g_seam.failAllocate = true;
  OrvTest::g_seam.failReallocate = true;
  bool allocateThrew = false, reallocateThrew = false, fromNullThrew = false;
  try {
    heap.Allocate(32);
  } catch (const std::bad_alloc&) {
    allocateThrew = true;
  }
  try {
    heap.Reallocate(kept, 1 << 20);
  } catch (const std::bad_alloc&) {
    reallocateThrew = true;
  }
  try {
    heap.Reallocate(nullptr, 32);
  } catch (const std::bad_alloc&) {
    fromNullThrew = true;
  }
  void* noLock = heap.AllocateNoLock(32);
  void* noLockFromNull = heap.ReallocateNoLock(nullptr, 32);
  OrvTest::RestoreSeam();

  EXPECT_TRUE(allocateThrew);
  EXPECT_TRUE(reallocateThrew);
  EXPECT_TRUE(fromNullThrew);
  EXPECT_EQ(noLock, nullptr);
  EXPECT_EQ(noLockFromNull, nullptr);
  EXPECT_EQ(heap.GetLiveCount(), 1u);
  heap.Free(kept);
  EXPECT_EQ(heap.GetLiveCount(), 0u);
}

TEST(Heap, StatisticsOfTheFakeHeapAreZero) {
  THeap heap;
  HeapStatistics statistics;
  std::memset(&statistics, 0xFF, sizeof(statistics));
  heap.GetStatistics(&statistics);
  for (std::uint32_t counter : statistics.counters) EXPECT_EQ(counter, 0u);
  TFakeHeap fake;
  fake.GetStatistics(nullptr);  // ignored
}

TEST(Heap, ProcessHeapsServeTheirAllocators) {
  ASSERT_NE(GetStringHeap(), nullptr);
  ASSERT_NE(GetGeneralHeap(), nullptr);
  const std::uint32_t stringBefore = GetStringHeap()->GetLiveCount();
  const std::uint32_t generalBefore = GetGeneralHeap()->GetLiveCount();
  {
    std::vector<char, string_allocator<char>> text(100, 'a');
    std::vector<int, general_heap_allocator<int>> numbers(10, 1);
    EXPECT_EQ(GetStringHeap()->GetLiveCount(), stringBefore + 1);
    EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), generalBefore + 1);
  }
  EXPECT_EQ(GetStringHeap()->GetLiveCount(), stringBefore);
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), generalBefore);
}

TEST(Heap, CurrentHeapLifecycle) {
  EXPECT_EQ(GetCurrentHeap(), nullptr);
  InitCurrentHeap();
  ASSERT_NE(GetCurrentHeap(), nullptr);
  char* copy = CurrentHeapDuplicateString("current");
  EXPECT_STREQ(copy, "current");
  copy = static_cast<char*>(CurrentHeapReallocate(copy, 100));
  EXPECT_STREQ(copy, "current");
  EXPECT_EQ(GetCurrentHeap()->GetLiveCount(), 1u);
  CurrentHeapFree(copy);
  EXPECT_EQ(GetCurrentHeap()->GetLiveCount(), 0u);
  DestroyCurrentHeap();
  EXPECT_EQ(GetCurrentHeap(), nullptr);

  void* plain = PlainAllocateZeroed(3, 4);
  plain = PlainReallocate(plain, 64);
  PlainFree(plain);
  PlainFree(PlainAllocateNoThrow(8));
}

// Creating and destroying the process heaps clears their pointers (run in a child so the
// test program's own heaps stay untouched).
TEST(HeapDeathTest, ShutdownClearsTheProcessHeaps) {
  EXPECT_EXIT(
      {
        DestroyGeneralHeap();
        DestroyStringHeap();
        const bool cleared = GetGeneralHeap() == nullptr && GetStringHeap() == nullptr;
        CreateStringHeap();
        CreateGeneralHeap();
        std::_Exit(cleared && GetGeneralHeap() != nullptr ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
