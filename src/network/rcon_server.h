// The remote console's listener: accepts connections on the console port and owns one console per
// connection. It lives on the socket manager's event loop like every other socket.
#pragma once

#include <event2/event.h>
#include <sys/socket.h>

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "network/console_command_registry.h"
#include "network/rcon_console.h"

namespace Orvan::Network {
class TBufferEventSocket;
class TNativeSocket;
class TSocketInterfaceManagerForLibEvent;
}  // namespace Orvan::Network

namespace Orvan::ServerTools {

class RConServer {
 public:
  // The registry is not owned and must outlive the server.
  explicit RConServer(TConsoleCommandRegistry* registry);
  // Deletes every connection, then closes and deletes the listen socket.
  ~RConServer();
  RConServer(const RConServer&) = delete;
  RConServer& operator=(const RConServer&) = delete;

  // Listens on the port (0: one the system picks) of every address, in place of an earlier
  // listener; without a listener when that fails (logged by the listening-socket routine).
  void Listen(Network::TSocketInterfaceManagerForLibEvent* manager, std::uint16_t port);
  // Accepts every pending connection; `tls` wraps them in TLS (the listener always passes false).
  void AcceptConnections(bool tls);
  // Makes the console of an accepted socket and has the socket's manager install its callbacks and
  // time-outs.
  void OnNewConnection(Network::TBufferEventSocket* socket, const sockaddr* address, bool tls);
  // Detaches the console from the registry, forgets it and deletes it.
  void RemoveConsole(RConConsole* console);

  TConsoleCommandRegistry* GetRegistry() const { return registry_; }
  Network::TSocketInterfaceManagerForLibEvent* GetManager() const { return manager_; }
  Network::TNativeSocket* GetListenSocket() const { return listenSocket_; }
  std::uint32_t GetConnectionCount() const { return connections_.GetSize(); }

  // The listener's read event: accepts when the descriptor is readable.
  static void ListenerReadEntry(evutil_socket_t descriptor, short events, void* server);

 private:
  Network::TNativeSocket* listenSocket_ = nullptr;
  Network::TSocketInterfaceManagerForLibEvent* manager_ = nullptr;
  TVector<RConConsole*, TDefaultStorage> connections_;
  TConsoleCommandRegistry* registry_;
};

}  // namespace Orvan::ServerTools
