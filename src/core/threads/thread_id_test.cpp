#include "core/threads/thread_id.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cstdint>
#include <future>
#include <set>
#include <thread>
#include <vector>

#include "support/threads_together.h"

namespace Orvan {
namespace {

TEST(ThreadIdThreaded, SameIdTwiceOnAThreadAndADifferentOneElsewhere) {
  const std::uint32_t mine = GetCurrentThreadId();
  EXPECT_NE(mine, 0u);
  EXPECT_EQ(GetCurrentThreadId(), mine);
  const auto [otherFirst, otherSecond] = std::async(std::launch::async, [] {
                                           const std::uint32_t first = GetCurrentThreadId();
                                           return std::pair{first, GetCurrentThreadId()};
                                         }).get();
  EXPECT_NE(otherFirst, 0u);
  EXPECT_EQ(otherFirst, otherSecond);
  EXPECT_NE(otherFirst, mine);
  EXPECT_EQ(GetCurrentThreadId(), mine);
}

TEST(ThreadIdThreaded, ThreadsStartingTogetherGetDistinctIds) {
  constexpr int kThreads = 8;
  constexpr int kTakenPerThread = 20;
  std::vector<std::vector<std::uint32_t>> ids(kThreads);
  OrvTest::RunOnThreadsTogether(kThreads, [&](int t) {
    ids[t].push_back(GetCurrentThreadId());
    for (int i = 0; i < kTakenPerThread; ++i) ids[t].push_back(TakeNextThreadId());
  });
  std::set<std::uint32_t> distinct;
  for (const auto& perThread : ids) {
    // One thread's ids come from a counter that only grows.
    EXPECT_TRUE(std::is_sorted(perThread.begin(), perThread.end()));
    distinct.insert(perThread.begin(), perThread.end());
  }
  EXPECT_EQ(distinct.size(), std::size_t{kThreads} * (kTakenPerThread + 1));
  EXPECT_EQ(distinct.count(0), 0u);
}

TEST(ThreadId, TakeNextThreadIdCountsUpByOne) {
  const std::uint32_t first = TakeNextThreadId();
  EXPECT_EQ(TakeNextThreadId(), first + 1);
}

class ThreadIdRegistry : public ::testing::Test {
 protected:
  void SetUp() override { ClearRegisteredThreadIdsForTests(); }
  void TearDown() override {
    ClearRegisteredThreadIdsForTests();
    ClearMainThreadId();
  }
};

// Ids far above any id this test program hands out.
constexpr std::uint32_t kForeignIds[] = {0xF0000001u, 0xF0000002u, 0xF0000003u};

TEST_F(ThreadIdRegistry, OnlyTheFirstThreeRegistrationsAreKept) {
  for (int position = 0; position < 4; ++position) {
    ClearRegisteredThreadIdsForTests();
    EXPECT_FALSE(IsCurrentThreadRegistered());
    int foreign = 0;
    for (int call = 0; call < 4; ++call) {
      RegisterThreadId(call == position ? GetCurrentThreadId() : kForeignIds[foreign++]);
    }
    EXPECT_EQ(IsCurrentThreadRegistered(), position < 3) << "registered as call " << position + 1;
  }
}

TEST_F(ThreadIdRegistry, MainThreadIdIsSetAndCleared) {
  EXPECT_EQ(GetMainThreadId(), 0u);
  const std::uint32_t id = SetMainThreadToCurrent();
  EXPECT_EQ(id, GetCurrentThreadId());
  EXPECT_EQ(GetMainThreadId(), id);
  const std::uint32_t other = std::async(std::launch::async, [] { return GetMainThreadId(); }).get();
  EXPECT_EQ(other, id);
  ClearMainThreadId();
  EXPECT_EQ(GetMainThreadId(), 0u);
}

class ThreadIdRegistryThreaded : public ThreadIdRegistry {};

// Threads registering at the same moment must not overwrite each other's slot.
TEST_F(ThreadIdRegistryThreaded, ConcurrentRegistrationsFillExactlyThreeSlots) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 20; ++round) {
    ClearRegisteredThreadIdsForTests();
    std::barrier start(kThreads);
    std::barrier registered(kThreads);
    std::atomic<int> seenRegistered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&] {
        const std::uint32_t id = GetCurrentThreadId();
        start.arrive_and_wait();
        RegisterThreadId(id);
        registered.arrive_and_wait();
        if (IsCurrentThreadRegistered()) ++seenRegistered;
      });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(seenRegistered, 3) << "round " << round;
  }
}

}  // namespace
}  // namespace Orvan
