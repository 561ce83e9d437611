// Deadline arithmetic shared by the semaphore's and the event's timed waits.
#include "core/time/deadline.h"

namespace Orvan {

namespace {
constexpr long kNanosecondsPerSecond = 1000000000L;
constexpr long kNanosecondsPerMillisecond = 1000000L;
}  // namespace

timespec ComputeDeadline(timespec now, std::uint32_t milliseconds) {
  timespec deadline = now;
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec = static_cast<long>(milliseconds % 1000) * kNanosecondsPerMillisecond + now.tv_nsec;
  if (deadline.tv_nsec >= kNanosecondsPerSecond) {
    deadline.tv_nsec -= kNanosecondsPerSecond;
    deadline.tv_sec += 1;
  }
  return deadline;
}

timespec DeadlineFromNow(clockid_t clock, std::uint32_t milliseconds) {
  timespec now;
  clock_gettime(clock, &now);
  return ComputeDeadline(now, milliseconds);
}

}  // namespace Orvan
