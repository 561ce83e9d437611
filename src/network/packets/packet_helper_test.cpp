#include "network/packets/packet_helper.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "network/packets/mms_messages.h"
#include "network/packets/network_packet_writer.h"
#include "network/sockets/native_socket.h"
#include "network/sockets/socket_utilities.h"
#include "support/network_test_helpers.h"
#include "support/scripted_stream.h"

namespace Orvan::Network {
namespace {

using Bytes = std::vector<std::uint8_t>;

using OrvTest::TScriptedStream;

class TRecordingObserver final : public IPacketTrafficObserver {
 public:
  void OnReceived(IStreamInterface*, std::uint32_t bytes) override { received.push_back(bytes); }
  void OnSent(IStreamInterface*, std::uint32_t bytes) override { sent.push_back(bytes); }
  std::vector<std::uint32_t> received;
  std::vector<std::uint32_t> sent;
};

TEST(PacketHelper, TypedPacketIsLengthThenChannelThenPayload) {
  TPacketHelperBase helper(4096);
  TRecordingObserver observer;
  helper.SetTrafficObserver(&observer);
  TScriptedStream stream;
  const TTimeStamp before = helper.GetLastSendTime();
  EXPECT_TRUE(helper.SendTypedPacket(&stream, 7, "\x01\x02", 2));
  EXPECT_EQ(stream.written, (Bytes{0x00, 0x03, 0x07, 0x01, 0x02}));
  EXPECT_EQ(stream.writes, 2);
  EXPECT_EQ(observer.sent, (std::vector<std::uint32_t>{2, 3}));
  EXPECT_GE(helper.GetLastSendTime(), before);
}

TEST(PacketHelper, InitMessageFramesAsItsTestVector) {
  TMmsDedicatedInitMessage message;
  message.port = htons(10000);
  message.gameId = 24;
  message.address = inet_addr("1.2.3.4");
  message.login = "ab";
  message.dedicatedKey = "c";
  TNetworkPacketWriter writer;
  TNetworkPacketBufferWriter sink(writer);
  ASSERT_EQ(WriteMmsDedicatedInitMessage(sink, message), kBufferOk);
  TPacketBufferPtr packet = writer.Finish(225);

  TPacketHelperBase helper(4096);
  TScriptedStream stream;
  ASSERT_TRUE(helper.SendTypedPacket(&stream, packet));
  const Bytes expected = {0x00, 0x17, 0xE1, 0x10, 0x27, 0, 0, 0, 0x18, 0x04, 0x03, 0x02, 0x01,
                          0x00, 0,    0,    0,    2,    'a', 'b', 0, 0, 0, 1, 'c'};
  EXPECT_EQ(stream.written, expected);
}

TEST(PacketHelper, SendRefusalsAndFailures) {
  TPacketHelperBase helper(4096);
  OrvTest::TCapturedNetworkLog log;
  TScriptedStream stream;
  const std::vector<std::uint8_t> payload(65535, 1);
  EXPECT_FALSE(helper.SendTypedPacket(&stream, 1, payload.data(), 65535));
  EXPECT_TRUE(stream.written.empty());
  ASSERT_EQ(OrvTest::TCapturedNetworkLog::Lines().size(), 1u);
  EXPECT_TRUE(helper.SendTypedPacket(&stream, 1, payload.data(), 65534));
  EXPECT_EQ(stream.written[0], 0xFF);
  EXPECT_EQ(stream.written[1], 0xFF);

  EXPECT_FALSE(helper.SendTypedPacket(&stream, TPacketBufferPtr()));

  TRecordingObserver observer;
  helper.SetTrafficObserver(&observer);
  stream.failWrites = true;
  const TTimeStamp stamp = helper.GetLastSendTime();
  EXPECT_FALSE(helper.SendPacketWithSize(&stream, "ab", 2));
  EXPECT_FALSE(helper.SendRaw(&stream, "ab", 2));
  EXPECT_TRUE(observer.sent.empty());
  EXPECT_EQ(helper.GetLastSendTime(), stamp);
}

TEST(PacketHelper, SendPacketBodyFramesRawBytes) {
  TPacketHelperBase helper(16);
  TScriptedStream stream;
  EXPECT_TRUE(helper.SendPacketBody(&stream, "xyz", 3));
  EXPECT_EQ(stream.written, (Bytes{0, 3, 'x', 'y', 'z'}));
  EXPECT_TRUE(helper.SendPacketWithSize(&stream, "", 0));
  EXPECT_EQ(stream.written.size(), 7u);
}

TEST(PacketHelper, ReceptionStepByStep) {
  TPacketHelperBase helper(4096);
  TRecordingObserver observer;
  helper.SetTrafficObserver(&observer);
  TScriptedStream stream;
  std::uint16_t pending = 0;
  std::uint16_t received = 99;

  EXPECT_TRUE(helper.ReceivePacket(&stream, pending, received));
  EXPECT_EQ(received, 0);
  stream.Arrive({0x00});
  EXPECT_TRUE(helper.ReceivePacket(&stream, pending, received));
  EXPECT_EQ(pending, 0);
  stream.Arrive({0x03, 0x07});
  EXPECT_TRUE(helper.ReceivePacket(&stream, pending, received));
  EXPECT_EQ(pending, 3);
  EXPECT_EQ(received, 0);
  stream.Arrive({0x01, 0x02, 0x00, 0x01, 0x09});
  EXPECT_TRUE(helper.ReceivePacket(&stream, pending, received));
  EXPECT_EQ(received, 3);
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(std::memcmp(helper.GetReceiveBuffer(), "\x07\x01\x02", 3), 0);
  EXPECT_TRUE(helper.ReceivePacket(&stream, pending, received));
  EXPECT_EQ(received, 1);
  EXPECT_EQ(helper.GetReceiveBuffer()[0], 0x09);
  EXPECT_EQ(observer.received, (std::vector<std::uint32_t>{5, 3}));
}

TEST(PacketHelper, ZeroLengthFramesAreTakenAndSkipped) {
  TPacketHelperBase helper(4096);
  TScriptedStream stream;
  stream.Arrive({0, 0, 0, 0, 0, 1, 'k'});
  std::uint16_t pending = 0;
  std::uint16_t received = 0;
  EXPECT_TRUE(helper.ReceivePacket(&stream, pending, received));
  EXPECT_EQ(received, 1);
  EXPECT_EQ(helper.GetReceiveBuffer()[0], 'k');
  EXPECT_TRUE(stream.incoming.empty());
}

TEST(PacketHelper, ReceptionFailures) {
  struct Case {
    const char* name;
    std::uint32_t maximum;
    Bytes incoming;
    bool failChecks;
    bool claimReady;
    std::uint16_t pendingBefore;
  };
  const Case cases[] = {
      {"a length of 4097 with a 4096-byte helper", 4096, {0x10, 0x01}, false, false, 0},
      {"the largest 16-bit length", 4096, {0xFF, 0xFF}, false, false, 0},
      {"a length just above a small maximum", 8, {0x00, 0x09}, false, false, 0},
      {"the stream fails while the length is awaited", 4096, {}, true, false, 0},
      {"the stream fails while the body is awaited", 4096, {}, true, false, 5},
      {"a body shorter than the stream said", 4096, {1, 2}, false, true, 5},
  };
  for (const Case& c : cases) {
    TPacketHelperBase helper(c.maximum);
    TScriptedStream stream;
    stream.Arrive(c.incoming);
    stream.failChecks = c.failChecks;
    stream.claimReady = c.claimReady;
    std::uint16_t pending = c.pendingBefore;
    std::uint16_t received = 77;
    EXPECT_FALSE(helper.ReceivePacket(&stream, pending, received)) << c.name;
    EXPECT_EQ(received, 0) << c.name;
  }
  // A frame of exactly the maximum is accepted.
  TPacketHelperBase helper(8);
  TScriptedStream stream;
  stream.Arrive({0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8});
  std::uint16_t pending = 0;
  std::uint16_t received = 0;
  EXPECT_TRUE(helper.ReceivePacket(&stream, pending, received));
  EXPECT_EQ(received, 8);
}

// Frames both ways over a loopback TCP connection between two native sockets.
class PacketHelperLoopbackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrvTest::IgnoreSigpipe();
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(listener, -1);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    const int server = ::accept(listener, nullptr, nullptr);
    ::close(listener);
    ASSERT_NE(server, -1);
    ASSERT_TRUE(SetSocketNonBlocking(client));
    ASSERT_TRUE(SetSocketNonBlocking(server));
    client_ = std::make_unique<TNativeSocket>(client, &manager_);
    server_ = std::make_unique<TNativeSocket>(server, &manager_);
  }

  // Receives on `socket` until a frame arrives or reception fails, waiting for bytes in between.
  bool ReceiveFrame(TNativeSocket& socket, std::uint16_t& pending, std::uint16_t& received) {
    for (;;) {
      if (!helper_.ReceivePacket(&socket, pending, received)) return false;
      if (received != 0) return true;
      if (!OrvTest::WaitReadable(socket.GetDescriptor())) return false;
    }
  }

  TPlainSocketInterfaceManager manager_;
  TPacketHelperBase helper_{4096};
  std::unique_ptr<TNativeSocket> client_;
  std::unique_ptr<TNativeSocket> server_;
};

TEST_F(PacketHelperLoopbackTest, TypedFramesBothWays) {
  std::uint16_t serverPending = 0;
  std::uint16_t clientPending = 0;
  std::uint16_t received = 0;
  ASSERT_TRUE(helper_.SendTypedPacket(client_.get(), 193, "hi", 2));
  ASSERT_TRUE(ReceiveFrame(*server_, serverPending, received));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(helper_.GetReceiveBuffer()), received), "\xC1hi");

  const std::vector<std::uint8_t> big(4095, 0xAB);
  ASSERT_TRUE(helper_.SendTypedPacket(server_.get(), 200, big.data(), 4095));
  ASSERT_TRUE(ReceiveFrame(*client_, clientPending, received));
  EXPECT_EQ(received, 4096);
  EXPECT_EQ(helper_.GetReceiveBuffer()[0], 200);
  EXPECT_EQ(helper_.GetReceiveBuffer()[4095], 0xAB);
}

TEST_F(PacketHelperLoopbackTest, AFrameSplitAcrossSendsArrivesWhole) {
  std::uint16_t pending = 0;
  std::uint16_t received = 0;
  ASSERT_TRUE(client_->Write("\x00", 1));
  ASSERT_TRUE(OrvTest::WaitReadable(server_->GetDescriptor()));
  EXPECT_TRUE(helper_.ReceivePacket(server_.get(), pending, received));
  EXPECT_EQ(received, 0);
  ASSERT_TRUE(client_->Write("\x04" "ab", 3));
  ASSERT_TRUE(OrvTest::WaitReadable(server_->GetDescriptor()));
  EXPECT_TRUE(helper_.ReceivePacket(server_.get(), pending, received));
  EXPECT_EQ(received, 0);
  EXPECT_EQ(pending, 4);
  ASSERT_TRUE(client_->Write("cd", 2));
  ASSERT_TRUE(ReceiveFrame(*server_, pending, received));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(helper_.GetReceiveBuffer()), received), "abcd");
  EXPECT_EQ(pending, 0);
}

TEST_F(PacketHelperLoopbackTest, AnOversizedLengthOrAClosedPeerEndsReception) {
  std::uint16_t pending = 0;
  std::uint16_t received = 0;
  ASSERT_TRUE(client_->Write("\x10\x01", 2));
  ASSERT_TRUE(OrvTest::WaitReadable(server_->GetDescriptor()));
  EXPECT_FALSE(helper_.ReceivePacket(server_.get(), pending, received));

  std::uint16_t clientPending = 0;
  ASSERT_TRUE(server_->Write("\x00\x05" "ab", 4));
  server_->Close();
  EXPECT_FALSE(ReceiveFrame(*client_, clientPending, received));
  EXPECT_EQ(clientPending, 5);
}

}  // namespace
}  // namespace Orvan::Network
