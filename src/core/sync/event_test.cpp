#include "core/sync/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/sync/semaphore.h"

namespace Orvan {
namespace {

using Clock = std::chrono::steady_clock;

TEST(Event, PollsSeeTheFlagByMode) {
  struct Case {
    std::string name;
    std::uint32_t mode;
    bool initiallySignalled;
    int sets;
    bool resetAfterSets;
    std::vector<bool> polls;
  };
  const std::vector<Case> cases = {
      {"auto, never set", TEvent::kAutoReset, false, 0, false, {false}},
      {"auto, set twice lets one wait through", TEvent::kAutoReset, false, 2, false, {true, false, false}},
      {"auto, initially signalled", TEvent::kAutoReset, true, 0, false, {true, false}},
      {"manual, set lets every wait through", TEvent::kManualReset, false, 1, false, {true, true, true}},
      {"manual, initially signalled", TEvent::kManualReset, true, 0, false, {true, true}},
      {"manual, set then reset", TEvent::kManualReset, false, 1, true, {false, false}},
      {"auto, set then reset", TEvent::kAutoReset, false, 1, true, {false}},
  };
  for (const Case& c : cases) {
    TEvent event(c.mode, c.initiallySignalled);
    for (int i = 0; i < c.sets; ++i) event.Set();
    if (c.resetAfterSets) event.Reset();
    for (std::size_t i = 0; i < c.polls.size(); ++i) {
      EXPECT_EQ(event.Poll(), c.polls[i]) << c.name << ", poll " << i;
    }
  }
}

TEST(Event, TimedOutWaitReturnsFalseAndLeavesTheFlag) {
  for (const std::uint32_t mode : {TEvent::kManualReset, TEvent::kAutoReset}) {
    TEvent event(mode);
    const auto started = Clock::now();
    EXPECT_FALSE(event.TimedWait(20)) << "mode " << mode;
    EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(20)) << "mode " << mode;
    EXPECT_FALSE(event.TimedWait(0)) << "a time-out set the flag, mode " << mode;
    event.Set();
    EXPECT_TRUE(event.TimedWait(0)) << "mode " << mode;
  }
}

TEST(EventThreaded, SetWakesABlockedWaiter) {
  TEvent event(TEvent::kAutoReset);
  TEvent passed(TEvent::kAutoReset);
  std::thread waiter([&] {
    event.Wait();
    passed.Set();
  });
  EXPECT_FALSE(passed.TimedWait(20));
  event.Set();
  EXPECT_TRUE(passed.TimedWait(10000));
  waiter.join();
  EXPECT_FALSE(event.Poll()) << "the waiter must have taken the auto-reset signal";
}

TEST(EventThreaded, AutoResetLetsOneWaiterThroughPerSet) {
  constexpr int kWaiters = 3;
  TEvent event(TEvent::kAutoReset);
  TSemaphore passed(0);
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      event.Wait();
      passed.Post();
    });
  }
  for (int i = 0; i < kWaiters; ++i) {
    event.Set();
    EXPECT_TRUE(passed.TimedWait(10000)) << "set " << i;
    EXPECT_FALSE(passed.TimedWait(20)) << "a second waiter passed on set " << i;
  }
  for (auto& waiter : waiters) waiter.join();
}

TEST(EventThreaded, ManualResetLetsEveryWaiterThrough) {
  constexpr int kWaiters = 4;
  TEvent event(TEvent::kManualReset);
  std::barrier start(kWaiters + 1);
  std::atomic<int> successes{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&, i] {
      start.arrive_and_wait();
      const bool seen = (i % 2 == 0) ? event.TimedWait(10000) : (event.Wait(), true);
      if (seen) ++successes;
    });
  }
  start.arrive_and_wait();
  event.Set();
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(successes, kWaiters);
  EXPECT_TRUE(event.Poll()) << "a manual-reset event stays set";
}

// Timed waits must succeed only on a signal they took: with many consumers racing for an
// auto-reset event, the successes can never outnumber the sets.
TEST(EventThreaded, TimedWaitSucceedsOnlyOnATakenSignal) {
  constexpr int kConsumers = 4;
  constexpr int kSets = 3000;
  TEvent event(TEvent::kAutoReset);
  std::barrier start(kConsumers + 1);
  std::atomic<bool> stop{false};
  std::atomic<int> successes{0};
  std::vector<std::thread> consumers;
  for (int i = 0; i < kConsumers; ++i) {
    consumers.emplace_back([&, i] {
      start.arrive_and_wait();
      while (!stop.load()) {
        if (event.TimedWait(i % 2 == 0 ? 1 : 0)) ++successes;
      }
    });
  }
  start.arrive_and_wait();
  for (int i = 0; i < kSets; ++i) {
    event.Set();
    if (i % 8 == 0) std::this_thread::yield();
  }
  stop = true;
  for (auto& consumer : consumers) consumer.join();
  const int leftOver = event.Poll() ? 1 : 0;
  EXPECT_LE(successes + leftOver, kSets);
  EXPECT_GT(successes + leftOver, 0);
}

}  // namespace
}  // namespace Orvan
