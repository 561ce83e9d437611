#include "core/sync/condition_variable.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/sync/event.h"
#include "core/sync/semaphore.h"
#include "support/lock_probe.h"

namespace Orvan {
namespace {

using Clock = std::chrono::steady_clock;

using OrvTest::TryLockFromOtherThread;

TEST(ConditionVariableThreaded, TimedWaitWithNobodySignallingReportsTimeOutAndHoldsTheMutex) {
  TMutex mutex;
  TConditionVariable condition(&mutex, "test", 7);
  mutex.Lock();
  const auto started = Clock::now();
  EXPECT_TRUE(condition.TimedWait(10)) << "true means timed out";
  // The deadline is on the real-time clock; allow a little for the two clocks to differ.
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(9));
  EXPECT_FALSE(TryLockFromOtherThread(mutex)) << "the wait must give the mutex back to its caller";
  mutex.Unlock();
  EXPECT_TRUE(TryLockFromOtherThread(mutex));
}

TEST(ConditionVariableThreaded, SignalWakesATimedWaiterWhichReportsFalse) {
  TMutex mutex;
  TConditionVariable condition(&mutex);
  TEvent waiting(TEvent::kManualReset);
  std::atomic<bool> timedOut{true};
  std::thread waiter([&] {
    TMutexLocker locker(mutex);
    waiting.Set();
    timedOut = condition.TimedWait(60000);
  });
  waiting.Wait();
  {
    // Only free once the waiter sits inside its wait, having released the mutex.
    TMutexLocker locker(mutex);
    condition.Signal();
  }
  waiter.join();
  EXPECT_FALSE(timedOut);
}

TEST(ConditionVariableThreaded, BroadcastWakesEveryWaiter) {
  constexpr int kWaiters = 4;
  TMutex mutex;
  TConditionVariable condition(&mutex);
  TSemaphore waiting(0);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < kWaiters; ++i) {
    waiters.emplace_back([&] {
      TMutexLocker locker(mutex);
      waiting.Post();
      if (!condition.TimedWait(60000)) ++woken;
    });
  }
  for (int i = 0; i < kWaiters; ++i) waiting.Wait();
  {
    // Every waiter posted while holding the mutex and released it only by entering its wait.
    TMutexLocker locker(mutex);
    condition.Broadcast();
  }
  for (auto& waiter : waiters) waiter.join();
  EXPECT_EQ(woken, kWaiters);
}

TEST(ConditionVariableThreaded, WaitReleasesTheMutexUntilWoken) {
  TMutex mutex;
  TConditionVariable condition(&mutex);
  bool ready = false;  // guarded by mutex
  std::thread waiter([&] {
    TMutexLocker locker(mutex);
    while (!ready) condition.Wait();
  });
  {
    TMutexLocker locker(mutex);
    ready = true;
    condition.Signal();
  }
  waiter.join();
  EXPECT_TRUE(TryLockFromOtherThread(mutex));
}

}  // namespace
}  // namespace Orvan
