// The remote-console listener.
#include "network/console/rcon_server.h"

#include <event2/util.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "core/text/positional_format.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/listening_socket.h"
#include "network/sockets/native_socket.h"
#include "network/sockets/socket_utilities.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::ServerTools {

namespace {

TOrvString<char> AcceptFailureLine(int error) {
  return "Rcon socket error -> failed to accept new client (error : " + Network::GetErrorString(error) + ")";
}

}  // namespace

RConServer::RConServer(TConsoleCommandRegistry* registry) : registry_(registry), acceptor_(&AcceptFailureLine) {}

RConServer::~RConServer() {
  for (RConConsole* console : connections_) {
    registry_->DetachConsole(console);
    delete console;
  }
  connections_.Clear();
  CloseListenSocket();
}

void RConServer::CloseListenSocket() {
  acceptor_.Stop();
  if (listenSocket_ == nullptr) return;
  if (!listenSocket_->IsClosed()) listenSocket_->Close();
  delete listenSocket_;
  listenSocket_ = nullptr;
}

void RConServer::Listen(Network::TSocketInterfaceManagerForLibEvent* manager, std::uint16_t port) {
  manager_ = manager;
  CloseListenSocket();
  listenSocket_ = Network::InitNewConnectionSocket(manager, port);
  if (listenSocket_ == nullptr) return;
  acceptor_.Start(manager, listenSocket_, &ListenerReadEntry, this);
}

void RConServer::AcceptConnections(bool tls) {
  if (listenSocket_ == nullptr || listenSocket_->IsClosed()) return;
  // Announced with the first connection taken: connections refused at accept, and failed accepts
  // (logged by the acceptor), add nothing to the log, however many an attacker makes.
  bool announced = false;
  for (;;) {
    // Room for an address of any family.
    sockaddr_storage address{};
    const int descriptor = acceptor_.Accept(address);
    if (descriptor == -1) return;
    if (RefusesConnection(reinterpret_cast<const sockaddr*>(&address))) {
      ::close(descriptor);
      continue;
    }
    if (!announced) {
      announced = true;
      Network::NetworkLog(Network::kNetworkLogInformation,
                          TOrvString<char>("New Rcon connection in progress ") + (tls ? "(SSL)" : "(clear text)"));
    }
    auto* socket = tls ? new Network::TBufferEventSocket(descriptor, manager_, true)
                       : new Network::TBufferEventSocket(descriptor, manager_);
    if (socket->IsClosed()) {
      delete socket;
      continue;
    }
    evutil_make_socket_nonblocking(descriptor);
    OnNewConnection(socket, reinterpret_cast<sockaddr*>(&address), tls);
  }
}

void RConServer::OnNewConnection(Network::TBufferEventSocket* socket, const sockaddr* address, bool) {
  Network::NetworkLog(Network::kNetworkLogInformation,
                      FormatValues("New rcon connection validated -> %1 (Socket : %2)",
                                   Network::SockAddrToString(address), socket->GetDescriptor()));
  auto* console = new RConConsole(socket, this, registry_->GetPassword(), address);
  Network::TSocketInterfaceManagerForLibEvent* manager = socket->GetManager();
  manager->SetCallbackForBufferEvent(socket, true, false, &RConConsole::ReadEntry);
  manager->SetEventCallbackForBufferEvent(socket, &RConConsole::EventEntry);
  manager->SetUserDataForBufferEvent(socket, console);
  manager->SetTimeOutForBufferEvent(socket, kRConIdleTimeOutSeconds);
  connections_.PushBack(console);
}

void RConServer::RemoveConsole(RConConsole* console) {
  registry_->DetachConsole(console);
  for (std::uint32_t i = 0; i < connections_.GetSize(); ++i) {
    if (connections_[i] == console) {
      connections_.EraseAt(i);
      break;
    }
  }
  delete console;
}

bool RConServer::RefusesConnection(const sockaddr* address) {
  TTimeStamp now;
  GetTimeStamp(now);
  const std::uint32_t source = Network::GetSourceKey(address);
  if (passwordFailures_.IsBlocked(source, now)) return true;
  if (CountUnauthenticatedFrom(source) >= kRConMaxUnauthenticatedPerSource) {
    bool* logged = refusingShare_.FindOrAdd(source, false, [](bool) { return false; });
    if (!*logged) {
      *logged = true;
      Network::NetworkLog(Network::kNetworkLogWarning,
                          FormatValues("Rcon connection from %1 refused: %2 connections from %3 are waiting for "
                                       "authentication (further ones from there are refused without a line until one "
                                       "is accepted again)",
                                       Network::SockAddrToString(address), kRConMaxUnauthenticatedPerSource,
                                       Network::SockAddrToHostString(address)));
    }
    return true;
  }
  refusingShare_.Remove(source);
  if (GetUnauthenticatedCount() < kRConMaxUnauthenticated) {
    refusingUnauthenticated_ = false;
    return false;
  }
  if (!refusingUnauthenticated_) {
    refusingUnauthenticated_ = true;
    Network::NetworkLog(Network::kNetworkLogWarning,
                        FormatValues("Rcon connection from %1 refused: %2 connections are waiting for authentication "
                                     "(further ones are refused without a line until one is accepted again)",
                                     Network::SockAddrToString(address), kRConMaxUnauthenticated));
  }
  return true;
}

std::uint32_t RConServer::CountUnauthenticatedFrom(std::uint32_t source) const {
  std::uint32_t count = 0;
  for (const RConConsole* console : connections_) {
    if (!console->IsAuthenticated() && Network::GetSourceKey(console->GetAddress()) == source) ++count;
  }
  return count;
}

std::uint32_t RConServer::GetUnauthenticatedCount() const {
  std::uint32_t count = 0;
  for (const RConConsole* console : connections_) count += console->IsAuthenticated() ? 0 : 1;
  return count;
}

void RConServer::Update(TTimeStamp now) {
  acceptor_.Update(now);
  // Closing takes a console out of the connections: walk a copy.
  std::vector<RConConsole*> late;
  for (RConConsole* console : connections_) {
    if (!console->IsAuthenticated() && GetElapsedSeconds(console->GetAcceptTime(), now) > kRConAuthenticationSeconds) {
      late.push_back(console);
    }
  }
  for (RConConsole* console : late) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        FormatValues("Rcon connection from %1 closed: not authenticated within %2 s",
                                     Network::SockAddrToString(console->GetAddress()),
                                     static_cast<unsigned>(kRConAuthenticationSeconds)));
    console->Close();
  }
}

void RConServer::OnWrongPassword(const RConConsole* console) {
  TTimeStamp now;
  GetTimeStamp(now);
  const sockaddr* address = console->GetAddress();
  const Network::EPasswordFailure result = passwordFailures_.RecordFailure(Network::GetSourceKey(address), now);
  Network::NetworkLog(Network::kNetworkLogWarning,
                      "Rcon authentication refused: wrong password from " + Network::SockAddrToString(address));
  if (result != Network::EPasswordFailure::kBlocked) return;
  Network::NetworkLog(Network::kNetworkLogWarning,
                      FormatValues("Rcon connections from %1 refused for %2 s: %3 wrong passwords within %4 s",
                                   Network::SockAddrToHostString(address),
                                   static_cast<unsigned>(Network::kPasswordBlockSeconds),
                                   Network::kPasswordFailuresBeforeBlock,
                                   static_cast<unsigned>(Network::kPasswordFailureWindowSeconds)));
}

void RConServer::ListenerReadEntry(evutil_socket_t, short events, void* server) {
  if ((events & EV_READ) != 0) static_cast<RConServer*>(server)->AcceptConnections(false);
}

}  // namespace Orvan::ServerTools
