// TMutex, the engine's one lock type (recursive, priority-inheriting), and its scoped guards.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace Orvan {

class TMutex {
 public:
  TMutex() { Init(); }
  ~TMutex() { Destroy(); }
  TMutex(const TMutex&) = delete;
  TMutex& operator=(const TMutex&) = delete;

  // The spin count and the lock name are accepted for the callers' sake and not used.
  void Init(std::uint32_t spinCount = 0);
  void Destroy();
  void Lock(const char* name = nullptr);
  void Unlock();
  bool TryLock();
  // Waits until no other thread holds the mutex.
  void Synchronize();

  pthread_mutex_t* NativeHandle() { return &mutex_; }

 private:
  pthread_mutex_t mutex_;
};

class TMutexLocker {
 public:
  explicit TMutexLocker(TMutex* mutex) : mutex_(mutex) { mutex_->Lock(); }
  explicit TMutexLocker(TMutex& mutex) : TMutexLocker(&mutex) {}
  ~TMutexLocker() { mutex_->Unlock(); }
  TMutexLocker(const TMutexLocker&) = delete;
  TMutexLocker& operator=(const TMutexLocker&) = delete;

 private:
  TMutex* mutex_;
};

// Locks only when given a mutex.
class TOptionalMutexLocker {
 public:
  explicit TOptionalMutexLocker(TMutex* mutex) : mutex_(mutex) {
    if (mutex_ != nullptr) mutex_->Lock();
  }
  ~TOptionalMutexLocker() {
    if (mutex_ != nullptr) mutex_->Unlock();
  }
  TOptionalMutexLocker(const TOptionalMutexLocker&) = delete;
  TOptionalMutexLocker& operator=(const TOptionalMutexLocker&) = delete;

 private:
  TMutex* mutex_;
};

// A count kept beside the mutex that guards it; the accessors read it under that mutex.
struct TMutexGuardedCount {
  TMutex mutex;
  std::uint32_t count = 0;
};

std::uint32_t GetCountLocked(TMutexGuardedCount& object);
// Whether *value is below the object's count.
bool IsBelowCountLocked(TMutexGuardedCount& object, const std::uint32_t* value);

// Initialises a recursive, priority-inheriting POSIX mutex (TMutex and the event's mutex).
void InitRecursivePriorityInheritMutex(pthread_mutex_t* mutex);

}  // namespace Orvan
