#include "core/time/duration_string.h"

#include <gtest/gtest.h>

namespace Orvan {
namespace {

TEST(DurationStringTest, GivesTheDurationTextOfEachRange) {
  EXPECT_EQ(DurationToString(61.6), "1mn2s");
  EXPECT_EQ(DurationToString(12.4), "12s");
  EXPECT_EQ(DurationToString(0.5), "500ms");
  EXPECT_EQ(DurationToString(-0.000005), "-5us");
  // The longest text: both fields of the minutes form at their widest.
  EXPECT_EQ(DurationToString(2147483647.0), "35791394mn7s");
}

}  // namespace
}  // namespace Orvan
