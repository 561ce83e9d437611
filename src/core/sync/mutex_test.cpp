#include "core/sync/mutex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "core/sync/event.h"
#include "support/lock_probe.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

using OrvTest::TryLockFromOtherThread;

TEST(MutexThreaded, TryLockFromAnotherThreadFailsWhileHeldOnceOrTwice) {
  TMutex mutex;
  EXPECT_TRUE(TryLockFromOtherThread(mutex));
  mutex.Lock();
  EXPECT_FALSE(TryLockFromOtherThread(mutex));
  mutex.Lock();  // recursive: the owner does not deadlock
  EXPECT_FALSE(TryLockFromOtherThread(mutex));
  mutex.Unlock();
  EXPECT_FALSE(TryLockFromOtherThread(mutex)) << "one unlock of two must leave it held";
  mutex.Unlock();
  EXPECT_TRUE(TryLockFromOtherThread(mutex));
}

TEST(MutexThreaded, LockersHoldTheMutexForTheirScope) {
  TMutex mutex;
  {
    TMutexLocker locker(mutex);
    EXPECT_FALSE(TryLockFromOtherThread(mutex));
  }
  EXPECT_TRUE(TryLockFromOtherThread(mutex));
  {
    TOptionalMutexLocker locker(&mutex);
    EXPECT_FALSE(TryLockFromOtherThread(mutex));
  }
  EXPECT_TRUE(TryLockFromOtherThread(mutex));
  {
    TOptionalMutexLocker nothing(nullptr);
    EXPECT_TRUE(TryLockFromOtherThread(mutex));
  }
}

TEST(MutexThreaded, SynchronizeWaitsUntilTheHolderLetsGo) {
  TMutex mutex;
  TEvent held(TEvent::kManualReset);
  TEvent release(TEvent::kManualReset);
  TEvent synchronized(TEvent::kManualReset);
  std::thread holder([&] {
    TMutexLocker locker(mutex);
    held.Set();
    release.Wait();
  });
  held.Wait();
  std::thread waiter([&] {
    mutex.Synchronize();
    synchronized.Set();
  });
  EXPECT_FALSE(synchronized.TimedWait(30));
  release.Set();
  EXPECT_TRUE(synchronized.TimedWait(10000));
  holder.join();
  waiter.join();
  EXPECT_TRUE(TryLockFromOtherThread(mutex)) << "Synchronize must not keep the mutex";
}

TEST(MutexThreaded, ExcludesOtherThreads) {
  constexpr int kThreads = 4;
  constexpr int kIncrements = 20000;
  TMutex mutex;
  std::uint64_t counter = 0;  // plain: only the mutex keeps the increments apart
  OrvTest::RunOnThreadsTogether(kThreads, [&](int) {
    for (int i = 0; i < kIncrements; ++i) {
      TMutexLocker locker(mutex);
      ++counter;
    }
  });
  EXPECT_EQ(counter, std::uint64_t{kThreads} * kIncrements);
}

TEST(MutexGuardedCount, ComparesUnderTheLock) {
  struct Case {
    std::uint32_t count;
    std::uint32_t value;
    bool below;
  };
  const std::vector<Case> cases = {
      {5, 4, true}, {5, 5, false}, {5, 6, false}, {5, 0, true}, {0, 0, false}, {0xFFFFFFFFu, 0xFFFFFFFEu, true},
  };
  for (const Case& c : cases) {
    TMutexGuardedCount object;
    object.count = c.count;
    EXPECT_EQ(GetCountLocked(object), c.count);
    EXPECT_EQ(IsBelowCountLocked(object, &c.value), c.below) << c.value << " against " << c.count;
  }
}

}  // namespace
}  // namespace Orvan
