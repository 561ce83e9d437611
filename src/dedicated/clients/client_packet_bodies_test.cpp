#include "dedicated/clients/client_packet_bodies.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/clients/client_disconnect_reason.h"
#include "dedicated/clients/client_packet_sending.h"
#include "network/packets/buffer_io.h"
#include "network/packets/packet_helper.h"
#include "support/network_test_helpers.h"
#include "support/scripted_stream.h"

namespace Orvan::Dedicated {
namespace {

using Network::IBufferReader;
using Network::IBufferWriter;
using Network::OrvNetId;
using Network::TFixedBufferReader;
using Network::TFixedBufferWriter;
using OrvTest::HexText;
using OrvTest::TScriptedStream;

constexpr std::uint32_t kFrameLimit = 4096;

std::string Compact(std::string hex) {
  std::erase(hex, ' ');
  return hex;
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// One body: the frame it makes on the wire, and what its unpacker makes of that frame's body bytes
// (packed again, so that every field is compared; `complete` is the unpacker's verdict).
struct TBodyRow {
  std::string name;
  std::string frame;
  std::function<std::string()> send;
  std::function<std::string(const std::vector<std::uint8_t>& body, bool& complete)> reread;
};

// A body with a member of the sending family goes out through it; the others (the bodies the server
// only reads, and the id list, which has no channel: -1) are packed and framed here.
template <typename TBody>
TBodyRow Row(const char* name, int channel, TBody body,
             std::uint32_t (*write)(IBufferWriter&, const TBody&), bool (*read)(IBufferReader&, TBody&),
             const std::string& frame) {
  TBodyRow row;
  row.name = name;
  row.frame = Compact(frame);
  // Held in common: the lists cannot be copied.
  const auto held = std::make_shared<const TBody>(std::move(body));
  row.send = [=]() -> std::string {
    const TBody& body = *held;
    Network::TPacketHelperBase framer(kFrameLimit);
    TScriptedStream stream;
    const auto channelByte = static_cast<std::uint8_t>(channel);
    if constexpr (requires { SendPacket(&framer, &stream, channelByte, body); }) {
      if (!SendPacket(&framer, &stream, channelByte, body)) return "send failed";
    } else {
      std::uint8_t buffer[kFrameLimit];
      TFixedBufferWriter writer(buffer, kFrameLimit);
      if (channel >= 0) writer.Write(&channelByte, 1);
      if (write(writer, body) != Network::kBufferOk) return "pack failed";
      if (channel < 0) return HexText(buffer, writer.GetPosition());
      framer.SendPacketWithSize(&stream, buffer, static_cast<std::uint16_t>(writer.GetPosition()));
    }
    return HexText(stream.written.data(), stream.written.size());
  };
  row.reread = [=](const std::vector<std::uint8_t>& bytes, bool& complete) {
    TBody copy{};
    TFixedBufferReader reader(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    complete = read(reader, copy);
    std::uint8_t buffer[kFrameLimit];
    TFixedBufferWriter writer(buffer, kFrameLimit);
    write(writer, copy);
    return HexText(buffer, writer.GetPosition());
  };
  return row;
}

TClientConnectPacket ConnectPacket() {
  TClientConnectPacket body;
  body.playerId = OrvNetId::FromValue(5);
  for (std::uint32_t i = 0; i < Network::kMmsLoginDataSize; ++i) body.loginData[i] = static_cast<std::uint8_t>(i);
  body.version = "1.0";
  body.ask = true;
  body.password = "pw";
  return body;
}

std::string TicketHex() {
  std::uint8_t ticket[Network::kMmsLoginDataSize];
  for (std::uint32_t i = 0; i < Network::kMmsLoginDataSize; ++i) ticket[i] = static_cast<std::uint8_t>(i);
  return HexText(ticket, sizeof(ticket));
}

template <typename TList, typename TEntry>
TList ListOf(std::initializer_list<TEntry> entries) {
  TList list;
  for (const TEntry& entry : entries) list.PushBack(entry);
  return list;
}

std::vector<TBodyRow> BodyRows() {
  return {
      Row("connect", kChannelInitConnection, ConnectPacket(), &WriteClientConnectPacket, &ReadClientConnectPacket,
          "0097 c1 0000000000000005" + TicketHex() + "00000003 312e30 01 00000002 7077"),
      // "LaL": the flag is one byte between two u32, 9 bytes of body.
      Row("admission answer, spectator", kChannelInitConnection, TAdmissionAnswer{1, true, 0}, &WriteAdmissionAnswer,
          &ReadAdmissionAnswer, "000a c1 00000001 01 00000000"),
      Row("admission answer, player", kChannelInitConnection, TAdmissionAnswer{7, false, 53}, &WriteAdmissionAnswer,
          &ReadAdmissionAnswer, "000a c1 00000007 00 00000035"),
      Row("ping request", kChannelSystemMessage, TSystemMessage{kSystemCommandPingRequest, 7}, &WriteSystemMessage,
          &ReadSystemMessage, "0006 c5 01 00000007"),
      Row("last packet", kChannelLastPacket,
          TSystemMessage{kLastPacketCommand, static_cast<std::uint32_t>(ClientDisconnectReason::Full)},
          &WriteSystemMessage, &ReadSystemMessage, "0006 c7 00 00000005"),
      Row("join event", kChannelClientEvent, TClientEvent{ClientEventKind::Joined, OrvNetId::FromValue(5), true, 2},
          &WriteClientEvent, &ReadClientEvent, "000f c8 00 0000000000000005 01 00000002"),
      Row("host event", kChannelClientEvent,
          TClientEvent{ClientEventKind::Host, OrvNetId::FromValue(0x0102030405060708), false, 3}, &WriteClientEvent,
          &ReadClientEvent, "000f c8 03 0102030405060708 00 00000003"),
      Row("server property", kChannelServerProperty, TServerPropertyPacket{"Name", "x"}, &WriteServerProperty,
          &ReadServerProperty, "000e c9 00000004 4e616d65 00000001 78"),
      Row("player variable", kChannelPlayerVariable, TPlayerVariablePacket{2, "a", TOrvString<char>()},
          &WritePlayerVariable, &ReadPlayerVariable, "000e ca 00000002 00000001 61 00000000"),
      Row("player command", kChannelPlayerCommand, TPlayerCommandPacket{"launch"}, &WritePlayerCommand,
          &ReadPlayerCommand, "000b cb 00000006 6c61756e6368"),
      Row("player numbers", kChannelPlayerNumbers, ListOf<TNumberPairList>({TNumberPair{1, 0}, TNumberPair{2, 1}}),
          &WriteNumberPairs, &ReadNumberPairs, "0015 cc 00000002 00000001 00000000 00000002 00000001"),
      Row("no player numbers", kChannelPlayerNumbers, TNumberPairList(), &WriteNumberPairs, &ReadNumberPairs,
          "0005 cc 00000000"),
      Row("state timer", kChannelStateWillChange, TThreeValuesPacket{{53, 0xFFFFFFFF, 16}}, &WriteThreeValues,
          &ReadThreeValues, "000d cd 00000035 ffffffff 00000010"),
      Row("state request", kChannelStateWillChange, TStateRequestPacket{52}, &WriteStateRequest, &ReadStateRequest,
          "0005 cd 00000034"),
      Row("next state", kChannelNextState, TThreeValuesPacket{{0xFFFFFFFF, 0, 0}}, &WriteThreeValues,
          &ReadThreeValues, "000d ce ffffffff 00000000 00000000"),
      Row("ping table", kChannelPingTable, TPingTableEntry{OrvNetId::FromValue(5), 9999}, &WritePingTableEntry,
          &ReadPingTableEntry, "000d d0 0000000000000005 0000270f"),
      Row("server available", 229, Network::TMmsSlaveStatusMessage{true}, &Network::WriteMmsSlaveStatusMessage,
          &Network::ReadMmsSlaveStatusMessage, "0002 e5 01"),
      Row("id list", -1,
          ListOf<TIdList>({TIdListEntry{1, 10}, TIdListEntry{0xFFFFFFFFFFFFFFFF, 0x80000000}}), &WriteIdList,
          &ReadIdList, "00000002 0000000000000001 0000000a ffffffffffffffff 80000000"),
  };
}

TEST(ClientPacketBodies, FrameBytesAndRoundTrips) {
  for (const TBodyRow& row : BodyRows()) {
    SCOPED_TRACE(row.name);
    ASSERT_EQ(row.send(), row.frame);
    // The body behind the length and the channel (the id list is a bare body).
    const std::size_t head = row.name == "id list" ? 0 : 6;
    const std::vector<std::uint8_t> body = FromHex(row.frame.substr(head));
    bool complete = false;
    EXPECT_EQ(row.reread(body, complete), row.frame.substr(head));
    EXPECT_TRUE(complete);
    // Every field must be there: each shorter body is refused.
    for (std::size_t size = 0; size < body.size(); ++size) {
      row.reread(std::vector<std::uint8_t>(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(size)), complete);
      EXPECT_FALSE(complete) << "read from " << size << " of " << body.size() << " bytes";
    }
  }
}

TEST(ClientPacketBodies, ConnectPacketFieldsReadBack) {
  const std::vector<std::uint8_t> bytes =
      FromHex(Compact("0000000000000009" + TicketHex() + "00000003 322e30 02 00000000"));
  TClientConnectPacket body;
  TFixedBufferReader reader(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  ASSERT_TRUE(ReadClientConnectPacket(reader, body));
  EXPECT_EQ(body.playerId, OrvNetId::FromValue(9));
  EXPECT_EQ(HexText(body.loginData, sizeof(body.loginData)), TicketHex());
  EXPECT_STREQ(body.version.c_str(), "2.0");
  EXPECT_TRUE(body.ask);  // any non-zero byte
  EXPECT_TRUE(body.password.IsEmpty());
}

// The lists append to what the caller holds and keep every whole entry read before the failure.
TEST(ClientPacketBodies, ListsKeepWhatTheyRead) {
  const std::vector<std::uint8_t> ids =
      FromHex(Compact("00000002 0000000000000001 0000000a 0000000000000002 000000"));
  TIdList entries = ListOf<TIdList>({TIdListEntry{9, 9}});
  TFixedBufferReader idReader(ids.data(), static_cast<std::uint32_t>(ids.size()));
  EXPECT_FALSE(ReadIdList(idReader, entries));
  ASSERT_EQ(entries.GetSize(), 2u);
  EXPECT_EQ(entries[0].id, 9u);
  EXPECT_EQ(entries[1].id, 1u);
  EXPECT_EQ(entries[1].value, 10u);

  const struct {
    const char* name;
    std::string bytes;
    std::uint32_t kept;
  } cases[] = {
      {"cut inside the second pair's value", "00000002 00000001 00000002 00000003 0000", 1},
      {"cut between a pair's two numbers", "00000002 00000001 00000002 00000003", 1},
      {"a count far above what follows", "ffffffff 00000001 00000002", 1},
      {"cut inside the count", "000000", 0},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    const std::vector<std::uint8_t> bytes = FromHex(Compact(test.bytes));
    TNumberPairList pairs;
    TFixedBufferReader reader(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_FALSE(ReadNumberPairs(reader, pairs));
    ASSERT_EQ(pairs.GetSize(), test.kept);
    if (test.kept != 0) {
      EXPECT_EQ(pairs[0].userSessionId, 1u);
      EXPECT_EQ(pairs[0].value, 2u);
    }
  }
}

}  // namespace
}  // namespace Orvan::Dedicated
