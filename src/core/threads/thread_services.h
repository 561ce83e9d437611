// Small services around the engine's threads: priority levels, the processor count, sleeping, the
// last system error, a millisecond clock, the debugger check and the x87 precision setting.
#pragma once

#include <cstdint>

namespace Orvan {

// Priority levels run from 0 (highest) to 7 (lowest), mapped linearly onto the SCHED_FIFO range.
inline constexpr std::uint32_t kHighestPriorityLevel = 0;
inline constexpr std::uint32_t kLowestPriorityLevel = 7;

// ((7 - level) * (maximum - minimum)) / 7 + minimum in unsigned 32-bit arithmetic. Levels above 7
// are not refused; they wrap to values outside the range.
std::uint32_t ComputePriorityForLevel(std::uint32_t level, std::uint32_t minimum, std::uint32_t maximum);
// The SCHED_FIFO priority of a level; the platform's limits are read once per process.
int GetPriorityForLevel(std::uint32_t level);

// Processors in the calling thread's affinity mask (a 1024-processor set); 1 when the mask cannot
// be read.
std::uint32_t GetProcessorCount();

// Clears the precision-control bits (8 and 9) of the x87 control word: long double arithmetic of
// the calling thread then rounds to single precision. The other bits stay as they were.
void SetFloatingPointSinglePrecision();

void SleepMilliseconds(std::uint32_t milliseconds);
// The calling thread's errno.
std::int32_t GetLastSystemError();
// The monotonic clock in milliseconds, truncated to 32 bits.
std::uint32_t GetTimeMilliseconds();

// Whether the parent process is a debugger: the file name of its executable contains "gdb".
bool IsDebuggerAttached();
// The same test on the symbolic link at `linkPath` (IsDebuggerAttached reads /proc/PPID/exe).
bool IsDebuggerLink(const char* linkPath);

}  // namespace Orvan
