#include "core/memory/untyped_pool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "support/process_allocator_seam.h"
#include "support/threads_together.h"

namespace {

using namespace Orvan;

struct TSizeCase {
  std::uint32_t requestedSize;
  std::uint32_t requestedCount;
  std::uint32_t elementSize;
  std::uint32_t firstChunk;
};

// Element sizes round up to whole pointers; the first chunk stays below 16 KiB.
TEST(UntypedPool, ConstructionRules) {
  const std::vector<TSizeCase> cases = {
      {0, kPoolDefaultRequest, 8, 32},     {1, kPoolDefaultRequest, 8, 32},
      {5, kPoolDefaultRequest, 8, 32},     {8, kPoolDefaultRequest, 8, 32},
      {9, kPoolDefaultRequest, 16, 32},    {16, kPoolDefaultRequest, 16, 32},
      {1000, kPoolDefaultRequest, 1000, 16}, {8193, kPoolDefaultRequest, 8200, 1},
      {20000, kPoolDefaultRequest, 20000, 1}, {16, 512, 16, 512},
      {72, 512, 72, 227},                  {16, 0, 16, 1},
  };
  for (const TSizeCase& c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.requestedSize << " count " << c.requestedCount);
    TUntypedPoolAllocation<> pool(c.requestedSize, &Domain::AllDomain, "", c.requestedCount);
    EXPECT_EQ(pool.GetElementSize(), c.elementSize);
    EXPECT_EQ(pool.GetElementsPerChunk(), c.firstChunk);
    EXPECT_EQ(pool.GetChunkCount(), 0u);
    TUntypedPoolAllocationNoLock unlocked(c.requestedSize, &Domain::AllDomain, "", c.requestedCount);
    EXPECT_EQ(unlocked.GetElementSize(), c.elementSize);
    EXPECT_EQ(unlocked.GetElementsPerChunk(), c.firstChunk);
  }
}

// Each chunk is (5n + 5) / 4 of the one before until a chunk would reach 128 KiB or the count
// passes 4095.
TEST(UntypedPool, ChunkGrowth) {
  struct TGrowthCase {
    std::uint32_t current;
    std::uint32_t elementSize;
    std::uint32_t next;
  };
  const TGrowthCase growth[] = {
      {32, 16, 41},     {41, 16, 52},   {52, 16, 66},   {66, 16, 83},   {83, 16, 105},
      {4095, 8, 5120},  // the last count that still grows
      {4096, 8, 4096},  // past 4095 the count stays
      {25, 4000, 32},   // 32 x 4000 stays below 128 KiB
      {26, 4000, 26},   // 33 x 4000 would reach 128 KiB
      {25, 4096, 25},   // 32 x 4096 is exactly 128 KiB: too much
      {32, 4000, 32},
  };
  for (const TGrowthCase& c : growth) {
    EXPECT_EQ(ComputeNextElementsPerChunk(c.current, c.elementSize), c.next)
        << c.current << " elements of " << c.elementSize << " bytes";
  }

  TUntypedPoolAllocation<> pool(16);
  std::vector<std::uint32_t> sizes;
  std::vector<void*> taken;
  for (int chunk = 0; chunk < 5; ++chunk) {
    const std::uint32_t count = pool.GetElementsPerChunk();
    for (std::uint32_t i = 0; i < count; ++i) taken.push_back(pool.Allocate());
    sizes.push_back(pool.GetChunk(pool.GetChunkCount() - 1).elementCount);
  }
  EXPECT_EQ(sizes, (std::vector<std::uint32_t>{32, 41, 52, 66, 83}));
  EXPECT_EQ(pool.GetElementsPerChunk(), 105u);
  for (void* element : taken) pool.Free(element);
}

TEST(UntypedPool, StatisticsFollowAllocations) {
  TUntypedPoolAllocation<> pool(16);
  TPoolStatistics statistics{1, 1, 1, 1};
  EXPECT_EQ(pool.GetStatistics(&statistics), 0u);
  EXPECT_EQ(statistics.used, 0u);
  EXPECT_EQ(statistics.free, 0u);
  EXPECT_EQ(statistics.bytes, 0u);
  EXPECT_EQ(statistics.reserved, 0u);
  std::vector<void*> taken;
  for (std::uint32_t n = 1; n <= 32; ++n) {
    taken.push_back(pool.Allocate());
    EXPECT_EQ(pool.GetStatistics(&statistics), n);
    EXPECT_EQ(statistics.used, n);
    EXPECT_EQ(statistics.free, 32 - n);
    EXPECT_EQ(statistics.bytes, 512u);
  }
  // Every element distinct, 8-byte aligned, inside the one chunk.
  std::set<void*> distinct(taken.begin(), taken.end());
  EXPECT_EQ(distinct.size(), 32u);
  for (void* element : taken) {
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(element) % 8, 0u);
    EXPECT_TRUE(IsInPoolChunk(pool.GetChunk(0), pool.GetElementSize(), element));
  }
  pool.Allocate();  // the 33rd adds a chunk of 41
  pool.GetStatistics(&statistics);
  EXPECT_EQ(statistics.used, 33u);
  EXPECT_EQ(statistics.free, 40u);
  EXPECT_EQ(statistics.bytes, 512u + 41 * 16);
}

TEST(UntypedPool, LastFreedIsFirstReused) {
  TUntypedPoolAllocation<> pool(24);
  void* a = pool.Allocate();
  void* b = pool.Allocate();
  pool.Free(a);
  pool.Free(b);
  EXPECT_EQ(pool.Allocate(), b);
  EXPECT_EQ(pool.Allocate(), a);
  EXPECT_EQ(pool.Free(nullptr), nullptr);  // ignored
  TPoolStatistics statistics;
  EXPECT_EQ(pool.GetStatistics(&statistics), 2u);

  TUntypedPoolAllocationNoLock unlocked(24);
  void* c = unlocked.Allocate();
  unlocked.Free(c);
  EXPECT_EQ(unlocked.Allocate(), c);
}

TEST(UntypedPool, FreeAllChunksEmptiesThePool) {
  TUntypedPoolAllocation<> pool(16);
  for (int i = 0; i < 100; ++i) pool.Allocate();
  const std::uint32_t liveBefore = GetGeneralHeap()->GetLiveCount();
  pool.FreeAllChunks();
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), liveBefore - 3);
  EXPECT_EQ(pool.GetChunkCount(), 0u);
  EXPECT_EQ(pool.GetFreeListHead(), nullptr);
  TPoolStatistics statistics;
  EXPECT_EQ(pool.GetStatistics(&statistics), 0u);
  EXPECT_EQ(statistics.bytes, 0u);
  EXPECT_NE(pool.Allocate(), nullptr);  // usable again
}

// The chunk list grows past its four inline records from the general heap, and every chunk and
// the list storage go back when the pool dies.
TEST(UntypedPool, DestructionReturnsEveryBlock) {
  const std::uint32_t liveBefore = GetGeneralHeap()->GetLiveCount();
  {
    TUntypedPoolAllocation<> pool(64);
    for (int i = 0; i < 2000; ++i) pool.Allocate();
    EXPECT_GT(pool.GetChunkCount(), TPoolChunkList::kInlineRecords);
    EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), liveBefore + pool.GetChunkCount() + 1);
  }
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), liveBefore);
}

TEST(UntypedPool, ChunkFailureRaisesAndLeavesThePoolUsable) {
  TUntypedPoolAllocation<> pool(16);
  TUntypedPoolAllocationNoLock unlocked(16);
  bool lockedThrew = false, unlockedThrew = false;
  OrvTest::InstallSeam();
  OrvTest::g_seam.failAllocate = true;
  try {
    pool.Allocate();
  } catch (const std::bad_alloc&) {
    lockedThrew = true;
  }
  try {
    unlocked.Allocate();
  } catch (const std::bad_alloc&) {
    unlockedThrew = true;
  }
  OrvTest::RestoreSeam();
  EXPECT_TRUE(lockedThrew);
  EXPECT_TRUE(unlockedThrew);
  EXPECT_EQ(pool.GetChunkCount(), 0u);
  EXPECT_EQ(unlocked.GetChunkCount(), 0u);
  EXPECT_NE(pool.Allocate(), nullptr);
  EXPECT_NE(unlocked.Allocate(), nullptr);
}

struct TVisit {
  std::vector<void*> elements;
  static void Record(void* element, void* userValue) { static_cast<TVisit*>(userValue)->elements.push_back(element); }
};

TEST(UntypedPool, VisitsElementsInUseInAddressOrder) {
  TUntypedPoolAllocation<> pool(16);
  std::vector<void*> taken;
  for (int i = 0; i < 32; ++i) taken.push_back(pool.Allocate());
  std::sort(taken.begin(), taken.end());
  // Free all but elements 0, 2 and 5, in a scrambled order.
  for (int i = 31; i >= 0; i -= 2) {
    if (i != 5) pool.Free(taken[i]);
  }
  for (int i = 0; i < 32; i += 2) {
    if (i != 0 && i != 2) pool.Free(taken[i]);
  }
  TVisit visit;
  pool.ForEachAllocatedElement(&TVisit::Record, &visit);
  EXPECT_EQ(visit.elements, (std::vector<void*>{taken[0], taken[2], taken[5]}));
  TPoolStatistics statistics;
  EXPECT_EQ(pool.GetStatistics(&statistics), 3u);  // the visit changes nothing
}

// Sanitizer builds run the same pattern with fewer pairs to stay within CI's time.
#if defined(__SANITIZE_THREAD__)
constexpr std::uint32_t kStressPairsPerThread = 200000;
#else
constexpr std::uint32_t kStressPairsPerThread = 1000000;
#endif
constexpr std::uint32_t kStressThreads = 8;

// Eight threads take and give back elements of one pool at once, each keeping a few elements
// live. Every element is stamped over its whole size by its holder and checked before it goes
// back: an element handed out twice, or a free list corrupted by a stale pop (ABA), shows as a
// foreign stamp.
TEST(UntypedPoolThreaded, ConcurrentAllocateAndFreeNeverShareAnElement) {
  constexpr std::uint32_t kWords = 4;
  constexpr std::uint32_t kSlots = 16;
  TUntypedPoolAllocation<> pool(kWords * sizeof(std::uint64_t));
  std::vector<std::uint64_t> foreignStamps(kStressThreads, 0);
  OrvTest::RunOnThreadsTogether(kStressThreads, [&](std::uint32_t t) {
    std::uint64_t* slots[kSlots] = {};
    std::uint64_t stamps[kSlots] = {};
    std::uint64_t random = 0x9E3779B97F4A7C15ull * (t + 1);
    for (std::uint32_t i = 0; i < kStressPairsPerThread; ++i) {
      random ^= random << 13;
      random ^= random >> 7;
      random ^= random << 17;
      const std::uint32_t slot = random % kSlots;
      if (slots[slot] != nullptr) {
        for (std::uint32_t w = 0; w < kWords; ++w) foreignStamps[t] += slots[slot][w] != stamps[slot];
        pool.Free(slots[slot]);
      }
      auto* element = static_cast<std::uint64_t*>(pool.Allocate());
      const std::uint64_t stamp = (std::uint64_t{t} << 56) | i;
      for (std::uint32_t w = 0; w < kWords; ++w) element[w] = stamp;
      slots[slot] = element;
      stamps[slot] = stamp;
    }
    for (std::uint32_t slot = 0; slot < kSlots; ++slot) {
      if (slots[slot] == nullptr) continue;
      for (std::uint32_t w = 0; w < kWords; ++w) foreignStamps[t] += slots[slot][w] != stamps[slot];
      pool.Free(slots[slot]);
    }
  });
  EXPECT_EQ(foreignStamps, std::vector<std::uint64_t>(kStressThreads, 0));
  TPoolStatistics statistics;
  EXPECT_EQ(pool.GetStatistics(&statistics), 0u);
  EXPECT_EQ(statistics.free * pool.GetElementSize(), statistics.bytes);
  // Only simultaneous refills add chunks beyond what the live elements need.
  EXPECT_LE(statistics.free, 4 * kStressThreads * kSlots + 1024);
}

}  // namespace
