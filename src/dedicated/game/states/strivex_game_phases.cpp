// The running game's phases: their time limits, the requests each accepts, the players they remove
// and the result the debriefing sends.
#include "dedicated/game/states/strivex_game_phases.h"

#include <ctime>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/legacy_number_conversion.h"
#include "dedicated/clients/client_disconnect_reason.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/game/game_result_document.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/states/phase_factories.h"
#include "dedicated/game/write_game_result_in_database.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

void LogInformation(const char* text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }


// The clients as they are now: disconnecting one removes it from the session's own list.
TVector<TDedicatedUser*> CopyClients(TDedicatedSession* session) {
  TVector<TDedicatedUser*> clients;
  for (TDedicatedUser* client : session->GetClients()) clients.PushBack(client);
  return clients;
}

// Stores the request when it is one of `accepted`.
template <std::size_t N>
void AcceptRequest(TDedicatedUser* user, std::uint32_t requestedStateId, const std::uint32_t (&accepted)[N]) {
  for (std::uint32_t id : accepted) {
    if (id == requestedStateId) {
      user->SetRequestState(requestedStateId);
      return;
    }
  }
}

}  // namespace

std::uint32_t TStrivexGamePhase::ReadSeconds(const char* property) const {
  const TDedicatedPropertyTable* table = GetSession()->GetPropertyTable();
  if (table == nullptr) return 0;
  return ConvertDecimalToU32(table->GetValue(property).c_str());
}

// ---- Loading.

TDedicatedSessionAbstractState* CreateLoadingPhase(TDedicatedSessionStateManager* manager) {
  return new TStrivexDedicatedSessionStateLoadingPhase(manager);
}

void TStrivexDedicatedSessionStateLoadingPhase::OnEnter() {
  LogInformation("Entering in loading phase state");
  SetTimeLeft(ReadSeconds("LoadingTimeMax"));
}

TDedicatedSessionAbstractState* TStrivexDedicatedSessionStateLoadingPhase::CreateNextState() {
  return new TStrivexDedicatedSessionStateDeploiementPhase(GetManager());
}

void TStrivexDedicatedSessionStateLoadingPhase::OnClientRequestState(TDedicatedUser* user,
                                                                    std::uint32_t requestedStateId) {
  // Not the loading phase's own id: a player asks for it only before it has loaded.
  static constexpr std::uint32_t kAccepted[] = {kDeploymentStateId, kCommandStateId, kDebriefingStateId};
  AcceptRequest(user, requestedStateId, kAccepted);
}

void TStrivexDedicatedSessionStateLoadingPhase::KickClientsNotLoaded() {
  for (TDedicatedUser* client : CopyClients(GetSession())) {
    if (!client->IsSpectator() && client->GetRequestState() <= kLoadingStateId) {
      client->Disconnect(ClientDisconnectReason::KickedDueToBadPerf);
    }
  }
}

// ---- Deployment.

void TStrivexDedicatedSessionStateDeploiementPhase::OnEnter() {
  LogInformation("Entering in deploiement phase state");
  SetTimeLeft(ReadSeconds("DeploiementTimeMax"));
  expectedPlayers_.Clear();
  for (TDedicatedUser* client : GetSession()->GetClients()) {
    client->SetUserVariable("PlayerReady", "0", false, false, false, true);
    expectedPlayers_.PushBack(client->GetNetworkId().GetValue());
  }
}

TDedicatedSessionAbstractState* TStrivexDedicatedSessionStateDeploiementPhase::CreateNextState() {
  return new TStrivexDedicatedSessionStateCommandPhase(GetManager(), expectedPlayers_);
}

void TStrivexDedicatedSessionStateDeploiementPhase::OnClientRequestState(TDedicatedUser* user,
                                                                        std::uint32_t requestedStateId) {
  static constexpr std::uint32_t kAccepted[] = {kDebriefingStateId, kCommandStateId, kDeploymentStateId};
  AcceptRequest(user, requestedStateId, kAccepted);
}

// ---- Command.

void TStrivexDedicatedSessionStateCommandPhase::OnEnter() {
  LogInformation("Entering in command phase state");
  const std::uint32_t limit = ReadSeconds("TimeLimit");
  // 0 and all ones both mean a battle without a time limit.
  if (limit != 0 && limit != kNoTimeLimit) SetTimeLeft(limit);
}

void TStrivexDedicatedSessionStateCommandPhase::Update() {
  TTimeStamp now = 0;
  GetTimeStamp(now);
  if (lagChecked_ && GetElapsedMilliseconds(lastLagCheck_, now) < kLagCheckMilliseconds) return;
  CheckClientLag();
  lagChecked_ = true;
  lastLagCheck_ = now;
}

void TStrivexDedicatedSessionStateCommandPhase::CheckClientLag() {
  TDedicatedSession* session = GetSession();
  const std::uint32_t tick = session->GetTickCounter();
  // Collected first: each disconnect takes the client out of the session's list.
  TVector<TDedicatedUser*> lagging;
  for (TDedicatedUser* client : session->GetClients()) {
    if (client->IsSpectator()) continue;
    // Signed, so a client ahead of the session is never behind.
    const auto lagTicks = static_cast<std::int32_t>(tick - client->GetLastReportedTick());
    if (lagTicks * kMillisecondsPerTick > kMaxClientLagMilliseconds) lagging.PushBack(client);
  }
  for (TDedicatedUser* client : lagging) client->Disconnect(ClientDisconnectReason::KickedDueToBadPerf);
}

TDedicatedSessionAbstractState* TStrivexDedicatedSessionStateCommandPhase::CreateNextState() {
  return new TStrivexDedicatedSessionStateDebriefingPhase(GetManager(), expectedPlayers_);
}

void TStrivexDedicatedSessionStateCommandPhase::OnClientRequestState(TDedicatedUser* user,
                                                                    std::uint32_t requestedStateId) {
  static constexpr std::uint32_t kAccepted[] = {kDebriefingStateId, kCommandStateId};
  AcceptRequest(user, requestedStateId, kAccepted);
}

// ---- Debriefing.

void TStrivexDedicatedSessionStateDebriefingPhase::OnEnter() {
  LogInformation("Entering in debriephing phase state");
  const std::uint32_t seconds = ReadSeconds("DebriefingTimeMax");
  SetTimeLeft(seconds < kMinimumDebriefingSeconds ? kMinimumDebriefingSeconds : seconds);

  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr) return;
  const TDedicatedPropertyTable* table = GetSession()->GetPropertyTable();
  const TOrvString<char> map = table != nullptr ? table->GetValue("Map") : TOrvString<char>();
  const TOrvString<char> document = WriteGameResultDocument(
      expectedPlayers_, static_cast<std::int64_t>(std::time(nullptr)), task->GetGameId(), map.c_str());
  // The operation manager owns the upload from here, also when it refuses to start.
  (new TWriteGameResultInDatabase(task->GetOperationManager(), task->GetHttpManager(), task->GetGameReportingUrl(),
                                  document))
      ->Launch();
}

TDedicatedSessionAbstractState* TStrivexDedicatedSessionStateDebriefingPhase::CreateNextState() {
  return CreateMatchMakingPhase(GetManager());
}

void TStrivexDedicatedSessionStateDebriefingPhase::OnClientRequestState(TDedicatedUser* user,
                                                                       std::uint32_t requestedStateId) {
  if (requestedStateId == kMatchMakingStateId) {
    user->SetRequestState(kMatchMakingStateId);
    user->SetUserVariable("PlayerReady", "1", false, false, false, true);
  } else if (requestedStateId == kDebriefingStateId) {
    user->SetRequestState(kDebriefingStateId);
  }
}

void TStrivexDedicatedSessionStateDebriefingPhase::KickClientsNotReturned() {
  for (TDedicatedUser* client : CopyClients(GetSession())) {
    if (client->GetRequestState() != kMatchMakingStateId) client->Disconnect(ClientDisconnectReason::KickedAtEndGame);
  }
}

}  // namespace Orvan::Dedicated
