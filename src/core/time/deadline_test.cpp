#include "core/time/deadline.h"

#include <gtest/gtest.h>

#include <vector>

namespace Orvan {
namespace {

TEST(Deadline, AddsMillisecondsAndCarriesWholeSeconds) {
  struct Case {
    timespec now;
    std::uint32_t milliseconds;
    timespec expected;
  };
  const std::vector<Case> cases = {
      {{100, 600000000}, 1500, {102, 100000000}},  // two carries: one from ms / 1000, one from the nanoseconds
      {{100, 0}, 0, {100, 0}},
      {{100, 999999999}, 0, {100, 999999999}},
      {{100, 999999999}, 1, {101, 999999}},
      {{100, 500000000}, 500, {101, 0}},  // exactly one second of nanoseconds carries
      {{100, 499999999}, 500, {100, 999999999}},
      {{100, 0}, 999, {100, 999000000}},
      {{100, 0}, 1000, {101, 0}},
      {{100, 250000000}, 4294967295u, {4295067, 545000000}},  // the largest time-out
  };
  for (const Case& c : cases) {
    const timespec deadline = ComputeDeadline(c.now, c.milliseconds);
    EXPECT_EQ(deadline.tv_sec, c.expected.tv_sec) << c.now.tv_sec << "." << c.now.tv_nsec << " + " << c.milliseconds;
    EXPECT_EQ(deadline.tv_nsec, c.expected.tv_nsec) << c.now.tv_sec << "." << c.now.tv_nsec << " + " << c.milliseconds;
  }
}

}  // namespace
}  // namespace Orvan
