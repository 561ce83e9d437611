// Address texts and descriptor helpers.
#include "network/socket_utilities.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>

#include <cstdio>
#include <cstring>

#include "core/text/positional_format.h"

namespace Orvan::Network {

namespace {

constexpr const char kUnknownFamily[] = "Unknown (reason : invalid address family)";

}  // namespace

TOrvString<char> SockAddrToString(const sockaddr* address) {
  if (address != nullptr && address->sa_family == AF_INET) {
    sockaddr_in ipv4;
    std::memcpy(&ipv4, address, sizeof(ipv4));
    return FormatValues("%1:%2", SockAddrToHostString(address), static_cast<unsigned>(ntohs(ipv4.sin_port)));
  }
  if (address != nullptr && address->sa_family == AF_INET6) {
    sockaddr_in6 ipv6;
    std::memcpy(&ipv6, address, sizeof(ipv6));
    return FormatValues("%1 : %2", SockAddrToHostString(address), static_cast<unsigned>(ntohs(ipv6.sin6_port)));
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
