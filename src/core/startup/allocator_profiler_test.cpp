#include "core/startup/allocator_profiler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/debug_output_recorder.h"
#include "support/manual_clock.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

void TimeAllocation(TAllocatorProfile& profile, std::uint64_t nanoseconds) {
  TAllocatorProfileScope scope;
  scope.BeginAllocation(profile);
  scope.StopClock();
  scope.AccountAllocation(nanoseconds);
}

void TimeFree(TAllocatorProfile& profile, std::uint64_t nanoseconds) {
  TAllocatorProfileScope scope;
  scope.BeginFree(profile);
  scope.StopClock();
  scope.AccountFree(nanoseconds);
}

TEST(AllocatorProfilerTest, ReportOfThreeAllocationsOneSlowAndTwoFrees) {
  TAllocatorProfile profile("Test Profile");
  TimeAllocation(profile, 50000);
  TimeAllocation(profile, 100001);
  TimeAllocation(profile, 20000);
  TimeFree(profile, 30000);
  TimeFree(profile, 10000);

  OrvTest::TDebugOutputRecorder recorder;
  const std::string report = WriteAllocatorProfileReport(profile);
  EXPECT_EQ(report,
            "Test Profile : \n"
            "    Allocation : 3 (1) --- Time : 0.170001 ms.\n"
            "    Free : 2 --- Time : 0.04 ms.\n");
  ASSERT_EQ(recorder.Lines().size(), 3u);
  EXPECT_EQ(recorder.Lines()[1], "    Allocation : 3 (1) --- Time : 0.170001 ms.\n");
}

TEST(AllocatorProfilerTest, SlowMeansLongerThanATenthOfAMillisecond) {
  struct TCase {
    std::uint64_t nanoseconds;
    std::uint32_t slow;
  };
  for (const TCase& c : {TCase{0, 0}, TCase{99999, 0}, TCase{100000, 0}, TCase{100001, 1}, TCase{5000000, 1}}) {
    TAllocatorProfile profile("Threshold");
    TimeAllocation(profile, c.nanoseconds);
    EXPECT_EQ(profile.GetSlowAllocationCount(), c.slow) << c.nanoseconds << " ns";
    EXPECT_EQ(profile.GetAllocationCount(), 1u);
  }
}

TEST(AllocatorProfilerTest, ScopesMeasureTheClock) {
  OrvTest::TManualClock clock;
  TAllocatorProfile profile("Clocked");
  TAllocatorProfileScope scope;
  scope.BeginAllocation(profile);
  EXPECT_TRUE(scope.IsRunning());
  OrvTest::TManualClock::AdvanceNanoseconds(100000);
  scope.EndAllocation();
  EXPECT_FALSE(scope.IsRunning());
  EXPECT_EQ(profile.GetSlowAllocationCount(), 0u);
  EXPECT_DOUBLE_EQ(profile.GetTotalAllocationTime(), 100000e-9);

  scope.BeginFree(profile);
  OrvTest::TManualClock::AdvanceNanoseconds(2500);
  scope.EndFree();
  EXPECT_EQ(profile.GetFreeCount(), 1u);
  EXPECT_DOUBLE_EQ(profile.GetTotalFreeTime(), 2500e-9);
}

TEST(AllocatorProfilerTest, TheTwoProcessProfiles) {
  EXPECT_STREQ(GetAllocatorProfile().GetName(), "Profiler Allocator");
  EXPECT_STREQ(GetLocalAllocatorProfile().GetName(), "Profiler Local Allocator");
  EXPECT_EQ(&GetAllocatorProfile(), &GetAllocatorProfile());
}

TEST(AllocatorProfilerThreadedTest, ThreadsTimingOneProfileLoseNothing) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 200;
  TAllocatorProfile profile("Shared");
  // Thread t allocates in spans of t * 20000 + 1 ns (slow from thread 5 on) and frees in t + 1 us.
  OrvTest::RunOnThreadsTogether(kThreads, [&](int t) {
    for (int round = 0; round < kRounds; ++round) {
      TimeAllocation(profile, static_cast<std::uint64_t>(t) * 20000 + 1);
      TimeFree(profile, static_cast<std::uint64_t>(t + 1) * 1000);
    }
  });
  EXPECT_EQ(profile.GetAllocationCount(), static_cast<std::uint32_t>(kThreads * kRounds));
  EXPECT_EQ(profile.GetFreeCount(), static_cast<std::uint32_t>(kThreads * kRounds));
  EXPECT_EQ(profile.GetSlowAllocationCount(), static_cast<std::uint32_t>(3 * kRounds));
  double allocationSeconds = 0.0;
  double freeSeconds = 0.0;
  for (int t = 0; t < kThreads; ++t) {
    allocationSeconds += kRounds * ((t * 20000 + 1) * 1e-9);
    freeSeconds += kRounds * ((t + 1) * 1000 * 1e-9);
  }
  EXPECT_NEAR(profile.GetTotalAllocationTime(), allocationSeconds, 1e-12);
  EXPECT_NEAR(profile.GetTotalFreeTime(), freeSeconds, 1e-12);
}

TEST(ChooseMemoryUnitTest, ThresholdsOfTheUnits) {
  struct TCase {
    std::uint64_t bytes;
    std::uint64_t value;
    const char* unit;
  };
  const TCase cases[] = {
      {0, 0, "B"},           {2048, 2048, "B"},       {2049, 2, "KB"},
      {2097151, 2047, "KB"}, {2098175, 2048, "KB"},   {2098176, 2, "MB"},
      {5ull << 30, 5120, "MB"},
  };
  for (const TCase& c : cases) {
    std::uint64_t value = c.bytes;
    EXPECT_STREQ(ChooseMemoryUnit(value), c.unit) << c.bytes;
    EXPECT_EQ(value, c.value) << c.bytes;
  }
}

}  // namespace
}  // namespace Orvan
