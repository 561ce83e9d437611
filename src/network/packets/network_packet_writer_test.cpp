#include "network/packets/network_packet_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"
#include "support/network_hook_counters.h"
#include "support/network_test_helpers.h"

namespace Orvan::Network {
namespace {

using OrvTest::TCountingNetworkAllocator;

TEST(NetworkPacketWriter, GrowsTheBlockByDoublingOrToWhatTheBytesNeed) {
  struct Case {
    std::uint32_t initialPayload;
    std::vector<std::uint32_t> writes;
    std::uint32_t initialCapacity;
    std::uint32_t finalCapacity;
    int reallocations;
  };
  const Case cases[] = {
      {4096, {5000}, 4112, 8224, 1},  // twice 4112 exceeds 4 + 5000
      {0, {}, 16, 16, 0},
      {12, {12}, 16, 16, 0},          // header and 12 bytes fill 16 exactly
      {12, {13}, 16, 32, 1},
      {0, {100}, 16, 104, 1},         // 4 + 100 exceeds twice 16
      {0, {10, 10, 10}, 16, 64, 2},
  };
  for (const Case& c : cases) {
    TCountingNetworkAllocator counting;
    TNetworkPacketWriter writer(c.initialPayload);
    EXPECT_EQ(writer.GetCapacity(), c.initialCapacity) << c.initialPayload;
    std::vector<std::uint8_t> expected;
    for (std::uint32_t size : c.writes) {
      std::vector<std::uint8_t> bytes(size);
      for (std::uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(expected.size() + i);
      writer.Write(bytes.data(), size);
      expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(writer.GetCapacity(), c.finalCapacity) << c.initialPayload;
    EXPECT_EQ(TCountingNetworkAllocator::reallocations, c.reallocations) << c.initialPayload;
    TPacketBufferPtr packet = writer.Finish(9);
    ASSERT_FALSE(packet.IsNull());
    EXPECT_EQ(packet->length, expected.size());
    EXPECT_EQ(packet->channel, 9);
    EXPECT_EQ(packet->refCount, 1);
    EXPECT_TRUE(expected.empty() || std::memcmp(packet->GetPayload(), expected.data(), expected.size()) == 0);
  }
}

TEST(NetworkPacketWriter, FinishHandsOverItsOwnBlockAndLeavesTheWriterEmpty) {
  TCountingNetworkAllocator counting;
  TPacketBufferPtr packet;
  {
    TNetworkPacketWriter writer(8);
    writer.Write("abc", 3);
    packet = writer.Finish(200);
    EXPECT_EQ(writer.GetCapacity(), 0u);
    EXPECT_EQ(writer.GetPayloadSize(), 0u);
  }
  EXPECT_EQ(TCountingNetworkAllocator::allocations, 1);
  EXPECT_EQ(TCountingNetworkAllocator::frees, 0);
  EXPECT_EQ(packet->length, 3);
  EXPECT_EQ(packet->channel, 200);
}

TEST(NetworkPacketWriter, WithoutPayloadGivesALengthZeroPacketOnItsChannel) {
  TNetworkPacketWriter writer;
  TPacketBufferPtr packet = writer.Finish(7);
  ASSERT_FALSE(packet.IsNull());
  EXPECT_EQ(packet->length, 0);
  EXPECT_EQ(packet->channel, 7);
}

TEST(NetworkPacketWriter, WritingAfterFinishStartsAnotherPacket) {
  TNetworkPacketWriter writer;
  writer.Write("a", 1);
  TPacketBufferPtr first = writer.Finish(1);
  writer.Write("bc", 2);
  TPacketBufferPtr second = writer.Finish(2);
  ASSERT_FALSE(second.IsNull());
  EXPECT_EQ(second->length, 2);
  EXPECT_EQ(std::memcmp(second->GetPayload(), "bc", 2), 0);
  EXPECT_EQ(first->length, 1);
}

TEST(NetworkPacketWriter, APayloadAbove65535BytesIsRefusedWithALogLine) {
  TCountingNetworkAllocator counting;
  OrvTest::TCapturedNetworkLog log;
  const std::vector<std::uint8_t> bytes(65535, 0x5A);
  TNetworkPacketWriter fits;
  fits.Write(bytes.data(), 65535);
  TPacketBufferPtr largest = fits.Finish(1);
  ASSERT_FALSE(largest.IsNull());
  EXPECT_EQ(largest->length, 65535);

  TNetworkPacketWriter over;
  over.Write(bytes.data(), 65535);
  over.Write("x", 1);
  EXPECT_TRUE(over.Finish(1).IsNull());
  EXPECT_EQ(over.GetCapacity(), 0u);
  ASSERT_EQ(OrvTest::TCapturedNetworkLog::Lines().size(), 1u);
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].text,
            "TNetworkPacketWriter::Finish() -> payload of 65536 bytes is above the 65535 bytes of a packet: packet "
            "dropped");
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].level, kNetworkLogError);
  // The refused block went back: only the packet handed over is still out.
  EXPECT_EQ(TCountingNetworkAllocator::allocations - TCountingNetworkAllocator::frees, 1);
}

TEST(NetworkPacketWriter, PackerSinkAppendsToThePacket) {
  TNetworkPacketWriter writer;
  TNetworkPacketBufferWriter sink(writer);
  EXPECT_EQ(sink.Write("xyz", 3), kBufferOk);
  TPacketBufferPtr packet = writer.Finish(3);
  EXPECT_EQ(packet->length, 3);
}

TEST(NetworkPacketWriterIntoStream, CopiesTheStreamIntoAPacketAndEmptiesIt) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  TNetworkPacketWriterIntoStream writer(stream.Get());
  writer.Write("abc", 3);
  writer.Write("de", 2);
  EXPECT_EQ(stream->GetSize(), 5u);
  TPacketBufferPtr packet = writer.Finish(228);
  ASSERT_FALSE(packet.IsNull());
  EXPECT_EQ(packet->length, 5);
  EXPECT_EQ(packet->channel, 228);
  EXPECT_EQ(std::memcmp(packet->GetPayload(), "abcde", 5), 0);
  EXPECT_EQ(stream->GetSize(), 0u);
  EXPECT_EQ(stream->GetPosition(), 0u);

  // The emptied stream starts the next packet.
  writer.Write("z", 1);
  TPacketBufferPtr next = writer.Finish(1);
  EXPECT_EQ(next->length, 1);
  EXPECT_EQ(next->GetPayload()[0], 'z');
  TPacketBufferPtr empty = writer.Finish(2);
  EXPECT_EQ(empty->length, 0);
  EXPECT_EQ(empty->channel, 2);
}

TEST(NetworkPacketWriterIntoStream, AStreamAbove65535BytesIsRefusedAndEmptied) {
  OrvTest::TCapturedNetworkLog log;
  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  TNetworkPacketWriterIntoStream writer(stream.Get());
  const std::vector<std::uint8_t> bytes(65536, 7);
  writer.Write(bytes.data(), 65535);
  EXPECT_EQ(writer.Finish(1)->length, 65535);
  writer.Write(bytes.data(), 65536);
  EXPECT_TRUE(writer.Finish(1).IsNull());
  EXPECT_EQ(stream->GetSize(), 0u);
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(),
            std::vector<std::string>{"TNetworkPacketWriterIntoStream::Finish() -> stream of 65536 bytes is above the "
                                     "65535 bytes of a packet: packet dropped"});
}

using NetworkPacketWriterDeathTest = ::testing::Test;

TEST_F(NetworkPacketWriterDeathTest, ANullFromTheReallocateHookEndsTheProcessWithALogLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        TCountingNetworkAllocator counting;
        TCountingNetworkAllocator::failReallocate = true;
        TNetworkPacketWriter writer;
        const std::vector<std::uint8_t> bytes(100);
        writer.Write(bytes.data(), 100);
      },
      "Network reallocation to 104 bytes failed");
}

}  // namespace
}  // namespace Orvan::Network
