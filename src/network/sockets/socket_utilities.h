// Small descriptor and address helpers: the text forms of socket addresses, non-blocking mode and
// the text of an errno value.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan::Network {

// IPv4 "a.b.c.d:port", IPv6 "<address> : port" (ports in decimal, host order), any other family
// "Unknown (reason : invalid address family)".
TOrvString<char> SockAddrToString(const sockaddr* address);
// The address alone, without its port: what a limit per source address names.
TOrvString<char> SockAddrToHostString(const sockaddr* address);
// The four bytes of a host-order address in decimal, the most significant first.
TOrvString<char> Ipv4ToString(std::uint32_t address);
// Adds O_NONBLOCK; false when fcntl fails.
bool SetSocketNonBlocking(int descriptor);
// The strerror text of an errno value.
TOrvString<char> GetErrorString(int error);

}  // namespace Orvan::Network
