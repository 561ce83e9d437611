#include "network/console/password_failure_throttle.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

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

TEST(PasswordFailureThrottle, AFullTableStillCountsTheNewestAddress) {
  TPasswordFailureThrottle throttle;
  for (std::uint32_t source = 1; source <= kPasswordFailureSources; ++source) {
    ASSERT_EQ(throttle.RecordFailure(source, At(0)), EPasswordFailure::kCounted);
  }
  for (int i = 0; i < 3; ++i) throttle.RecordFailure(1, At(1));
  ASSERT_EQ(throttle.RecordFailure(1, At(1)), EPasswordFailure::kBlocked);
  // All of them recent: a new address is counted in place of the one whose last failure is the
  // oldest, 2 (1 has failed since).
  EXPECT_EQ(throttle.RecordFailure(5000, At(30)), EPasswordFailure::kCounted);
  EXPECT_EQ(throttle.GetSourceCount(), kPasswordFailureSources);
  for (int i = 0; i < 3; ++i) throttle.RecordFailure(3, At(31));
  EXPECT_EQ(throttle.RecordFailure(3, At(31)), EPasswordFailure::kBlocked) << "3 kept its first failure";
  for (int i = 0; i < 4; ++i) EXPECT_EQ(throttle.RecordFailure(2, At(32)), EPasswordFailure::kCounted);
  EXPECT_EQ(throttle.RecordFailure(2, At(33)), EPasswordFailure::kBlocked) << "2 was counted afresh";
  EXPECT_TRUE(throttle.IsBlocked(1, At(33)));
  // A minute on, the addresses whose failures have left the window make room before any other:
  // the blocked ones and the recent one stay.
  EXPECT_EQ(throttle.RecordFailure(6000, At(62)), EPasswordFailure::kCounted);
  EXPECT_EQ(throttle.GetSourceCount(), 4u);
  EXPECT_TRUE(throttle.IsBlocked(2, At(62)));
  EXPECT_TRUE(throttle.IsBlocked(3, At(62)));
}

// 1,024 addresses of one /64 are one source: they neither fill the table nor escape the block.
TEST(PasswordFailureThrottle, OneSlash64IsOneAddress) {
  TPasswordFailureThrottle throttle;
  sockaddr_in6 guesser{};
  guesser.sin6_family = AF_INET6;
  inet_pton(AF_INET6, "2001:db8:1:2::", &guesser.sin6_addr);
  for (std::uint32_t i = 0; i < kPasswordFailureSources; ++i) {
    guesser.sin6_addr.s6_addr[14] = static_cast<std::uint8_t>(i >> 8);
    guesser.sin6_addr.s6_addr[15] = static_cast<std::uint8_t>(i);
    const EPasswordFailure expected =
        i + 1 == kPasswordFailuresBeforeBlock ? EPasswordFailure::kBlocked : EPasswordFailure::kCounted;
    ASSERT_EQ(throttle.RecordFailure(GetSourceKey(reinterpret_cast<const sockaddr*>(&guesser)), At(i * 0.01)),
              expected)
        << i;
  }
  EXPECT_EQ(throttle.GetSourceCount(), 1u);
  guesser.sin6_addr.s6_addr[8] = 0xff;
  EXPECT_TRUE(throttle.IsBlocked(GetSourceKey(reinterpret_cast<const sockaddr*>(&guesser)), At(11)));
  sockaddr_in operatorAddress{};
  operatorAddress.sin_family = AF_INET;
  inet_pton(AF_INET, "203.0.113.7", &operatorAddress.sin_addr);
  EXPECT_FALSE(throttle.IsBlocked(GetSourceKey(reinterpret_cast<const sockaddr*>(&operatorAddress)), At(11)));
}

}  // namespace
}  // namespace Orvan::Network
