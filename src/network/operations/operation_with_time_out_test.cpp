#include "network/operations/operation_with_time_out.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/manual_clock.h"

namespace {

using Orvan::Network::TOperationWithTimeOut;
using Orvan::Network::TOperationWithTimeOutManager;
using OrvTest::TManualClock;
using Strings = std::vector<std::string>;

// An operation that records each hook with its running and registered state as
// "name:hook running registered", and runs what the test gave it for that hook.
class TFakeOperation final : public TOperationWithTimeOut {
 public:
  TFakeOperation(TOperationWithTimeOutManager* manager, Strings* log, std::string name, double timeOut = 1000.0)
      : TOperationWithTimeOut(manager, timeOut), log_(log), name_(std::move(name)) {}
  ~TFakeOperation() override { log_->push_back(name_ + ":deleted"); }

  std::function<bool()> onLaunched;
  std::function<void()> onTerminated, onTimeout, onKilled, onUpdate;

 protected:
  bool OnOperationLaunched() override {
    Record("launched");
    return onLaunched ? onLaunched() : true;
  }
  void OnOperationTerminated() override { Run("terminated", onTerminated); }
  void OnOperationTimeout() override { Run("timeout", onTimeout); }
  void OnOperationKilled() override { Run("killed", onKilled); }
  void OnOperationUpdate() override { Run("update", onUpdate); }

 private:
  void Record(const char* hook) {
    const bool registered = GetManager()->GetOperation(static_cast<std::uint32_t>(GetId())) == this;
    log_->push_back(name_ + ":" + hook + (IsRunning() ? " running" : " stopped") +
                    (registered ? " registered" : " unregistered"));
  }
  void Run(const char* hook, const std::function<void()>& action) {
    Record(hook);
    if (action) action();
  }

  Strings* log_;
  std::string name_;
};

class OperationWithTimeOutTest : public ::testing::Test {
 protected:
  TFakeOperation* Make(const std::string& name, double timeOut = 1000.0) {
    return new TFakeOperation(&manager_, &log_, name, timeOut);
  }
  TFakeOperation* Launched(const std::string& name, double timeOut = 1000.0) {
    TFakeOperation* operation = Make(name, timeOut);
    EXPECT_GE(operation->Launch(), 0);
    return operation;
  }
  // One tick that is sure to run.
  void Tick() {
    TManualClock::AdvanceMilliseconds(101);
    manager_.Update();
  }
  Strings TakeLog() { return std::exchange(log_, {}); }

  TManualClock clock_;
  TOperationWithTimeOutManager manager_;
  Strings log_;
};

TEST_F(OperationWithTimeOutTest, RefusedLaunchDeletesTheOperationAndNeverRegistersIt) {
  TFakeOperation* operation = Make("a");
  operation->onLaunched = [] { return false; };
  EXPECT_EQ(operation->Launch(), -1);
  EXPECT_EQ(TakeLog(), (Strings{"a:launched stopped unregistered", "a:deleted"}));
  EXPECT_EQ(manager_.GetRegisteredCount(), 0u);
  EXPECT_EQ(manager_.GetPendingCount(), 0u);
}

TEST_F(OperationWithTimeOutTest, LaunchGivesIdsInOrderAndTheIdAfter0xFFFFFFFEIsZero) {
  EXPECT_EQ(Launched("a")->GetId(), 0);
  EXPECT_EQ(Launched("b")->GetId(), 1);
  manager_.SetNextIdForTests(0xFFFFFFFEu);
  EXPECT_EQ(manager_.NextId(), 0xFFFFFFFEu);
  EXPECT_EQ(manager_.NextId(), 0u);
  EXPECT_EQ(manager_.NextId(), 1u);
  EXPECT_EQ(manager_.GetOperation(0xFFFFFFFFu), nullptr);
  manager_.CancelAll();
}

TEST_F(OperationWithTimeOutTest, EachEndRunsItsHookInItsPlaceAndDeletesOnce) {
  TFakeOperation* terminated = Launched("t");
  TFakeOperation* timedOut = Launched("o", 50.0);
  Launched("k");
  TakeLog();

  terminated->TerminateOperation();
  EXPECT_EQ(TakeLog(), (Strings{"t:terminated stopped unregistered", "t:deleted"}));

  manager_.CancelOperation(2);
  EXPECT_EQ(TakeLog(), (Strings{"k:killed running registered", "k:deleted"}));

  // Exactly the time-out is not past it; a nanosecond more is.
  EXPECT_FALSE(timedOut->CheckTimeOut(timedOut->GetStartStamp() + 50'000'000));
  EXPECT_TRUE(timedOut->CheckTimeOut(timedOut->GetStartStamp() + 50'000'001));
  EXPECT_EQ(TakeLog(), (Strings{"o:timeout stopped unregistered", "o:deleted"}));

  EXPECT_EQ(manager_.GetRegisteredCount(), 0u);
  manager_.CancelOperation(7);  // unknown: nothing happens
  EXPECT_TRUE(TakeLog().empty());
}

TEST_F(OperationWithTimeOutTest, UpdateRunsOncePerHundredMillisecondsAndTimesOperationsOut) {
  Launched("a", 250.0);
  Tick();
  EXPECT_EQ(TakeLog(), (Strings{"a:launched stopped unregistered", "a:update running registered"}));

  TManualClock::AdvanceMilliseconds(100);  // exactly the interval: not past it
  manager_.Update();
  EXPECT_TRUE(TakeLog().empty());
  TManualClock::AdvanceNanoseconds(1);
  manager_.Update();
  EXPECT_EQ(TakeLog(), (Strings{"a:update running registered"}));

  Tick();  // 302 ms since the launch
  EXPECT_EQ(TakeLog(), (Strings{"a:timeout stopped unregistered", "a:deleted"}));
  EXPECT_EQ(manager_.GetRegisteredCount(), 0u);
}

class OperationReentrancyTest;

// What the hooks do during a tick or a cancel-all, and what the table and the log hold after it.
struct TReentrancyCase {
  const char* name;
  std::function<void(OperationReentrancyTest&, TOperationWithTimeOutManager&,
                     std::vector<TFakeOperation*>&)>
      arrange;  // a, b and c are launched (ids 0, 1, 2) before
  bool cancelAllInsteadOfTick;
  Strings expectedLog;
  std::size_t registeredAfter;
  std::size_t pendingAfter;
};

class OperationReentrancyTest : public OperationWithTimeOutTest,
                                public ::testing::WithParamInterface<TReentrancyCase> {
 public:
  TFakeOperation* LaunchedFromHook(const std::string& name) { return Launched(name); }
  TOperationWithTimeOutManager& Manager() { return manager_; }
};

TEST_P(OperationReentrancyTest, HooksChangingTheTableWhileItIsWalked) {
  const TReentrancyCase& test = GetParam();
  std::vector<TFakeOperation*> operations{Launched("a"), Launched("b"), Launched("c")};
  test.arrange(*this, manager_, operations);
  TakeLog();
  if (test.cancelAllInsteadOfTick) {
    manager_.CancelAll();
  } else {
    Tick();
  }
  EXPECT_EQ(TakeLog(), test.expectedLog);
  EXPECT_EQ(manager_.GetRegisteredCount(), test.registeredAfter);
  EXPECT_EQ(manager_.GetPendingCount(), test.pendingAfter);
  EXPECT_FALSE(manager_.IsIterating());
  manager_.CancelAll();
  Tick();
  manager_.CancelAll();
}

const TReentrancyCase kReentrancyCases[] = {
    {"SelfTerminationInUpdateIsSkippedAndGoneAfter",
     [](auto&, auto&, auto& ops) {
       TFakeOperation* a = ops[0];
       a->onUpdate = [a] { a->TerminateOperation(); };
       TFakeOperation* c = ops[2];
       ops[1]->onUpdate = [c] { c->TerminateOperation(); };
     },
     false,
     {"a:update running registered", "a:terminated stopped unregistered", "a:deleted",
      "b:update running registered", "c:terminated stopped unregistered", "c:deleted"},
     1,
     0},
    {"LaunchFromUpdateWaitsInPendingUntilTheTickEnds",
     [](auto& test, auto& manager, auto& ops) {
       ops[0]->onUpdate = [&test, &manager] {
         TFakeOperation* d = test.LaunchedFromHook("d");
         EXPECT_EQ(manager.GetPendingCount(), 1u);
         EXPECT_EQ(manager.GetOperation(3), d);
       };
     },
     false,
     {"a:update running registered", "d:launched stopped unregistered", "b:update running registered",
      "c:update running registered"},
     4,
     0},
    {"CancelAllFromUpdateRunsAfterTheTickAndKillsTheNewcomers",
     [](auto& test, auto& manager, auto& ops) {
       ops[0]->onUpdate = [&test, &manager] {
         test.LaunchedFromHook("d");
         manager.CancelAll();
       };
     },
     false,
     {"a:update running registered", "d:launched stopped unregistered", "a:killed running registered",
      "a:deleted", "b:killed running registered", "b:deleted", "c:killed running registered", "c:deleted",
      "d:killed running registered", "d:deleted"},
     0,
     0},
    {"CancelAllFromAKillHookIsIgnoredAndLaunchesFromItSurvive",
     [](auto& test, auto& manager, auto& ops) {
       ops[0]->onKilled = [&test, &manager] {
         test.LaunchedFromHook("d");
         manager.CancelAll();
       };
     },
     true,
     {"a:killed running registered", "d:launched stopped unregistered", "a:deleted",
      "b:killed running registered", "b:deleted", "c:killed running registered", "c:deleted"},
     0,
     1},
    {"KillHookEndingAnotherOperationLeavesItToItsOwnEnd",
     [](auto&, auto&, auto& ops) {
       TFakeOperation* c = ops[2];
       ops[0]->onKilled = [c] { c->TerminateOperation(); };
     },
     true,
     {"a:killed running registered", "c:terminated stopped unregistered", "c:deleted", "a:deleted",
      "b:killed running registered", "b:deleted"},
     0,
     0},
};

INSTANTIATE_TEST_SUITE_P(Cases, OperationReentrancyTest, ::testing::ValuesIn(kReentrancyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Operations launched from a kill hook wait in pending; a second cancel-all kills exactly those,
// and one launched from their own kill hook survives it in turn.
TEST_F(OperationWithTimeOutTest, CancelAllKillsThePendingOperationsOnlyAndKeepsLaunchesFromTheirHooks) {
  TFakeOperation* a = Launched("a");
  a->onKilled = [this] {
    TFakeOperation* d = Launched("d");
    d->onKilled = [this] { Launched("e"); };
  };
  manager_.CancelAll();
  EXPECT_EQ(manager_.GetPendingCount(), 1u);
  TakeLog();

  manager_.CancelAll();
  EXPECT_EQ(TakeLog(), (Strings{"d:killed running registered", "e:launched stopped unregistered", "d:deleted"}));
  EXPECT_EQ(manager_.GetPendingCount(), 1u);
  EXPECT_NE(manager_.GetOperation(2), nullptr);

  Tick();  // e joins the table at the end of the tick, without being updated in it
  EXPECT_TRUE(TakeLog().empty());
  EXPECT_EQ(manager_.GetRegisteredCount(), 1u);
  EXPECT_EQ(manager_.GetPendingCount(), 0u);
  manager_.CancelAll();
  EXPECT_EQ(TakeLog(), (Strings{"e:killed running registered", "e:deleted"}));
}

}  // namespace
