#include "dedicated/clients/client_packet_sending.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "network/packets/packet_helper.h"
#include "support/network_test_helpers.h"
#include "support/scripted_stream.h"

namespace Orvan::Dedicated {
namespace {

using Network::IStreamInterface;
using Network::OrvNetId;
using OrvTest::HexText;
using OrvTest::TScriptedStream;

class ClientPacketSendingTest : public ::testing::Test {
 protected:
  std::string Written() const { return HexText(stream_.written.data(), stream_.written.size()); }
  static bool Logged(const std::string& line) {
    const std::vector<std::string> lines = OrvTest::TCapturedNetworkLog::Texts();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  OrvTest::TCapturedNetworkLog log_;
  Network::TPacketHelperBase framer_{4096};
  TScriptedStream stream_;
};

TEST_F(ClientPacketSendingTest, HeadThenDataUnchanged) {
  const std::string chat("e\x07\x00\x00\x00\x02\x00hi", 9);
  const struct {
    const char* name;
    std::function<bool(Network::TPacketHelperBase*, IStreamInterface*)> send;
    const char* frame;
  } cases[] = {
      {"relayed game message",
       [&](auto* framer, auto* socket) {
         return SendPacketWithData(framer, socket, kChannelGameData, OrvNetId::FromValue(0x0102030405060708),
                                   chat.data(), static_cast<std::uint32_t>(chat.size()));
       },
       "0012c2010203040506070865070000000200" "6869"},
      {"replay stream",
       [](auto* framer, auto* socket) {
         return SendPacketWithData(framer, socket, kChannelReplayStream, 0u, "ESAV", 4);
       },
       "0009cf0000000045534156"},
      {"head alone",
       [](auto* framer, auto* socket) {
         return SendPacketWithData(framer, socket, kChannelReplayStream, 0xA0B0C0D0u, nullptr, 0);
       },
       "0005cfa0b0c0d0"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    stream_.written.clear();
    EXPECT_TRUE(test.send(&framer_, &stream_));
    EXPECT_EQ(Written(), test.frame);
  }
}

// Frames laid out for many sockets hold the bytes the "with data" members send, back to back.
TEST_F(ClientPacketSendingTest, LaidOutFramesAreTheSentBytes) {
  const std::string chat("e\x07\x00\x00\x00\x02\x00hi", 9);
  const OrvNetId sender = OrvNetId::FromValue(0x0102030405060708);
  std::vector<std::uint8_t> frames;
  ASSERT_TRUE(AppendFrameWithData(frames, kChannelGameData, sender, chat.data(), static_cast<std::uint32_t>(chat.size())));
  ASSERT_TRUE(AppendFrameHead(frames, kChannelReplayStream, 0u, 4));
  frames.insert(frames.end(), {'E', 'S', 'A', 'V'});
  ASSERT_TRUE(AppendFrameHead(frames, kChannelReplayStream, 0xA0B0C0D0u, 0));
  ASSERT_TRUE(AppendFrameWithData(frames, kChannelGameData, OrvNetId(), nullptr, 0));

  ASSERT_TRUE(SendPacketWithData(&framer_, &stream_, kChannelGameData, sender, chat.data(),
                                 static_cast<std::uint32_t>(chat.size())));
  ASSERT_TRUE(SendPacketWithData(&framer_, &stream_, kChannelReplayStream, 0u, "ESAV", 4));
  ASSERT_TRUE(SendPacketWithData(&framer_, &stream_, kChannelReplayStream, 0xA0B0C0D0u, nullptr, 0));
  ASSERT_TRUE(SendPacketWithData(&framer_, &stream_, kChannelGameData, OrvNetId(), nullptr, 0));
  EXPECT_EQ(HexText(frames.data(), frames.size()), Written());

  // The largest frame: its length 0xFFFF, the channel, the 8-byte head and 65526 bytes.
  const std::vector<std::uint8_t> largest(65526, 0x5A);
  frames.clear();
  EXPECT_FALSE(AppendFrameWithData(frames, kChannelGameData, sender, largest.data(), 65527));
  EXPECT_TRUE(frames.empty());
  EXPECT_TRUE(Logged("Packet in channel 194 does not fit a frame of 65535 bytes: not sent"));
  ASSERT_TRUE(AppendFrameWithData(frames, kChannelGameData, sender, largest.data(), 65526));
  ASSERT_EQ(frames.size(), 2u + 65535u);
  EXPECT_EQ(HexText(frames.data(), 3), "ffffc2");
}

// The frame is built in the framer's buffer: a body that does not fit it is not sent at all.
TEST_F(ClientPacketSendingTest, BodiesUpToTheFramersSize) {
  TServerPropertyPacket property;
  // Channel, two lengths and the value: 1 + 4 + 4 + 4087 = 4096 bytes.
  property.value = TOrvString<char>(std::string(4087, 'v'));
  EXPECT_TRUE(SendPacket(&framer_, &stream_, kChannelServerProperty, property));
  ASSERT_EQ(stream_.written.size(), 2u + 4096u);
  EXPECT_EQ(Written().substr(0, 6), "1000c9");

  stream_.written.clear();
  property.value = TOrvString<char>(std::string(4088, 'v'));
  EXPECT_FALSE(SendPacket(&framer_, &stream_, kChannelServerProperty, property));
  EXPECT_TRUE(stream_.written.empty());
  EXPECT_TRUE(Logged("Packet in channel 201 does not fit a frame of 4096 bytes: not sent"));

  // A framer of another size sets the limit.
  Network::TPacketHelperBase small(16);
  const TServerPropertyPacket fits{TOrvString<char>(), "1234567"};
  const TServerPropertyPacket overflows{TOrvString<char>(), "12345678"};
  EXPECT_FALSE(SendPacket(&small, &stream_, kChannelServerProperty, overflows));
  EXPECT_TRUE(SendPacket(&small, &stream_, kChannelServerProperty, fits));
}

TEST_F(ClientPacketSendingTest, NullAndClosedSocketsAreNotTouched) {
  TScriptedStream closed;
  closed.closed = true;
  const TClientEvent event;
  const struct {
    const char* name;
    std::function<bool(IStreamInterface*)> send;
    IStreamInterface* socket;
    const char* line;
  } cases[] = {
      {"plain, null", [&](IStreamInterface* s) { return SendPacket(&framer_, s, kChannelClientEvent, event); },
       nullptr, "Trying to send a packet to null socket in channel 200"},
      {"plain, closed", [&](IStreamInterface* s) { return SendPacket(&framer_, s, kChannelClientEvent, event); },
       &closed, "Trying to send a packet to a closed socket in channel 200"},
      {"with data, null",
       [&](IStreamInterface* s) { return SendPacketWithData(&framer_, s, kChannelGameData, OrvNetId(), "d", 1); },
       nullptr, "Trying to send a packet with data to null socket in channel 194"},
      {"with data, closed",
       [&](IStreamInterface* s) { return SendPacketWithData(&framer_, s, kChannelReplayStream, 0u, "d", 1); },
       &closed, "Trying to send a packet with data to a closed socket in channel 207"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    OrvTest::TCapturedNetworkLog::Lines().clear();
    EXPECT_FALSE(test.send(test.socket));
    ASSERT_EQ(OrvTest::TCapturedNetworkLog::Lines().size(), 1u);
    EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].text, test.line);
    EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].level, Network::kNetworkLogWarning);
  }
  EXPECT_EQ(closed.writes, 0);
}

TEST_F(ClientPacketSendingTest, RefusedWriteIsAFailedSend) {
  stream_.failWrites = true;
  EXPECT_FALSE(SendPacket(&framer_, &stream_, kChannelPingTable, TPingTableEntry{}));
  EXPECT_FALSE(SendPacketWithData(&framer_, &stream_, kChannelGameData, OrvNetId(), "d", 1));
}

}  // namespace
}  // namespace Orvan::Dedicated
