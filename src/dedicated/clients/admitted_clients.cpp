// The admitted clients: admission of a client whose statistics arrived, what every client is sent
// about the others, the properties and the player variables, the ping cycle, and removal.
#include <ctime>
#include <string>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/client_packet_sending.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/dedicated_user_stats_manager.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"

namespace Orvan::Dedicated {

namespace {

// A launch countdown with fewer seconds than this left admits nobody.
constexpr std::uint32_t kLastAdmissionSeconds = 5;

void LogInformation(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }
void LogWarning(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogWarning, text); }

TOrvString<char> Decimal(std::uint64_t value) { return TOrvString<char>(std::to_string(value)); }

// A failed send is logged by the sender and changes nothing else: the client's connection reports
// its own end.
template <typename TBody>
void SendTo(const TDedicatedUser* user, std::uint8_t channel, const TBody& body) {
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr) return;
  SendPacket(task->GetClientFramer(), user->GetConnection(), channel, body);
}

template <typename TBody>
void SendToEveryClient(const TVector<TDedicatedUser*>& clients, std::uint8_t channel, const TBody& body) {
  for (const TDedicatedUser* client : clients) SendTo(client, channel, body);
}

TClientEvent MakeClientEvent(ClientEventKind kind, const TDedicatedUser* subject, bool flag) {
  TClientEvent event;
  event.kind = kind;
  event.playerId = subject->GetNetworkId();
  event.flag = flag;
  event.userSessionId = subject->GetUserSessionId();
  return event;
}

// Join events carry the subject's spectator flag; ready, left and host events carry 0.
TClientEvent JoinEvent(const TDedicatedUser* subject) {
  return MakeClientEvent(ClientEventKind::Joined, subject, subject->IsSpectator());
}
TClientEvent ReadyEvent(const TDedicatedUser* subject) { return MakeClientEvent(ClientEventKind::Ready, subject, false); }
TClientEvent LeftEvent(const TDedicatedUser* subject) { return MakeClientEvent(ClientEventKind::Left, subject, false); }
TClientEvent HostEvent(const TDedicatedUser* subject) { return MakeClientEvent(ClientEventKind::Host, subject, false); }

// Every player variable of `owner` that has a value, in declaration order.
void SendVariables(const TDedicatedUser* recipient, const TDedicatedUser* owner) {
  for (const auto& entry : owner->GetUserVariables()) {
    if (entry.value == nullptr) continue;
    SendTo(recipient, kChannelPlayerVariable,
           TPlayerVariablePacket{owner->GetUserSessionId(), entry.key, entry.value->GetValue()});
  }
}

// Whether "+force_game_version" fixed the version for the life of the process.
bool IsVersionForced() {
  const TMainServerTask* task = TMainServerTask::GetInstance();
  return task != nullptr && !task->GetForcedVersion().IsEmpty();
}

// Whether each session takes the version of its first player: every version allowed, none forced.
bool FollowsFirstPlayerVersion() {
  const TMainServerTask* task = TMainServerTask::GetInstance();
  return task != nullptr && task->AreAllGameVersionsAllowed() && !IsVersionForced();
}

bool IsSlave() {
  const TMainServerTask* task = TMainServerTask::GetInstance();
  return task != nullptr && task->IsSlave();
}

}  // namespace

// Before the phase machine runs, the session counts as in match making.
std::uint32_t TDedicatedSession::GetCurrentStateId() const {
  return stateManager_ != nullptr ? stateManager_->GetCurrentStateId() : kMatchMakingStateId;
}

bool TDedicatedSession::IsInMatchMaking() { return IsMatchMakingState(GetCurrentStateId()); }

void TDedicatedSession::SetBan(const Network::OrvNetId& clientId, std::int64_t end) {
  TKeyValueEntry<Network::OrvNetId, std::int64_t>* entry;
  if (bans_.FindOrInsert(clientId, &entry)) {
    ::new (static_cast<void*>(entry)) TKeyValueEntry<Network::OrvNetId, std::int64_t>{clientId, end};
  } else {
    entry->value = end;
  }
}

void TDedicatedSession::OnPendingClientStats(TUserWaitingForLogin* pendingClient, bool failed,
                                             const TUserStatisticsDocuments& statistics) {
  if (failed) {
    LogWarning("Failed to get stats for pending client " + pendingClient->GetClientId().ToString());
    RejectPendingClient(pendingClient, ClientDisconnectReason::Failed, true);
    return;
  }
  ClientDisconnectReason reason = ClientDisconnectReason::Failed;
  if (!AddClient(pendingClient, statistics, reason)) {
    RejectPendingClient(pendingClient, reason, true);
    return;
  }
  // The user owns the connection now.
  RemovePendingClient(pendingClient, true);
  pendingClient->ReleaseConnection();
  pendingClient->Close();
  delete pendingClient;
}

bool TDedicatedSession::AddClient(TUserWaitingForLogin* pendingClient, const TUserStatisticsDocuments& statistics,
                                  ClientDisconnectReason& reason) {
  const Network::OrvNetId id = pendingClient->GetClientId();
  if (!id.IsValid() || !id.IsClientId()) {
    reason = ClientDisconnectReason::ConnectionLost;
    return false;
  }
  if (const auto* ban = bans_.Find(id)) {
    if (ban->value == 0 || ban->value >= static_cast<std::int64_t>(std::time(nullptr))) {
      reason = ClientDisconnectReason::BannedFromDedicatedServer;
      return false;
    }
    bans_.Erase(id);
  }
  if (!IsVersionAccepted(pendingClient->GetClientVersion())) {
    reason = ClientDisconnectReason::IncorrectVersion;
    return false;
  }
  if (FindClientById(id) != nullptr) {
    reason = ClientDisconnectReason::AlreadyInSession;
    return false;
  }
  const bool slave = IsSlave();
  if (slave) {
    if (!admissionOpen_ || (awaitedClient_.IsValid() && awaitedClient_ != id)) {
      reason = ClientDisconnectReason::NotAvailable;
      return false;
    }
    if (pendingClient->GetAskFlag()) {
      for (const TDedicatedUser* client : clients_) {
        if (!client->IsSpectator()) {
          reason = ClientDisconnectReason::Refused;
          return false;
        }
      }
    }
  }
  // A launch a few seconds away takes nobody new.
  if (IsInMatchMaking() && stateManager_ != nullptr && stateManager_->GetCurrentTimeLeft() < kLastAdmissionSeconds) {
    reason = ClientDisconnectReason::NotAvailable;
    return false;
  }

  const TMainServerTask* task = TMainServerTask::GetInstance();
  if (slave && task != nullptr && task->IsMatchMakingLinkReady() && awaitedClient_.IsValid() &&
      propertyTable_ != nullptr) {
    propertyTable_->StartReporting();
  }
  awaitedClient_.Invalidate();
  awaitedSince_ = kNotAwaiting;

  Network::TBufferEventSocket* connection = pendingClient->GetConnection();
  const std::uint32_t userSessionId = nextUserNumber_;
  LogInformation("Client added in session (OrvNetId : " + id.ToString() + ", UserSessionId : " +
                 Decimal(userSessionId) + ", socket : " +
                 TOrvString<char>(std::to_string(connection != nullptr ? connection->GetDescriptor() : -1)) +
                 ", IP : " + pendingClient->GetAddressText() + ")");
  TDedicatedUser* user = CreateUser(userSessionId, id, connection, pendingClient->GetAddress(), statistics);
  if (user == nullptr) return false;
  const bool inMatchMaking = IsInMatchMaking();
  user->SetSpectator(!inMatchMaking);
  user->SetVersion(pendingClient->GetClientVersion());
  // A frame whose head the client sent while it was logging in goes on where it stopped.
  user->PendingFrameLength() = pendingClient->PendingFrameLength();
  if (clients_.IsEmpty()) {
    if (withHost_) user->SetHost(true);
    // A forced version stays: otherwise the last player leaving would open the server to every
    // version.
    if (FollowsFirstPlayerVersion() && propertyTable_ != nullptr) {
      propertyTable_->SetVariable("Version", user->GetVersion(), false, false, false, true);
    }
  }
  ++nextUserNumber_;
  clients_.PushBack(user);

  if (connection != nullptr) {
    Network::TSocketInterfaceManagerForLibEvent* manager = connection->GetManager();
    manager->SetCallbackForBufferEvent(connection, true, false, &OnClientReadable);
    manager->SetEventCallbackForBufferEvent(connection, &OnClientEvent);
    manager->SetUserDataForBufferEvent(connection, user);
    manager->SetTimeOutForBufferEvent(connection, kUserConnectionTimeOutSeconds);
  }

  SendTo(user, kChannelInitConnection, TAdmissionAnswer{userSessionId, user->IsSpectator(), GetCurrentStateId()});
  if (propertyTable_ != nullptr) {
    for (const auto& entry : propertyTable_->GetProperties()) {
      if (entry.value == nullptr || entry.value->IsHidden()) continue;
      SendTo(user, kChannelServerProperty, TServerPropertyPacket{entry.key, entry.value->GetValue()});
    }
  }
  SendTo(user, kChannelClientEvent, JoinEvent(user));
  for (const TDedicatedUser* other : clients_) {
    if (other == user) continue;
    SendTo(user, kChannelClientEvent, JoinEvent(other));
    SendTo(other, kChannelClientEvent, JoinEvent(user));
  }
  for (const TDedicatedUser* owner : clients_) SendVariables(user, owner);
  for (const TDedicatedUser* other : clients_) {
    if (other == user) continue;
    SendVariables(other, user);
    SendTo(other, kChannelClientEvent, ReadyEvent(user));
    SendTo(user, kChannelClientEvent, ReadyEvent(other));
  }
  if (withHost_) {
    for (const TDedicatedUser* client : clients_) {
      if (!client->IsHost()) continue;
      SendTo(user, kChannelClientEvent, HostEvent(client));
      break;
    }
  }
  SendTo(user, kChannelClientEvent, ReadyEvent(user));
  AssignAlliance(user);
  if (stateManager_ != nullptr) stateManager_->PostEvent(user, kStateEventClientAdded);
  return true;
}

void TDedicatedSession::RemoveClient(TDedicatedUser* user) {
  std::uint32_t index = 0;
  while (index < clients_.Size() && clients_[index] != user) ++index;
  if (index == clients_.Size()) return;
  clients_.EraseAt(index);
  PublishClientCount();
  if (recording_ && !user->IsSpectator() && user->GetPlayerNumber() != kNoPlayerNumber) {
    departedPlayers_.PushBack(static_cast<std::uint32_t>(user->GetPlayerNumber()));
  }

  if (!clients_.IsEmpty()) {
    SendToEveryClient(clients_, kChannelClientEvent, LeftEvent(user));
    if (user->IsHost()) {
      for (std::uint32_t i = clients_.Size(); i-- > 0;) {
        TDedicatedUser* heir = clients_[i];
        if (heir->IsSpectator()) continue;
        heir->SetHost(true);
        SendToEveryClient(clients_, kChannelClientEvent, HostEvent(heir));
        break;
      }
    }
  } else {
    if (FollowsFirstPlayerVersion() && propertyTable_ != nullptr) {
      propertyTable_->SetVariable("Version", "0", false, false, false, true);
    }
    if (IsSlave()) {
      admissionOpen_ = false;
      awaitedClient_.Invalidate();
      awaitedSince_ = kNotAwaiting;
      if (propertyTable_ != nullptr) propertyTable_->StopReporting();
      LogInformation("Server is ready to host new session");
      if (!SendServerAvailable()) LogWarning("Failed to inform mms that server is available");
    }
    nextUserNumber_ = 1;
  }
  if (stateManager_ == nullptr) return;
  // A game with no player left goes back to match making at once.
  if (NoPlayerLeft()) {
    stateManager_->ChangeState(CreateInitialState());
  } else {
    stateManager_->PostEvent(user, kStateEventClientRemoved);
  }
}

void TDedicatedSession::Shutdown() {
  // Each disconnect takes the user out of the clients, and may take others with it (the last
  // player gone ends the game, and leaving a phase kicks clients): always the first one left.
  while (!clients_.IsEmpty()) clients_[0]->Disconnect(ClientDisconnectReason::ConnectionLost);
}

TDedicatedUser* TDedicatedSession::FindClientById(const Network::OrvNetId& id) const {
  for (TDedicatedUser* client : clients_) {
    if (client->GetNetworkId() == id) return client;
  }
  return nullptr;
}

bool TDedicatedSession::NoPlayerLeft() {
  if (IsInMatchMaking()) return false;
  for (const TDedicatedUser* client : clients_) {
    if (client->IsConnected() && !client->IsSpectator()) return false;
  }
  return true;
}

void TDedicatedSession::PingClients() {
  TTimeStamp now;
  GetTimeStamp(now);
  if (lastPingCycle_ != 0 && GetElapsedMilliseconds(lastPingCycle_, now) < kPingCycleMilliseconds) return;
  lastPingCycle_ = now;
  for (TDedicatedUser* client : clients_) {
    if (client->IsPingPending()) client->ResetPing();
    const std::uint32_t pingId = client->NextPingId();
    SendTo(client, kChannelSystemMessage, TSystemMessage{kSystemCommandPingRequest, pingId});
    SendToEveryClient(clients_, kChannelPingTable, TPingTableEntry{client->GetNetworkId(), client->GetPing()});
  }
}

void TDedicatedSession::EndDatabaseWork() {
  // The accesser goes after this: no user's request may stay in it. The users stay: their later
  // requests fail at once until the link, and with it the database, is back.
  for (TDedicatedUser* client : clients_) client->GetStatsManager()->EndDatabaseWork("match making link lost");
}

bool TDedicatedSession::SendServerAvailable() {
  TMainServerTask* task = TMainServerTask::GetInstance();
  const Network::TMmsSlaveStatusMessage available{true};
  return task != nullptr &&
         SendPacket(task->GetMatchMakingFramer(), task->GetMatchMakingStream(), kMmsSlaveChannel, available);
}

void TDedicatedSession::OnPropertyChanged(const TOrvString<char>& name, const TOrvString<char>& value) {
  const TDedicatedPropertyValue* property = propertyTable_ != nullptr ? propertyTable_->GetVariable(name.c_str())
                                                                      : nullptr;
  if (property != nullptr && !property->IsHidden()) {
    SendToEveryClient(clients_, kChannelServerProperty, TServerPropertyPacket{name, value});
  }
  if (name == "Password") UpdateNeedPassword();
}

void TDedicatedSession::OnPlayerVariableChanged(TDedicatedUser* user, const TOrvString<char>& name,
                                                const TOrvString<char>& value) {
  SendToEveryClient(clients_, kChannelPlayerVariable, TPlayerVariablePacket{user->GetUserSessionId(), name, value});
}

void TDedicatedSession::SetSeed(std::uint32_t seed) {
  if (propertyTable_ == nullptr) return;
  const TOrvString<char> text = Decimal(seed);
  if (propertyTable_->SetVariable("Seed", text, false, false, false, true) != kPropertyChanged) return;
  // The change itself was sent with the table's own publication: clients get Seed twice.
  SendToEveryClient(clients_, kChannelServerProperty, TServerPropertyPacket{"Seed", text});
}

}  // namespace Orvan::Dedicated
