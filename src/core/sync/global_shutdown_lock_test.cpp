#include "core/sync/global_shutdown_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>

#include "core/sync/event.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

TEST(GlobalShutdownLockThreaded, CheckpointsPassBeforeShutdown) {
  // More threads than mutexes, so that some share an index.
  constexpr int kThreads = 23;
  OrvTest::RunOnThreadsTogether(kThreads, [&](int) {
    for (int i = 0; i < 100; ++i) PassGlobalShutdownCheckpoint();
  });
  PassGlobalShutdownCheckpoint();
  SUCCEED();
}

// Runs in the death-test child: shutdown holds the mutexes for good.
[[noreturn]] void EnterShutdownAndCheckCheckpoints() {
  EnterGlobalShutdown();
  // The entering thread passes every checkpoint, the mutexes being recursive.
  PassGlobalShutdownCheckpoint();
  PassGlobalShutdownCheckpoint();
  TEvent passed(TEvent::kManualReset);
  std::thread other([&passed] {
    PassGlobalShutdownCheckpoint();
    passed.Set();
  });
  other.detach();
  // Any other thread stops at its checkpoint; _exit ends it with the process.
  _exit(passed.TimedWait(50) ? 1 : 0);
}

TEST(GlobalShutdownLockThreadedDeathTest, EnteringThreadPassesOthersStop) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(EnterShutdownAndCheckCheckpoints(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace Orvan
