#include "network/logging/repeat_window.h"

#include <gtest/gtest.h>

#include <vector>

namespace Orvan::Network {
namespace {

constexpr TTimeStamp kMs = 1000000;
constexpr TTimeStamp kStart = 5000 * kMs;

// At `ms` after the start, `times` occurrences: `passed` of them pass, and the first of them closes
// a window that counted `ended`. With `times` 0, TakeEnded at that time answers `ended`.
struct TWindowStep {
  TTimeStamp ms;
  int times;
  int passed;
  std::uint32_t ended;
};

struct TWindowCase {
  const char* name;
  std::uint32_t passing;
  std::vector<TWindowStep> steps;
};

TEST(RepeatWindow, PassesTheFirstOfEachSecondAndCountsTheRest) {
  const std::vector<TWindowCase> cases = {
      {"100 pass, the 101st on are counted", 100, {{0, 100, 100, 0}, {10, 5, 0, 0}, {999, 1, 0, 0}}},
      {"the count comes with the first occurrence after the second", 100,
       {{0, 103, 100, 0}, {1000, 1, 1, 3}, {1500, 99, 99, 0}, {2000, 1, 1, 0}}},
      {"a window runs a second from its first occurrence, not from the last", 1,
       {{0, 1, 1, 0}, {900, 2, 0, 0}, {1000, 2, 1, 2}}},
      {"an ended window is closed by TakeEnded, once", 0,
       {{0, 4, 0, 0}, {999, 0, 0, 0}, {1000, 0, 0, 4}, {1001, 0, 0, 0}, {1001, 1, 0, 0}}},
      {"a quiet spell opens a fresh window", 2, {{0, 3, 2, 0}, {60000, 3, 2, 1}}},
      {"a clock read earlier than the window's start does not end it", 0, {{1000, 1, 0, 0}, {0, 1, 0, 0}}},
  };
  for (const TWindowCase& c : cases) {
    TRepeatWindow window(c.passing);
    for (const TWindowStep& step : c.steps) {
      const TTimeStamp now = kStart + step.ms * kMs;
      if (step.times == 0) {
        EXPECT_EQ(window.TakeEnded(now), step.ended) << c.name << " at " << step.ms << " ms";
        continue;
      }
      int passed = 0;
      for (int i = 0; i < step.times; ++i) {
        std::uint32_t ended = 99;
        passed += window.Note(now, ended) ? 1 : 0;
        if (i == 0) {
          EXPECT_EQ(ended, step.ended) << c.name << " at " << step.ms << " ms";
        }
      }
      EXPECT_EQ(passed, step.passed) << c.name << " at " << step.ms << " ms";
    }
  }
}

TEST(RepeatWindow, TakeAllEndsTheWindowAtOnce) {
  TRepeatWindow window(1);
  std::uint32_t ended = 0;
  EXPECT_EQ(window.TakeAll(), 0u);
  for (int i = 0; i < 4; ++i) window.Note(kStart, ended);
  EXPECT_TRUE(window.IsOpen());
  EXPECT_FALSE(window.HasEnded(kStart + 999 * kMs));
  EXPECT_EQ(window.TakeAll(), 3u);
  EXPECT_FALSE(window.IsOpen());
  // The next occurrence, within the same second, opens a new window and passes.
  EXPECT_TRUE(window.Note(kStart + kMs, ended));
  EXPECT_EQ(ended, 0u);
}

}  // namespace
}  // namespace Orvan::Network
