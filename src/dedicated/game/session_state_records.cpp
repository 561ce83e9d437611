// The session's side of the phase machine: it owns the machine and keeps what the machine did
// during a recorded tick for the replay.
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/session/dedicated_session.h"

namespace Orvan::Dedicated {

namespace {

TStateRecord MakeStateRecord(std::uint32_t kind, std::uint32_t value2, std::uint32_t value3, std::uint32_t value4,
                             std::uint32_t tick) {
  TStateRecord record;
  record.kind = kind;
  record.values[0] = kStateRecordUnused;
  record.values[1] = value2;
  record.values[2] = value3;
  record.values[3] = value4;
  record.values[4] = tick;
  return record;
}

}  // namespace

void TDedicatedSession::CreateStateManager() {
  DeleteStateManager();
  stateManager_ = new TDedicatedSessionStateManager(this);
  stateManager_->ChangeState(CreateInitialState());
}

bool TDedicatedSession::IsGameRunning() const { return stateManager_ != nullptr && stateManager_->IsGameRunning(); }

void TDedicatedSession::DeleteStateManager() {
  delete stateManager_;
  stateManager_ = nullptr;
}

void TDedicatedSession::RecordStateChange(std::uint32_t previousState, std::uint32_t newState) {
  if (recording_) {
    stateRecords_.PushBack(
        MakeStateRecord(kStateRecordStateChange, previousState, newState, kStateRecordUnused, tickCounter_));
  }
  if (IsMatchMakingState(newState)) RefreshBanList();
}

void TDedicatedSession::RecordStateTimer(std::uint32_t stateId, std::uint32_t timeLeft) {
  if (!recording_) return;
  stateRecords_.PushBack(MakeStateRecord(kStateRecordStateTimer, stateId, kStateRecordUnused, timeLeft, tickCounter_));
}

}  // namespace Orvan::Dedicated
