#include "network/sockets/socket_utilities.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/un.h>

#include <cerrno>

#include "support/network_test_helpers.h"

namespace Orvan::Network {
namespace {

// Each case also checks the host form, the same text without its port.
TEST(SockAddrToString, IPv4IPv6AndOtherFamilies) {
  sockaddr_in ipv4{};
  ipv4.sin_family = AF_INET;
  ipv4.sin_port = htons(8080);
  ipv4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_STREQ(SockAddrToString(reinterpret_cast<const sockaddr*>(&ipv4)).c_str(), "127.0.0.1:8080");
  EXPECT_STREQ(SockAddrToHostString(reinterpret_cast<const sockaddr*>(&ipv4)).c_str(), "127.0.0.1");

  sockaddr_in6 ipv6{};
  ipv6.sin6_family = AF_INET6;
  ipv6.sin6_port = htons(8080);
  ipv6.sin6_addr = in6addr_loopback;
  EXPECT_STREQ(SockAddrToString(reinterpret_cast<const sockaddr*>(&ipv6)).c_str(), "::1 : 8080");
  EXPECT_STREQ(SockAddrToHostString(reinterpret_cast<const sockaddr*>(&ipv6)).c_str(), "::1");

  inet_pton(AF_INET6, "::ffff:10.1.2.3", &ipv6.sin6_addr);
  ipv6.sin6_port = htons(65535);
  EXPECT_STREQ(SockAddrToString(reinterpret_cast<const sockaddr*>(&ipv6)).c_str(), "::ffff:10.1.2.3 : 65535");
  EXPECT_STREQ(SockAddrToHostString(reinterpret_cast<const sockaddr*>(&ipv6)).c_str(), "::ffff:10.1.2.3");

  sockaddr_un local{};
  local.sun_family = AF_UNIX;
  EXPECT_STREQ(SockAddrToString(reinterpret_cast<const sockaddr*>(&local)).c_str(),
               "Unknown (reason : invalid address family)");
  EXPECT_STREQ(SockAddrToHostString(reinterpret_cast<const sockaddr*>(&local)).c_str(),
               "Unknown (reason : invalid address family)");
}

TEST(Ipv4ToString, MostSignificantByteFirst) {
  EXPECT_STREQ(Ipv4ToString(0x01020304).c_str(), "1.2.3.4");
  EXPECT_STREQ(Ipv4ToString(0).c_str(), "0.0.0.0");
  EXPECT_STREQ(Ipv4ToString(0xFFFFFFFF).c_str(), "255.255.255.255");
}

TEST(SetSocketNonBlocking, AddsTheFlagAndFailsOnABadDescriptor) {
  OrvTest::TSocketPair pair;
  ASSERT_NE(pair.first, -1);
  EXPECT_TRUE(SetSocketNonBlocking(pair.first));
  EXPECT_NE(fcntl(pair.first, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_FALSE(SetSocketNonBlocking(-1));
}

TEST(GetErrorString, IsTheSystemText) {
  EXPECT_STREQ(GetErrorString(ECONNRESET).c_str(), "Connection reset by peer");
}

}  // namespace
}  // namespace Orvan::Network
