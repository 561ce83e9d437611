#include "core/memory/typed_pool.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/pool_checks.h"
#include "support/threads_together.h"

namespace {

using namespace Orvan;

using OrvTest::ComesFromPool;
using OrvTest::CountRegistryEntries;

struct TPooledThing {
  ORV_POOLED_ALLOCATION(TPooledThing)
  std::uint64_t words[5] = {};
};
using TThingPool = TPoolAllocation<TPooledThing>;

TEST(TypedPool, NewAndDeleteGoThroughThePool) {
  delete new TPooledThing;  // builds the pool
  TThingPool* pool = TThingPool::GetInstancePointer();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool, TThingPool::Instance());
  EXPECT_EQ(pool->GetElementSize(), 40u);
  EXPECT_EQ(pool->destroyedByRegistry, 1);
  EXPECT_EQ(CountRegistryEntries(pool), 1u);
  const std::uint32_t live = pool->GetLiveCount();

  auto* a = new TPooledThing;
  auto* b = new TPooledThing;
  EXPECT_EQ(pool->GetLiveCount(), live + 2);
  EXPECT_TRUE(ComesFromPool(pool, a));
  EXPECT_TRUE(ComesFromPool(pool, b));
  delete b;
  EXPECT_EQ(pool->GetLiveCount(), live + 1);
  auto* c = new TPooledThing;
  EXPECT_EQ(c, b);  // last freed, first reused
  delete a;
  delete c;
  EXPECT_EQ(pool->GetLiveCount(), live);
}

struct TNeverAllocated {
  ORV_POOLED_ALLOCATION(TNeverAllocated)
  int value = 0;
};
using TNeverPool = TPoolAllocation<TNeverAllocated>;

TEST(TypedPool, NullDeleteAndMaintenanceBuildNothing) {
  TNeverAllocated* none = nullptr;
  delete none;
  TNeverAllocated::operator delete(nullptr, sizeof(TNeverAllocated));
  EXPECT_EQ(TNeverPool::ReleaseFreeChunks(GetGeneralHeap()), 0u);
  TNeverPool::FreeAllChunks();
  EXPECT_EQ(TNeverPool::GetInstancePointer(), nullptr);
}

// A derived class that does not fit the base's element takes the global allocation, and its
// delete through a base pointer (virtual destructor, sized delete) frees it there.
struct TPooledBase {
  ORV_POOLED_ALLOCATION(TPooledBase)
  virtual ~TPooledBase() = default;
  std::uint64_t value = 1;
};
struct TBiggerDerived : TPooledBase {
  std::uint64_t extra[6] = {2, 3, 4, 5, 6, 7};
};
struct TSameSizeDerived : TPooledBase {};
using TBasePool = TPoolAllocation<TPooledBase>;

TEST(TypedPool, LargerDerivedClassUsesTheGlobalAllocation) {
  TPooledBase* base = new TPooledBase;
  TBasePool* pool = TBasePool::GetInstancePointer();
  ASSERT_NE(pool, nullptr);
  const std::uint32_t live = pool->GetLiveCount();

  TPooledBase* bigger = new TBiggerDerived;
  EXPECT_EQ(pool->GetLiveCount(), live);
  EXPECT_FALSE(ComesFromPool(pool, bigger));
  delete bigger;
  EXPECT_EQ(pool->GetLiveCount(), live);

  TPooledBase* same = new TSameSizeDerived;
  EXPECT_EQ(pool->GetLiveCount(), live + 1);
  EXPECT_TRUE(ComesFromPool(pool, same));
  delete same;
  EXPECT_EQ(pool->GetLiveCount(), live);
  delete base;
}

// Two classes share one size-class pool whose element is derived from both their sizes.
struct TFakeCallBase {
  virtual ~TFakeCallBase() = default;
};
struct TSmallCall : TFakeCallBase {
  ORV_DECLARE_POOLED_ALLOCATION()
  std::uint64_t argument = 0;
};
struct TLargeCall : TFakeCallBase {
  ORV_DECLARE_POOLED_ALLOCATION()
  std::uint64_t arguments[6] = {};
};
using TFakeCallPool = TPoolAllocationRegionSegregated<kPoolSizeClassOf<TSmallCall, TLargeCall>, TFakeCallBase>;
ORV_DEFINE_POOLED_ALLOCATION(TSmallCall, TFakeCallPool)
ORV_DEFINE_POOLED_ALLOCATION(TLargeCall, TFakeCallPool)

TEST(TypedPool, SizeClassPoolServesSeveralClasses) {
  EXPECT_EQ(TFakeCallPool::kElementSize, sizeof(TLargeCall));
  TFakeCallBase* small = new TSmallCall;
  TFakeCallBase* large = new TLargeCall;
  TFakeCallPool* pool = TFakeCallPool::GetInstancePointer();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(pool->GetLiveCount(), 2u);
  EXPECT_TRUE(ComesFromPool(pool, small));
  EXPECT_TRUE(ComesFromPool(pool, large));
  delete small;
  delete large;
  EXPECT_EQ(pool->GetLiveCount(), 0u);
}

// Shutdown destroys the pools: instance pointers read null and every chunk is back in the heap.
// Each test here runs on a registry of its own.
class TypedPoolShutdown : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = TSingletonRegistry::ExchangeForTests(nullptr);
    TSingletonRegistry::Create();
  }
  void TearDown() override {
    TSingletonRegistry::DestroyAll();
    TSingletonRegistry::Destroy();
    TSingletonRegistry::ExchangeForTests(saved_);
  }

 private:
  TSingletonRegistry* saved_ = nullptr;
};

struct TShutdownThing {
  ORV_POOLED_ALLOCATION(TShutdownThing)
  std::uint64_t words[3] = {};
};

TEST_F(TypedPoolShutdown, DestroyAllFreesThePoolsAndClearsTheirPointers) {
  const std::uint32_t heapLive = GetGeneralHeap()->GetLiveCount();
  std::vector<TShutdownThing*> things;
  for (int i = 0; i < 100; ++i) things.push_back(new TShutdownThing);
  for (TShutdownThing* thing : things) delete thing;
  EXPECT_GT(GetGeneralHeap()->GetLiveCount(), heapLive);
  TSingletonRegistry::DestroyAll();
  EXPECT_EQ(TPoolAllocation<TShutdownThing>::GetInstancePointer(), nullptr);
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), heapLive);
  // A later first use builds the pool again.
  delete new TShutdownThing;
  EXPECT_NE(TPoolAllocation<TShutdownThing>::GetInstancePointer(), nullptr);
}

// The release of wholly free chunks through the pool class.
TEST_F(TypedPoolShutdown, ReleaseFreeChunksOfAnIdlePool) {
  std::vector<TShutdownThing*> things;
  for (int i = 0; i < 100; ++i) things.push_back(new TShutdownThing);
  for (TShutdownThing* thing : things) delete thing;
  auto* pool = TPoolAllocation<TShutdownThing>::GetInstancePointer();
  EXPECT_EQ(TPoolAllocation<TShutdownThing>::ReleaseFreeChunks(GetGeneralHeap()), (32u + 41 + 52) * 24);
  EXPECT_EQ(pool->GetChunkCount(), 0u);
  EXPECT_EQ(pool->GetLiveCount(), 0u);
}

// ---- Threaded

struct TRacedThing {
  ORV_POOLED_ALLOCATION(TRacedThing)
  std::uint64_t words[2] = {};
};

TEST(TypedPoolThreaded, FirstAllocationsOnManyThreadsBuildOnePool) {
  constexpr int kThreads = 8;
  std::vector<TRacedThing*> things(kThreads, nullptr);
  OrvTest::RunOnThreadsTogether(kThreads, [&](int t) {
    things[t] = new TRacedThing;
  });
  TPoolAllocation<TRacedThing>* pool = TPoolAllocation<TRacedThing>::GetInstancePointer();
  ASSERT_NE(pool, nullptr);
  EXPECT_EQ(CountRegistryEntries(pool), 1u);
  EXPECT_EQ(pool->GetLiveCount(), static_cast<std::uint32_t>(kThreads));
  for (TRacedThing* thing : things) {
    EXPECT_TRUE(ComesFromPool(pool, thing));
    delete thing;
  }
  EXPECT_EQ(pool->GetLiveCount(), 0u);
}

}  // namespace
