// The engine's static initialisers run before those of every other unit.
#include <gtest/gtest.h>
#include <pcre.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/memory/global_allocation.h"
#include "core/startup/project_table.h"
#include "core/sync/global_shutdown_lock.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_id.h"

namespace Orvan {
namespace {

// What an initialiser of an ordinary unit finds (this one has the default priority, as test
// registration and every other static object do).
struct TSeenAtStaticInitialisation {
  TSeenAtStaticInitialisation() {
    mainThreadId = EngineMainThreadRecord.threadId;
    currentThreadId = GetCurrentThreadId();
    // A mutex not built yet would be a plain zeroed one: not recursive, so a second lock fails.
    TMutex& mutex = GlobalShutdownMutexes.mutexes[kGlobalShutdownMutexCount - 1];
    if (mutex.TryLock()) {
      shutdownMutexIsRecursive = mutex.TryLock();
      if (shutdownMutexIsRecursive) mutex.Unlock();
      mutex.Unlock();
    }
    projectName = GetProjectName();
    domainName = Domain::AllDomain.name;
    // PCRE's own hooks are the C library's.
    regexHooksInstalled = pcre_malloc != &std::malloc && pcre_free != &std::free;
  }
  std::uint32_t mainThreadId = 0;
  std::uint32_t currentThreadId = 0;
  bool shutdownMutexIsRecursive = false;
  std::string projectName;
  std::string domainName;
  bool regexHooksInstalled = false;
};

const TSeenAtStaticInitialisation seenAtStaticInitialisation;

TEST(StaticInitialisers, AreInPlaceBeforeTheInitialisersOfOtherUnits) {
  EXPECT_NE(seenAtStaticInitialisation.mainThreadId, 0u);
  EXPECT_EQ(seenAtStaticInitialisation.mainThreadId, seenAtStaticInitialisation.currentThreadId);
  EXPECT_TRUE(seenAtStaticInitialisation.shutdownMutexIsRecursive);
  EXPECT_EQ(seenAtStaticInitialisation.projectName, "UNKNOWN");
  EXPECT_EQ(seenAtStaticInitialisation.domainName, "AllDomain");
  EXPECT_TRUE(seenAtStaticInitialisation.regexHooksInstalled);
  // gtest runs the tests on the thread that ran the initialisers.
  EXPECT_TRUE(IsEngineMainThread());
}

}  // namespace
}  // namespace Orvan
