#include "network/sockets/listening_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "network/sockets/socket_utilities.h"
#include "support/network_test_helpers.h"

namespace Orvan::Network {
namespace {

using OrvTest::TCapturedNetworkLog;

bool CanOpenIpv6Sockets() {
  const int descriptor = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (descriptor == -1) return false;
  ::close(descriptor);
  return true;
}

bool HasIpv6Loopback() {
  const int descriptor = ::socket(AF_INET6, SOCK_STREAM, 0);
  if (descriptor == -1) return false;
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  const bool bound = ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  ::close(descriptor);
  return bound;
}

std::uint16_t LocalPort(int descriptor) {
  sockaddr_in6 address{};
  socklen_t length = sizeof(address);
  if (::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin6_port);
}

// Connects a blocking client of the family to the port; the descriptor, or -1.
int Connect(int family, std::uint16_t port) {
  const int descriptor = ::socket(family, SOCK_STREAM, 0);
  if (descriptor == -1) return -1;
  int result;
  if (family == AF_INET) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    result = ::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  } else {
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    address.sin6_addr = in6addr_loopback;
    result = ::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  }
  if (result != 0) {
    ::close(descriptor);
    return -1;
  }
  return descriptor;
}

// The text of the peer of a connection the listener accepts.
std::string AcceptedPeer(TNativeSocket& listener) {
  if (!OrvTest::WaitReadable(listener.GetDescriptor())) return "nothing to accept";
  sockaddr_storage peer{};
  socklen_t length = sizeof(peer);
  const int accepted = ::accept(listener.GetDescriptor(), reinterpret_cast<sockaddr*>(&peer), &length);
  if (accepted == -1) return "accept failed";
  ::close(accepted);
  return SockAddrToString(reinterpret_cast<sockaddr*>(&peer)).c_str();
}

class ListeningSocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrvTest::IgnoreSigpipe();
    if (!CanOpenIpv6Sockets()) GTEST_SKIP() << "this machine cannot open AF_INET6 sockets";
  }
  OrvTest::TCountingSocketManager manager_;
};

TEST_F(ListeningSocketTest, DualStackListenerAcceptsIpv4AndIpv6Clients) {
  std::unique_ptr<TNativeSocket> listener(InitNewConnectionSocket(&manager_, "0"));
  ASSERT_NE(listener, nullptr);
  EXPECT_EQ(manager_.added, 1);
  const std::uint16_t port = LocalPort(listener->GetDescriptor());
  ASSERT_NE(port, 0);

  const int ipv4 = Connect(AF_INET, port);
  ASSERT_NE(ipv4, -1);
  sockaddr_in local{};
  socklen_t length = sizeof(local);
  ASSERT_EQ(::getsockname(ipv4, reinterpret_cast<sockaddr*>(&local), &length), 0);
  EXPECT_EQ(AcceptedPeer(*listener), "::ffff:127.0.0.1 : " + std::to_string(ntohs(local.sin_port)));
  ::close(ipv4);

  if (!HasIpv6Loopback()) GTEST_SKIP() << "this machine has no ::1: the IPv6 connection is not tried";
  const int ipv6 = Connect(AF_INET6, port);
  ASSERT_NE(ipv6, -1);
  EXPECT_EQ(AcceptedPeer(*listener).rfind("::1 : ", 0), 0u);
  ::close(ipv6);
}

TEST_F(ListeningSocketTest, ThePortOverloadListensOnThatPort) {
  std::unique_ptr<TNativeSocket> first(InitNewConnectionSocket(&manager_, "0"));
  ASSERT_NE(first, nullptr);
  const std::uint16_t port = LocalPort(first->GetDescriptor());
  first.reset();
  // The port was free a moment ago; reuse of a port just closed is what SO_REUSEADDR allows.
  std::unique_ptr<TNativeSocket> listener(InitNewConnectionSocket(&manager_, port));
  ASSERT_NE(listener, nullptr);
  EXPECT_EQ(LocalPort(listener->GetDescriptor()), port);
  const int client = Connect(AF_INET, port);
  EXPECT_NE(client, -1);
  if (client != -1) ::close(client);
}

TEST_F(ListeningSocketTest, APortInUseLogsTheBindFailureAndTheServerError) {
  std::unique_ptr<TNativeSocket> holder(InitNewConnectionSocket(&manager_, "0"));
  ASSERT_NE(holder, nullptr);
  const std::string port = std::to_string(LocalPort(holder->GetDescriptor()));
  TCapturedNetworkLog log;
  EXPECT_EQ(InitNewConnectionSocket(&manager_, port.c_str()), nullptr);
  EXPECT_EQ(TCapturedNetworkLog::Texts(),
            (std::vector<std::string>{
                "TMainServerTask::InitNewConnectionSocket() -> Bind for UserConnection failed(Address already in use)",
                "Server Error : Users won't be able to connect to MMS"}));
  EXPECT_EQ(TCapturedNetworkLog::Lines()[0].level, kNetworkLogError);
  EXPECT_EQ(TCapturedNetworkLog::Lines()[1].level, kNetworkLogError);
  // The socket that failed to bind registered and left again.
  EXPECT_EQ(manager_.added, 2);
  EXPECT_EQ(manager_.removed, 1);
}

TEST_F(ListeningSocketTest, AServiceThatIsNoNumberFailsInGetaddrinfo) {
  TCapturedNetworkLog log;
  EXPECT_EQ(InitNewConnectionSocket(&manager_, "http"), nullptr);
  ASSERT_EQ(TCapturedNetworkLog::Lines().size(), 1u);
  EXPECT_EQ(TCapturedNetworkLog::Lines()[0].text.rfind(
                "TMainServerTask::InitNewConnectionSocket() -> getaddrinfo for UserConnection failed(", 0),
            0u);
  EXPECT_EQ(manager_.added, 0);
}

}  // namespace
}  // namespace Orvan::Network
