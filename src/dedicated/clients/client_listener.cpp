// The client listener: the game clients' TCP port, and the accepting of every connection waiting
// on it while the match-making link is Ready.
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "dedicated/clients/pending_client_set.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/native_socket.h"
#include "network/sockets/rate_limit_group.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

namespace {

// Connections the kernel holds for us between two accepting passes.
constexpr int kClientListenBacklog = 128;
// Connections accepted in one pass; the rest wait for the next pass of the event loop (the listen
// socket stays readable). In between, the connections already taken are read: a real client's
// identification is read before a flood can make it the oldest of the unidentified connections,
// which takes far more accepts than this.
constexpr int kMaxAcceptsPerPass = 32;
static_assert(kMaxAcceptsPerPass * 4 <= static_cast<int>(kMaxUnidentifiedClients));

void Log(std::int32_t level, const TOrvString<char>& text) { Network::NetworkLog(level, text); }

}  // namespace

TOrvString<char> TMainServerTask::ClientAcceptFailureLine(int error) {
  return "Failed to accept new client (error : " + Network::GetErrorString(error) + ")";
}

bool TMainServerTask::OpenClientSocket() {
  CloseClientSocket();
  const int descriptor = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (descriptor == -1) {
    Log(Network::kNetworkLogCritical, "Failed opening client socket (error : " + Network::GetErrorString(errno) + ")");
    return false;
  }
  if (!Network::SetSocketNonBlocking(descriptor)) {
    Log(Network::kNetworkLogCritical,
        "Failed setting client socket in non blocking mode (error : " + Network::GetErrorString(errno) + ")");
    ::close(descriptor);
    return false;
  }
  clientListenSocket_ = new Network::TNativeSocket(descriptor, socketManager_);
  const int reuse = 1;
  if (::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0) {
    Log(Network::kNetworkLogWarning,
        "Failed to set client socket option SO_REUSEADDR (error : " + Network::GetErrorString(errno) + ")");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = clientPort_;
  address.sin_addr.s_addr = INADDR_ANY;
  if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    Log(Network::kNetworkLogCritical,
        "Failed to bind client socket, you have probably another server running on the same port");
    CloseClientSocket();
    return false;
  }
  if (::listen(descriptor, kClientListenBacklog) != 0) {
    Log(Network::kNetworkLogCritical,
        "Failed to listen on client socket (error : " + Network::GetErrorString(errno) + ")");
    CloseClientSocket();
    return false;
  }
  clientAcceptor_.SetHeld(!IsMatchMakingLinkReady());
  clientAcceptor_.Start(socketManager_, clientListenSocket_, &OnListenSocketReadable, nullptr);
  return true;
}

void TMainServerTask::CloseClientSocket() {
  clientAcceptor_.Stop();
  if (clientListenSocket_ == nullptr) return;
  if (!clientListenSocket_->IsClosed()) clientListenSocket_->Close();
  delete clientListenSocket_;
  clientListenSocket_ = nullptr;
}

void TMainServerTask::UpdateClientListener(TTimeStamp now) {
  clientAcceptor_.SetHeld(!IsMatchMakingLinkReady());
  clientAcceptor_.Update(now);
}

void TMainServerTask::OnListenSocketReadable(evutil_socket_t /*descriptor*/, short events, void* /*argument*/) {
  if ((events & EV_READ) == 0 || instance_ == nullptr) return;
  instance_->OnNewClient();
}

void TMainServerTask::OnNewClient() {
  // Connections wait in the backlog until the link is Ready; the socket, readable all that time, is
  // not watched meanwhile.
  if (!IsMatchMakingLinkReady()) {
    clientAcceptor_.SetHeld(true);
    return;
  }
  for (int accepted = 0; accepted < kMaxAcceptsPerPass; ++accepted) {
    sockaddr_storage address{};
    const int descriptor = clientAcceptor_.Accept(address);
    if (descriptor == -1) return;
    TTimeStamp now;
    GetTimeStamp(now);
    TPendingClientSet* pending = session_ != nullptr ? session_->GetPendingClients() : nullptr;
    if (pending != nullptr && !pending->TakesConnectionFrom(address, now)) {
      ::close(descriptor);
      continue;
    }
    // Within the log shares a connection is written about as it goes; beyond them it is quiet, and
    // only counted when it ends.
    const bool quiet = pending != nullptr && !pending->GetLog().TakeLine(address, now);
    const TOrvString<char> addressText = Network::SockAddrToString(reinterpret_cast<const sockaddr*>(&address));
    if (!quiet) {
      Log(Network::kNetworkLogInformation, "New client trying to connect from IP " + addressText +
                                               " (socket : " + TOrvString<char>(std::to_string(descriptor)) + ")");
    }
    auto* connection = new Network::TBufferEventSocket(descriptor, socketManager_);
    Network::SetSocketNonBlocking(descriptor);
    const int noDelay = 1;
    if (::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay)) != 0 && !quiet) {
      Log(Network::kNetworkLogWarning, "Failed to activate no delay on client socket (error : " +
                                           Network::GetErrorString(errno) + ", client IP : " + addressText + ")");
    }
    rateLimitGroup_->AddSocket(connection);
    if (session_ != nullptr) {
      session_->OnNewConnection(connection, address, quiet);
    } else {
      rateLimitGroup_->RemoveSocket(connection);
      connection->Close();
      delete connection;
    }
  }
}

}  // namespace Orvan::Dedicated
