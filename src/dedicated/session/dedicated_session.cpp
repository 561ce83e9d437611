// The game session's life: construction, start-up, the player limit and the properties derived
// from others, the match-making link's events and the clients logging in.
#include "dedicated/session/dedicated_session.h"

#include <cstring>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/legacy_number_conversion.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/operation_kill_connection_with_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/program/main_server_task.h"
#include "network/database/operation_on_database.h"
#include "network/database/statistics_request.h"
#include "network/files/spooled_save_file_writer.h"
#include "network/logging/network_hooks.h"
#include "network/packets/buffer_io.h"
#include "network/packets/mms_messages.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"

namespace Orvan::Dedicated {

namespace {

// The line between the blocks of the start-up log.
const char kSeparator[] = "---------------------------------------------------";
static_assert(sizeof(kSeparator) == 52, "the separator is 51 dashes");

void LogInformation(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }
void LogWarning(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogWarning, text); }

// The statistics of a player being admitted are given this long.
constexpr double kStatisticsTimeOutMilliseconds = 3600000.0;

const char kWaitRefused[] = "Failed to apply a wait client message in slave mode (reason : ";

}  // namespace

TDedicatedSession::TDedicatedSession(const char* protocolVersion, std::uint32_t gameId)
    : pendingClients_(new TPendingClientSet), protocolVersion_(protocolVersion), gameId_(gameId) {}

TDedicatedSession::~TDedicatedSession() {
  DeleteStateManager();
  delete replayWriter_;
  replayWriter_ = nullptr;
  delete propertyTable_;
  propertyTable_ = nullptr;
  delete pendingClients_;
  pendingClients_ = nullptr;
  admins_.Clear();
}

void TDedicatedSession::Initialize() {
  propertyTable_ = new TDedicatedPropertyTable(this);

  LogInformation(kSeparator);
  LogInformation("Initializing Server Properties : ");
  RegisterServerProperties();

  LogInformation(kSeparator);
  LogInformation("Overriding Server Properties from variables.ini file : ");
  LoadVariablesIni();
  // A version forced on the command line wins over the file.
  const TMainServerTask* task = TMainServerTask::GetInstance();
  if (task != nullptr && !task->GetForcedVersion().IsEmpty()) {
    propertyTable_->SetVariable("Version", task->GetForcedVersion(), false, false, false, true);
  }

  LogInformation(kSeparator);
  LogInformation("Retrieving admin list from admins.ini file : ");
  LoadAdminsIni();

  LogInformation(kSeparator);
  LogInformation("Initializing Server Protocol Property : " + protocolVersion_);
  propertyTable_->SetVariable("ServerProtocol", protocolVersion_, false, false, false, true);

  LogInformation(kSeparator);
  SetNbMaxPlayer(ConvertDecimalToU32(propertyTable_->GetValue("NbMaxPlayer").c_str()), false, false, false, true);
  UpdateNeedPassword();
  withHost_ = ConvertDecimalToU32(propertyTable_->GetValue("WithHost").c_str()) != 0;
  if (ConvertDecimalToU32(propertyTable_->GetValue("NbPlayer").c_str()) != 0) {
    propertyTable_->SetVariable("NbPlayer", "0", false, false, false, true);
  }
  if (task != nullptr && task->IsSlave()) {
    // A slave hosts only the clients the match-making server announces, one hosted game at a time.
    admissionOpen_ = false;
    if (ConvertDecimalToU32(propertyTable_->GetValue("WithHost").c_str()) == 0) {
      propertyTable_->SetVariable("WithHost", "1", false, false, false, true);
      withHost_ = true;
    }
  }
  CreateStateManager();
  // TimeLeft changes every second of a phase: too often for the log.
  propertyTable_->DisableLogging("TimeLeft");
}

void TDedicatedSession::SetNbMaxPlayer(std::uint32_t value, bool anyClient, bool host, bool admin, bool force) {
  if (propertyTable_ == nullptr) return;
  const TDedicatedPropertyValue* property = propertyTable_->GetVariable("NbMaxPlayer");
  if (property == nullptr || !property->IsChangeAllowed(anyClient, host, admin, force)) return;
  const std::uint32_t limit = value == 0 || value > kMaxPlayerLimit ? kMaxPlayerLimit : value;
  if (limit == playerLimit_) return;
  playerLimit_ = limit;
  if (limit < clients_.Size()) {
    // The last admitted go. A disconnect that ends the game kicks others on its way, so each is
    // looked up again, by id, when its turn comes.
    std::vector<Network::OrvNetId> beyond;
    for (std::uint32_t i = limit; i < clients_.Size(); ++i) beyond.push_back(clients_[i]->GetNetworkId());
    for (const Network::OrvNetId& id : beyond) {
      if (TDedicatedUser* user = FindClientById(id)) user->Disconnect(ClientDisconnectReason::Kicked);
    }
  }
  propertyTable_->SetVariable("NbMaxPlayer", TOrvString<char>(std::to_string(limit)), anyClient, host, admin, force);
}

void TDedicatedSession::UpdateNeedPassword() {
  if (propertyTable_ == nullptr) return;
  const bool needed = !propertyTable_->GetValue("Password").IsEmpty();
  propertyTable_->SetVariable("NeedPassword", needed ? "1" : "0", false, false, false, true);
}

void TDedicatedSession::Update() {
  TTimeStamp now;
  GetTimeStamp(now);
  pendingClients_->DisconnectTimedOut(now);
  if (stateManager_ != nullptr) stateManager_->Update();
  GetTimeStamp(now);
  if (IsGameRunning()) {
    if (!recording_) StartReplayRecording(now);
    // One tick per step at most: a late server catches up one tick per step.
    if (GetElapsedMilliseconds(recordingStart_, now) > tickCounter_ * kTickMilliseconds) RecordTick();
  } else if (recording_) {
    SaveReplay(now);
  }
  NotifyServerAvailable();
  PingClients();
  EnforceClientLimits(now);
}

double TDedicatedSession::GetMillisecondsToNextTick(TTimeStamp now) const {
  if (!recording_) return -1.0;
  const double left = tickCounter_ * kTickMilliseconds - GetElapsedMilliseconds(recordingStart_, now);
  return left > 0.0 ? left : 0.0;
}

bool TDedicatedSession::IsGameLaunchAllowed() const {
  const TMainServerTask* task = TMainServerTask::GetInstance();
  return task == nullptr || task->IsMatchMakingLinkReady();
}

bool TDedicatedSession::CanExit() const { return stateManager_ == nullptr || stateManager_->CanExit(); }

void TDedicatedSession::OnExitRequested() {
  if (exiting_) return;
  exiting_ = true;
  if (stateManager_ != nullptr) stateManager_->PostEvent(nullptr, kStateEventExitRequested);
}

void TDedicatedSession::OnMatchMakingLinkChanged(bool up) {
  const TMainServerTask* task = TMainServerTask::GetInstance();
  if (up) {
    // A slave opens the query only once it hosts a session.
    const bool slaveHostingNobody = task != nullptr && task->IsSlave() && GetAdmittedClientCount() == 0;
    if (!slaveHostingNobody && propertyTable_ != nullptr) propertyTable_->StartReporting();
  } else if (propertyTable_ != nullptr) {
    propertyTable_->StopReporting();
  }
  ClosePendingClients();
  // The closed clients no longer count.
  PublishClientCount();
}

void TDedicatedSession::OnGameInfoUpdated() {
  // The match-making phase then drops the clients of another version.
  if (stateManager_ != nullptr) stateManager_->PostEvent(nullptr, kStateEventGameInfoChanged);
}

void TDedicatedSession::OnWaitClientMessage(const Network::OrvNetId& clientId, std::uint32_t playerLimit) {
  if (admissionOpen_) {
    LogWarning(TOrvString<char>(kWaitRefused) + "dedicated server is currently accepting anybody)");
    return;
  }
  if (awaitedClient_.IsValid()) {
    LogWarning(TOrvString<char>(kWaitRefused) + "dedicated server is currently waiting client with id " +
               awaitedClient_.ToString() + ")");
    return;
  }
  if (!clientId.IsClientId()) {
    LogWarning(TOrvString<char>(kWaitRefused) + "received client id is not a valid id)");
    return;
  }
  LogInformation("Waiting client with id " + clientId.ToString() + " to join hosted session");
  admissionOpen_ = true;
  awaitedClient_ = clientId;
  GetTimeStamp(awaitedSince_);
  SetNbMaxPlayer(playerLimit, false, false, false, true);
}

void TDedicatedSession::OnClientValidation(const Network::TMmsValidatePlayerAnswer& answer) {
  // A verdict answers one request: it reaches the connection that sent it, never another with the
  // same id, and nothing when that connection has left or the request was answered already (a
  // second verdict must not start a second statistics batch).
  TUserWaitingForLogin* pendingClient = pendingClients_->TakeVerdict(Network::OrvNetId::FromValue(answer.id));
  if (pendingClient == nullptr || pendingClient->GetState() != PendingClientState::WaitingForVerdict) return;
  const TOrvString<char> who = "Validation for client " + pendingClient->GetClientId().ToString() + " with IP " +
                               pendingClient->GetAddressText() + " failed (reason : ";
  switch (answer.verdict) {
    case 0: {
      pendingClient->SetState(PendingClientState::FetchingStatistics);
      TMainServerTask* task = TMainServerTask::GetInstance();
      if (task == nullptr) return;
      auto* operation = new Network::TOperationOnDatabase(task->GetOperationManager(), task->GetDatabaseAccesser(),
                                                          pendingClient, kStatisticsTimeOutMilliseconds);
      const std::uint64_t id = answer.id;
      operation->AddRequest(new Network::TDbRequestGetStatistics(TOrvString<char>(), 0, id, 0));
      operation->AddRequest(new Network::TDbRequestGetStatistics(TOrvString<char>(), gameId_, id, 0));
      // A refused launch has deleted the operation, but not its requests, and left the client to
      // its login time-out.
      const std::vector<Network::IGenericDbStruct*> requests = CopyRequests(*operation);
      pendingClient->SetStatsOperation(operation);
      if (operation->Launch() == -1) {
        if (pendingClient->GetStatsOperation() == operation) pendingClient->SetStatsOperation(nullptr);
        DeleteRequests(requests);
      }
      return;
    }
    case 1:
      LogPending(pendingClient, Network::kNetworkLogInformation, who + "invalid ticket) -> Disconnected");
      RejectPendingClient(pendingClient, ClientDisconnectReason::InvalidTicket, true);
      return;
    case 2:
      LogPending(pendingClient, Network::kNetworkLogInformation,
                 who + "client is not connected to match making server) -> Disconnected");
      RejectPendingClient(pendingClient, ClientDisconnectReason::ConnectionLost, true);
      return;
    default:
      LogPending(pendingClient, Network::kNetworkLogError, who + "match making server sent invalid reason) -> Disconnected");
      RejectPendingClient(pendingClient, ClientDisconnectReason::Failed, true);
      return;
  }
}

void TDedicatedSession::ClosePendingClients() { pendingClients_->CloseAll(); }

std::uint32_t TDedicatedSession::GetClientCount() const {
  return pendingClients_->GetIdentifiedCount() + GetAdmittedClientCount();
}

bool TDedicatedSession::IsVersionAccepted(const TOrvString<char>& clientVersion) const {
  if (clientVersion.IsEmpty() || propertyTable_ == nullptr || !propertyTable_->HasVariable("Version")) return false;
  const TOrvString<char> version = propertyTable_->GetValue("Version");
  const TMainServerTask* task = TMainServerTask::GetInstance();
  if (task != nullptr && task->AreAllGameVersionsAllowed() && version == "0") return true;
  return version == clientVersion;
}

void TDedicatedSession::PublishClientCount() {
  if (propertyTable_ == nullptr) return;
  propertyTable_->SetVariable("NbPlayer", TOrvString<char>(std::to_string(GetClientCount())), false, false, false,
                              true);
}

void TDedicatedSession::RemovePendingClient(TUserWaitingForLogin* pendingClient, bool updateCount) {
  pendingClients_->Remove(pendingClient);
  if (updateCount) PublishClientCount();
}

void TDedicatedSession::OnNewConnection(Network::TBufferEventSocket* socket, const sockaddr_storage& address,
                                        bool quiet) {
  // An unidentified connection holds no player slot: room is checked when it identifies.
  auto* pendingClient = new TUserWaitingForLogin(socket, address);
  pendingClient->SetQuiet(quiet);
  if (pendingClients_->GetUnidentifiedCount() >= kMaxUnidentifiedClients) CloseOldestUnidentified();
  if (!pendingClients_->Add(pendingClient)) {
    RejectPendingClient(pendingClient, ClientDisconnectReason::PendingClientListFull, false);
    return;
  }
  if (socket != nullptr) {
    Network::TSocketInterfaceManagerForLibEvent* manager = socket->GetManager();
    manager->SetCallbackForBufferEvent(socket, true, false, &OnPendingClientReadable);
    manager->SetEventCallbackForBufferEvent(socket, &OnPendingClientEvent);
    manager->SetUserDataForBufferEvent(socket, pendingClient);
  }
  PublishClientCount();
}

bool TDedicatedSession::OnPendingClientPacket(Network::IStreamInterface* socket, TUserWaitingForLogin* pendingClient,
                                              ClientDisconnectReason& reason) {
  reason = ClientDisconnectReason::Success;
  const TOrvString<char> ip = pendingClient->GetAddressText();
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr) return false;
  Network::TPacketHelperBase* framer = task->GetClientFramer();
  std::uint16_t received = 0;
  if (!framer->ReceivePacket(socket, pendingClient->PendingFrameLength(), received)) {
    LogPending(pendingClient, Network::kNetworkLogInformation,
               "Failed to receive a packet from pending client with IP " + ip + " -> Disconnected");
    reason = ClientDisconnectReason::ConnectionLost;
    // Nothing more can be said to it.
    pendingClient->SetCloseAtOnce();
    return false;
  }
  if (received == 0) return false;

  const std::uint8_t* body = framer->GetReceiveBuffer();
  const std::uint8_t channel = body[0];
  if (channel != kChannelInitConnection) {
    LogPending(pendingClient, Network::kNetworkLogWarning,
               "Drop packet from pending client with IP " + ip + " (reason : invalid channel, channel " +
                   TOrvString<char>(std::to_string(channel)) + ")");
    reason = ClientDisconnectReason::Failed;
    return true;
  }
  if (pendingClient->GetState() != PendingClientState::WaitingForIdentification) {
    LogPending(pendingClient, Network::kNetworkLogWarning,
               "Client with id " + pendingClient->GetClientId().ToString() + " and IP " + ip +
                   " sent packet while waiting ticket validation -> Disconnected");
    reason = ClientDisconnectReason::Refused;
    return true;
  }
  TClientConnectPacket packet;
  Network::TFixedBufferReader reader(body + 1, static_cast<std::uint32_t>(received) - 1);
  if (!ReadClientConnectPacket(reader, packet)) {
    LogPending(pendingClient, Network::kNetworkLogWarning,
               "Drop packet from pending client with IP " + ip +
                   " (reason : decode packet failed, channel : NETWORK_CHANNEL_DEDICATED_INIT_CONN)");
    reason = ClientDisconnectReason::Failed;
    return true;
  }
  if (!HasRoom()) {
    reason = ClientDisconnectReason::Full;
    return true;
  }
  if (!packet.playerId.IsValid() || !packet.playerId.IsClientId()) {
    reason = ClientDisconnectReason::IncorrectIdentification;
    return true;
  }
  if (!IsVersionAccepted(packet.version)) {
    reason = ClientDisconnectReason::IncorrectVersion;
    return true;
  }
  if (propertyTable_ != nullptr && propertyTable_->GetValue("NeedPassword") != "0" &&
      packet.password != propertyTable_->GetValue("Password")) {
    reason = packet.password.IsEmpty() ? ClientDisconnectReason::DedicatedServerNeedPassword
                                       : ClientDisconnectReason::DedicatedServerInvalidPassword;
    return true;
  }
  // One pending connection per id: a second one would wait for a verdict meant for the first.
  if (pendingClients_->IsIdTaken(packet.playerId) || FindClientById(packet.playerId) != nullptr) {
    reason = ClientDisconnectReason::AlreadyInSession;
    return true;
  }
  TTimeStamp now;
  GetTimeStamp(now);
  if (!pendingClients_->TakeIdentification(pendingClient->GetAddress(), now)) {
    LogPending(pendingClient, Network::kNetworkLogWarning,
               "Identification of client " + packet.playerId.ToString() + " with IP " + ip +
                   " not forwarded (reason : more than " +
                   TOrvString<char>(std::to_string(static_cast<std::uint32_t>(kIdentificationsPerSecondPerSource))) +
                   " identifications a second from its address) -> Disconnected");
    reason = ClientDisconnectReason::NotAvailable;
    pendingClient->SetCloseAtOnce();
    return true;
  }
  pendingClient->SetClientId(packet.playerId);
  pendingClient->SetState(PendingClientState::WaitingForVerdict);
  pendingClient->SetClientVersion(packet.version);
  pendingClient->SetAskFlag(packet.ask);
  OnPendingClientIdentified(pendingClient);
  Network::TMmsValidatePlayerMessage validation;
  validation.id = packet.playerId.GetValue();
  std::memcpy(validation.loginData, packet.loginData, sizeof(validation.loginData));
  if (!task->SendClientValidationRequest(validation)) {
    LogPending(pendingClient, Network::kNetworkLogWarning,
               "Failed to send validation packet to pending client " + packet.playerId.ToString() + " with IP " + ip +
                   " -> Disconnected");
    reason = ClientDisconnectReason::Failed;
  } else {
    pendingClients_->NoteValidationRequest(pendingClient, now);
  }
  return true;
}

void TDedicatedSession::CloseOldestUnidentified() {
  TUserWaitingForLogin* oldest = pendingClients_->GetOldestUnidentified();
  if (oldest == nullptr) return;
  if (oldest->IsQuiet()) {
    TTimeStamp now;
    GetTimeStamp(now);
    pendingClients_->GetLog().CountEnd(oldest->GetAddress(), kClosedAsOldestUnidentified, now);
  } else {
    LogInformation("Closing pending client with IP " + oldest->GetAddressText() + ": the oldest of " +
                   TOrvString<char>(std::to_string(kMaxUnidentifiedClients)) +
                   " connections that have not identified themselves, to make room");
  }
  // It holds no player slot: NbPlayer does not change.
  RemovePendingClient(oldest, false);
  oldest->Close();
  delete oldest;
}

void TDedicatedSession::LogPending(const TUserWaitingForLogin* pendingClient, std::int32_t level,
                                   const TOrvString<char>& text) {
  if (!pendingClient->IsQuiet()) Network::NetworkLog(level, text);
}

void TDedicatedSession::OnPendingClientIdentified(TUserWaitingForLogin* pendingClient) {
  pendingClients_->MarkIdentified(pendingClient);
  PublishClientCount();
}

void TDedicatedSession::RejectPendingClient(TUserWaitingForLogin* pendingClient, ClientDisconnectReason reason,
                                            bool updateCount) {
  if (pendingClient->IsQuiet()) {
    TTimeStamp now;
    GetTimeStamp(now);
    pendingClients_->GetLog().CountEnd(pendingClient->GetAddress(), GetClientDisconnectReasonName(reason), now);
  } else {
    LogInformation("Rejecting pending client with IP " + pendingClient->GetAddressText() + " (reason : " +
                   GetClientDisconnectReasonName(reason) + ")");
  }
  RemovePendingClient(pendingClient, updateCount);
  // Refused now, whatever its statistics do later: only the connection is left to the kill.
  pendingClient->CloseStatistics();
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr || pendingClient->ClosesAtOnce()) {
    pendingClient->Close();
    delete pendingClient;
    return;
  }
  (new TOperationKillConnectionWithUser(task->GetOperationManager(), pendingClient, reason))->Launch();
}

void TDedicatedSession::OnPendingConnectionEvent(TUserWaitingForLogin* pendingClient,
                                                 const TOrvString<char>& eventText) {
  LogPending(pendingClient, Network::kNetworkLogInformation,
             "Pending client connection failed -> " + eventText + " (IP : " + pendingClient->GetAddressText() + ")");
  // The connection has failed or ended: the last packet could not reach the client, and waiting
  // for its close would only hold the descriptor.
  pendingClient->SetCloseAtOnce();
  RejectPendingClient(pendingClient, ClientDisconnectReason::ConnectionLost, true);
}

void TDedicatedSession::OnPendingClientReadable(bufferevent* /*bufferEvent*/, void* pendingClient) {
  TMainServerTask* task = TMainServerTask::GetInstance();
  TDedicatedSession* session = task != nullptr ? task->GetSession() : nullptr;
  auto* waiter = static_cast<TUserWaitingForLogin*>(pendingClient);
  if (session == nullptr) return;
  ClientDisconnectReason reason = ClientDisconnectReason::Success;
  // Every whole frame that arrived, until one refuses the client.
  while (session->OnPendingClientPacket(waiter->GetConnection(), waiter, reason) &&
         reason == ClientDisconnectReason::Success) {
  }
  if (reason != ClientDisconnectReason::Success) session->RejectPendingClient(waiter, reason, true);
}

void TDedicatedSession::OnPendingClientEvent(bufferevent* bufferEvent, short events, void* pendingClient) {
  TMainServerTask* task = TMainServerTask::GetInstance();
  TDedicatedSession* session = task != nullptr ? task->GetSession() : nullptr;
  if (session == nullptr) return;
  session->OnPendingConnectionEvent(static_cast<TUserWaitingForLogin*>(pendingClient),
                                    Network::BufferEventErrorToString(bufferEvent, events));
}

void TDedicatedSession::OnClientReadable(bufferevent* /*bufferEvent*/, void* user) {
  TMainServerTask* task = TMainServerTask::GetInstance();
  TDedicatedSession* session = task != nullptr ? task->GetSession() : nullptr;
  if (session != nullptr) session->OnClientPacket(static_cast<TDedicatedUser*>(user));
}

void TDedicatedSession::OnClientEvent(bufferevent* bufferEvent, short events, void* user) {
  TMainServerTask* task = TMainServerTask::GetInstance();
  TDedicatedSession* session = task != nullptr ? task->GetSession() : nullptr;
  if (session == nullptr) return;
  session->OnClientNetworkError(static_cast<TDedicatedUser*>(user),
                                Network::BufferEventErrorToString(bufferEvent, events));
}

void TDedicatedSession::NotifyServerAvailable() {
  if (!awaitedClient_.IsValid()) return;
  TTimeStamp now;
  GetTimeStamp(now);
  if (GetElapsedSeconds(awaitedSince_, now) <= kAwaitedClientTimeOutSeconds) return;
  LogInformation("Client with id " + awaitedClient_.ToString() + " did not connect in " +
                 TOrvString<char>(std::to_string(static_cast<unsigned>(kAwaitedClientTimeOutSeconds))) +
                 " second : server is ready to host other session");
  awaitedClient_.Invalidate();
  admissionOpen_ = false;
  awaitedSince_ = kNotAwaiting;
  if (!SendServerAvailable()) {
    LogWarning("Failed to inform mms that server is available");
    return;
  }
  if (propertyTable_ != nullptr) propertyTable_->StopReporting();
}

}  // namespace Orvan::Dedicated
