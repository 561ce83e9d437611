// The main task's link to the match-making server: one plain TCP connection opened by host name
// through a buffered-event socket, the init message that registers the server, the time-outs of
// the states before Ready, the link-up, the keep-alive and the drops that end the link.
#include <event2/util.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

#include "dedicated/clients/client_packet_sending.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/database/couchdb_database_accesser.h"
#include "network/logging/log_file_appender.h"
#include "network/logging/network_hooks.h"
#include "network/packets/buffer_io.h"
#include "network/packets/mms_messages.h"
#include "network/packets/packet_helper.h"
#include "network/packets/value_packing.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

namespace {

void LogLink(int level, const TOrvString<char>& text) { Network::NetworkLog(level, text); }

// The keep-alive's one byte ("B"), always 0.
struct TMmsKeepAliveMessage {
  std::uint8_t value = 0;
};

std::uint32_t WriteMatchMakingMessage(Network::IBufferWriter& writer,
                                      const Network::TMmsDedicatedInitMessage& message) {
  return Network::WriteMmsDedicatedInitMessage(writer, message);
}

std::uint32_t WriteMatchMakingMessage(Network::IBufferWriter& writer,
                                      const Network::TMmsValidatePlayerMessage& message) {
  return Network::WriteMmsValidatePlayerMessage(writer, message);
}

std::uint32_t WriteMatchMakingMessage(Network::IBufferWriter& writer, const TMmsKeepAliveMessage& message) {
  return Network::WriteUInt8(writer, message.value);
}

}  // namespace

const char* GetMatchMakingLinkStateName(MatchMakingLinkState state) {
  switch (state) {
    case MatchMakingLinkState::NotConnected:
      return "NotConnected";
    case MatchMakingLinkState::Connecting:
      return "Connecting";
    case MatchMakingLinkState::Connected:
      return "Connected";
    case MatchMakingLinkState::Ready:
      return "Ready";
  }
  return "Unknown";
}

bool TMainServerTask::ConnectToMatchMakingServer() {
  linkState_ = MatchMakingLinkState::Connecting;
  GetTimeStamp(linkStateEntryTime_);
  if (login_.IsEmpty() || dedicatedKey_.IsEmpty()) {
    LogLink(Network::kNetworkLogCritical, "No login or dedicated key specified, can't connect to match making server");
    exitStatus_ = kExitNoAccount;
    return false;
  }
  const int descriptor = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (descriptor == -1) {
    LogLink(Network::kNetworkLogCritical, "Failed to create socket to connect to match making server (error : " +
                                              Network::GetErrorString(errno) + ")");
    exitStatus_ = kExitMatchMakingUnreachable;
    return false;
  }
  LogLink(Network::kNetworkLogInformation, "Connecting to match making server");
  evutil_make_socket_nonblocking(descriptor);
  DeleteMatchMakingSocket();
  matchMakingSocket_ = new Network::TBufferEventSocket(descriptor, socketManager_);
  matchMakingStream_ = matchMakingSocket_;
  pendingFrameLength_ = 0;
  socketManager_->SetEventCallbackForBufferEvent(matchMakingSocket_, &OnMatchMakingConnectEvent);
  socketManager_->SetUserDataForBufferEvent(matchMakingSocket_, nullptr);
  if (matchMakingSocket_->ConnectToHost(dnsBase_, AF_INET, matchMakingAddress_, matchMakingPort_) == 0) return true;

  LogLink(Network::kNetworkLogError, "Failed to request connect to match making server");
  linkState_ = MatchMakingLinkState::NotConnected;
  DeleteMatchMakingSocket();
  exitStatus_ = kExitMatchMakingUnreachable;
  return false;
}

void TMainServerTask::OnMatchMakingConnectEvent(bufferevent* bufferEvent, short events, void* /*userData*/) {
  TMainServerTask* task = instance_;
  if (task == nullptr) return;
  if ((events & BEV_EVENT_CONNECTED) != 0) {
    task->OnMatchMakingConnected();
    return;
  }
  if ((events & (BEV_EVENT_EOF | BEV_EVENT_ERROR)) == 0) return;
  if ((events & BEV_EVENT_ERROR) != 0) {
    const int dnsError = bufferevent_socket_get_dns_error(bufferEvent);
    if (dnsError != 0) {
      LogLink(Network::kNetworkLogWarning,
              TOrvString<char>("DNS error while connecting to mms : ") + evutil_gai_strerror(dnsError) + ")");
    }
  }
  task->DropMatchMakingConnection();
}

void TMainServerTask::OnMatchMakingConnected() {
  LogLink(Network::kNetworkLogInformation, "Connected to match making server");
  linkState_ = MatchMakingLinkState::Connected;
  GetTimeStamp(linkStateEntryTime_);

  Network::TMmsDedicatedInitMessage message;
  message.address = resolvedAddress_;
  message.port = clientPort_;
  message.gameId = gameId_;
  message.slave = slave_;
  message.login = login_;
  message.dedicatedKey = dedicatedKey_;

  // The callbacks of Connected are in place before the message leaves, so an immediate answer is
  // read.
  socketManager_->SetCallbackForBufferEvent(matchMakingSocket_, true, false, &OnMatchMakingInitAnswerCallback);
  socketManager_->SetEventCallbackForBufferEvent(matchMakingSocket_, &OnMatchMakingInitEvent);
  socketManager_->SetUserDataForBufferEvent(matchMakingSocket_, nullptr);
  SendMatchMakingPacket(matchMakingFramer_, matchMakingStream_, kMmsInitChannel, message);
}

bool TMainServerTask::OnMatchMakingLinkValidated(const Network::OrvNetId& address) {
  linkState_ = MatchMakingLinkState::Ready;

  sockaddr_in endpoint{};
  endpoint.sin_family = AF_INET;
  endpoint.sin_addr.s_addr = address.GetIpAddress();
  endpoint.sin_port = clientPort_;
  LogLink(Network::kNetworkLogInformation,
          TOrvString<char>("Connection to match making server validated ") + (slave_ ? "(SlaveMode)" : "") +
              ", dedicated server can be used by clients on IP " +
              Network::SockAddrToString(reinterpret_cast<const sockaddr*>(&endpoint)));

  if (matchMakingSocket_ != nullptr) {
    socketManager_->SetCallbackForBufferEvent(matchMakingSocket_, true, false, &OnMatchMakingPacketCallback);
    socketManager_->SetEventCallbackForBufferEvent(matchMakingSocket_, &OnMatchMakingLinkEvent);
    socketManager_->SetUserDataForBufferEvent(matchMakingSocket_, nullptr);
  }
  if (session_ != nullptr) session_->OnMatchMakingLinkChanged(true);

  const TOrvString<char>& source = couchDbOverride_.IsEmpty() ? statsUrl_ : couchDbOverride_;
  LogLink(Network::kNetworkLogInformation, "Using " + source + " as CouchDB stats source");
  delete databaseAccesser_;
  databaseAccesser_ = new Network::TCouchDBDatabaseAccesser(source, kDatabaseConnectionPoolSize);
  databaseAccesser_->Init();
  return true;
}

void TMainServerTask::OnMatchMakingInitAnswerCallback(bufferevent* /*bufferEvent*/, void* /*userData*/) {
  TMainServerTask* task = instance_;
  if (task == nullptr) return;
  task->OnMatchMakingInitAnswer();
  // Frames that came in the same read as the answer raise no read event of their own: the Ready
  // handler takes them now, or they would wait for the match-making server's next message.
  if (task->linkState_ == MatchMakingLinkState::Ready) task->OnMatchMakingPacket();
}

void TMainServerTask::OnMatchMakingPacketCallback(bufferevent* /*bufferEvent*/, void* /*userData*/) {
  if (instance_ != nullptr) instance_->OnMatchMakingPacket();
}

void TMainServerTask::OnMatchMakingLinkEvent(bufferevent* bufferEvent, short events, void* /*userData*/) {
  TMainServerTask* task = instance_;
  if (task == nullptr) return;
  LogLink(Network::kNetworkLogInformation,
          "Disconnected from match making server -> " + Network::BufferEventErrorToString(bufferEvent, events));
  task->CloseMatchMakingLink();
}

void TMainServerTask::CloseMatchMakingLink() {
  if (matchMakingStream_ != nullptr) matchMakingStream_->Close();
  const MatchMakingLinkState previous = linkState_;
  linkState_ = MatchMakingLinkState::NotConnected;
  if (previous == MatchMakingLinkState::Ready && session_ != nullptr) session_->OnMatchMakingLinkChanged(false);
  if (databaseAccesser_ != nullptr) {
    // Requests still queued or in transfer in the accesser belong to the session's operations:
    // they end first, so that no later cancel reaches a deleted accesser.
    if (session_ != nullptr) session_->EndDatabaseWork();
    delete databaseAccesser_;
    databaseAccesser_ = nullptr;
  }
}

bool TMainServerTask::SendMatchMakingKeepAlive() {
  if (linkState_ != MatchMakingLinkState::Ready) return true;
  TTimeStamp now;
  GetTimeStamp(now);
  if (GetElapsedMilliseconds(matchMakingFramer_->GetLastSendTime(), now) <= kKeepAliveMilliseconds) return true;
  return SendMatchMakingPacket(matchMakingFramer_, matchMakingStream_, kMmsKeepAliveChannel, TMmsKeepAliveMessage{});
}

bool TMainServerTask::SendClientValidationRequest(const Network::TMmsValidatePlayerMessage& message) {
  return SendMatchMakingPacket(matchMakingFramer_, matchMakingStream_, kMmsValidatePlayerChannel, message);
}

void TMainServerTask::AttachMatchMakingStream(Network::IStreamInterface* stream, MatchMakingLinkState state) {
  DeleteMatchMakingSocket();
  delete databaseAccesser_;
  databaseAccesser_ = nullptr;
  matchMakingStream_ = stream;
  pendingFrameLength_ = 0;
  linkState_ = state;
  GetTimeStamp(linkStateEntryTime_);
  UpdateClientListener(linkStateEntryTime_);
}

void TMainServerTask::WriteChatLog(const TOrvString<char>& line) {
  if (chatLog_ != nullptr) chatLog_->Append(line);
}

void TMainServerTask::OnMatchMakingInitEvent(bufferevent* bufferEvent, short events, void* /*userData*/) {
  TMainServerTask* task = instance_;
  if (task == nullptr) return;
  LogLink(Network::kNetworkLogInformation,
          "Failed to connect to match making server -> " + Network::BufferEventErrorToString(bufferEvent, events));
  task->DropMatchMakingConnection();
}

void TMainServerTask::CheckMatchMakingTimeOuts() {
  double limit;
  if (linkState_ == MatchMakingLinkState::Connecting) {
    limit = kConnectingTimeOutSeconds;
  } else if (linkState_ == MatchMakingLinkState::Connected) {
    limit = kConnectedTimeOutSeconds;
  } else {
    return;
  }
  TTimeStamp now;
  GetTimeStamp(now);
  if (GetElapsedSeconds(linkStateEntryTime_, now) <= limit) return;
  LogLink(Network::kNetworkLogWarning,
          TOrvString<char>("Timeout during connection to match making server : state was ") +
              GetMatchMakingLinkStateName(linkState_));
  DropMatchMakingConnection();
}

void TMainServerTask::DropMatchMakingConnection() {
  LogLink(Network::kNetworkLogWarning, "Failed to connect to match making server");
  linkState_ = MatchMakingLinkState::NotConnected;
  DeleteMatchMakingSocket();
}

void TMainServerTask::DeleteMatchMakingSocket() {
  matchMakingStream_ = nullptr;
  if (matchMakingSocket_ == nullptr) return;
  matchMakingSocket_->Close();
  delete matchMakingSocket_;
  matchMakingSocket_ = nullptr;
}

template <typename TMessage>
bool TMainServerTask::SendMatchMakingPacket(Network::TPacketHelperBase* helper, Network::IStreamInterface* socket,
                                            std::uint8_t channel, const TMessage& message) {
  return SendBodyFrame(
      helper, socket, channel,
      [](Network::IBufferWriter& writer, const void* body) {
        return WriteMatchMakingMessage(writer, *static_cast<const TMessage*>(body));
      },
      &message, "Failed to pack a packet for match making server in channel ");
}

template bool TMainServerTask::SendMatchMakingPacket<Network::TMmsDedicatedInitMessage>(
    Network::TPacketHelperBase*, Network::IStreamInterface*, std::uint8_t, const Network::TMmsDedicatedInitMessage&);
template bool TMainServerTask::SendMatchMakingPacket<Network::TMmsValidatePlayerMessage>(
    Network::TPacketHelperBase*, Network::IStreamInterface*, std::uint8_t, const Network::TMmsValidatePlayerMessage&);

}  // namespace Orvan::Dedicated
