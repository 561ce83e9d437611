#include "network/sockets/udp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <string>

#include "network/sockets/socket_utilities.h"
#include "support/network_test_helpers.h"

namespace Orvan::Network {
namespace {

int BoundUdpDescriptor(sockaddr_in& address) {
  const int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
  address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof(address);
  if (descriptor == -1 || ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
      ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return -1;
  }
  return descriptor;
}

TEST(UdpSocket, DatagramsBothWaysOnLoopback) {
  OrvTest::TCountingSocketManager manager;
  sockaddr_in serverAddress;
  sockaddr_in clientAddress;
  const int serverDescriptor = BoundUdpDescriptor(serverAddress);
  const int clientDescriptor = BoundUdpDescriptor(clientAddress);
  ASSERT_NE(serverDescriptor, -1);
  ASSERT_NE(clientDescriptor, -1);
  TUdpSocket server(serverDescriptor, &manager);
  TUdpSocket client(clientDescriptor, &manager);
  EXPECT_EQ(manager.added, 2);

  const std::string query = "getinfos abcd";
  EXPECT_EQ(client.SendTo(query.data(), static_cast<int>(query.size()), reinterpret_cast<sockaddr*>(&serverAddress),
                          sizeof(serverAddress)),
            static_cast<int>(query.size()));
  ASSERT_TRUE(OrvTest::WaitReadable(server.GetDescriptor()));
  char buffer[64];
  sockaddr_storage from{};
  socklen_t fromLength = sizeof(from);
  const int received = server.ReceiveFrom(buffer, sizeof(buffer), reinterpret_cast<sockaddr*>(&from), &fromLength);
  ASSERT_EQ(received, static_cast<int>(query.size()));
  EXPECT_EQ(std::string(buffer, received), query);
  EXPECT_STREQ(SockAddrToString(reinterpret_cast<sockaddr*>(&from)).c_str(),
               ("127.0.0.1:" + std::to_string(ntohs(clientAddress.sin_port))).c_str());

  EXPECT_EQ(server.SendTo("ok", 2, reinterpret_cast<sockaddr*>(&from), fromLength), 2);
  ASSERT_TRUE(OrvTest::WaitReadable(client.GetDescriptor()));
  EXPECT_EQ(client.ReceiveFrom(buffer, sizeof(buffer), nullptr, nullptr), 2);

  // Nothing waiting on a non-blocking socket: the system's answer as it is.
  ASSERT_TRUE(SetSocketNonBlocking(client.GetDescriptor()));
  EXPECT_EQ(client.ReceiveFrom(buffer, sizeof(buffer), nullptr, nullptr), -1);

  client.Close();
  client.Close();
  EXPECT_TRUE(client.IsClosed());
  EXPECT_EQ(manager.removed, 1);
  EXPECT_EQ(client.SendTo("x", 1, reinterpret_cast<sockaddr*>(&serverAddress), sizeof(serverAddress)), -1);
}

}  // namespace
}  // namespace Orvan::Network
