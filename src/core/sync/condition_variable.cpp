// TConditionVariable over a default-attribute pthread condition (real-time clock).
#include "core/sync/condition_variable.h"

#include <errno.h>
#include <time.h>

#include "core/time/deadline.h"

namespace Orvan {

TConditionVariable::TConditionVariable(TMutex* mutex, const char*, std::uint32_t userValue)
    : mutex_(mutex), userValue_(userValue) {
  pthread_cond_init(&condition_, nullptr);
}

TConditionVariable::~TConditionVariable() { pthread_cond_destroy(&condition_); }

void TConditionVariable::Signal() { pthread_cond_signal(&condition_); }
void TConditionVariable::Broadcast() { pthread_cond_broadcast(&condition_); }
void TConditionVariable::Wait() { pthread_cond_wait(&condition_, mutex_->NativeHandle()); }

bool TConditionVariable::TimedWait(std::uint32_t milliseconds) {
  const timespec deadline = DeadlineFromNow(CLOCK_REALTIME, milliseconds);
  return pthread_cond_timedwait(&condition_, mutex_->NativeHandle(), &deadline) == ETIMEDOUT;
}

}  // namespace Orvan
