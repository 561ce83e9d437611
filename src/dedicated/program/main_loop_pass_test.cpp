// One pass of the main loop in each state of the match-making link, with the clock in the test's
// hands: what every pass runs whatever the link (the event loop, the operation tick, the session's
// update with the game's tick) and what waits for the link (the keep-alive, the connection attempt).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dedicated/game/states/dedicated_session_abstract_state.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/states/phase_factories.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/operations/operation_with_time_out.h"
#include "support/client_channel_fixture.h"
#include "support/manual_clock.h"
#include "support/running_game_phase.h"

namespace Orvan::Dedicated {
namespace {


// An operation whose peer never answers: only the operation tick ends it, by its time-out.
class TUnansweredOperation final : public Network::TOperationWithTimeOut {
 public:
  TUnansweredOperation(Network::TOperationWithTimeOutManager* manager, bool* timedOut)
      : TOperationWithTimeOut(manager, 150.0), timedOut_(timedOut) {}

 protected:
  bool OnOperationLaunched() override { return true; }
  void OnOperationTerminated() override {}
  void OnOperationTimeout() override { *timedOut_ = true; }
  void OnOperationKilled() override {}
  void OnOperationUpdate() override {}

 private:
  bool* timedOut_;
};

class MainLoopPassTest : public OrvTest::TChannelTest<TStrivexDedicatedSession> {
 protected:
  void SetUp() override {
    // An attempt goes nowhere: its refusal would only come in a later pass.
    settings_.matchMakingPort = OrvTest::ClosedPortText();
    TChannelTest::SetUp();
  }

  OrvTest::TManualClock clock_;
};

TEST_F(MainLoopPassTest, EveryLinkStateServesTheGameAndOnlyReadyIsKeptAlive) {
  using State = MatchMakingLinkState;
  // Nothing was sent on the link for longer than the keep-alive's 120 s: a pass that may send it does.
  OrvTest::TManualClock::AdvanceMilliseconds(kKeepAliveMilliseconds + 1000);
  TPeer& stays = Admit(0x501);
  TDedicatedSessionStateManager& manager = *session_.GetStateManager();
  manager.ChangeState(new OrvTest::TRunningGamePhase(&manager));
  session_.Update();  // the recording starts
  ASSERT_TRUE(session_.IsRecording());
  OrvTest::TManualClock::AdvanceMilliseconds(1);
  session_.Update();  // tick 0; tick 1 is due 200 ms after the recording began

  const struct {
    const char* what;
    State state;
    bool keepAlive;  // the link's keep-alive leaves
    State after;
  } cases[] = {
      // The task has never tried: the attempt is due, and comes last in the pass.
      {"NotConnected, an attempt due", State::NotConnected, false, State::Connecting},
      {"NotConnected, less than 20 s after the attempt", State::NotConnected, false, State::NotConnected},
      {"Connecting", State::Connecting, false, State::Connecting},
      {"Connected", State::Connected, false, State::Connected},
      {"Ready", State::Ready, true, State::Ready},
  };
  std::uint64_t id = 0x600;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    task_->AttachMatchMakingStream(&mms_, c.state);
    mms_.written.clear();
    // A player who leaves, an operation whose peer never answers, the game's next tick.
    TPeer& leaving = Admit(++id);
    bool timedOut = false;
    ASSERT_GE((new TUnansweredOperation(task_->GetOperationManager(), &timedOut))->Launch(), 0);
    OrvTest::TManualClock::AdvanceMilliseconds(TDedicatedSession::kTickMilliseconds);
    const std::uint32_t tick = session_.GetTickCounter();
    // The tick is due: the slice is cut short, and the same pass runs the tick.
    EXPECT_EQ(task_->GetEventSliceMilliseconds(OrvTest::TManualClock::Now()), 1u);
    leaving.pair->CloseSecond();
    const std::size_t mark = Lines().size();

    EXPECT_TRUE(task_->Tick());

    EXPECT_EQ(session_.GetTickCounter(), tick + 1);
    EXPECT_EQ(task_->GetEventSliceMilliseconds(OrvTest::TManualClock::Now()), kLoopStepMilliseconds);
    EXPECT_TRUE(timedOut);
    EXPECT_FALSE(IsAdmitted(leaving));
    EXPECT_TRUE(Logged("Disconnecting client " + std::to_string(id) + " with IP 127.0.0.1:5000 (reason : "
                       "ConnectionLost)"));
    EXPECT_TRUE(IsAdmitted(stays));
    EXPECT_EQ(OrvTest::Hex(std::string(mms_.written.begin(), mms_.written.end())),
              c.keepAlive ? "0002e300" : "");
    EXPECT_EQ(task_->GetLinkState(), c.after);
    const std::vector<std::string> lines = LinesFrom(mark);
    const bool attempted = std::find(lines.begin(), lines.end(), "Connecting to match making server") != lines.end();
    EXPECT_EQ(attempted, c.after != c.state);
    EXPECT_EQ(task_->GetClientAcceptor().IsHeld(), c.state != State::Ready);
  }
}

}  // namespace
}  // namespace Orvan::Dedicated
