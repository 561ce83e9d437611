// The eleven global-shutdown mutexes are static objects: built before main runs and destroyed at
// process exit in reverse index order.
#include "core/sync/global_shutdown_lock.h"

#include <cstdint>

#include "core/sync/mutex.h"
#include "core/threads/thread_id.h"

namespace Orvan {

namespace {

// Checkpoints are spread over this many mutexes so that threads of different indices do not
// wait for one another.
constexpr std::uint32_t kGlobalShutdownMutexCount = 11;
constexpr const char* kGlobalShutdownLockName = "CriticalSectionForGlobalShutdown";

TMutex globalShutdownMutexes[kGlobalShutdownMutexCount];

}  // namespace

void PassGlobalShutdownCheckpoint() {
  TMutex& mutex = globalShutdownMutexes[GetCurrentThreadId() % kGlobalShutdownMutexCount];
  mutex.Lock(kGlobalShutdownLockName);
  mutex.Unlock();
}

void EnterGlobalShutdown() {
  for (TMutex& mutex : globalShutdownMutexes) mutex.Lock(kGlobalShutdownLockName);
}

}  // namespace Orvan
