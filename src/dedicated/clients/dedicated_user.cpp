// An admitted client: its variables, connection, ping and the way it leaves.
#include "dedicated/clients/dedicated_user.h"

#include <string>

#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user_stats_manager.h"
#include "dedicated/game/user_action_buffer.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/control_character_escape.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/rate_limit_group.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

namespace {

// The largest round trip a u32 holds; a measure beyond it (or before the stamp) saturates.
constexpr double kLongestPingMilliseconds = 4294967295.0;

std::uint32_t MillisecondsToPing(double milliseconds) {
  if (!(milliseconds > 0.0)) return 0;
  if (milliseconds >= kLongestPingMilliseconds) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(milliseconds);
}

}  // namespace

TDedicatedUser::TDedicatedUser(std::uint32_t userSessionId, const Network::OrvNetId& networkId,
                               TDedicatedSession* session, Network::TBufferEventSocket* connection,
                               const sockaddr_storage& address)
    : statsManager_(new TDedicatedUserStatsManager(this)),
      userSessionId_(userSessionId),
      networkId_(networkId),
      connection_(connection),
      address_(address),
      session_(session),
      actionBuffer_(new TUserActionBuffer(this)) {}

TDedicatedUser::~TDedicatedUser() {
  // The statistics first: their answers must not reach a user being taken apart.
  delete statsManager_;
  statsManager_ = nullptr;
  CloseConnection();
  delete actionBuffer_;
  actionBuffer_ = nullptr;
  for (auto& entry : variables_) delete entry.value;
  variables_.Clear();
}

void TDedicatedUser::RegisterUserVariables() {
  TDedicatedPropertyValue* userId = GetUserVariable("PlayerUserId");
  if (userId != nullptr) userId->SetValue(networkId_.ToString(), false, false, false, true);
}

void TDedicatedUser::DeclareUserVariable(const TOrvString<char>& name, TDedicatedPropertyValue* value) {
  TUserVariableMap::TEntryType* entry;
  if (variables_.FindOrInsert(name, &entry)) {
    ::new (static_cast<void*>(entry)) TUserVariableMap::TEntryType{name, value};
  } else if (entry->value != value) {
    delete entry->value;
    entry->value = value;
  }
}

TDedicatedPropertyValue* TDedicatedUser::GetUserVariable(const TOrvString<char>& name) const {
  const TUserVariableMap::TEntryType* entry = variables_.Find(name);
  return entry != nullptr ? entry->value : nullptr;
}

bool TDedicatedUser::SetUserVariable(const TOrvString<char>& name, const TOrvString<char>& value, bool anyClient,
                                     bool host, bool admin, bool force) {
  TDedicatedPropertyValue* variable = GetUserVariable(name);
  if (variable == nullptr || !variable->SetValue(value, anyClient, host, admin, force)) return false;
  Network::NetworkLog(Network::kNetworkLogInformation,
                      "Client " + networkId_.ToString() + " variable " + Network::EscapeControlCharacters(name) +
                          " set to \"" + Network::EscapeControlCharacters(value) + "\"");
  if (published_ && session_ != nullptr) session_->OnPlayerVariableChanged(this, name, value);
  return true;
}

void TDedicatedUser::SetRequestState(std::uint32_t stateId) {
  Network::NetworkLog(Network::kNetworkLogInformation, "Client " + networkId_.ToString() + " set request state to " +
                                                           TOrvString<char>(std::to_string(stateId)));
  requestState_ = stateId;
}

bool TDedicatedUser::IsConnected() const { return connection_ != nullptr && !connection_->IsClosed(); }

void TDedicatedUser::CloseConnection() {
  if (connection_ == nullptr) return;
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task != nullptr && task->GetRateLimitGroup() != nullptr) task->GetRateLimitGroup()->RemoveSocket(connection_);
  // Close leaves the socket manager too.
  connection_->Close();
  delete connection_;
  connection_ = nullptr;
}

void TDedicatedUser::Disconnect(ClientDisconnectReason reason) {
  TTimeStamp now;
  ReportDrops(GetTimeStamp(now), true);
  Network::NetworkLog(Network::kNetworkLogInformation, "Disconnecting client " + networkId_.ToString() + " with IP " +
                                                           GetAddressText() +
                                                           " (reason : " + GetClientDisconnectReasonName(reason) + ")");
  statsManager_->Cancel();
  if (session_ != nullptr) session_->RemoveClient(this);
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (reason == ClientDisconnectReason::ConnectionLost || reason == ClientDisconnectReason::UserDiconnectRequest ||
      task == nullptr) {
    CloseConnection();
    delete this;
    return;
  }
  // From the launch on the kill owns this user, also when it refuses to start.
  (new TOperationKillConnectionWithUser(task->GetOperationManager(), this, reason))->Launch();
}

bool TDedicatedUser::AdmitChatLine(TTimeStamp now) {
  std::uint32_t ended = 0;
  if (chatRate_.Admit(now, ended)) return true;
  if (ended != 0) LogDrops(ended, "chat lines");
  return false;
}

bool TDedicatedUser::AdmitRequest(TTimeStamp now) {
  std::uint32_t ended = 0;
  if (requestRate_.Admit(now, ended)) return true;
  if (ended != 0) LogDrops(ended, "requests");
  return false;
}

void TDedicatedUser::ReportDrops(TTimeStamp now, bool last) {
  const std::uint32_t chat = last ? chatRate_.TakeAllDrops() : chatRate_.TakeEndedDrops(now);
  if (chat != 0) LogDrops(chat, "chat lines");
  const std::uint32_t requests = last ? requestRate_.TakeAllDrops() : requestRate_.TakeEndedDrops(now);
  if (requests != 0) LogDrops(requests, "requests");
}

void TDedicatedUser::LogDrops(std::uint32_t count, const char* what) const {
  Network::NetworkLog(Network::kNetworkLogWarning, "Dropped " + TOrvString<char>(std::to_string(count)) + " " +
                                                       what + " of client " + networkId_.ToString() +
                                                       " (more than 5 a second)");
}

std::size_t TDedicatedUser::GetQueuedSize() const {
  return connection_ != nullptr ? connection_->GetQueuedSize() : 0;
}

std::uint32_t TDedicatedUser::NextPingId() {
  pingPending_ = true;
  return ++pingId_;
}

void TDedicatedUser::ResetPing() {
  pingPending_ = false;
  ping_ = kPingNotMeasured;
}

void TDedicatedUser::OnPingAnswer(std::uint32_t pingId, TTimeStamp sentTime) {
  if (!pingPending_ || pingId != pingId_) return;
  TTimeStamp now;
  GetTimeStamp(now);
  ping_ = MillisecondsToPing(GetElapsedMilliseconds(sentTime, now));
  pingPending_ = false;
}

TOrvString<char> TDedicatedUser::GetAddressText() const {
  return Network::SockAddrToString(reinterpret_cast<const sockaddr*>(&address_));
}

}  // namespace Orvan::Dedicated
