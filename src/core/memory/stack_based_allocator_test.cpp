#include "core/memory/stack_based_allocator.h"

#include <gtest/gtest.h>

#include <array>
#include <barrier>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <thread>
#include <vector>

#include "core/memory/global_allocation.h"
#include "core/memory/heap.h"
#include "core/memory/typed_pool.h"
#include "support/failing_allocation.h"
#include "support/pool_checks.h"
#include "support/stack_based_allocator_helpers.h"

namespace {

using namespace Orvan;
using TChunk = TStackBasedAllocator::TChunk;

// Shared, FillLeaving, Disown and the rest of the chunk helpers.
using namespace OrvTest;

std::uint32_t OffsetInChunk(const TStackBasedBlock& block) {
  return static_cast<std::uint32_t>(static_cast<char*>(block.data) - block.chunk->memory);
}

TEST(StackBasedAllocatorCost, BlockCostIsSizePlusTwentyRaisedToSixteen) {
  struct Case {
    std::uint32_t size;
    std::uint32_t cost;
  };
  const Case cases[] = {{0, 32},      {1, 32},           {12, 32}, {13, 48},
                        {28, 48},     {29, 64},          {300000, 300032},
                        {kStackBasedMaximumBlock, 0xFFFFFFF0u}};
  for (const Case& c : cases) {
    EXPECT_EQ(TStackBasedAllocator::GetBlockCost(c.size), c.cost) << c.size;
  }
}

// Every test starts and must end with the process's shared chunk unlent and empty.
class StackBasedAllocatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(TSharedStackBasedBigChunkAllocator::GetInstancePointer(), nullptr);
    shared_ = Shared().GetSharedChunk();
    ASSERT_NE(shared_, nullptr);
    ASSERT_TRUE(Shared().IsSharedChunkAvailable());
    ASSERT_EQ(shared_->used, 0u);
  }
  void TearDown() override {
    EXPECT_TRUE(Shared().IsSharedChunkAvailable());
    EXPECT_EQ(Shared().GetSharedChunk(), shared_);
    if (shared_ != nullptr) {
      EXPECT_EQ(shared_->used, 0u);
      EXPECT_EQ(shared_->owner, nullptr);
    }
  }

  TChunk* shared_ = nullptr;
};

TEST_F(StackBasedAllocatorTest, BlocksAreLaidOutInOrderAndReleasedInReverse) {
  TStackBasedAllocator allocator;
  TChunk* first = allocator.GetCurrentChunk();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->capacity, kStackBasedChunkSize);
  EXPECT_EQ(first->owner, &allocator);
  EXPECT_EQ(allocator.GetChunkCount(), 1u);

  const std::uint32_t sizes[] = {1, 12, 13, 100, 4000};
  std::array<TStackBasedBlock, std::size(sizes)> blocks;
  std::vector<std::uint32_t> usedBefore;
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    usedBefore.push_back(first->used);
    allocator.Allocate(blocks[i], sizes[i]);
    EXPECT_EQ(blocks[i].chunk, first);
    EXPECT_EQ(blocks[i].size, sizes[i]);
    EXPECT_EQ(OffsetInChunk(blocks[i]), usedBefore[i] + 16) << "block " << i;
    EXPECT_EQ(first->used, usedBefore[i] + TStackBasedAllocator::GetBlockCost(sizes[i]));
    std::memset(blocks[i].data, 0xA5, sizes[i]);
  }
  EXPECT_EQ(OffsetInChunk(blocks[0]), 16u);
  EXPECT_EQ(first->used, 32u + 32 + 48 + 128 + 4032);

  for (std::size_t i = std::size(sizes); i-- > 0;) {
    blocks[i].chunk->Free(blocks[i]);
    EXPECT_EQ(blocks[i].chunk, nullptr);
    EXPECT_EQ(blocks[i].data, nullptr);
    EXPECT_EQ(blocks[i].size, 0u);
    EXPECT_EQ(first->used, usedBefore[i]);
  }
  // The only chunk stays, empty, for the next block.
  EXPECT_EQ(allocator.GetCurrentChunk(), first);
  EXPECT_EQ(allocator.GetChunkCount(), 1u);
  TStackBasedBlock again;
  allocator.Allocate(again, 1);
  EXPECT_EQ(again.data, first->memory + 16);
}

TEST_F(StackBasedAllocatorTest, FullChunkBorrowsTheSharedChunkUntilItEmpties) {
  TStackBasedAllocator allocator;
  TChunk* first = allocator.GetCurrentChunk();
  TStackBasedBlock filler;
  FillLeaving(allocator, filler, 16);
  {
    TStackBasedBlock borrowed;
    allocator.Allocate(borrowed, 1);
    EXPECT_EQ(borrowed.chunk, shared_);
    EXPECT_EQ(borrowed.data, shared_->memory + 16);
    EXPECT_EQ(shared_->owner, &allocator);
    EXPECT_EQ(shared_->next, first);
    EXPECT_EQ(allocator.GetCurrentChunk(), shared_);
    EXPECT_EQ(allocator.GetChunkCount(), 2u);
    EXPECT_FALSE(Shared().IsSharedChunkAvailable());

    TStackBasedBlock second;  // the borrowed chunk is now the one blocks come from
    allocator.Allocate(second, 100);
    EXPECT_EQ(second.chunk, shared_);
    EXPECT_EQ(OffsetInChunk(second), 32u + 16);
  }
  EXPECT_TRUE(Shared().IsSharedChunkAvailable());
  EXPECT_EQ(allocator.GetCurrentChunk(), first);
  EXPECT_EQ(allocator.GetChunkCount(), 1u);
  EXPECT_EQ(first->used, first->capacity - 16);
}

TEST_F(StackBasedAllocatorTest, NewChunkWhenTheSharedChunkIsLentOrTooSmall) {
  struct Case {
    const char* name;
    bool sharedLent;
    std::uint32_t size;
    std::uint32_t capacity;
  };
  const Case cases[] = {
      {"small block, shared lent", true, 1000, kStackBasedChunkSize},
      {"large block, shared lent", true, 300000, 300048},
      {"block larger than the shared chunk", false, 600000, 600048},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TStackBasedAllocator borrower;
    TStackBasedBlock borrowerFiller;
    TStackBasedBlock borrowed;
    if (c.sharedLent) {
      FillLeaving(borrower, borrowerFiller, 0);
      borrower.Allocate(borrowed, 1);
      ASSERT_EQ(borrowed.chunk, shared_);
    }

    TStackBasedAllocator allocator;
    TChunk* first = allocator.GetCurrentChunk();
    TStackBasedBlock filler;
    FillLeaving(allocator, filler, 16);
    {
      TStackBasedBlock block;
      allocator.Allocate(block, c.size);
      ASSERT_NE(block.chunk, nullptr);
      EXPECT_NE(block.chunk, shared_);
      EXPECT_EQ(block.chunk->capacity, c.capacity);
      EXPECT_EQ(OffsetInChunk(block), 16u);
      EXPECT_EQ(allocator.GetChunkCount(), 2u);
      EXPECT_EQ(block.chunk->next, first);
      std::memset(block.data, 0x5A, c.size);
    }
    // The emptied extra chunk is destroyed (ASan reports it otherwise), the first one stays.
    EXPECT_EQ(allocator.GetCurrentChunk(), first);
    EXPECT_EQ(allocator.GetChunkCount(), 1u);
  }
}

TEST_F(StackBasedAllocatorTest, DestroyingABorrowerHandsTheSharedChunkBackEmpty) {
  auto* borrower = new TStackBasedAllocator;
  TStackBasedBlock filler;
  TStackBasedBlock held;
  FillLeaving(*borrower, filler, 0);
  borrower->Allocate(held, 5000);
  ASSERT_EQ(held.chunk, shared_);
  delete borrower;  // with both blocks still held, as at a thread's end
  Disown(filler);
  Disown(held);

  EXPECT_TRUE(Shared().IsSharedChunkAvailable());
  EXPECT_EQ(shared_->used, 0u);
  EXPECT_EQ(shared_->owner, nullptr);
  EXPECT_EQ(shared_->next, nullptr);

  // The next borrower gets the whole chunk.
  TStackBasedAllocator next;
  TStackBasedBlock nextFiller;
  FillLeaving(next, nextFiller, 0);
  TStackBasedBlock whole;
  next.Allocate(whole, SizeCosting(kSharedCapacity));
  EXPECT_EQ(whole.chunk, shared_);
  EXPECT_EQ(OffsetInChunk(whole), 16u);
}

TEST_F(StackBasedAllocatorTest, ChunkEmptiedOutOfOrderLeavesTheListSound) {
  TStackBasedAllocator allocator;
  TChunk* first = allocator.GetCurrentChunk();
  TStackBasedBlock filler;
  FillLeaving(allocator, filler, 0);
  TStackBasedBlock inShared;
  allocator.Allocate(inShared, SizeCosting(kSharedCapacity));
  ASSERT_EQ(inShared.chunk, shared_);
  TStackBasedBlock inNewest;
  allocator.Allocate(inNewest, 64);
  TChunk* newest = inNewest.chunk;
  ASSERT_NE(newest, shared_);
  ASSERT_EQ(allocator.GetChunkCount(), 3u);

  // The shared chunk sits in the middle of the list when it empties.
  shared_->Free(inShared);
  EXPECT_TRUE(Shared().IsSharedChunkAvailable());
  EXPECT_EQ(shared_->owner, nullptr);
  EXPECT_EQ(allocator.GetCurrentChunk(), newest);
  EXPECT_EQ(newest->next, first);
  EXPECT_EQ(allocator.GetChunkCount(), 2u);

  newest->Free(inNewest);
  EXPECT_EQ(allocator.GetCurrentChunk(), first);
  EXPECT_EQ(first->next, nullptr);
  EXPECT_EQ(allocator.GetChunkCount(), 1u);
}

struct StackFailureCase {
  const char* name;
  std::size_t failAbove;
};
// A chunk record is a few dozen bytes; chunk memory is hundreds of kilobytes.
const StackFailureCase kStackFailures[] = {{"chunk record", 0}, {"chunk memory", 4096}};

TEST_F(StackBasedAllocatorTest, FailedChunkThrowsAndLeavesTheAllocatorAsItWas) {
  for (const StackFailureCase& failure : kStackFailures) {
    SCOPED_TRACE(failure.name);
    TStackBasedAllocator allocator;
    TChunk* first = allocator.GetCurrentChunk();
    TStackBasedBlock filler;
    FillLeaving(allocator, filler, 16);
    const std::uint32_t generalBefore = GetGeneralHeap()->GetLiveCount();
    TStackBasedBlock block;

    // Larger than the shared chunk, so a new chunk is needed.
    const OrvTest::TLimitedAllocationRun run =
        OrvTest::RunWithAllocationsAbove(failure.failAbove, [&] { allocator.Allocate(block, 600000); });

    EXPECT_TRUE(run.threwBadAlloc);
    EXPECT_EQ(run.outstanding, 0);
    EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), generalBefore);
    EXPECT_EQ(block.chunk, nullptr);
    EXPECT_EQ(block.data, nullptr);
    EXPECT_EQ(allocator.GetCurrentChunk(), first);
    EXPECT_EQ(allocator.GetChunkCount(), 1u);
    EXPECT_EQ(first->used, first->capacity - 16);

    allocator.Allocate(block, 600000);  // works again once memory is there
    EXPECT_EQ(block.chunk->capacity, 600048u);
  }
}

TEST_F(StackBasedAllocatorTest, FailedFirstChunkFailsTheConstruction) {
  for (const StackFailureCase& failure : kStackFailures) {
    SCOPED_TRACE(failure.name);
    const std::uint32_t generalBefore = GetGeneralHeap()->GetLiveCount();
    const OrvTest::TLimitedAllocationRun run =
        OrvTest::RunWithAllocationsAbove(failure.failAbove, [] { delete new TStackBasedAllocator; });
    EXPECT_TRUE(run.threwBadAlloc);
    EXPECT_EQ(run.outstanding, 0);
    EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), generalBefore);
  }
}

TEST_F(StackBasedAllocatorTest, BlockTooLargeForAChunkThrowsWithoutAllocating) {
  TStackBasedAllocator allocator;
  for (std::uint32_t size : {kStackBasedMaximumBlock + 1, 0xFFFFFFFFu}) {
    TStackBasedBlock block;
    EXPECT_THROW(allocator.Allocate(block, size), std::bad_alloc) << size;
    EXPECT_EQ(block.chunk, nullptr);
    EXPECT_EQ(allocator.GetChunkCount(), 1u);
    EXPECT_EQ(allocator.GetCurrentChunk()->used, 0u);
  }
}

TEST_F(StackBasedAllocatorTest, SharedChunkDroppedWhileLentIsDestroyedByItsBorrower) {
  Shared().CreateSharedChunk();  // one exists already: kept
  EXPECT_EQ(Shared().GetSharedChunk(), shared_);

  {
    TStackBasedAllocator borrower;
    TStackBasedBlock filler;
    FillLeaving(borrower, filler, 0);
    TStackBasedBlock borrowed;
    borrower.Allocate(borrowed, 1);
    ASSERT_EQ(borrowed.chunk, shared_);

    Shared().DestroySharedChunk();
    EXPECT_EQ(Shared().GetSharedChunk(), nullptr);
    EXPECT_FALSE(Shared().IsSharedChunkAvailable());
    // Nothing to lend now: a full chunk gets a new one.
    TStackBasedAllocator other;
    TStackBasedBlock otherFiller;
    FillLeaving(other, otherFiller, 0);
    TStackBasedBlock fresh;
    other.Allocate(fresh, 1);
    EXPECT_EQ(fresh.chunk->capacity, kStackBasedChunkSize);
  }  // the borrower's release destroys the forgotten chunk (ASan reports a leak otherwise)
  EXPECT_EQ(Shared().GetSharedChunk(), nullptr);

  Shared().CreateSharedChunk();
  shared_ = Shared().GetSharedChunk();
  ASSERT_NE(shared_, nullptr);
  EXPECT_EQ(shared_->capacity, kSharedCapacity);
  EXPECT_EQ(shared_->owner, nullptr);
  EXPECT_TRUE(Shared().IsSharedChunkAvailable());
}

// Chunk records are taken from the general heap; the pool kept for them beside that path hands out
// distinct records that hold a chunk, fails with std::bad_alloc when it cannot grow, and gives every
// chunk back to the general heap at once, after which it grows again.
TEST_F(StackBasedAllocatorTest, TheRecordPoolHandsOutRecordsAndGivesEveryChunkBack) {
  using TRecordPool = TPoolAllocation<TChunk>;
  TChunk::FreeRecordPoolChunks();
  const std::uint32_t heapBlocks = GetGeneralHeap()->GetLiveCount();
  std::vector<void*> records{TChunk::AllocateRecordFromPool()};
  TRecordPool* pool = TRecordPool::GetInstancePointer();
  ASSERT_NE(pool, nullptr);
  const std::uint32_t liveBefore = pool->GetLiveCount() - 1;
  EXPECT_GE(pool->GetElementSize(), sizeof(TChunk));
  while (pool->GetChunkCount() < 2) records.push_back(TChunk::AllocateRecordFromPool());
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), heapBlocks + 2);
  EXPECT_EQ(std::set<void*>(records.begin(), records.end()).size(), records.size());
  for (void* record : records) {
    EXPECT_TRUE(OrvTest::ComesFromPool(pool, record));
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(record) % alignof(TChunk), 0u);
  }
  TChunk* chunk = ::new (records.back()) TChunk(nullptr, 100);
  EXPECT_EQ(chunk->capacity, 112u);
  chunk->~TChunk();

  // Every free record taken: the next one needs a chunk that cannot be had.
  while (pool->GetFreeListHead() != nullptr) records.push_back(TChunk::AllocateRecordFromPool());
  bool refused = false;
  void* unexpected = nullptr;
  {
    const OrvTest::TFailingAllocationScope failing(0);
    try {
      unexpected = TChunk::AllocateRecordFromPool();
    } catch (const std::bad_alloc&) {
      refused = true;
    }
  }
  EXPECT_TRUE(refused);
  if (unexpected != nullptr) records.push_back(unexpected);
  EXPECT_EQ(pool->GetChunkCount(), 2u);

  for (void* record : records) pool->Free(record);
  EXPECT_EQ(pool->GetLiveCount(), liveBefore);
  TChunk::FreeRecordPoolChunks();
  EXPECT_EQ(pool->GetChunkCount(), 0u);
  EXPECT_EQ(pool->GetFreeListHead(), nullptr);
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), heapBlocks);

  void* again = TChunk::AllocateRecordFromPool();
  EXPECT_EQ(pool->GetChunkCount(), 1u);
  EXPECT_TRUE(OrvTest::ComesFromPool(pool, again));
  pool->Free(again);
  TChunk::FreeRecordPoolChunks();
}

TEST(StackBasedBlock, CallerBufferIsUsedAsIs) {
  alignas(16) char buffer[64];
  {
    TStackBasedBlock block(buffer, sizeof buffer);
    EXPECT_EQ(block.chunk, nullptr);
    EXPECT_EQ(block.data, buffer);
    EXPECT_EQ(block.size, sizeof buffer);
  }
  TStackBasedBlock empty(nullptr, 0);
  EXPECT_EQ(empty.chunk, nullptr);
  EXPECT_EQ(empty.data, nullptr);
  EXPECT_EQ(empty.size, 0u);
}

TEST(StackBasedBitSet, WordsAndBitQueries) {
  struct Case {
    std::uint32_t bits;
    std::uint32_t words;
  };
  for (const Case& c : {Case{1, 1}, Case{31, 1}, Case{32, 1}, Case{33, 2}, Case{40, 2}, Case{64, 2}, Case{65, 3}}) {
    SCOPED_TRACE(c.bits);
    std::uint32_t buffer[3];
    std::memset(buffer, 0xEE, sizeof buffer);
    TStackBasedBitSet set(c.bits, buffer);
    EXPECT_EQ(set.GetWordCount(), c.words);
    EXPECT_EQ(set.GetWords(), buffer);
    for (std::uint32_t i = 0; i < c.words; ++i) EXPECT_EQ(buffer[i], 0u) << "cleared at construction";
    EXPECT_TRUE(set.None());
    EXPECT_FALSE(set.Any());
    EXPECT_FALSE(set.All());

    set.Set(c.bits - 1);
    EXPECT_TRUE(set.Any());
    EXPECT_TRUE(set.Test(c.bits - 1));
    EXPECT_EQ(set.All(), c.bits == 1);
    for (std::uint32_t bit = 0; bit < c.bits; ++bit) set.Set(bit);
    EXPECT_TRUE(set.All());
    set.Clear(0);
    EXPECT_FALSE(set.All());
    EXPECT_FALSE(set.Test(0));

    set.ClearAll();
    EXPECT_TRUE(set.None());
    set.SetAll();
    EXPECT_TRUE(set.All());
    for (std::uint32_t i = 0; i < c.words; ++i) EXPECT_EQ(buffer[i], 0xFFFFFFFFu);
  }
}

TEST(StackBasedBitSet, BitsPastTheCountDoNotCount) {
  std::uint32_t buffer[2];
  TStackBasedBitSet set(40, buffer);
  for (std::uint32_t bit = 0; bit < 40; ++bit) set.Set(bit);
  for (std::uint32_t high : {0x000000FFu, 0xFFFFFFFFu, 0x12345600u | 0xFFu}) {
    buffer[1] = high;
    EXPECT_TRUE(set.All()) << std::hex << high;
  }
  set.ClearAll();
  buffer[1] = 0xFFFFFF00u;  // only bits 40 to 63
  EXPECT_FALSE(set.Any());
  EXPECT_TRUE(set.None());
}

TEST(StackBasedBitSet, EmptySetIsAllAndNone) {
  TStackBasedBitSet set(0);
  EXPECT_EQ(set.GetWordCount(), 0u);
  EXPECT_TRUE(set.All());
  EXPECT_TRUE(set.None());
  EXPECT_FALSE(set.Any());
  set.SetAll();
  set.ClearAll();
  EXPECT_TRUE(set.All());
}

}  // namespace
