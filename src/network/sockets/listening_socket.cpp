// Opening the dual-stack listening socket.
#include "network/sockets/listening_socket.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>

#include "network/logging/network_hooks.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Network {

namespace {

void LogFailure(int level, const char* what, int error) {
  NetworkLog(level, TOrvString<char>("TMainServerTask::InitNewConnectionSocket() -> ") + what + " failed(" +
                        GetErrorString(error) + ")");
}

// Dual-stack options and the bind of one address; false, logged, when one of them fails.
bool PrepareAndBind(TNativeSocket& socket, const addrinfo& address) {
  const int descriptor = socket.GetDescriptor();
  const int v6Only = 0;
  if (setsockopt(descriptor, IPPROTO_IPV6, IPV6_V6ONLY, &v6Only, sizeof(v6Only)) == -1) {
    LogFailure(kNetworkLogWarning, "setsockopt V6ONLY for UserConnection", errno);
    return false;
  }
  const int reuse = 1;
  if (setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) == -1) {
    LogFailure(kNetworkLogWarning, "setsockopt SO_REUSEADDR for UserConnection", errno);
    return false;
  }
  if (bind(descriptor, address.ai_addr, address.ai_addrlen) == -1) {
    LogFailure(kNetworkLogError, "Bind for UserConnection", errno);
    return false;
  }
  return true;
}

}  // namespace

TNativeSocket* InitNewConnectionSocket(TSocketInterfaceManager* manager, const char* service) {
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* addresses = nullptr;
  if (getaddrinfo(nullptr, service, &hints, &addresses) != 0) {
    LogFailure(kNetworkLogError, "getaddrinfo for UserConnection", errno);
    return nullptr;
  }

  TNativeSocket* bound = nullptr;
  for (const addrinfo* address = addresses; address != nullptr && bound == nullptr; address = address->ai_next) {
    const int descriptor = socket(address->ai_family, address->ai_socktype, address->ai_protocol);
    if (descriptor == -1) {
      LogFailure(kNetworkLogWarning, "CreateSocket for UserConnection", errno);
      continue;
    }
    if (!SetSocketNonBlocking(descriptor)) LogFailure(kNetworkLogWarning, "SetSocketNonBlocking for UserConnection", errno);
    auto* socket = new TNativeSocket(descriptor, manager);
    if (PrepareAndBind(*socket, *address)) {
      bound = socket;
    } else {
      delete socket;
    }
  }
  freeaddrinfo(addresses);

  if (bound == nullptr) {
    NetworkLog(kNetworkLogError, "Server Error : Users won't be able to connect to MMS");
    return nullptr;
  }
  if (listen(bound->GetDescriptor(), kListenBacklog) == -1) {
    LogFailure(kNetworkLogError, "Listen for connection", errno);
    delete bound;
    return nullptr;
  }
  if (bound->IsClosed()) {
    delete bound;
    return nullptr;
  }
  return bound;
}

TNativeSocket* InitNewConnectionSocket(TSocketInterfaceManager* manager, std::uint16_t port) {
  char service[8];
  std::snprintf(service, sizeof(service), "%u", static_cast<unsigned>(port));
  return InitNewConnectionSocket(manager, service);
}

}  // namespace Orvan::Network
