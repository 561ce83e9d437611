// The phase machine: changes of phase, the one-second countdown and what the clients are told of
// both.
#include "dedicated/game/states/dedicated_session_state_manager.h"

#include <string>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/client_packet_sending.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"

namespace Orvan::Dedicated {

namespace {

void LogInformation(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }

TOrvString<char> Decimal(std::uint32_t value) { return TOrvString<char>(std::to_string(value)); }

// A forced change of a server property, when the session has its table.
void SetProperty(TDedicatedSession* session, const char* name, const TOrvString<char>& value) {
  TDedicatedPropertyTable* table = session->GetPropertyTable();
  if (table != nullptr) table->SetVariable(name, value, false, false, false, true);
}

// One "LLL" body to one client through the main task's client framer.
bool SendThreeValues(TDedicatedUser* user, std::uint8_t channel, std::uint32_t first, std::uint32_t second,
                     std::uint32_t third) {
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr) return false;
  const TThreeValuesPacket body{{first, second, third}};
  return SendPacket(task->GetClientFramer(), user->GetConnection(), channel, body);
}

}  // namespace

TDedicatedSessionStateManager::TDedicatedSessionStateManager(TDedicatedSession* session) : session_(session) {
  GetTimeStamp(lastCountdownStep_);
}

TDedicatedSessionStateManager::~TDedicatedSessionStateManager() {
  delete current_;
  current_ = nullptr;
  delete pending_;
  pending_ = nullptr;
  // Phases left since the last Update are the manager's too: none of them outlives it.
  for (TDedicatedSessionAbstractState* state : retired_) delete state;
  retired_.Clear();
}

void TDedicatedSessionStateManager::ChangeState(TDedicatedSessionAbstractState* next) {
  if (next == nullptr) return;
  if (pending_ != nullptr) {
    // Called from the OnExit of the change under way: that change enters this phase instead, and
    // the one it was to enter is never entered nor left.
    delete pending_;
    pending_ = next;
    return;
  }
  std::uint32_t previousId = kNoStateId;
  pending_ = next;
  if (current_ != nullptr) {
    previousId = current_->GetStateId();
    current_->OnExit();
    retired_.PushBack(current_);
  }
  // OnExit may have replaced the phase to enter.
  const std::uint32_t newId = pending_->GetStateId();
  const std::uint32_t tick = session_->GetTickCounter();
  for (TDedicatedUser* client : session_->GetClients()) {
    if (client->GetRequestState() < newId && !client->IsSpectator()) client->SetRequestState(newId);
    if (client->IsConnected() && !SendThreeValues(client, kChannelNextState, previousId, newId, tick)) {
      LogInformation("Failed to send next state packet to client " + client->GetNetworkId().ToString());
    }
  }
  SetProperty(session_, "TimeLeft", Decimal(kNoTimeLimit));
  SetProperty(session_, "GameState", Decimal(newId));
  session_->RecordStateChange(previousId, newId);
  current_ = pending_;
  pending_ = nullptr;
  current_->OnEnter();
}

void TDedicatedSessionStateManager::Update() {
  if (current_ != nullptr) {
    current_->Update();
    TTimeStamp now;
    GetTimeStamp(now);
    // However long the pause was, one step: a late loop does not rush the countdown.
    if (GetElapsedSeconds(lastCountdownStep_, now) > kCountdownStepSeconds) {
      lastCountdownStep_ = now;
      StepCountdown();
    }
    AdvanceIfUsersReady();
  }
  for (TDedicatedSessionAbstractState* state : retired_) delete state;
  retired_.Clear();
}

bool TDedicatedSessionStateManager::MayLeave(const TDedicatedSessionAbstractState* state) const {
  // Leaving a phase in which no game runs starts one.
  return state->IsGameRunning() || session_->IsGameLaunchAllowed();
}

void TDedicatedSessionStateManager::StepCountdown() {
  TDedicatedSessionAbstractState* state = current_;
  // A launch held at 0: nothing to count until the link is back or the launch is cancelled.
  if (state->GetTimeLeft() == 0 && !state->GetStopCountdown() && !MayLeave(state)) return;
  if (state->GetTimeLeft() == kNoTimeLimit) {
    state->SetStopCountdown(false);
    return;
  }
  std::uint32_t timeLeft = state->GetTimeLeft() == 0 ? 0 : state->GetTimeLeft() - 1;
  if (state->GetStopCountdown()) {
    state->SetStopCountdown(false);
    timeLeft = kNoTimeLimit;
  }
  SetProperty(session_, "TimeLeft", Decimal(timeLeft));
  const std::uint32_t stateId = state->GetStateId();
  session_->RecordStateTimer(stateId, timeLeft);
  state->SetTimeLeft(timeLeft);
  const std::uint32_t tick = session_->GetTickCounter();
  for (TDedicatedUser* client : session_->GetClients()) {
    if (client->IsConnected() && !SendThreeValues(client, kChannelStateWillChange, stateId, timeLeft, tick)) {
      LogInformation("Failed to send state timer packet to client " + client->GetNetworkId().ToString());
    }
  }
  if (timeLeft != 0) return;
  if (!MayLeave(state)) {
    LogInformation("Game launch waits for the match making server");
    return;
  }
  ChangeState(state->CreateNextState());
}

void TDedicatedSessionStateManager::AdvanceIfUsersReady() {
  if (current_ != nullptr && current_->AreUsersReady() && MayLeave(current_)) {
    ChangeState(current_->CreateNextState());
  }
}

void TDedicatedSessionStateManager::OnClientStateRequest(TDedicatedUser* user, std::uint32_t requestedStateId) {
  LogInformation("Client " + user->GetNetworkId().ToString() + " want request state to " + Decimal(requestedStateId));
  if (current_ == nullptr) return;
  // The phase left during the call is retired, not deleted, so its address cannot come back.
  const TDedicatedSessionAbstractState* before = current_;
  current_->OnClientRequestState(user, requestedStateId);
  if (current_ == before) AdvanceIfUsersReady();
}

void TDedicatedSessionStateManager::PostEvent(TDedicatedUser* user, std::uint32_t event) {
  if (current_ != nullptr) current_->OnEvent(user, event);
}

void TDedicatedSessionStateManager::OnClientMessage(TDedicatedUser* client, const Network::TPacketBufferPtr& message) {
  if (current_ != nullptr) current_->OnClientMessage(client, message);
}

bool TDedicatedSessionStateManager::IsGameRunning() const { return current_ != nullptr && current_->IsGameRunning(); }

std::uint32_t TDedicatedSessionStateManager::GetCurrentStateId() const {
  return current_ != nullptr ? current_->GetStateId() : kNoStateId;
}

bool TDedicatedSessionStateManager::CanExit() const { return current_ == nullptr || current_->CanExit(); }

std::uint32_t TDedicatedSessionStateManager::GetCurrentTimeLeft() const {
  return current_ != nullptr ? current_->GetTimeLeft() : kNoTimeLimit;
}

}  // namespace Orvan::Dedicated
