#include "network/packets/packet_buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "support/network_hook_counters.h"

namespace Orvan::Network {
namespace {

using OrvTest::TCountingNetworkAllocator;

TEST(PacketBuffer, CreatedWithNullDataHasChannelZeroAndAZeroedPayload) {
  TCountingNetworkAllocator counting;
  TPacketBufferPtr packet;
  CreatePacketBuffer(packet, nullptr, 5);
  ASSERT_FALSE(packet.IsNull());
  EXPECT_EQ(TCountingNetworkAllocator::lastSize, 9u);
  EXPECT_EQ(packet->length, 5);
  EXPECT_EQ(packet->refCount, 1);
  EXPECT_EQ(packet->channel, 0);
  const std::uint8_t zeroes[5] = {};
  EXPECT_EQ(std::memcmp(packet->GetPayload(), zeroes, 5), 0);
}

TEST(PacketBuffer, CreatedFromDataCopiesItAndReplacesTheHandlesOldPacket) {
  TCountingNetworkAllocator counting;
  TPacketBufferPtr packet;
  CreatePacketBuffer(packet, "abc", 3);
  CreatePacketBuffer(packet, "hello", 5);
  EXPECT_EQ(TCountingNetworkAllocator::frees, 1);
  EXPECT_EQ(packet->length, 5);
  EXPECT_EQ(std::memcmp(packet->GetPayload(), "hello", 5), 0);
  EXPECT_EQ(packet->GetChannelAndPayload() + 1, packet->GetPayload());
}

TEST(PacketBufferPtr, CopiesShareTheBlockAndTheLastReleaseFreesIt) {
  TCountingNetworkAllocator counting;
  {
    TPacketBufferPtr first;
    CreatePacketBuffer(first, "x", 1);
    TPacketBufferPtr second = first;
    EXPECT_EQ(second.Get(), first.Get());
    EXPECT_EQ(first->refCount, 2);
    TPacketBufferPtr third;
    third = second;
    EXPECT_EQ(first->refCount, 3);
    TPacketBufferPtr moved = std::move(third);
    EXPECT_TRUE(third.IsNull());
    EXPECT_EQ(first->refCount, 3);
    second.Reset();
    moved.Reset();
    EXPECT_EQ(first->refCount, 1);
    EXPECT_EQ(TCountingNetworkAllocator::frees, 0);
  }
  EXPECT_EQ(TCountingNetworkAllocator::frees, 1);
}

TEST(PacketBufferPtr, SelfAssignmentKeepsTheBlockAndItsCount) {
  TCountingNetworkAllocator counting;
  TPacketBufferPtr packet;
  CreatePacketBuffer(packet, "x", 1);
  TPacketBuffer* block = packet.Get();
  TPacketBufferPtr& alias = packet;
  packet = alias;
  EXPECT_EQ(packet.Get(), block);
  EXPECT_EQ(packet->refCount, 1);
  packet = std::move(alias);
  EXPECT_EQ(packet.Get(), block);
  EXPECT_EQ(packet->refCount, 1);
  EXPECT_EQ(TCountingNetworkAllocator::frees, 0);
}

TEST(PacketBufferPtr, AssigningAnotherPacketReleasesTheOldOne) {
  TCountingNetworkAllocator counting;
  TPacketBufferPtr a;
  TPacketBufferPtr b;
  CreatePacketBuffer(a, "a", 1);
  CreatePacketBuffer(b, "b", 1);
  a = b;
  EXPECT_EQ(TCountingNetworkAllocator::frees, 1);
  EXPECT_EQ(b->refCount, 2);
  TPacketBufferPtr empty;
  a = empty;
  EXPECT_TRUE(a.IsNull());
  EXPECT_EQ(b->refCount, 1);
}

TEST(PacketBufferPtr, HoldsTwoHundredFiftyFiveReferences) {
  TCountingNetworkAllocator counting;
  TPacketBufferPtr first;
  CreatePacketBuffer(first, "x", 1);
  std::vector<TPacketBufferPtr> holders(254, first);
  EXPECT_EQ(first->refCount, 255);
  holders.clear();
  EXPECT_EQ(first->refCount, 1);
  EXPECT_EQ(TCountingNetworkAllocator::frees, 0);
}

using PacketBufferDeathTest = ::testing::Test;

TEST_F(PacketBufferDeathTest, AReferenceBeyondTheTwoHundredFiftyFifthEndsTheProcessWithALogLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TPacketBufferPtr first;
  CreatePacketBuffer(first, "x", 1);
  std::vector<TPacketBufferPtr> holders(254, first);
  EXPECT_DEATH({ TPacketBufferPtr one = first; }, "cannot be held by more than 255 handles");
  EXPECT_EQ(first->refCount, 255);
}

TEST_F(PacketBufferDeathTest, ANullFromTheAllocateHookEndsTheProcessWithALogLine) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        TCountingNetworkAllocator counting;
        TCountingNetworkAllocator::failAllocate = true;
        TPacketBufferPtr packet;
        CreatePacketBuffer(packet, "x", 1);
      },
      "Network allocation of 5 bytes failed");
}

}  // namespace
}  // namespace Orvan::Network
