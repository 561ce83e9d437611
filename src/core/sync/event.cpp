// TEvent: the flag lives under the event's own recursive, priority-inheriting mutex; the
// condition runs on CLOCK_MONOTONIC so that clock changes do not stretch or cut timed waits.
#include "core/sync/event.h"

#include <time.h>

#include "core/sync/mutex.h"
#include "core/time/deadline.h"

namespace Orvan {

TEvent::TEvent(std::uint32_t mode, bool initiallySignalled)
    : mode_(mode), signalled_(initiallySignalled ? 1 : 0) {
  InitRecursivePriorityInheritMutex(&mutex_);
  pthread_condattr_t attributes;
  pthread_condattr_init(&attributes);
  pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
  pthread_cond_init(&condition_, &attributes);
  pthread_condattr_destroy(&attributes);
}

TEvent::~TEvent() {
  pthread_cond_destroy(&condition_);
  pthread_mutex_destroy(&mutex_);
}

void TEvent::Set() {
  pthread_mutex_lock(&mutex_);
  signalled_ = 1;
  if (mode_ != kManualReset) {
    pthread_cond_signal(&condition_);
  } else {
    pthread_cond_broadcast(&condition_);
  }
  pthread_mutex_unlock(&mutex_);
}

void TEvent::Reset() {
  pthread_mutex_lock(&mutex_);
  signalled_ = 0;
  pthread_mutex_unlock(&mutex_);
}

bool TEvent::ConsumeSignalLocked() {
  if (signalled_ == 0) return false;
  if (mode_ == kAutoReset) signalled_ = 0;
  return true;
}

void TEvent::Wait() {
  pthread_mutex_lock(&mutex_);
  while (signalled_ == 0) pthread_cond_wait(&condition_, &mutex_);
  ConsumeSignalLocked();
  pthread_mutex_unlock(&mutex_);
}

bool TEvent::TimedWait(std::uint32_t milliseconds) {
  const timespec deadline = DeadlineFromNow(CLOCK_MONOTONIC, milliseconds);
  pthread_mutex_lock(&mutex_);
  // A wake-up alone proves nothing: it may be spurious, or another waiter may have taken an
  // auto-reset signal first. Wait on until the flag is seen or the deadline has passed (ETIMEDOUT;
  // any other failure ends the wait as well rather than spinning on it).
  while (signalled_ == 0) {
    if (pthread_cond_timedwait(&condition_, &mutex_, &deadline) != 0) break;
  }
  const bool signalled = ConsumeSignalLocked();
  pthread_mutex_unlock(&mutex_);
  return signalled;
}

bool TEvent::Poll() { return TimedWait(1); }

}  // namespace Orvan
