// Absolute deadlines for the timed waits, which take their time-outs in milliseconds.
#pragma once

#include <time.h>

#include <cstdint>

namespace Orvan {

// now + milliseconds, with the nanoseconds kept below one second.
timespec ComputeDeadline(timespec now, std::uint32_t milliseconds);

// The deadline measured on the given clock, milliseconds from now.
timespec DeadlineFromNow(clockid_t clock, std::uint32_t milliseconds);

}  // namespace Orvan
