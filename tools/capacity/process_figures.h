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
// Idle time (idle and waiting for I/O) of the cores 0 to cores - 1 together, in seconds, from
// /proc/stat; negative when unreadable. The kernel measures idle time from the moments a core goes
// idle and wakes, while it counts busy time by sampling at its clock tick, which misses the short
// bursts of a lightly loaded server: busy time is the wall time not spent idle.
double ReadCoresIdleSeconds(int cores);
// The value at `fraction` (0.5, 0.99, 1) of the samples by the nearest-rank rule; 0 for none. Sorts them.
double Percentile(std::vector<double>& samples, double fraction);

}  // namespace OrvCapacity
