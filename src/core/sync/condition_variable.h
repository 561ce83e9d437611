// TConditionVariable: a condition bound to a TMutex that its user owns and holds around waits.
#pragma once

#include <pthread.h>

#include <cstdint>

#include "core/sync/mutex.h"

namespace Orvan {

class TConditionVariable {
 public:
  // The name is accepted for the callers' sake and not used; the user value is kept and not read.
  explicit TConditionVariable(TMutex* mutex, const char* name = nullptr, std::uint32_t userValue = 0);
  ~TConditionVariable();
  TConditionVariable(const TConditionVariable&) = delete;
  TConditionVariable& operator=(const TConditionVariable&) = delete;

  void Signal();
  void Broadcast();
  // Called with the mutex held; releases it while waiting and holds it again on return.
  void Wait();
  // Returns true when the wait TIMED OUT and false when it was woken: the opposite sense of the
  // semaphore's and the event's timed waits. A false return may be a spurious wake-up, so callers
  // check their own condition.
  bool TimedWait(std::uint32_t milliseconds);

 private:
  pthread_cond_t condition_;
  TMutex* mutex_;
  [[maybe_unused]] std::uint32_t userValue_;  // kept for the owner; nothing here reads it
};

}  // namespace Orvan
