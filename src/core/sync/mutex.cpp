// TMutex over a recursive POSIX mutex with priority inheritance. Platform results are ignored:
// the engine's locks report no errors.
#include "core/sync/mutex.h"

namespace Orvan {

void InitRecursivePriorityInheritMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutexattr_setprotocol(&attributes, PTHREAD_PRIO_INHERIT);
  pthread_mutex_init(mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void TMutex::Init(std::uint32_t) { InitRecursivePriorityInheritMutex(&mutex_); }
void TMutex::Destroy() { pthread_mutex_destroy(&mutex_); }
void TMutex::Lock(const char*) { pthread_mutex_lock(&mutex_); }
void TMutex::Unlock() { pthread_mutex_unlock(&mutex_); }
bool TMutex::TryLock() { return pthread_mutex_trylock(&mutex_) == 0; }

void TMutex::Synchronize() {
  Lock();
  Unlock();
}

std::uint32_t GetCountLocked(TMutexGuardedCount& object) {
  TMutexLocker locker(object.mutex);
  return object.count;
}

bool IsBelowCountLocked(TMutexGuardedCount& object, const std::uint32_t* value) {
  TMutexLocker locker(object.mutex);
  return *value < object.count;
}

}  // namespace Orvan
