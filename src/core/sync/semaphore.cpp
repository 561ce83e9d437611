// TSemaphore over sem_t. Platform results are ignored except where a wait must be retried or a
// timed wait reports its outcome.
#include "core/sync/semaphore.h"

#include <errno.h>
#include <time.h>

#include "core/time/deadline.h"

namespace Orvan {

TSemaphore::TSemaphore(std::uint32_t initialValue) { sem_init(&semaphore_, 0, initialValue); }

TSemaphore::~TSemaphore() { sem_destroy(&semaphore_); }

void TSemaphore::Wait() {
  // A signal handler interrupts sem_wait even with SA_RESTART; returning then would let the caller
  // through without the count it waited for.
  while (sem_wait(&semaphore_) != 0 && errno == EINTR) {
  }
}

void TSemaphore::Post() { sem_post(&semaphore_); }

bool TSemaphore::TimedWait(std::uint32_t milliseconds) {
  // sem_timedwait measures its deadline on the real-time clock. A past deadline still takes an
  // available count, which makes a time-out of 0 a non-blocking attempt.
  const timespec deadline = DeadlineFromNow(CLOCK_REALTIME, milliseconds);
  for (;;) {
    if (sem_timedwait(&semaphore_, &deadline) == 0) return true;
    if (errno != EINTR) return false;
  }
}

void TSemaphore::WaitAndPost() {
  Wait();
  Post();
}

bool TSemaphore::IsZero() {
  int value = 0;
  sem_getvalue(&semaphore_, &value);
  return value < 1;
}

}  // namespace Orvan
