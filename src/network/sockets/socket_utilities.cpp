// Address texts and descriptor helpers.
#include "network/sockets/socket_utilities.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>
#include <string>


namespace Orvan::Network {

namespace {

constexpr const char kUnknownFamily[] = "Unknown (reason : invalid address family)";

// A port in network order as decimal text. Plain concatenation, no virtual call: the texts are made
// when an accept fails for want of descriptors too, where a sanitizer's check of a virtual call
// (which needs descriptors of its own) cannot run.
TOrvString<char> PortText(std::uint16_t port) { return TOrvString<char>(std::to_string(ntohs(port))); }

}  // namespace

TOrvString<char> SockAddrToString(const sockaddr* address) {
  if (address != nullptr && address->sa_family == AF_INET) {
    sockaddr_in ipv4;
    std::memcpy(&ipv4, address, sizeof(ipv4));
    return SockAddrToHostString(address) + ":" + PortText(ipv4.sin_port);
  }
  if (address != nullptr && address->sa_family == AF_INET6) {
    sockaddr_in6 ipv6;
    std::memcpy(&ipv6, address, sizeof(ipv6));
    return SockAddrToHostString(address) + " : " + PortText(ipv6.sin6_port);
  }
  return TOrvString<char>(kUnknownFamily);
}

TOrvString<char> SockAddrToHostString(const sockaddr* address) {
  if (address != nullptr && address->sa_family == AF_INET) {
    sockaddr_in ipv4;
    std::memcpy(&ipv4, address, sizeof(ipv4));
    return Ipv4ToString(ntohl(ipv4.sin_addr.s_addr));
  }
  if (address != nullptr && address->sa_family == AF_INET6) {
    sockaddr_in6 ipv6;
    std::memcpy(&ipv6, address, sizeof(ipv6));
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, &ipv6.sin6_addr, text, sizeof(text));
    return TOrvString<char>(text);
  }
  return TOrvString<char>(kUnknownFamily);
}

TOrvString<char> Ipv4ToString(std::uint32_t address) {
  char text[16];
  const int length = std::snprintf(text, sizeof(text), "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFFu,
                                   (address >> 8) & 0xFFu, address & 0xFFu);
  return TOrvString<char>(text, static_cast<std::uint32_t>(length));
}

bool SetSocketNonBlocking(int descriptor) {
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags == -1) return false;
  return fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) != -1;
}

TOrvString<char> GetErrorString(int error) { return TOrvString<char>(std::strerror(error)); }

}  // namespace Orvan::Network
