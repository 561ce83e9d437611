// Passing and entering the global shutdown over the eleven static mutexes.
#include "core/sync/global_shutdown_lock.h"

#include "core/threads/thread_id.h"

namespace Orvan {

namespace {

constexpr const char* kGlobalShutdownLockName = "CriticalSectionForGlobalShutdown";

}  // namespace

void PassGlobalShutdownCheckpoint() {
  TMutex& mutex = GlobalShutdownMutexes.mutexes[GetCurrentThreadId() % kGlobalShutdownMutexCount];
  mutex.Lock(kGlobalShutdownLockName);
  mutex.Unlock();
}

void EnterGlobalShutdown() {
  for (TMutex& mutex : GlobalShutdownMutexes.mutexes) mutex.Lock(kGlobalShutdownLockName);
}

}  // namespace Orvan
