#include "network/console/password_failure_throttle.h"

#include <gtest/gtest.h>

#include <vector>

namespace Orvan::Network {
namespace {

constexpr TTimeStamp kThrottleStart = 1'000'000'000'000;
constexpr std::uint32_t kA = 0x0100007F;
constexpr std::uint32_t kB = 0x0200007F;

TTimeStamp At(double seconds) { return kThrottleStart + static_cast<TTimeStamp>(seconds * 1e9); }

// One step: at `second`, a wrong password from `source` (with the result expected), or the
// question whether the source is blocked.
struct TStep {
  double second;
  std::uint32_t source;
  bool failure;
  EPasswordFailure result;  // for a failure
  bool blocked;             // for a question
};

TStep Fail(double second, std::uint32_t source, EPasswordFailure result = EPasswordFailure::kCounted) {
  return {second, source, true, result, false};
}
TStep Blocked(double second, std::uint32_t source, bool blocked) {
  return {second, source, false, EPasswordFailure::kCounted, blocked};
}

TEST(PasswordFailureThrottle, FiveWithinAMinuteBlockTheAddressForAMinute) {
  constexpr auto kBlocks = EPasswordFailure::kBlocked;
  struct TCase {
    const char* name;
    std::vector<TStep> steps;
  };
  const std::vector<TCase> cases = {
      {"five at once",
       {Fail(0, kA), Fail(0, kA), Fail(0, kA), Fail(0, kA), Blocked(0, kA, false), Fail(0, kA, kBlocks),
        Blocked(0, kA, true), Blocked(0, kB, false)}},
      {"the fifth just within the minute; the block lasts 60 s from it",
       {Fail(0, kA), Fail(15, kA), Fail(30, kA), Fail(45, kA), Fail(59.9, kA, kBlocks), Blocked(119.8, kA, true),
        Blocked(119.9, kA, false)}},
      {"five spread over more than a minute",
       {Fail(0, kA), Fail(15, kA), Fail(30, kA), Fail(45, kA), Fail(60.1, kA), Blocked(60.1, kA, false)}},
      {"the last five count, however the series began",
       {Fail(0, kA), Fail(30, kA), Fail(61, kA), Fail(62, kA), Fail(63, kA), Fail(64, kA, kBlocks)}},
      {"failures while blocked do not make the block longer",
       {Fail(0, kA), Fail(0, kA), Fail(0, kA), Fail(0, kA), Fail(1, kA, kBlocks), Fail(30, kA), Fail(31, kA),
        Blocked(60.9, kA, true), Blocked(61, kA, false)}},
      {"after a block a whole new series is needed",
       {Fail(0, kA), Fail(0, kA), Fail(0, kA), Fail(0, kA), Fail(0, kA, kBlocks), Fail(61, kA),
        Blocked(61, kA, false), Fail(62, kA), Fail(63, kA), Fail(64, kA), Fail(65, kA, kBlocks)}},
      {"addresses are counted apart",
       {Fail(0, kA), Fail(0, kB), Fail(0, kA), Fail(0, kB), Fail(0, kA), Fail(0, kB), Fail(0, kA), Fail(0, kB),
        Fail(0, kA, kBlocks), Blocked(0, kB, false), Fail(0, kB, kBlocks)}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TPasswordFailureThrottle throttle;
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      const TStep& step = c.steps[i];
      SCOPED_TRACE(i);
      if (step.failure) {
        EXPECT_EQ(throttle.RecordFailure(step.source, At(step.second)), step.result);
      } else {
        EXPECT_EQ(throttle.IsBlocked(step.source, At(step.second)), step.blocked);
      }
    }
  }
}

TEST(PasswordFailureThrottle, FollowsABoundedNumberOfAddresses) {
  TPasswordFailureThrottle throttle;
  for (std::uint32_t source = 1; source <= kPasswordFailureSources; ++source) {
    ASSERT_EQ(throttle.RecordFailure(source, At(0)), EPasswordFailure::kCounted);
  }
  for (int i = 0; i < 4; ++i) throttle.RecordFailure(1, At(1));
  ASSERT_TRUE(throttle.IsBlocked(1, At(1)));
  // All of them recent: a new address is not followed, and says so.
  EXPECT_EQ(throttle.RecordFailure(kPasswordFailureSources + 1, At(30)), EPasswordFailure::kNotFollowed);
  EXPECT_EQ(throttle.GetSourceCount(), kPasswordFailureSources);
  // A minute on, the addresses whose failures have left the window make room; the block stays.
  EXPECT_EQ(throttle.RecordFailure(kPasswordFailureSources + 1, At(60.5)), EPasswordFailure::kCounted);
  EXPECT_EQ(throttle.GetSourceCount(), 2u);
  EXPECT_TRUE(throttle.IsBlocked(1, At(60.5)));
}

}  // namespace
}  // namespace Orvan::Network
