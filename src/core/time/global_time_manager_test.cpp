#include "core/time/global_time_manager.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "support/manual_clock.h"
#include "support/singleton_checks.h"

namespace Orvan {
namespace {

using OrvTest::TManualClock;

class TRecordingListener : public ITimeSpeedListener {
 public:
  void OnSpeedFactorChanged(float factor) override { factors.push_back(factor); }
  std::vector<float> factors;
};

// Records the order in which listeners are told, in one list shared by several listeners.
class TOrderListener : public ITimeSpeedListener {
 public:
  TOrderListener(std::vector<int>& order, int tag) : order_(order), tag_(tag) {}
  void OnSpeedFactorChanged(float /*factor*/) override { order_.push_back(tag_); }

 private:
  std::vector<int>& order_;
  int tag_;
};

class GlobalTimeManagerTest : public ::testing::Test {
 protected:
  void SetUp() override { manager = new TGlobalTimeManager; }
  void TearDown() override { delete manager; }

  TGlobalTimeManager* manager = nullptr;
};

TEST_F(GlobalTimeManagerTest, FreshManagerIsRegisteredInItsStaticBlockWithItsStartValues) {
  EXPECT_EQ(static_cast<void*>(manager), TGlobalTimeManager::GetInstanceStorage());
  EXPECT_EQ(TGlobalTimeManager::GetInstancePointer(), manager);
  EXPECT_TRUE(OrvTest::IsRegisteredSingleton(manager));
  EXPECT_EQ(manager->destroyedByRegistry, 0);
  EXPECT_EQ(manager->GetSpeedFactor(), 1.0f);
  EXPECT_EQ(manager->GetSpeedStep(), 0);
  EXPECT_EQ(manager->GetTickCount(), 1u);
  EXPECT_EQ(manager->GetEventCount(), 0u);
  EXPECT_EQ(manager->GetUnflaggedEventCount(), 0u);
  EXPECT_EQ(manager->GetStepCount(), 0u);
  EXPECT_EQ(manager->GetFrameCount(), 0u);
  EXPECT_EQ(manager->GetFrameTime(), 0.0);
  EXPECT_EQ(manager->GetTimeValue0(), 0.0);
  EXPECT_TRUE(manager->GetListeners().IsEmpty());
  EXPECT_NE(manager->GetStartStamp(), 0u);
  EXPECT_NE(manager->GetStartWallClock(), 0u);
}

TEST(GlobalTimeManagerLifeTest, DestructionUnregistersAndClearsTheInstancePointer) {
  TGlobalTimeManager* manager = new TGlobalTimeManager;
  TRecordingListener listener;
  manager->AddListener(&listener);
  delete manager;
  EXPECT_EQ(TGlobalTimeManager::GetInstancePointer(), nullptr);
  EXPECT_FALSE(OrvTest::IsRegisteredSingleton(manager));
  EXPECT_TRUE(listener.factors.empty());
}

TEST(GlobalTimeManagerClockTest, FramesAreMeasuredFromTheStartStamp) {
  TManualClock clock;
  TGlobalTimeManager* manager = new TGlobalTimeManager;
  EXPECT_EQ(manager->GetStartStamp(), TManualClock::kStart);
  TManualClock::AdvanceMilliseconds(250);
  EXPECT_DOUBLE_EQ(manager->GetElapsedSinceStart(), 0.25);
  manager->NewFrame();
  TManualClock::AdvanceMilliseconds(500);
  manager->NewFrame();
  EXPECT_DOUBLE_EQ(manager->GetPreviousFrameTime(), 0.25);
  EXPECT_DOUBLE_EQ(manager->GetFrameTime(), 0.75);
  EXPECT_EQ(manager->GetFrameCount(), 2u);
  delete manager;
}

TEST_F(GlobalTimeManagerTest, CountersAndTimeValues) {
  manager->CountEvent(false);
  manager->CountEvent(true);
  manager->CountEvent(false);
  EXPECT_EQ(manager->GetUnflaggedEventCount(), 2u);
  EXPECT_EQ(manager->GetEventCount(), 3u);
  manager->Tick();
  manager->Tick();
  EXPECT_EQ(manager->GetTickCount(), 3u);
  manager->Step();
  EXPECT_EQ(manager->GetStepCount(), 1u);

  manager->SetTimeValues(1.5, 2.5, 3.5);
  manager->SetTimeValues(4.0, 5.0, 6.0);
  EXPECT_EQ(manager->GetPreviousTimeValue0(), 1.5);
  EXPECT_EQ(manager->GetTimeValue0(), 4.0);
  EXPECT_EQ(manager->GetTimeValue1(), 5.0);
  EXPECT_EQ(manager->GetTimeValue2(), 6.0);
}

TEST(GlobalTimeManagerStepTest, StepsGiveTheirFactors) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  struct TCase {
    std::int32_t step;
    float factor;
  };
  const TCase cases[] = {
      {0, 1.0f},          {1, 2.0f},           {2, 3.0f},           {-1, 0.5f},
      {-2, 1.0f / 3.0f},  {99, 100.0f},        {-99, 1.0f / 100.0f},
      // The i32 ends: 2^31 either way, where an integer n + 1 or n - 1 would overflow.
      {kMax, 2147483648.0f}, {kMin, 1.0f / 2147483648.0f},
      // Within 2^24 the float sum equals the integer sum made float.
      {(1 << 24) - 1, 16777216.0f}, {-(1 << 24), -1.0f / static_cast<float>(-(1 << 24) - 1)},
  };
  for (const TCase& c : cases) {
    const float factor = TGlobalTimeManager::SpeedStepToFactor(c.step);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(factor), std::bit_cast<std::uint32_t>(c.factor)) << "step " << c.step;
    EXPECT_TRUE(std::isfinite(factor) && factor > 0.0f) << "step " << c.step;
  }
}

TEST_F(GlobalTimeManagerTest, SetSpeedStepStoresTheStepSoSpeedUpCountsFromIt) {
  manager->SetSpeedStep(5);
  EXPECT_EQ(manager->GetSpeedStep(), 5);
  EXPECT_EQ(manager->GetSpeedFactor(), 6.0f);
  manager->SpeedUp();
  EXPECT_EQ(manager->GetSpeedStep(), 6);
  EXPECT_EQ(manager->GetSpeedFactor(), 7.0f);
}

TEST_F(GlobalTimeManagerTest, SpeedUpAndSlowDownStopAtTheirBounds) {
  for (int i = 0; i < 100; ++i) manager->SpeedUp();
  EXPECT_EQ(manager->GetSpeedFactor(), 100.0f);
  EXPECT_EQ(manager->GetSpeedStep(), 99);
  manager->SpeedUp();
  EXPECT_EQ(manager->GetSpeedFactor(), 100.0f);

  manager->ResetSpeed();
  EXPECT_EQ(manager->GetSpeedFactor(), 1.0f);
  for (int i = 0; i < 100; ++i) manager->SlowDown();
  EXPECT_EQ(manager->GetSpeedFactor(), 1.0f / 100.0f);
  EXPECT_EQ(manager->GetSpeedStep(), -99);
  manager->SlowDown();
  EXPECT_EQ(manager->GetSpeedFactor(), 1.0f / 100.0f);
}

TEST_F(GlobalTimeManagerTest, StepsAtTheI32EndsNeverStepPastThem) {
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  manager->SetSpeedStep(kMax);
  manager->SetSpeedFactor(2.0f);  // back below 100, the step left at the top of its range
  manager->SpeedUp();
  EXPECT_EQ(manager->GetSpeedStep(), kMax);
  EXPECT_EQ(manager->GetSpeedFactor(), 2.0f);
  manager->SlowDown();
  EXPECT_EQ(manager->GetSpeedStep(), kMax - 1);

  manager->SetSpeedStep(kMin);
  manager->SetSpeedFactor(0.5f);
  manager->SlowDown();
  EXPECT_EQ(manager->GetSpeedStep(), kMin);
  EXPECT_EQ(manager->GetSpeedFactor(), 0.5f);
}

TEST_F(GlobalTimeManagerTest, ListenersHearEachChangeInOrderAndNothingElse) {
  TRecordingListener first;
  TRecordingListener second;
  manager->AddListener(&first);
  manager->AddListener(&second);

  manager->SetSpeedFactor(1.0f);  // unchanged
  manager->ResetSpeed();          // already at 1
  EXPECT_TRUE(first.factors.empty());

  manager->SpeedUp();
  manager->SetSpeedFactor(0.25f);
  manager->SetSpeedFactor(0.25f);
  manager->SetSpeedStep(-1);
  EXPECT_EQ(first.factors, (std::vector<float>{2.0f, 0.25f, 0.5f}));
  EXPECT_EQ(second.factors, first.factors);

  std::vector<int> order;
  TOrderListener a(order, 1);
  TOrderListener b(order, 2);
  manager->AddListener(&b);
  manager->AddListener(&a);
  manager->ResetSpeed();
  EXPECT_EQ(order, (std::vector<int>{2, 1}));
}

// Adds listeners while it is told, enough to move the list to a larger block.
class TGrowingListener : public ITimeSpeedListener {
 public:
  TGrowingListener(TGlobalTimeManager& manager, ITimeSpeedListener& added) : manager_(manager), added_(added) {}
  void OnSpeedFactorChanged(float /*factor*/) override {
    ++calls;
    for (int i = 0; i < 16; ++i) manager_.AddListener(&added_);
  }
  int calls = 0;

 private:
  TGlobalTimeManager& manager_;
  ITimeSpeedListener& added_;
};

TEST_F(GlobalTimeManagerTest, ListenerAddingListenersDuringItsNotification) {
  TRecordingListener added;
  TGrowingListener growing(*manager, added);
  manager->AddListener(&growing);
  manager->SpeedUp();
  EXPECT_EQ(growing.calls, 1);
  // The ones added during the notification are told as the loop reaches them.
  EXPECT_EQ(added.factors.size(), 16u);
  EXPECT_EQ(manager->GetListeners().GetSize(), 17u);
}

TEST_F(GlobalTimeManagerTest, RemoveListenerTakesEveryOccurrenceAndKeepsTheOrder) {
  TRecordingListener a;
  TRecordingListener b;
  TRecordingListener c;
  TRecordingListener never;
  manager->AddListener(&a);
  manager->AddListener(&b);
  manager->AddListener(&c);
  manager->AddListener(&b);

  manager->RemoveListener(&never);
  ASSERT_EQ(manager->GetListeners().GetSize(), 4u);

  manager->RemoveListener(&b);
  ASSERT_EQ(manager->GetListeners().GetSize(), 2u);
  EXPECT_EQ(manager->GetListeners()[0], &a);
  EXPECT_EQ(manager->GetListeners()[1], &c);
  manager->SpeedUp();
  EXPECT_TRUE(b.factors.empty());
  EXPECT_EQ(a.factors.size(), 1u);
}

}  // namespace
}  // namespace Orvan
