// The main task's link to the match-making server: one plain TCP connection opened by host name
// through a buffered-event socket, the init message that registers the server, the time-outs of
// the states before Ready and the drop that ends them.
#include <event2/util.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

#include "dedicated/main_server_task.h"
#include "network/buffer_event_socket.h"
#include "network/buffer_io.h"
#include "network/libevent_socket_manager.h"
#include "network/mms_messages.h"
#include "network/network_hooks.h"
#include "network/packet_helper.h"
#include "network/socket_utilities.h"

namespace Orvan::Dedicated {

namespace {

void LogLink(int level, const TOrvString<char>& text) { Network::NetworkLog(level, text); }

TOrvString<char> ChannelText(std::uint8_t channel) { return TOrvString<char>(std::to_string(channel)); }

std::uint32_t WriteMatchMakingMessage(Network::IBufferWriter& writer,
                                      const Network::TMmsDedicatedInitMessage& message) {
  return Network::WriteMmsDedicatedInitMessage(writer, message);
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
    return false;
  }
  const int descriptor = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (descriptor == -1) {
    LogLink(Network::kNetworkLogCritical, "Failed to create socket to connect to match making server (error : " +
                                              Network::GetErrorString(errno) + ")");
    return false;
  }
  LogLink(Network::kNetworkLogInformation, "Connecting to match making server");
  evutil_make_socket_nonblocking(descriptor);
  DeleteMatchMakingSocket();
  matchMakingSocket_ = new Network::TBufferEventSocket(descriptor, socketManager_);
  socketManager_->SetEventCallbackForBufferEvent(matchMakingSocket_, &OnMatchMakingConnectEvent);
  socketManager_->SetUserDataForBufferEvent(matchMakingSocket_, nullptr);
  if (matchMakingSocket_->ConnectToHost(dnsBase_, AF_INET, matchMakingAddress_, matchMakingPort_) == 0) return true;

  LogLink(Network::kNetworkLogError, "Failed to request connect to match making server");
  linkState_ = MatchMakingLinkState::NotConnected;
  DeleteMatchMakingSocket();
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

  // The callbacks of Connected are in place before the message leaves.
  socketManager_->SetEventCallbackForBufferEvent(matchMakingSocket_, &OnMatchMakingInitEvent);
  socketManager_->SetUserDataForBufferEvent(matchMakingSocket_, nullptr);
  SendMatchMakingPacket(matchMakingFramer_, matchMakingSocket_, kMmsInitChannel, message);
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
  if (matchMakingSocket_ == nullptr) return;
  matchMakingSocket_->Close();
  delete matchMakingSocket_;
  matchMakingSocket_ = nullptr;
}

template <typename TMessage>
bool TMainServerTask::SendMatchMakingPacket(Network::TPacketHelperBase* helper, Network::IStreamInterface* socket,
                                            std::uint8_t channel, const TMessage& message) {
  if (socket == nullptr) {
    LogLink(Network::kNetworkLogWarning, "Trying to send a packet to null socket in channel " + ChannelText(channel));
    return false;
  }
  if (socket->IsClosed()) {
    LogLink(Network::kNetworkLogWarning,
            "Trying to send a packet to a closed socket in channel " + ChannelText(channel));
    return false;
  }
  std::uint8_t buffer[kFramerBufferSize];
  const std::uint32_t capacity =
      helper->GetMaximumSize() < kFramerBufferSize ? helper->GetMaximumSize() : kFramerBufferSize;
  Network::TFixedBufferWriter writer(buffer, capacity);
  // A message cut short would reach the match-making server as a different message: send none.
  if (writer.Write(&channel, 1) != Network::kBufferOk ||
      WriteMatchMakingMessage(writer, message) != Network::kBufferOk) {
    LogLink(Network::kNetworkLogWarning,
            "Failed to pack a packet for match making server in channel " + ChannelText(channel));
    return false;
  }
  return helper->SendPacketWithSize(socket, buffer, static_cast<std::uint16_t>(writer.GetPosition()));
}

template bool TMainServerTask::SendMatchMakingPacket<Network::TMmsDedicatedInitMessage>(
    Network::TPacketHelperBase*, Network::IStreamInterface*, std::uint8_t, const Network::TMmsDedicatedInitMessage&);

}  // namespace Orvan::Dedicated
