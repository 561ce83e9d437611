// The dual-stack listening socket of the client and console ports: one IPv6 wildcard socket that
// takes IPv4 clients too.
#pragma once

#include <cstdint>

#include "network/sockets/native_socket.h"
#include "network/sockets/socket_interface_manager.h"

namespace Orvan::Network {

// Backlog of pending connections of a listening socket.
inline constexpr int kListenBacklog = 128;

// A non-blocking socket listening on every address of the numeric service (a port), registered
// with the manager; null, with the reasons logged, when none could be bound or listen fails.
TNativeSocket* InitNewConnectionSocket(TSocketInterfaceManager* manager, const char* service);
TNativeSocket* InitNewConnectionSocket(TSocketInterfaceManager* manager, std::uint16_t port);

}  // namespace Orvan::Network
