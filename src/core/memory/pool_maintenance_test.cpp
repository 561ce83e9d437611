#include "core/memory/pool_maintenance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "core/memory/untyped_pool.h"
#include "support/process_allocator_seam.h"

namespace {

using namespace Orvan;

// ---- SortWords

struct TSortCase {
  const char* name;
  std::vector<std::uintptr_t> values;
};

std::vector<std::uintptr_t> RandomWords(std::size_t count, std::uintptr_t modulo, unsigned seed) {
  std::mt19937_64 random(seed);
  std::vector<std::uintptr_t> values(count);
  for (auto& value : values) value = modulo == 0 ? random() : random() % modulo;
  return values;
}

std::vector<std::uintptr_t> Descending(std::size_t count) {
  std::vector<std::uintptr_t> values(count);
  for (std::size_t i = 0; i < count; ++i) values[i] = count - i;
  return values;
}

TEST(SortWords, MatchesStdSort) {
  const std::vector<TSortCase> cases = {
      {"empty", {}},
      {"one", {7}},
      {"two", {9, 3}},
      {"33 equal", std::vector<std::uintptr_t>(33, 0xABCDEF)},
      {"1000 equal", std::vector<std::uintptr_t>(1000, 5)},
      {"1000 descending", Descending(1000)},
      {"42 descending", Descending(42)},
      {"32 random", RandomWords(32, 0, 1)},
      {"33 random", RandomWords(33, 0, 2)},
      {"41 random", RandomWords(41, 0, 3)},
      {"42 random", RandomWords(42, 0, 4)},
      {"10000 random", RandomWords(10000, 0, 5)},
      {"10000 in 5 values", RandomWords(10000, 5, 6)},
      {"3000 in 2 values", RandomWords(3000, 2, 7)},
      {"full-width extremes", {~std::uintptr_t{0}, 0, ~std::uintptr_t{0} >> 1, 1, ~std::uintptr_t{0}}},
  };
  for (const TSortCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uintptr_t> sorted = c.values;
    SortWords(sorted.data(), sorted.data() + sorted.size());
    std::vector<std::uintptr_t> expected = c.values;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(sorted, expected);
  }
  // Ascending input and an organ pipe, larger than the insertion threshold at every level.
  std::vector<std::uintptr_t> pipe;
  for (std::uintptr_t i = 0; i < 5000; ++i) pipe.push_back(i < 2500 ? i : 5000 - i);
  std::vector<std::uintptr_t> expected = pipe;
  std::sort(expected.begin(), expected.end());
  SortWords(pipe.data(), pipe.data() + pipe.size());
  EXPECT_EQ(pipe, expected);
  SortWords(pipe.data(), pipe.data() + pipe.size());
  EXPECT_EQ(pipe, expected);
}

// ---- Release of wholly free chunks and visit of elements in use, for every pool variant

template <typename TPool>
struct TPoolMaker;
template <>
struct TPoolMaker<TUntypedPoolAllocation<>> {
  static auto Make(std::uint32_t size, THeap*) { return std::make_unique<TUntypedPoolAllocation<>>(size); }
};
template <>
struct TPoolMaker<TUntypedPoolAllocationNoLock> {
  static auto Make(std::uint32_t size, THeap*) { return std::make_unique<TUntypedPoolAllocationNoLock>(size); }
};
template <>
struct TPoolMaker<TUntypedPoolAllocationAlignedNoLock> {
  static auto Make(std::uint32_t size, THeap*) { return std::make_unique<TUntypedPoolAllocationAlignedNoLock>(size); }
};
template <>
struct TPoolMaker<TUntypedPoolAllocationThreadHeapNoLock> {
  static auto Make(std::uint32_t size, THeap* heap) {
    return std::make_unique<TUntypedPoolAllocationThreadHeapNoLock>(heap, size);
  }
};

template <typename TPool>
class PoolMaintenance : public testing::Test {
 protected:
  std::unique_ptr<TPool> Make(std::uint32_t elementSize) { return TPoolMaker<TPool>::Make(elementSize, &chunkHeap_); }

  // Fills `count` chunks and returns their elements, chunk by chunk in address order.
  static std::vector<std::vector<void*>> FillChunks(TPool& pool, std::uint32_t count) {
    std::vector<void*> taken;
    while (pool.GetChunkCount() < count || pool.GetFreeListHead() != nullptr) taken.push_back(pool.Allocate());
    std::vector<std::vector<void*>> chunks(count);
    for (void* element : taken) {
      for (std::uint32_t i = 0; i < count; ++i) {
        if (IsInPoolChunk(pool.GetChunk(i), pool.GetElementSize(), element)) chunks[i].push_back(element);
      }
    }
    for (auto& chunk : chunks) std::sort(chunk.begin(), chunk.end());
    return chunks;
  }

  static std::vector<void*> FreeList(const TPool& pool) {
    std::vector<void*> list;
    for (void* element = pool.GetFreeListHead(); element != nullptr; element = *static_cast<void**>(element)) {
      list.push_back(element);
    }
    return list;
  }

  static std::vector<void*> Visit(const TPool& pool) {
    std::vector<void*> visited;
    pool.ForEachAllocatedElement(
        [](void* element, void* userValue) { static_cast<std::vector<void*>*>(userValue)->push_back(element); },
        &visited);
    return visited;
  }

  THeap scratch_;
  THeap chunkHeap_;
};

using PoolVariants = testing::Types<TUntypedPoolAllocation<>, TUntypedPoolAllocationNoLock,
                                    TUntypedPoolAllocationAlignedNoLock, TUntypedPoolAllocationThreadHeapNoLock>;
TYPED_TEST_SUITE(PoolMaintenance, PoolVariants);

TYPED_TEST(PoolMaintenance, WhollyFreePoolReleasesEverything) {
  auto pool = this->Make(16);
  for (const auto& chunk : this->FillChunks(*pool, 3)) {
    for (void* element : chunk) pool->Free(element);
  }
  EXPECT_EQ(pool->GetElementsPerChunk(), 66u);
  EXPECT_EQ(pool->ReleaseFreeChunks(&this->scratch_), (32u + 41 + 52) * 16);
  EXPECT_EQ(pool->GetChunkCount(), 0u);
  EXPECT_EQ(pool->GetFreeListHead(), nullptr);
  EXPECT_EQ(pool->GetElementsPerChunk(), 32u);
  EXPECT_EQ(this->scratch_.GetLiveCount(), 0u);
  TPoolStatistics statistics;
  EXPECT_EQ(pool->GetStatistics(&statistics), 0u);
  EXPECT_EQ(statistics.bytes, 0u);
  EXPECT_NE(pool->Allocate(), nullptr);  // starts again from a default first chunk
  EXPECT_EQ(pool->GetChunk(0).elementCount, 32u);
}

TYPED_TEST(PoolMaintenance, ChunkWithAnElementInUseSurvivesWithItsFreeElementsInOrder) {
  auto pool = this->Make(16);
  const auto chunks = this->FillChunks(*pool, 3);
  void* kept = chunks[1][7];
  // Give everything else back in a scrambled order.
  std::vector<void*> others;
  for (const auto& chunk : chunks) {
    for (void* element : chunk) {
      if (element != kept) others.push_back(element);
    }
  }
  std::shuffle(others.begin(), others.end(), std::mt19937(11));
  for (void* element : others) pool->Free(element);

  EXPECT_EQ(pool->ReleaseFreeChunks(&this->scratch_), (32u + 52) * 16);
  ASSERT_EQ(pool->GetChunkCount(), 1u);
  EXPECT_EQ(reinterpret_cast<void*>(pool->GetChunk(0).start), chunks[1][0]);
  EXPECT_EQ(pool->GetElementsPerChunk(), 32u);
  std::vector<void*> expected = chunks[1];
  expected.erase(expected.begin() + 7);
  EXPECT_EQ(this->FreeList(*pool), expected);
  EXPECT_EQ(this->Visit(*pool), std::vector<void*>{kept});
  pool->Free(kept);
}

// Survivors' free elements run through the last surviving chunk first, each chunk ascending; the
// chunk size stays when two chunks or more remain.
TYPED_TEST(PoolMaintenance, RebuiltListRunsFromTheLastSurvivingChunk) {
  auto pool = this->Make(16);
  const auto chunks = this->FillChunks(*pool, 3);
  for (void* element : chunks[1]) pool->Free(element);
  for (std::size_t i = 1; i < chunks[0].size(); ++i) pool->Free(chunks[0][i]);
  for (std::size_t i = 0; i + 1 < chunks[2].size(); ++i) pool->Free(chunks[2][i]);

  EXPECT_EQ(pool->ReleaseFreeChunks(&this->scratch_), 41u * 16);
  ASSERT_EQ(pool->GetChunkCount(), 2u);
  EXPECT_EQ(pool->GetElementsPerChunk(), 66u);
  std::vector<void*> expected(chunks[2].begin(), chunks[2].end() - 1);
  expected.insert(expected.end(), chunks[0].begin() + 1, chunks[0].end());
  EXPECT_EQ(this->FreeList(*pool), expected);
  EXPECT_EQ(this->Visit(*pool), (std::vector<void*>{chunks[0][0], chunks[2].back()}));
  pool->Free(chunks[0][0]);
  pool->Free(chunks[2].back());
}

TYPED_TEST(PoolMaintenance, PoolWithoutFreeElementsReleasesNothing) {
  auto pool = this->Make(16);
  const auto chunks = this->FillChunks(*pool, 1);
  EXPECT_EQ(pool->ReleaseFreeChunks(&this->scratch_), 0u);
  EXPECT_EQ(pool->GetChunkCount(), 1u);
  EXPECT_EQ(pool->GetFreeListHead(), nullptr);
  EXPECT_EQ(this->Visit(*pool), chunks[0]);
  for (void* element : chunks[0]) pool->Free(element);
}

// Elements 0, 2 and 5 of one chunk in use are visited in that order, whatever the free order.
TYPED_TEST(PoolMaintenance, VisitCallsBackForElementsInUseInAddressOrder) {
  auto pool = this->Make(24);
  const auto chunks = this->FillChunks(*pool, 2);
  std::vector<void*> toFree;
  for (std::size_t i = 0; i < chunks[0].size(); ++i) {
    if (i != 0 && i != 2 && i != 5) toFree.push_back(chunks[0][i]);
  }
  toFree.insert(toFree.end(), chunks[1].begin() + 1, chunks[1].end());
  std::shuffle(toFree.begin(), toFree.end(), std::mt19937(5));
  for (void* element : toFree) pool->Free(element);
  EXPECT_EQ(this->Visit(*pool), (std::vector<void*>{chunks[0][0], chunks[0][2], chunks[0][5], chunks[1][0]}));
  TPoolStatistics statistics;
  EXPECT_EQ(pool->GetStatistics(&statistics), 4u);
}

// More than 64 chunks, and a chunk with more than 64 free elements, take scratch memory from the
// given heap and give it all back.
TYPED_TEST(PoolMaintenance, BigPoolsUseTheScratchHeap) {
  auto pool = this->Make(8000);
  const auto chunks = this->FillChunks(*pool, 70);
  for (const auto& chunk : chunks) {
    for (std::size_t i = 1; i < chunk.size(); ++i) pool->Free(chunk[i]);
  }
  std::uint32_t allElements = 0;
  for (const auto& chunk : chunks) allElements += static_cast<std::uint32_t>(chunk.size());
  TPoolStatistics statistics;
  pool->GetStatistics(&statistics);
  EXPECT_EQ(statistics.used, 70u);
  EXPECT_EQ(pool->ReleaseFreeChunks(&this->scratch_), 0u);
  EXPECT_EQ(this->scratch_.GetLiveCount(), 0u);
  EXPECT_EQ(this->FreeList(*pool).size(), allElements - 70);
  for (const auto& chunk : chunks) pool->Free(chunk[0]);
  EXPECT_EQ(pool->ReleaseFreeChunks(&this->scratch_), allElements * 8000u);

  auto small = this->Make(16);
  const auto smallChunks = this->FillChunks(*small, 4);
  ASSERT_EQ(smallChunks[3].size(), 66u);
  for (const auto& chunk : smallChunks) {
    for (std::size_t i = 1; i < chunk.size(); ++i) small->Free(chunk[i]);
  }
  EXPECT_EQ(small->ReleaseFreeChunks(&this->scratch_), 0u);
  EXPECT_EQ(this->scratch_.GetLiveCount(), 0u);
  EXPECT_EQ(this->FreeList(*small).size(), 32u + 41 + 52 + 66 - 4);
  for (const auto& chunk : smallChunks) small->Free(chunk[0]);
}

// A scratch bucket that cannot grow leaves the pool as it was.
TYPED_TEST(PoolMaintenance, FailedScratchAllocationChangesNothing) {
  auto pool = this->Make(16);
  const auto chunks = this->FillChunks(*pool, 4);
  for (const auto& chunk : chunks) {
    for (void* element : chunk) pool->Free(element);
  }
  const std::vector<void*> listBefore = this->FreeList(*pool);
  bool threw = false;
  OrvTest::InstallSeam();
  OrvTest::g_seam.failAllocate = true;
  try {
    pool->ReleaseFreeChunks(&this->scratch_);
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  OrvTest::RestoreSeam();
  EXPECT_TRUE(threw);
  EXPECT_EQ(pool->GetChunkCount(), 4u);
  EXPECT_EQ(this->FreeList(*pool), listBefore);
  EXPECT_EQ(pool->ReleaseFreeChunks(&this->scratch_), (32u + 41 + 52 + 66) * 16);
}

// ---- Where the unlocked variants' chunks come from, and the swap of two unlocked pools

TEST(UnlockedPool, AlignedChunksStartOn128Bytes) {
  TUntypedPoolAllocationAlignedNoLock pool(40);
  std::vector<void*> taken;
  for (int i = 0; i < 200; ++i) taken.push_back(pool.Allocate());
  for (std::uint32_t i = 0; i < pool.GetChunkCount(); ++i) EXPECT_EQ(pool.GetChunk(i).start % 128, 0u);
  EXPECT_TRUE(pool.ContainsAddress(taken[0]));
  EXPECT_FALSE(pool.ContainsAddress(&taken));
}

TEST(UnlockedPool, ThreadHeapChunksComeFromTheHeap) {
  THeap heap;
  const std::uint32_t generalBefore = GetGeneralHeap()->GetLiveCount();
  {
    TUntypedPoolAllocationThreadHeapNoLock pool(&heap, 16);
    EXPECT_TRUE(pool.HasNoChunk());
    for (int i = 0; i < 500; ++i) pool.Allocate();  // more chunks than the inline records
    EXPECT_GT(pool.GetChunkCount(), TPoolChunkList::kInlineRecords);
    EXPECT_EQ(heap.GetLiveCount(), pool.GetChunkCount());
    EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), generalBefore);
    pool.FreeAllChunks();
    EXPECT_EQ(heap.GetLiveCount(), 0u);
    EXPECT_EQ(pool.GetFreeListHead(), nullptr);
  }
  EXPECT_EQ(heap.GetLiveCount(), 0u);
}

template <typename TPool>
void CheckSwap(TPool& a, TPool& b) {
  std::vector<void*> fromA, fromB;
  for (int i = 0; i < 40; ++i) fromA.push_back(a.Allocate());    // 2 chunks of 16: inline records
  for (int i = 0; i < 1000; ++i) fromB.push_back(b.Allocate());  // many chunks of 32: heap records
  const std::uint32_t aChunks = a.GetChunkCount(), bChunks = b.GetChunkCount();
  const std::uint32_t aNext = a.GetElementsPerChunk(), bNext = b.GetElementsPerChunk();
  void* aHead = a.GetFreeListHead();
  void* bHead = b.GetFreeListHead();
  a.Swap(b);
  EXPECT_EQ(a.GetElementSize(), 32u);
  EXPECT_EQ(b.GetElementSize(), 16u);
  EXPECT_EQ(a.GetChunkCount(), bChunks);
  EXPECT_EQ(b.GetChunkCount(), aChunks);
  EXPECT_EQ(a.GetElementsPerChunk(), bNext);
  EXPECT_EQ(b.GetElementsPerChunk(), aNext);
  EXPECT_EQ(a.GetFreeListHead(), bHead);
  EXPECT_EQ(b.GetFreeListHead(), aHead);
  for (void* element : fromA) EXPECT_TRUE(b.ContainsAddress(element));
  for (void* element : fromB) EXPECT_TRUE(a.ContainsAddress(element));
  for (void* element : fromA) b.Free(element);
  for (void* element : fromB) a.Free(element);
  TPoolStatistics statistics;
  EXPECT_EQ(a.GetStatistics(&statistics), 0u);
  EXPECT_EQ(b.GetStatistics(&statistics), 0u);
  // Swapping back, and swapping two pools whose records are both inline.
  a.Swap(b);
  EXPECT_EQ(a.GetElementSize(), 16u);
  EXPECT_EQ(a.GetChunkCount(), aChunks);
  TPool c(8), d(8);
  c.Allocate();
  d.Swap(c);
  EXPECT_EQ(c.GetChunkCount(), 0u);
  EXPECT_EQ(d.GetChunkCount(), 1u);
}

TEST(UnlockedPool, SwapExchangesListsChunksAndSizes) {
  const std::uint32_t generalBefore = GetGeneralHeap()->GetLiveCount();
  {
    TUntypedPoolAllocationNoLock a(16), b(32);
    CheckSwap(a, b);
  }
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), generalBefore);
}

TEST(UnlockedPool, ThreadHeapSwapKeepsEachPoolsHeap) {
  THeap heapA, heapB;
  {
    TUntypedPoolAllocationThreadHeapNoLock a(&heapA, 16), b(&heapB, 32);
    std::vector<void*> fromA;
    for (int i = 0; i < 40; ++i) fromA.push_back(a.Allocate());
    a.Swap(b);
    EXPECT_EQ(a.GetHeap(), &heapA);
    EXPECT_EQ(b.GetHeap(), &heapB);
    EXPECT_EQ(b.GetChunkCount(), 2u);
    for (void* element : fromA) b.Free(element);
    b.Swap(a);
    EXPECT_EQ(a.GetChunkCount(), 2u);
  }
  EXPECT_EQ(heapA.GetLiveCount(), 0u);
}

}  // namespace
