// A test seam of the server binary over its monotonic clock: integration tests pass the long
// time-outs (a transfer's two minutes, a statistics batch's hour) without waiting for them. It is
// off unless the test variable below is set, and then changes nothing until a SIGUSR1 arrives. Built
// only with ORV_TEST_SEAMS (the builds the tests run): a Release server has no such seam.
#pragma once

#include <cstdint>

namespace Orvan::Dedicated {

// Test seam only: with this variable holding a whole number of milliseconds above 0, every SIGUSR1
// moves the server's monotonic clock that far ahead. Absent, empty or not such a number: no seam,
// and SIGUSR1 keeps its default action.
inline constexpr const char* kTestClockStepVariable = "ORV_TEST_CLOCK_STEP_MS";

// Reads the variable; when it gives a step, puts the stepped clock in place of the real one and
// counts SIGUSR1s from then on. The step in milliseconds, 0 when the seam stays off.
std::uint64_t InstallTestClockFromEnvironment();
// Moves the clock ahead by the steps asked for since the last call (the signal handler only counts
// them, so the clock moves between two passes of the main loop) and returns the milliseconds it
// moved: 0 when no step was asked for or the seam is off.
std::uint64_t ApplyTestClockSteps();

}  // namespace Orvan::Dedicated
