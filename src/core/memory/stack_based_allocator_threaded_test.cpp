#include <gtest/gtest.h>

#include <barrier>
#include <functional>
#include <thread>
#include <vector>

#include "core/memory/stack_based_allocator.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_local_storage.h"
#include "support/stack_based_allocator_helpers.h"

namespace {

using namespace Orvan;
using TChunk = TStackBasedAllocator::TChunk;

// Shared, FillLeaving, Disown and the rest of the chunk helpers.
using namespace OrvTest;

// Runs `body` on a new engine thread, attached around it.
void OnEngineThread(const std::function<void()>& body) {
  std::thread([&] {
    AttachThreadToEngine();
    body();
    DetachThreadFromEngine();
  }).join();
}

class StackBasedAllocatorThreaded : public ::testing::Test {
 protected:
  void SetUp() override {
    shared_ = Shared().GetSharedChunk();
    ASSERT_NE(shared_, nullptr);
    ASSERT_TRUE(Shared().IsSharedChunkAvailable());
  }
  void TearDown() override {
    EXPECT_TRUE(Shared().IsSharedChunkAvailable());
    TChunk* shared = Shared().GetSharedChunk();
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->used, 0u);
    EXPECT_EQ(shared->owner, nullptr);
  }

  TChunk* shared_ = nullptr;
};

// Two threads whose chunks are full ask for a block at the same moment: exactly one may borrow
// the shared chunk, the other must get a chunk of its own, and the shared chunk must come back
// whole once both have let go.
TEST_F(StackBasedAllocatorThreaded, TwoFullThreadsShareOutTheSharedChunk) {
  constexpr int kRounds = 200;
  struct Outcome {
    bool borrowed = false;
    std::uint32_t capacity = 0;
    std::uint32_t chunkCountWhileHeld = 0;
    std::uint32_t chunkCountAfter = 0;
  };
  std::vector<Outcome> outcomes[2] = {std::vector<Outcome>(kRounds), std::vector<Outcome>(kRounds)};
  std::barrier sync(2);

  auto run = [&](std::vector<Outcome>& mine) {
    TStackBasedAllocator allocator;
    TStackBasedBlock filler;
    FillLeaving(allocator, filler, 16);
    for (Outcome& outcome : mine) {
      sync.arrive_and_wait();
      {
        TStackBasedBlock block;
        allocator.Allocate(block, 1000);
        outcome.borrowed = block.chunk == shared_;
        outcome.capacity = block.chunk->capacity;
        outcome.chunkCountWhileHeld = allocator.GetChunkCount();
        sync.arrive_and_wait();  // both hold their block before either lets go
      }
      outcome.chunkCountAfter = allocator.GetChunkCount();
    }
  };
  auto body = [&](std::vector<Outcome>& mine) {
    AttachThreadToEngine();
    run(mine);  // the allocator dies before the thread detaches
    DetachThreadFromEngine();
  };
  std::thread a(body, std::ref(outcomes[0]));
  std::thread b(body, std::ref(outcomes[1]));
  a.join();
  b.join();

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    const Outcome& x = outcomes[0][round];
    const Outcome& y = outcomes[1][round];
    EXPECT_NE(x.borrowed, y.borrowed) << "exactly one thread borrows";
    for (const Outcome& o : {x, y}) {
      EXPECT_EQ(o.capacity, o.borrowed ? kSharedCapacity : kStackBasedChunkSize);
      EXPECT_EQ(o.chunkCountWhileHeld, 2u);
      EXPECT_EQ(o.chunkCountAfter, 1u);
    }
  }
}

TEST_F(StackBasedAllocatorThreaded, EachThreadGetsItsOwnAllocatorOnFirstUse) {
  TStackBasedAllocator* mainAllocator = GetThreadStackAllocator();
  OnEngineThread([&] {
    EXPECT_EQ(ReadThreadLocalSlot(GetThreadLocalStackAllocatorSlotIndex()), nullptr);
    TStackBasedAllocator* allocator = GetThreadStackAllocator();
    ASSERT_NE(allocator, nullptr);
    EXPECT_NE(allocator, mainAllocator);
    EXPECT_EQ(GetThreadStackAllocator(), allocator);
    EXPECT_EQ(allocator->GetChunkSize(), kStackBasedChunkSize);
    ASSERT_EQ(allocator->GetChunkCount(), 1u);
    TChunk* first = allocator->GetCurrentChunk();
    EXPECT_EQ(first->capacity, kStackBasedChunkSize);

    TStackBasedBlock block(nullptr, 100);
    EXPECT_EQ(block.chunk, first);
    EXPECT_EQ(block.data, first->memory + 16);
    EXPECT_EQ(first->used, 128u);
    {
      TStackBasedBlock inner(nullptr, 13);
      EXPECT_EQ(inner.data, first->memory + 128 + 16);
      inner.Reset(1);  // gives back the 13 bytes first, so the new block takes their place
      EXPECT_EQ(inner.data, first->memory + 128 + 16);
      EXPECT_EQ(inner.size, 1u);
      EXPECT_EQ(first->used, 160u);
    }
    EXPECT_EQ(first->used, 128u);
    block.Reset(0);
    EXPECT_EQ(block.chunk, nullptr);
    EXPECT_EQ(block.data, nullptr);
    EXPECT_EQ(first->used, 0u);

    TStackBasedBitSet bits(40);  // words from the thread's allocator
    EXPECT_EQ(bits.GetWords(), reinterpret_cast<std::uint32_t*>(first->memory + 16));
    EXPECT_TRUE(bits.None());
  });
}

// A thread that ends while it borrows the shared chunk gives it back, empty, through its slot.
TEST_F(StackBasedAllocatorThreaded, DetachingABorrowingThreadReturnsTheSharedChunk) {
  OnEngineThread([&] {
    TStackBasedAllocator* allocator = GetThreadStackAllocator();
    TStackBasedBlock filler;
    TStackBasedBlock held;
    FillLeaving(*allocator, filler, 0);
    allocator->Allocate(held, 4000);
    ASSERT_EQ(held.chunk, shared_);
    DetachThreadFromEngine();
    Disown(held);
    Disown(filler);
    AttachThreadToEngine();  // for the helper's own detach
  });
  EXPECT_EQ(Shared().GetSharedChunk(), shared_);
}

// The shutdown entry on a thread that borrows the shared chunk: the allocator goes first, so the
// shared chunk is back and can be destroyed; the slot is emptied.
TEST_F(StackBasedAllocatorThreaded, ReleasingTheThreadAllocatorDropsTheSharedChunk) {
  OnEngineThread([&] {
    TStackBasedAllocator* allocator = GetThreadStackAllocator();
    TStackBasedBlock filler;
    TStackBasedBlock held;
    FillLeaving(*allocator, filler, 0);
    allocator->Allocate(held, 1);
    ASSERT_EQ(held.chunk, shared_);
    ReleaseThreadStackAllocator();
    Disown(held);
    Disown(filler);
    EXPECT_EQ(ReadThreadLocalSlot(GetThreadLocalStackAllocatorSlotIndex()), nullptr);
    EXPECT_EQ(Shared().GetSharedChunk(), nullptr);  // destroyed, not leaked (ASan)
    EXPECT_FALSE(Shared().IsSharedChunkAvailable());
  });
  Shared().CreateSharedChunk();
}

}  // namespace
