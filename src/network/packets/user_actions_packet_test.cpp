#include "network/packets/user_actions_packet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/objects/ref_counting.h"
#include "support/network_test_helpers.h"

namespace Orvan::Network {
namespace {

std::string LittleEndian(std::uint32_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string Payload(const TPacketBufferPtr& packet) {
  return std::string(reinterpret_cast<const char*>(packet->GetPayload()), packet->length);
}

std::string PacketBytes(const TMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.GetData()), stream.GetSize());
}

TPacketBufferPtr PacketOf(const std::string& payload) {
  TPacketBufferPtr packet;
  CreatePacketBuffer(packet, payload.data(), static_cast<std::uint16_t>(payload.size()));
  return packet;
}

TEST(UserActionsPacket, CarriesTheActionsInLittleEndianOnChannel100AndEmptiesTheBuffer) {
  const struct {
    std::uint32_t count;
    std::string actions;
  } cases[] = {{3, "0123456789"}, {0, ""}};
  for (const auto& c : cases) {
    TCountedPtr<TMemoryStream> actions(new TMemoryStream);
    if (!c.actions.empty()) actions->Write(c.actions.data(), static_cast<std::uint32_t>(c.actions.size()));
    std::uint32_t count = c.count;
    const TPacketBufferPtr packet = MakeUserActionsPacket(*actions, count, 0x01020304, 40);
    ASSERT_FALSE(packet.IsNull());
    EXPECT_EQ(packet->channel, kUserActionsChannel);
    EXPECT_EQ(packet->length, 14 + c.actions.size());  // 24 for 3 actions in 10 bytes
    EXPECT_EQ(Payload(packet), LittleEndian(0x01020304, 4) + LittleEndian(40, 4) + LittleEndian(c.count, 4) +
                                   LittleEndian(static_cast<std::uint32_t>(c.actions.size()), 2) + c.actions);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(actions->GetSize(), 0u);
    EXPECT_EQ(actions->GetPosition(), 0u);
  }
}

TEST(UserActionsPacket, TooManyBytesForOnePacketGiveNullAndStillEmptyTheBuffer) {
  OrvTest::TCapturedNetworkLog log;
  TCountedPtr<TMemoryStream> actions(new TMemoryStream);
  const std::string bytes(TPacketBuffer::kMaximumPayload - kUserActionsHeadSize + 1, 'a');
  actions->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  std::uint32_t count = 9;
  EXPECT_TRUE(MakeUserActionsPacket(*actions, count, 1, 2).IsNull());
  EXPECT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(actions->GetSize(), 0u);
}

TEST(UserActionsPacket, ReadingAppendsAfterTheBytesAlreadyBuffered) {
  TCountedPtr<TMemoryStream> sent(new TMemoryStream);
  sent->Write("abc", 3);
  std::uint32_t sentCount = 2;
  const TPacketBufferPtr packet = MakeUserActionsPacket(*sent, sentCount, 17, 5);

  TCountedPtr<TMemoryStream> received(new TMemoryStream);
  received->Write("xy", 2);
  std::uint32_t count = 1;
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  ASSERT_TRUE(ReadUserActionsPacket(*received, count, packet, &first, &second));
  EXPECT_EQ(PacketBytes(*received), "xyabc");
  EXPECT_EQ(received->GetPosition(), 5u);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(first, 17u);
  EXPECT_EQ(second, 5u);
  // Into an empty buffer, without the caller values.
  TCountedPtr<TMemoryStream> empty(new TMemoryStream);
  std::uint32_t emptyCount = 0;
  ASSERT_TRUE(ReadUserActionsPacket(*empty, emptyCount, packet, nullptr, nullptr));
  EXPECT_EQ(PacketBytes(*empty), "abc");
  EXPECT_EQ(emptyCount, 2u);
}

TEST(UserActionsPacket, AShortPacketIsRefusedWithNothingChanged) {
  const std::string head = LittleEndian(1, 4) + LittleEndian(2, 4) + LittleEndian(3, 4);
  const struct {
    const char* name;
    TPacketBufferPtr packet;
  } cases[] = {
      {"null", TPacketBufferPtr()},
      {"empty", PacketOf("")},
      {"no byte count", PacketOf(head + "\x05")},
      {"fewer bytes than announced", PacketOf(head + LittleEndian(5, 2) + "abcd")},
      {"announces 65535", PacketOf(head + LittleEndian(0xFFFF, 2) + "abcd")},
  };
  for (const auto& c : cases) {
    TCountedPtr<TMemoryStream> actions(new TMemoryStream);
    actions->Write("kept", 4);
    std::uint32_t count = 7;
    std::uint32_t first = 11;
    std::uint32_t second = 12;
    EXPECT_FALSE(ReadUserActionsPacket(*actions, count, c.packet, &first, &second)) << c.name;
    EXPECT_EQ(PacketBytes(*actions), "kept") << c.name;
    EXPECT_EQ(actions->GetPosition(), 4u) << c.name;
    EXPECT_EQ(count, 7u) << c.name;
    EXPECT_EQ(first, 11u) << c.name;
    EXPECT_EQ(second, 12u) << c.name;
  }
}

}  // namespace
}  // namespace Orvan::Network
