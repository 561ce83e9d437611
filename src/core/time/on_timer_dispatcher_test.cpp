#include "core/time/on_timer_dispatcher.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace Orvan {
namespace {

constexpr TTimeStamp kMillisecond = 1000000;

struct TRecordingTimerListener : IIOnTimer {
  TRecordingTimerListener(std::vector<int>* calls, int id) : calls_(calls), id_(id) {}
  void OnTimer() override { calls_->push_back(id_); }
  std::vector<int>* calls_;
  int id_;
};

class OnTimerDispatcher : public ::testing::Test {
 protected:
  void SetUp() override {
    dispatcher_.AddListener(&first_);
    dispatcher_.AddListener(&second_);
    dispatcher_.SetEnabled(true);
  }
  std::vector<int> calls_;
  TRecordingTimerListener first_{&calls_, 1};
  TRecordingTimerListener second_{&calls_, 2};
  TOnTimerDispatcher dispatcher_;
};

TEST_F(OnTimerDispatcher, CallsListenersInOrderAtMostEvery33Milliseconds) {
  struct Step {
    TTimeStamp atMs;
    bool calls;
  };
  const Step steps[] = {
      {1000, true},   // the first dispatch is never throttled
      {1010, false},  // 10 ms later
      {1032, false},  // 32 ms after the last call
      {1034, true},   // 34 ms
      {1034, false},
      {2000, true},
  };
  std::size_t expected = 0;
  for (const Step& step : steps) {
    dispatcher_.DispatchAt(step.atMs * kMillisecond);
    if (step.calls) expected += 2;
    EXPECT_EQ(calls_.size(), expected) << "at " << step.atMs << " ms";
  }
  for (std::size_t i = 0; i < calls_.size(); ++i) EXPECT_EQ(calls_[i], i % 2 == 0 ? 1 : 2);
}

TEST_F(OnTimerDispatcher, TwoDispatchesInARowCallOnce) {
  dispatcher_.Dispatch();
  dispatcher_.Dispatch();
  EXPECT_EQ(calls_, (std::vector<int>{1, 2}));
}

TEST_F(OnTimerDispatcher, ADisabledDispatcherCallsNobody) {
  dispatcher_.SetEnabled(false);
  dispatcher_.DispatchAt(5000 * kMillisecond);
  EXPECT_TRUE(calls_.empty());
  dispatcher_.SetEnabled(true);
  dispatcher_.DispatchAt(5000 * kMillisecond);
  EXPECT_EQ(calls_.size(), 2u);
}

struct TReentrantListener : IIOnTimer {
  void OnTimer() override {
    ++calls;
    dispatcher->DispatchAt(1'000'000 * kMillisecond);  // ignored: a dispatch is under way
  }
  TOnTimerDispatcher* dispatcher = nullptr;
  int calls = 0;
};

TEST(OnTimerDispatcherAlone, ADispatchFromAListenerIsIgnored) {
  TOnTimerDispatcher dispatcher;
  TReentrantListener listener;
  listener.dispatcher = &dispatcher;
  dispatcher.AddListener(&listener);
  dispatcher.SetEnabled(true);
  dispatcher.DispatchAt(1000 * kMillisecond);
  EXPECT_EQ(listener.calls, 1);
}

class OnTimerDispatcherThreaded : public OnTimerDispatcher {};

TEST_F(OnTimerDispatcherThreaded, OnlyTheMainThreadDispatches) {
  std::thread([&] { dispatcher_.DispatchAt(1000 * kMillisecond); }).join();
  EXPECT_TRUE(calls_.empty());
  dispatcher_.DispatchAt(1000 * kMillisecond);
  EXPECT_EQ(calls_.size(), 2u);
}

}  // namespace
}  // namespace Orvan
