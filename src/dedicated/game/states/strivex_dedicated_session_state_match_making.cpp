// Match making: the launch rules, the version check and the numbering of the players on leaving.
#include "dedicated/game/states/strivex_dedicated_session_state_match_making.h"

#include <cstdlib>
#include <vector>

#include "core/containers/array_utilities.h"
#include "core/text/engine_string.h"
#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/admin/legacy_number_conversion.h"
#include "dedicated/clients/client_disconnect_reason.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/client_packet_sending.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/states/phase_factories.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"

namespace Orvan::Dedicated {

namespace {

void LogInformation(const char* text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }

// A player variable as an unsigned decimal; 0 when the user has no such variable.
std::uint32_t ReadUserNumber(const TDedicatedUser* user, const char* name) {
  const TDedicatedPropertyValue* value = user->GetUserVariable(name);
  return value != nullptr ? ConvertDecimalToU32(value->GetValue().c_str()) : 0;
}

}  // namespace

TDedicatedSessionAbstractState* CreateMatchMakingPhase(TDedicatedSessionStateManager* manager) {
  return new TStrivexDedicatedSessionStateMatchMaking(manager);
}

std::uint32_t TStrivexDedicatedSessionStateMatchMaking::ReadNumber(const char* name) const {
  const TDedicatedPropertyTable* table = GetSession()->GetPropertyTable();
  return table != nullptr ? ConvertDecimalToU32(table->GetValue(name).c_str()) : 0;
}

void TStrivexDedicatedSessionStateMatchMaking::OnEnter() {
  LogInformation("Entering in matchmaking state");
  KickOtherVersions();
  TDedicatedSession* session = GetSession();
  for (TDedicatedUser* client : session->GetClients()) {
    client->SetPlayerNumber(kNoPlayerNumber);
    client->SetSpectator(false);
    client->SetLastReportedTick(0);
  }
  if (!session->HasHost() && session->GetClients().GetSize() >= ReadNumber("NbMinPlayer")) Launch();
}

void TStrivexDedicatedSessionStateMatchMaking::OnEvent(TDedicatedUser*, std::uint32_t event) {
  TDedicatedSession* session = GetSession();
  const bool counting = GetTimeLeft() != kNoTimeLimit;
  switch (event) {
    case kStateEventLaunch:
      Launch();
      break;
    case kStateEventCancelLaunch:
      CancelLaunch();
      break;
    case kStateEventExitRequested:
      if (counting) CancelLaunch();
      break;
    case kStateEventGameInfoChanged:
      KickOtherVersions();
      break;
    case kStateEventClientAdded:
      // Compared with the raw minimum: with 0 the first client launches.
      if (!session->HasHost() && !counting && session->GetClients().GetSize() >= ReadNumber("NbMinPlayer")) Launch();
      break;
    case kStateEventClientRemoved:
      if (!session->HasHost() && counting && session->GetClients().GetSize() < ReadNumber("NbMinPlayer")) {
        CancelLaunch();
      }
      break;
    default:
      break;
  }
}

TDedicatedSessionAbstractState* TStrivexDedicatedSessionStateMatchMaking::CreateNextState() {
  return CreateLoadingPhase(GetManager());
}

bool TStrivexDedicatedSessionStateMatchMaking::UsersReadyToLaunch() const {
  const TDedicatedSession* session = GetSession();
  std::uint32_t minimum = ReadNumber("NbMinPlayer");
  if (minimum == 0) minimum = 1;
  if (session->GetClients().GetSize() < minimum) return false;
  for (const TDedicatedUser* client : session->GetClients()) {
    if (client->IsSpectator()) continue;
    if (ReadUserNumber(client, "PlayerReady") == 0 && !client->IsHost()) return false;
  }
  return true;
}

bool TStrivexDedicatedSessionStateMatchMaking::AreUsersReady() {
  if (!GetSession()->HasHost() || GetTimeLeft() == kNoTimeLimit) return false;
  return UsersReadyToLaunch();
}

void TStrivexDedicatedSessionStateMatchMaking::Launch() {
  if (GetSession()->IsExiting()) {
    LogInformation("Launch game refused (reason : server exiting)");
    return;
  }
  LogInformation("Launch game");
  // Without a Ready match-making link the countdown runs and the launch waits at its end.
  if (GetSession()->HasHost() && UsersReadyToLaunch() && GetSession()->IsGameLaunchAllowed()) {
    GetManager()->ChangeState(CreateNextState());
    return;
  }
  SetTimeLeft(ReadNumber("WarmupCountdown"));
}

void TStrivexDedicatedSessionStateMatchMaking::CancelLaunch() {
  LogInformation("Canceling launch game");
  SetStopCountdown(true);
}

void TStrivexDedicatedSessionStateMatchMaking::KickOtherVersions() {
  TDedicatedSession* session = GetSession();
  const TDedicatedPropertyTable* table = session->GetPropertyTable();
  if (table == nullptr || !table->HasVariable("Version") || session->GetClients().IsEmpty()) return;
  const TOrvString<char> version = table->GetValue("Version");
  // Disconnecting takes the client out of the session's list.
  const std::vector<TDedicatedUser*> clients(session->GetClients().begin(), session->GetClients().end());
  for (TDedicatedUser* client : clients) {
    if (!(client->GetVersion() == version)) client->Disconnect(ClientDisconnectReason::IncorrectVersion);
  }
}

void TStrivexDedicatedSessionStateMatchMaking::OnClientRequestState(TDedicatedUser* user,
                                                                     std::uint32_t requestedStateId) {
  if (requestedStateId == kDeploymentStateId || requestedStateId == kMatchMakingStateId) {
    user->SetRequestState(requestedStateId);
  }
}

void TStrivexDedicatedSessionStateMatchMaking::AssignPlayerNumbers() {
  TDedicatedSession* session = GetSession();
  session->SetSeed(static_cast<std::uint32_t>(std::rand()));

  // Alliance in the high word, session id in the low one: sorted by alliance, then session id.
  TVector<std::uint64_t> values;
  for (const TDedicatedUser* client : session->GetClients()) {
    if (client->IsSpectator()) continue;
    const TDedicatedPropertyValue* alliance = client->GetUserVariable("PlayerAlliance");
    if (alliance == nullptr) continue;
    const std::int32_t number = ToInteger(alliance->GetValue());
    if (number < 0) continue;
    values.PushBack((static_cast<std::uint64_t>(number) << 32) | client->GetUserSessionId());
  }
  TRankIndexMap ranks;
  TVector<std::uint32_t> ids;
  BuildRankIndex(values, ranks, ids);

  TNumberPairList numbers;
  for (TDedicatedUser* client : session->GetClients()) {
    if (client->IsSpectator()) continue;
    const auto* rank = ranks.Find(client->GetUserSessionId());
    if (rank == nullptr) continue;
    client->SetPlayerNumber(static_cast<std::int32_t>(rank->value));
    numbers.PushBack(TNumberPair{client->GetUserSessionId(), rank->value});
  }

  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr) return;
  // A failed send is logged by the sender; the others still get the list.
  for (TDedicatedUser* client : session->GetClients()) {
    SendPacket(task->GetClientFramer(), client->GetConnection(), kChannelPlayerNumbers, numbers);
  }
}

}  // namespace Orvan::Dedicated
