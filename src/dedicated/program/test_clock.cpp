// The stepped test clock and its SIGUSR1 handler.
#include "dedicated/program/test_clock.h"

#include <signal.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "core/time/time_stamp.h"

#if ORV_TEST_SEAMS

namespace Orvan::Dedicated {

namespace {

std::uint64_t gStepMilliseconds = 0;
// Written by the signal handler: lock-free atomics are safe there.
std::atomic<std::uint32_t> gStepsAsked{0};
std::atomic<TTimeStamp> gOffset{0};
static_assert(std::atomic<std::uint32_t>::is_always_lock_free && std::atomic<TTimeStamp>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

TTimeStamp ReadSteppedClock() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<TTimeStamp>(now.tv_sec) * 1000000000u + static_cast<TTimeStamp>(now.tv_nsec) +
         gOffset.load(std::memory_order_relaxed);
}

void OnStepSignal(int /*signalNumber*/) { gStepsAsked.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

std::uint64_t InstallTestClockFromEnvironment() {
  const char* text = std::getenv(kTestClockStepVariable);
  if (text == nullptr || *text < '0' || *text > '9') return 0;
  char* end = nullptr;
  errno = 0;
  const unsigned long long step = std::strtoull(text, &end, 10);
  // A clock moved by more than a year at once would only be a typing error.
  constexpr unsigned long long kLongestStep = 366ull * 24 * 3600 * 1000;
  if (errno != 0 || *end != '\0' || step == 0 || step > kLongestStep) return 0;
  gStepMilliseconds = step;
  SetMonotonicClockForTests(&ReadSteppedClock);
  struct sigaction action = {};
  action.sa_handler = &OnStepSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGUSR1, &action, nullptr);
  return gStepMilliseconds;
}

std::uint64_t ApplyTestClockSteps() {
  const std::uint32_t steps = gStepsAsked.exchange(0, std::memory_order_relaxed);
  if (steps == 0 || gStepMilliseconds == 0) return 0;
  const std::uint64_t moved = steps * gStepMilliseconds;
  gOffset.fetch_add(moved * 1000000u, std::memory_order_relaxed);
  return moved;
}

}  // namespace Orvan::Dedicated

#endif  // ORV_TEST_SEAMS
