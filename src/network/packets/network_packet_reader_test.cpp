#include "network/packets/network_packet_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/memory/stack_based_allocator.h"
#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"

namespace Orvan::Network {
namespace {

TPacketBufferPtr PacketOf(const std::vector<std::uint8_t>& payload) {
  TPacketBufferPtr packet;
  CreatePacketBuffer(packet, payload.data(), static_cast<std::uint16_t>(payload.size()));
  return packet;
}

std::vector<std::uint8_t> LengthPrefixed(std::uint32_t length, std::uint32_t bytesPresent) {
  std::vector<std::uint8_t> payload = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8)};
  for (std::uint32_t i = 0; i < bytesPresent; ++i) payload.push_back(static_cast<std::uint8_t>('a' + i % 26));
  return payload;
}

TEST(NetworkPacketReader, ReadsThePayloadFromTheFrontAndAShortReadConsumesNothing) {
  TNetworkPacketReader reader(PacketOf({1, 2, 3, 4, 5}));
  std::uint8_t bytes[8] = {};
  EXPECT_TRUE(reader.Read(bytes, 2));
  EXPECT_EQ(bytes[0], 1);
  EXPECT_EQ(bytes[1], 2);
  EXPECT_FALSE(reader.CanRead(4));
  EXPECT_FALSE(reader.Read(bytes, 4));
  EXPECT_EQ(reader.GetRemainingSize(), 3u);
  EXPECT_TRUE(reader.Read(bytes, 3));
  EXPECT_EQ(bytes[2], 5);
  EXPECT_TRUE(reader.Read(bytes, 0));
  EXPECT_FALSE(reader.Read(bytes, 1));
}

TEST(NetworkPacketReader, KeepsItsPacketAliveAfterTheCallersHandleIsGone) {
  TPacketBufferPtr packet = PacketOf({7});
  TNetworkPacketReader reader(packet);
  EXPECT_EQ(packet->refCount, 2);
  packet.Reset();
  std::uint8_t byte = 0;
  EXPECT_TRUE(reader.Read(&byte, 1));
  EXPECT_EQ(byte, 7);
}

TEST(NetworkPacketReader, ANullPacketHasNothingToRead) {
  TNetworkPacketReader reader{TPacketBufferPtr()};
  std::uint8_t byte = 0;
  EXPECT_FALSE(reader.Read(&byte, 1));
  EXPECT_TRUE(reader.Read(&byte, 0));
}

TEST(ReadLengthPrefixedString, Table) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> payload;
    bool ok;
    std::string expected;  // when ok
    std::uint32_t remaining;
  };
  const std::vector<std::uint8_t> hello = {0x05, 0x00, 'h', 'e', 'l', 'l', 'o', '!'};
  const Case cases[] = {
      {"hello, the rest left", hello, true, "hello", 1},
      {"little-endian length", {0x01, 0x00, 'z'}, true, "z", 0},
      {"three bytes short of five", {0x05, 0x00, 'h', 'e'}, false, "", 2},
      {"length only half there", {0x05}, false, "", 1},
      {"empty payload", {}, false, "", 0},
      {"length 0", {0x00, 0x00, 'x'}, true, "", 1},
      {"big-endian reading would be 0x0100", {0x00, 0x01, 'q'}, false, "", 1},
  };
  for (const Case& c : cases) {
    TNetworkPacketReader reader(PacketOf(c.payload));
    TOrvString<char> text("unchanged");
    EXPECT_EQ(ReadLengthPrefixedString(reader, text), c.ok) << c.name;
    EXPECT_EQ(std::string(text.c_str()), c.ok ? c.expected : std::string("unchanged")) << c.name;
    EXPECT_EQ(reader.GetRemainingSize(), c.remaining) << c.name;
  }
}

TEST(ReadLengthPrefixedString, LongTextsGoThroughTheThreadsScratchBlockAndGiveItBack) {
  struct Case {
    std::uint32_t length;
    std::uint32_t present;
  };
  const Case cases[] = {{16401, 16401}, {16402, 16402}, {60000, 60000}, {16402, 16401}};
  TStackBasedAllocator* scratch = GetThreadStackAllocator();
  const std::uint32_t usedBefore = scratch->GetCurrentChunk()->used;
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> payload = LengthPrefixed(c.length, c.present);
    TNetworkPacketReader reader(PacketOf(payload));
    TOrvString<char> text;
    const bool ok = ReadLengthPrefixedString(reader, text);
    EXPECT_EQ(ok, c.present == c.length) << c.length;
    if (ok) {
      EXPECT_EQ(text.GetLength(), c.length);
      EXPECT_EQ(std::memcmp(text.c_str(), payload.data() + 2, c.length), 0);
    }
    EXPECT_EQ(GetThreadStackAllocator()->GetCurrentChunk()->used, usedBefore) << c.length;
  }
}

TEST(NetworkPacketReaderFromStream, ReadsFromThePositionAndAShortReadConsumesNothing) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  stream->Write("\x05\x00hello!", 8);
  stream->SetPosition(0);
  TNetworkPacketReaderFromStream reader(stream.Get());
  TOrvString<char> text;
  EXPECT_TRUE(ReadLengthPrefixedString(reader, text));
  EXPECT_EQ(text, "hello");
  char bytes[4] = {};
  EXPECT_FALSE(reader.Read(bytes, 2));
  EXPECT_EQ(stream->GetPosition(), 7u);
  EXPECT_TRUE(reader.Read(bytes, 1));
  EXPECT_EQ(bytes[0], '!');
  EXPECT_TRUE(reader.Read(bytes, 0));
  EXPECT_FALSE(reader.Read(bytes, 1));
}

TEST(NetworkPacketReaderFromStream, APositionPastTheSizeReadsNothing) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  stream->Write("abcd", 4);
  stream->SetPosition(10);
  TNetworkPacketReaderFromStream reader(stream.Get());
  char byte = 'x';
  EXPECT_FALSE(reader.Read(&byte, 1));
  EXPECT_FALSE(reader.Read(&byte, 0));
  EXPECT_EQ(byte, 'x');
  EXPECT_EQ(stream->GetPosition(), 10u);
}

TEST(NetworkPacketReader, PackerSourceAnswersTwoWhenShort) {
  TNetworkPacketReader reader(PacketOf({1, 2}));
  TNetworkPacketBufferReader source(reader);
  std::uint8_t bytes[3];
  EXPECT_EQ(source.Read(bytes, 3), kBufferReaderShort);
  EXPECT_EQ(source.Read(bytes, 2), kBufferOk);
}

}  // namespace
}  // namespace Orvan::Network
