// Thread services over POSIX calls.
#include "core/threads/thread_services.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/time/time_stamp.h"

namespace Orvan {

namespace {

// Bytes read from a process's executable link, terminator included.
constexpr std::size_t kExecutableLinkBufferSize = 255;
// Holds "/proc/<pid>/exe" for any pid.
constexpr std::size_t kExecutableLinkPathSize = 64;

// The x87 precision-control field: 00 single, 10 double, 11 extended.
constexpr std::uint16_t kX87PrecisionControlBits = 0x0300;

}  // namespace

std::uint32_t ComputePriorityForLevel(std::uint32_t level, std::uint32_t minimum, std::uint32_t maximum) {
  return ((kLowestPriorityLevel - level) * (maximum - minimum)) / kLowestPriorityLevel + minimum;
}

int GetPriorityForLevel(std::uint32_t level) {
  static const int minimum = sched_get_priority_min(SCHED_FIFO);
  static const int maximum = sched_get_priority_max(SCHED_FIFO);
  return static_cast<int>(
      ComputePriorityForLevel(level, static_cast<std::uint32_t>(minimum), static_cast<std::uint32_t>(maximum)));
}

std::uint32_t GetProcessorCount() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof(set), &set) != 0) return 1;
  return static_cast<std::uint32_t>(CPU_COUNT(&set));
}

void SetFloatingPointSinglePrecision() {
#if defined(__i386__) || defined(__x86_64__)
  std::uint16_t controlWord;
  __asm__ volatile("fnstcw %0" : "=m"(controlWord));
  controlWord = static_cast<std::uint16_t>(controlWord & ~kX87PrecisionControlBits);
  __asm__ volatile("fldcw %0" : : "m"(controlWord));
#endif
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  // nanosleep rather than usleep: milliseconds * 1000 would not fit usleep's 32-bit argument.
  timespec pause{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
  }
}

std::int32_t GetLastSystemError() { return errno; }

std::uint32_t GetTimeMilliseconds() {
  TTimeStamp now;
  GetTimeStamp(now);
  return static_cast<std::uint32_t>(now / 1000000u);
}

bool IsDebuggerLink(const char* linkPath) {
  char target[kExecutableLinkBufferSize];
  // One byte stays free for the terminator.
  const ssize_t length = readlink(linkPath, target, sizeof(target) - 1);
  if (length < 1) return false;
  target[length] = '\0';
  const char* name = std::strrchr(target, '/');
  if (name == nullptr) return false;
  return std::strstr(name + 1, "gdb") != nullptr;
}

bool IsDebuggerAttached() {
  char path[kExecutableLinkPathSize];
  std::snprintf(path, sizeof(path), "/proc/%d/exe", static_cast<int>(getppid()));
  return IsDebuggerLink(path);
}

}  // namespace Orvan
