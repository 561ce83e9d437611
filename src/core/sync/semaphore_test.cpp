#include "core/sync/semaphore.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "core/sync/event.h"

namespace Orvan {
namespace {

using Clock = std::chrono::steady_clock;

TEST(Semaphore, TimedWaitZeroIsANonBlockingAttempt) {
  struct Case {
    std::uint32_t initial;
    bool taken;
    bool zeroAfter;
  };
  const std::vector<Case> cases = {{0, false, true}, {1, true, true}, {2, true, false}};
  for (const Case& c : cases) {
    TSemaphore semaphore(c.initial);
    const auto started = Clock::now();
    EXPECT_EQ(semaphore.TimedWait(0), c.taken) << "initial " << c.initial;
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1)) << "initial " << c.initial;
    EXPECT_EQ(semaphore.IsZero(), c.zeroAfter) << "initial " << c.initial;
  }
}

TEST(Semaphore, TimedWaitOnZeroGivesUpAfterTheTimeOut) {
  TSemaphore semaphore(0);
  const auto started = Clock::now();
  EXPECT_FALSE(semaphore.TimedWait(20));
  // The deadline is on the real-time clock; allow a little for the two clocks to differ.
  EXPECT_GE(Clock::now() - started, std::chrono::milliseconds(19));
  EXPECT_TRUE(semaphore.IsZero());
}

TEST(Semaphore, WaitAndPostLeavesTheCount) {
  TSemaphore semaphore(1);
  semaphore.WaitAndPost();
  EXPECT_FALSE(semaphore.IsZero());
  EXPECT_TRUE(semaphore.TimedWait(0));
  EXPECT_FALSE(semaphore.TimedWait(0));
}

TEST(SemaphoreThreaded, PostFromAnotherThreadReleasesWaiters) {
  TSemaphore semaphore(0);
  TEvent waitEnded(TEvent::kAutoReset);
  std::atomic<bool> timedResult{false};
  std::thread waiter([&] {
    semaphore.Wait();
    waitEnded.Set();
    timedResult = semaphore.TimedWait(10000);
    waitEnded.Set();
  });
  EXPECT_FALSE(waitEnded.TimedWait(20)) << "Wait passed a semaphore of value 0";
  semaphore.Post();
  EXPECT_TRUE(waitEnded.TimedWait(10000));
  semaphore.Post();
  EXPECT_TRUE(waitEnded.TimedWait(10000));
  waiter.join();
  EXPECT_TRUE(timedResult);
  EXPECT_TRUE(semaphore.IsZero());
}

void IgnoreSignal(int) {}

// A signal handler must not cut a wait short: the waiter would go on without the count.
class SemaphoreThreadedInterrupt : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    struct sigaction action = {};
    action.sa_handler = IgnoreSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: blocked calls fail with EINTR
    sigaction(SIGUSR1, &action, &previous_);
  }
  void TearDown() override { sigaction(SIGUSR1, &previous_, nullptr); }

 private:
  struct sigaction previous_ = {};
};

TEST_P(SemaphoreThreadedInterrupt, WaitSurvivesSignals) {
  const bool timed = GetParam();
  TSemaphore semaphore(0);
  TEvent started(TEvent::kManualReset);
  TEvent waitEnded(TEvent::kManualReset);
  std::atomic<bool> result{false};
  std::thread waiter([&] {
    started.Set();
    if (timed) {
      result = semaphore.TimedWait(60000);
    } else {
      semaphore.Wait();
      result = true;
    }
    waitEnded.Set();
  });
  started.Wait();
  // The waiter may not yet be blocked when a signal comes; several signals make sure one lands
  // inside the wait.
  for (int i = 0; i < 10; ++i) {
    pthread_kill(waiter.native_handle(), SIGUSR1);
    EXPECT_FALSE(waitEnded.TimedWait(5)) << "the wait ended on a signal";
  }
  semaphore.Post();
  EXPECT_TRUE(waitEnded.TimedWait(10000));
  waiter.join();
  EXPECT_TRUE(result);
  EXPECT_TRUE(semaphore.IsZero());
}

INSTANTIATE_TEST_SUITE_P(WaitAndTimedWait, SemaphoreThreadedInterrupt, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "TimedWait" : "Wait"; });

}  // namespace
}  // namespace Orvan
