// The remote-console listener.
#include "network/rcon_server.h"

#include <event2/util.h>
#include <sys/socket.h>

#include <cerrno>

#include "core/text/positional_format.h"
#include "network/buffer_event_socket.h"
#include "network/libevent_socket_manager.h"
#include "network/listening_socket.h"
#include "network/native_socket.h"
#include "network/network_hooks.h"
#include "network/socket_utilities.h"

namespace Orvan::ServerTools {

RConServer::RConServer(TConsoleCommandRegistry* registry) : registry_(registry) {}

RConServer::~RConServer() {
  for (RConConsole* console : connections_) {
    registry_->DetachConsole(console);
    delete console;
  }
  connections_.Clear();
  if (listenSocket_ != nullptr) {
    if (!listenSocket_->IsClosed()) listenSocket_->Close();
    delete listenSocket_;
  }
}

void RConServer::Listen(Network::TSocketInterfaceManagerForLibEvent* manager, std::uint16_t port) {
  manager_ = manager;
  if (listenSocket_ != nullptr) {
    if (!listenSocket_->IsClosed()) listenSocket_->Close();
    delete listenSocket_;
    listenSocket_ = nullptr;
  }
  listenSocket_ = Network::InitNewConnectionSocket(manager, port);
  if (listenSocket_ == nullptr) return;
  manager->SetCallbackForSocket(listenSocket_, true, false, -1, &ListenerReadEntry, this);
}

void RConServer::AcceptConnections(bool tls) {
  Network::NetworkLog(Network::kNetworkLogInformation,
                      TOrvString<char>("New Rcon connection in progress ") + (tls ? "(SSL)" : "(clear text)"));
  if (listenSocket_ == nullptr || listenSocket_->IsClosed()) return;
  for (;;) {
    // Room for an address of any family.
    sockaddr_storage address{};
    socklen_t length = sizeof(address);
    const int descriptor = ::accept(listenSocket_->GetDescriptor(), reinterpret_cast<sockaddr*>(&address), &length);
    if (descriptor == -1) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      Network::NetworkLog(Network::kNetworkLogWarning, "Rcon socket error -> failed to accept new client");
      return;
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
  auto* console = new RConConsole(socket, this, registry_->GetPassword());
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

void RConServer::ListenerReadEntry(evutil_socket_t, short events, void* server) {
  if ((events & EV_READ) != 0) static_cast<RConServer*>(server)->AcceptConnections(false);
}

}  // namespace Orvan::ServerTools
