// The remote console's listener: accepts connections on the console port and owns one console per
// connection. It lives on the socket manager's event loop like every other socket, and keeps
// unauthenticated connections few and short-lived: a bound on how many wait at once, a time limit
// for the password, and a block on addresses that keep giving wrong ones.
#pragma once

#include <event2/event.h>
#include <sys/socket.h>

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/time/time_stamp.h"
#include "network/console/console_command_registry.h"
#include "network/console/password_failure_throttle.h"
#include "network/console/rcon_console.h"
#include "network/sockets/listen_acceptor.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::Network {
class TBufferEventSocket;
class TNativeSocket;
class TSocketInterfaceManagerForLibEvent;
}  // namespace Orvan::Network

namespace Orvan::ServerTools {

// Connections waiting for authentication at once; further ones are closed at accept.
inline constexpr std::uint32_t kRConMaxUnauthenticated = 16;
// Of those, the ones from one source (an IPv6 /64 is one): an address that keeps re-opening
// connections holds a quarter of the places at most, and the operator gets in from another.
inline constexpr std::uint32_t kRConMaxUnauthenticatedPerSource = 4;

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
  // A connection from a blocked address, or one beyond the unauthenticated ones allowed in all or
  // from its source, is closed at once, without a line of its own.
  void AcceptConnections(bool tls);
  // Once per loop pass, at `now` (the engine's monotonic clock): the end of an accept pause, and
  // the connections that have not authenticated in time closed.
  void Update(TTimeStamp now);
  // A console was given a wrong password: logged, and counted against its address.
  void OnWrongPassword(const RConConsole* console);
  // Makes the console of an accepted socket and has the socket's manager install its callbacks and
  // time-outs.
  void OnNewConnection(Network::TBufferEventSocket* socket, const sockaddr* address, bool tls);
  // Detaches the console from the registry, forgets it and deletes it.
  void RemoveConsole(RConConsole* console);

  TConsoleCommandRegistry* GetRegistry() const { return registry_; }
  Network::TSocketInterfaceManagerForLibEvent* GetManager() const { return manager_; }
  Network::TNativeSocket* GetListenSocket() const { return listenSocket_; }
  std::uint32_t GetConnectionCount() const { return connections_.GetSize(); }
  std::uint32_t GetUnauthenticatedCount() const;
  const Network::TListenAcceptor& GetAcceptor() const { return acceptor_; }

  // The listener's read event: accepts when the descriptor is readable.
  static void ListenerReadEntry(evutil_socket_t descriptor, short events, void* server);

 private:
  // Whether a connection from the address is to be closed at accept; logs the start of a run of
  // refusals for either unauthenticated bound (a block was logged when it began).
  bool RefusesConnection(const sockaddr* address);
  // The unauthenticated connections from the source.
  std::uint32_t CountUnauthenticatedFrom(std::uint32_t source) const;
  void CloseListenSocket();

  Network::TNativeSocket* listenSocket_ = nullptr;
  Network::TSocketInterfaceManagerForLibEvent* manager_ = nullptr;
  TVector<RConConsole*, TDefaultStorage> connections_;
  TConsoleCommandRegistry* registry_;
  Network::TListenAcceptor acceptor_;
  Network::TPasswordFailureThrottle passwordFailures_;
  // Connections are being refused for the unauthenticated bound, and that was logged.
  bool refusingUnauthenticated_ = false;
  // The sources whose connections are being refused for their share, each logged once. A source
  // there holds its whole share, so there are never more of them than shares in the bound.
  Network::TPerSourceTable<bool> refusingShare_{kRConMaxUnauthenticated / kRConMaxUnauthenticatedPerSource};
};

}  // namespace Orvan::ServerTools
