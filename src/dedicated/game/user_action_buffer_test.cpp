#include "dedicated/game/user_action_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dedicated/clients/strivex_dedicated_user.h"
#include "network/packets/user_actions_packet.h"
#include "support/network_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

constexpr std::uint64_t kActionPlayer = 77;
const std::string kInvalidLine = "Dropping user action packet, invalid format (client 77)";
const std::string kFloodingLine = "Dropping user action packet, flooding (client 77)";

std::string LeInt(std::uint32_t value, int width) {
  std::string bytes;
  for (int i = 0; i < width; ++i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string Payload(const Network::TPacketBufferPtr& packet) {
  return std::string(reinterpret_cast<const char*>(packet->GetPayload()), packet->length);
}

class UserActionBufferTest : public ::testing::Test {
 protected:
  bool Append(const std::string& bytes) {
    return Buffer().Append(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
  TUserActionBuffer& Buffer() { return *user_.GetActionBuffer(); }

  OrvTest::TCapturedNetworkLog log_;
  TStrivexDedicatedUser user_{1, Network::OrvNetId::FromValue(kActionPlayer), nullptr, nullptr, sockaddr_storage{}};
};

// Steps on one buffer: the cap counts what is already there, a refused message leaves it as it
// was, and each refusal logs its line at level 1.
TEST_F(UserActionBufferTest, AppendKeepsOneTickWithin4063Bytes) {
  const struct {
    std::size_t size;
    bool accepted;
    const std::string* line;  // null: nothing logged
    std::uint32_t sizeAfter;
    std::uint32_t countAfter;
  } steps[] = {
      {0, false, &kInvalidLine, 0, 0}, {4000, true, nullptr, 4000, 1},      {64, false, &kFloodingLine, 4000, 1},
      {63, true, nullptr, 4063, 2},    {1, false, &kFloodingLine, 4063, 2}, {0, false, &kInvalidLine, 4063, 2},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.size);
    OrvTest::TCapturedNetworkLog::Lines().clear();
    EXPECT_EQ(Append(std::string(step.size, 'x')), step.accepted);
    EXPECT_EQ(Buffer().GetSize(), step.sizeAfter);
    EXPECT_EQ(Buffer().GetActionCount(), step.countAfter);
    if (step.line == nullptr) {
      EXPECT_TRUE(OrvTest::TCapturedNetworkLog::Lines().empty());
    } else {
      ASSERT_EQ(OrvTest::TCapturedNetworkLog::Lines().size(), 1u);
      EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].text, *step.line);
      EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].level, 1);
    }
  }
  EXPECT_FALSE(Buffer().Append(nullptr, 5)) << "no data is no message";
}

// The packet carries the messages back to back in their order; the next tick starts empty and
// still yields a packet, with count 0 and size 0.
TEST_F(UserActionBufferTest, EachTickMakesOnePacketAndEmptiesTheBuffer) {
  ASSERT_TRUE(Append("ab"));
  ASSERT_TRUE(Append("cde"));
  const struct {
    std::uint32_t tick;
    std::uint32_t count;
    std::string actions;
  } ticks[] = {{7, 2, "abcde"}, {8, 0, ""}};
  for (const auto& tick : ticks) {
    SCOPED_TRACE(tick.tick);
    const Network::TPacketBufferPtr packet = Buffer().MakeUserActionsPacket(tick.tick, 3);
    ASSERT_FALSE(packet.IsNull());
    EXPECT_EQ(packet->channel, Network::kUserActionsChannel);
    EXPECT_EQ(Payload(packet), LeInt(tick.tick, 4) + LeInt(3, 4) + LeInt(tick.count, 4) +
                                   LeInt(static_cast<std::uint32_t>(tick.actions.size()), 2) + tick.actions);
    EXPECT_EQ(Buffer().GetSize(), 0u);
    EXPECT_EQ(Buffer().GetActionCount(), 0u);
  }
  // A full tick's worth fits again.
  EXPECT_TRUE(Append(std::string(kUserActionBufferLimit, 'y')));
}

// The tick's game messages are counted as the frames relayed of them, 12 bytes above their data,
// against the orders' cap but apart from the orders; each tick, and a reset, starts them afresh.
TEST_F(UserActionBufferTest, GameMessagesOfATickAreHeldToTheOrdersCapCountedAsRelayedFrames) {
  const std::string flooding = "Dropping game message, flooding (client 77)";
  ASSERT_TRUE(Append(std::string(kUserActionBufferLimit, 'o')));
  const struct {
    const char* what;  // "tick" and "reset" start afresh, else a message of `size` bytes
    std::uint32_t size;
    bool accepted;
    std::uint32_t counted;  // GetGameMessageBytes afterwards
  } steps[] = {
      {"message", 4000, true, 4012},  {"message", 40, false, 4012}, {"message", 39, true, 4063},
      {"message", 0, false, 4063},    {"tick", 0, true, 0},         {"message", 4051, true, 4063},
      {"reset", 0, true, 0},          {"message", 1, true, 13},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.what) + " " + std::to_string(step.size));
    OrvTest::TCapturedNetworkLog::Lines().clear();
    if (std::string(step.what) == "tick") {
      Buffer().MakeUserActionsPacket(1, 0);
    } else if (std::string(step.what) == "reset") {
      Buffer().Reset();
    } else {
      EXPECT_EQ(Buffer().ChargeGameMessage(step.size), step.accepted);
      const auto& lines = OrvTest::TCapturedNetworkLog::Lines();
      EXPECT_EQ(lines.size(), step.accepted ? 0u : 1u);
      if (!step.accepted && !lines.empty()) {
        EXPECT_EQ(lines[0].text, flooding);
        EXPECT_EQ(lines[0].level, 1);
      }
    }
    EXPECT_EQ(Buffer().GetGameMessageBytes(), step.counted);
  }
}

// A replay saved between two ticks empties the buffer: what follows starts a fresh tick.
TEST_F(UserActionBufferTest, ResetEmptiesWithoutATick) {
  ASSERT_TRUE(Append(std::string(4000, 'x')));
  Buffer().Reset();
  EXPECT_EQ(Buffer().GetSize(), 0u);
  EXPECT_EQ(Buffer().GetActionCount(), 0u);
  ASSERT_TRUE(Append("z"));
  const Network::TPacketBufferPtr packet = Buffer().MakeUserActionsPacket(1, 0);
  ASSERT_FALSE(packet.IsNull());
  EXPECT_EQ(Payload(packet), LeInt(1, 4) + LeInt(0, 4) + LeInt(1, 4) + LeInt(1, 2) + "z");
}

}  // namespace
}  // namespace Orvan::Dedicated
