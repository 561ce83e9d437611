// What the generator reads of a process from /proc: the CPU it has used and its peak resident
// memory; and the percentiles of a set of samples.
#pragma once

#include <sys/types.h>

#include <vector>

namespace OrvCapacity {

// User plus system time of the process in seconds; a negative value when it cannot be read.
double ReadCpuSeconds(pid_t pid);
// VmHWM in kilobytes; -1 when it cannot be read.
long ReadPeakResidentKilobytes(pid_t pid);
// Busy and total time of the cores 0 to cores - 1 from /proc/stat, in clock ticks (busy: user, nice,
// system, interrupts and steal; total: those and idle and waiting for I/O); {0, 0} when unreadable.
struct TCoreTimes {
  unsigned long long busy = 0;
  unsigned long long total = 0;
};
TCoreTimes ReadCoreTimes(int cores);
// The value at `fraction` (0.5, 0.99, 1) of the samples by the nearest-rank rule; 0 for none. Sorts them.
double Percentile(std::vector<double>& samples, double fraction);

}  // namespace OrvCapacity
