// Admitted clients' channels, in process: chat relayed to the players and written to the chat log,
// the game-data framing, the other channels and their drops, ping answers, the reading loop over
// several frames, and its end on a read failure or a disconnect.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/operations/operation_with_time_out.h"
#include "network/packets/packet_buffer.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/buffer_event_socket.h"
#include "support/client_channel_fixture.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"
#include "support/scripted_stream.h"

namespace Orvan::Dedicated {
namespace {

using OrvTest::BigEndian;
using OrvTest::Frame;

using OrvTest::ChatData;
using OrvTest::GameFrame;
using OrvTest::RelayBody;
using OrvTest::TChannelTest;

const char kPeerIp[] = "127.0.0.1:5000";
constexpr std::uint32_t kToAll = TDedicatedSession::kEveryPlayer;

// A session whose client command "leave <reason>" disconnects its sender with that reason, as a
// kick of oneself does; everything else as little as admission needs.
class TLeavingSession final : public TDedicatedSession {
 public:
  explicit TLeavingSession(std::uint32_t gameId) : TDedicatedSession("1.0", gameId) {}

  bool ValidatePropertyValue(const TOrvString<char>&, const TOrvString<char>&) override { return true; }
  TDedicatedSessionAbstractState* CreateInitialState() override { return nullptr; }
  bool IsMatchMakingState(std::uint32_t stateId) override { return stateId == 0; }
  void ExecuteClientCommand(TDedicatedUser* client, const TOrvString<char>& commandLine) override {
    const std::string line = commandLine.c_str();
    if (line.rfind("leave ", 0) == 0) client->Disconnect(static_cast<ClientDisconnectReason>(std::stoul(line.substr(6))));
  }
  bool ExecuteRConCommand(const TOrvString<char>&, ServerTools::IVirtualConsole*) override { return false; }
  void RegisterServerProperties() override {
    for (const char* name : {"NbMaxPlayer", "NbPlayer", "Version"}) {
      GetPropertyTable()->DeclareVariable(name, new TDedicatedPropertyValue("0", false, false, false, false));
    }
  }
  TDedicatedUser* CreateUser(std::uint32_t userSessionId, const Network::OrvNetId& networkId,
                             Network::TBufferEventSocket* connection, const sockaddr_storage& address,
                             const TUserStatisticsDocuments& statistics) override {
    return CreateStrivexDedicatedUser(userSessionId, networkId, this, connection, address, statistics);
  }
  void AssignAlliance(TDedicatedUser*) override {}
};

using ClientChannelTest = TChannelTest<TStrivexDedicatedSession>;
using ClientChannelStopTest = TChannelTest<TLeavingSession>;

TEST_F(ClientChannelTest, ChatReachesThePlayersAndTheChatLog) {
  TPeer* users[] = {&Admit(0x1001), &Admit(0x1002), &Admit(0x1003, true)};
  ASSERT_EQ(users[1]->user->GetUserSessionId(), 2u);
  struct Case {
    const char* what;
    int sender;
    std::uint32_t recipient;
    std::string text;
    std::vector<int> receivers;
  };
  const std::vector<Case> cases = {
      {"a player to everyone", 0, kToAll, "hello all", {0, 1}},
      {"a spectator to everyone", 2, kToAll, "from the stands", {0, 1}},
      {"to one player by session id", 0, 2, "just you", {1}},
      {"to a spectator's session id", 1, 3, "nobody hears", {}},
      {"to an unknown session id", 1, 99, "lost", {}},
      {"an empty text", 1, kToAll, "", {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::time_t before = std::time(nullptr);
    const std::size_t lineCount = ChatLogLines().size();
    EXPECT_TRUE(Feed(*users[c.sender], GameFrame(c.recipient, 'e', ChatData(c.text))));
    const std::vector<std::string> lines = ChatLogLines();
    ASSERT_EQ(lines.size(), lineCount + 1);
    EXPECT_EQ(Unstamped(lines.back(), before, std::time(nullptr)), std::to_string(users[c.sender]->id) + ": " + c.text);
    for (int i = 0; i < 3; ++i) {
      std::vector<std::string> expected;
      for (int receiver : c.receivers) {
        if (receiver == i) expected.push_back(RelayBody(users[c.sender]->id, 'e', ChatData(c.text)));
      }
      EXPECT_EQ(Received(*users[i]), expected) << "user " << i;
    }
  }
}

// The text's length is the sender's word: a message shorter than it says is dropped whole.
TEST_F(ClientChannelTest, ShortChatMessageIsDroppedWithoutLineOrRelay) {
  TPeer& sender = Admit(0x2001);
  TPeer& other = Admit(0x2002);
  const std::string unused("\x0a\x0b\x0c\x0d", 4);
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"shorter than the u32", "\x01"},
      {"no text length", unused},
      {"half a text length", unused + "\x05"},
      {"text shorter than its length", unused + std::string("\x0a\x00", 2) + "short"},
      {"largest length, one byte", unused + "\xff\xff" + "x"},
  };
  for (const auto& [what, data] : cases) {
    SCOPED_TRACE(what);
    const std::size_t from = Lines().size();
    EXPECT_TRUE(Feed(sender, GameFrame(kToAll, 'e', data)));
    EXPECT_EQ(LinesFrom(from), std::vector<std::string>{InvalidDataLine(sender.id)});
    EXPECT_EQ(LevelOf(InvalidDataLine(sender.id)), 1);
    EXPECT_TRUE(Received(sender).empty());
    EXPECT_TRUE(Received(other).empty());
  }
  EXPECT_TRUE(ChatLogLines().empty());
}

// Each player's chat is held to 5 lines a second in bursts of 10: the rest is neither written nor
// relayed, and one line a second at most says how many of the player's lines were dropped.
TEST_F(ClientChannelTest, ChatIsHeldToFiveLinesASecondForEachPlayer) {
  OrvTest::TManualClock clock;
  TPeer& talker = Admit(0xB001);
  TPeer& other = Admit(0xB002);
  const std::string dropped = " chat lines of client " + std::to_string(talker.id) + " (more than 5 a second)";
  struct Step {
    double ms;
    TPeer* sender;
    int lines;  // 0: a step of the session instead
    int passed;
    std::vector<std::string> logged;
  };
  const std::vector<Step> steps = {
      {0, &talker, 14, 10, {}},
      {0, &other, 3, 3, {}},  // a rate of its own
      {100, &talker, 1, 0, {}},
      {200, &talker, 2, 1, {}},
      {999, nullptr, 0, 0, {}},
      {1000, nullptr, 0, 0, {"Dropped 6" + dropped}},
      {1000, nullptr, 0, 0, {}},
      {1100, &talker, 5, 4, {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.ms);
    OrvTest::TManualClock::Now() = OrvTest::TManualClock::kStart + static_cast<TTimeStamp>(step.ms * 1e6);
    const std::size_t from = Lines().size();
    const std::size_t written = ChatLogLines().size();
    if (step.sender == nullptr) {
      session_.EnforceClientLimits(OrvTest::TManualClock::Now());
      EXPECT_EQ(LinesFrom(from), step.logged);
      continue;
    }
    std::string frames;
    for (int i = 0; i < step.lines; ++i) frames += GameFrame(kToAll, 'e', ChatData("line " + std::to_string(i)));
    EXPECT_TRUE(Feed(*step.sender, frames));
    EXPECT_EQ(ChatLogLines().size(), written + static_cast<std::size_t>(step.passed));
    // Relayed to every player, the sender too.
    EXPECT_EQ(Received(talker).size(), static_cast<std::size_t>(step.passed));
    EXPECT_EQ(Received(other).size(), static_cast<std::size_t>(step.passed));
    EXPECT_EQ(LinesFrom(from), step.logged);
  }
  // A player who leaves has its last count written first.
  const std::size_t from = Lines().size();
  talker.user->Disconnect(ClientDisconnectReason::ConnectionLost);
  const std::vector<std::string> lines = LinesFrom(from);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Dropped 1" + dropped);
  EXPECT_EQ(LevelOf(lines[0]), 1);
  EXPECT_EQ(lines[1].rfind("Disconnecting client " + std::to_string(talker.id), 0), 0u) << lines[1];
}

// A player's state requests and commands share one rate of 5 a second in bursts of 10, its chat
// another: a request past it is neither logged nor carried out (a dropped setpvar reaches nobody),
// and one line a second at most says how many were dropped. A forged line break in a command stays
// on its line.
TEST_F(ClientChannelTest, RequestsAreHeldToFiveASecondForEachPlayer) {
  OrvTest::TManualClock clock;
  TPeer& flooder = Admit(0xD001);
  TPeer& other = Admit(0xD002);
  const std::string id = std::to_string(flooder.id);
  const std::string dropped = " requests of client " + id + " (more than 5 a second)";
  const auto setpvar = [&](int i) {
    return Frame(203, OrvTest::LengthPrefixed("setpvar " + id + " PlayerDeckName deck" + std::to_string(i)));
  };
  const auto stateRequest = [](int i) { return Frame(205, BigEndian(1000 + i, 4)); };
  struct Step {
    double ms;
    int setpvars;  // -1: a step of the session instead
    int stateRequests;
    int chat;
    int carriedOut;  // requests that wrote their "request" line
    std::vector<std::string> logged;
  };
  const std::vector<Step> steps = {
      {0, 8, 8, 3, 10, {}},  // the chat has a rate of its own
      {100, 1, 0, 0, 0, {}},
      {400, 0, 2, 0, 2, {}},
      {999, -1, 0, 0, 0, {}},
      {1000, -1, 0, 0, 0, {"Dropped 7" + dropped}},
      {1000, -1, 0, 0, 0, {}},
      {1100, 5, 0, 0, 3, {}},  // 3.5 tokens since 400 ms
      {2099, -1, 0, 0, 0, {}},
      {2100, -1, 0, 0, 0, {"Dropped 2" + dropped}},
  };
  int sent = 0;
  for (const Step& step : steps) {
    SCOPED_TRACE(step.ms);
    OrvTest::TManualClock::Now() = OrvTest::TManualClock::kStart + static_cast<TTimeStamp>(step.ms * 1e6);
    const std::size_t from = Lines().size();
    if (step.setpvars < 0) {
      session_.EnforceClientLimits(OrvTest::TManualClock::Now());
      EXPECT_EQ(LinesFrom(from), step.logged);
      continue;
    }
    std::string frames;
    for (int i = 0; i < step.setpvars; ++i) frames += setpvar(sent++);
    for (int i = 0; i < step.stateRequests; ++i) frames += stateRequest(sent++);
    for (int i = 0; i < step.chat; ++i) frames += GameFrame(kToAll, 'e', ChatData("hi"));
    EXPECT_TRUE(Feed(flooder, frames));
    const std::vector<std::string> lines = LinesFrom(from);
    int carriedOut = 0;
    std::vector<std::string> dropLines;
    for (const std::string& line : lines) {
      if (line.find(" request command : ") != std::string::npos || line.find(" want request state to ") != std::string::npos) {
        ++carriedOut;
      }
      if (line.rfind("Dropped ", 0) == 0) dropLines.push_back(line);
    }
    EXPECT_EQ(carriedOut, step.carriedOut);
    EXPECT_EQ(dropLines, step.logged);
  }
  // Only the 11 setpvars carried out changed the variable, each sent to the other player once.
  int variableFrames = 0;
  for (const std::string& frame : Received(other)) variableFrames += static_cast<std::uint8_t>(frame[0]) == 202 ? 1 : 0;
  EXPECT_EQ(variableFrames, 11);
  EXPECT_EQ(flooder.user->GetUserVariable("PlayerDeckName")->GetValue(), "deck21");

  // Seconds later the bucket has refilled: a command with a forged line break is logged on one line.
  OrvTest::TManualClock::Now() += static_cast<TTimeStamp>(5000 * 1e6);
  const std::size_t from = Lines().size();
  EXPECT_TRUE(Feed(flooder, Frame(203, OrvTest::LengthPrefixed("launch\nClient added in session with id 1"))));
  EXPECT_EQ(LinesFrom(from), (std::vector<std::string>{
                                 "Client " + id + " request command : launch\\nClient added in session with id 1",
                                 "Invalid command received from client " + id +
                                     " : launch\\nClient added in session with id 1"}));
}

// What the server queues for a client beyond the kernel's buffer is held to 4 MiB: a client that
// does not read is cut off once past it, the others are not touched.
TEST_F(ClientChannelTest, AClientThatDoesNotReadIsCutOffPastTheSendQueueLimit) {
  TPeer& reader = Admit(0xC001);
  TPeer& sleeper = Admit(0xC002);
  TPeer& third = Admit(0xC003);
  // Queued without a pass of the event loop, so that nothing of it reaches the system yet.
  const std::vector<std::uint8_t> chunk(64 * 1024, 0x5A);
  for (std::size_t queued = 0; queued < kClientSendQueueLimit; queued += chunk.size()) {
    ASSERT_TRUE(session_.SendClientFrames(sleeper.user, chunk.data(), static_cast<std::uint32_t>(chunk.size()), 1,
                                          false));
  }
  ASSERT_EQ(sleeper.user->GetQueuedSize(), kClientSendQueueLimit);
  session_.EnforceClientLimits(0);
  EXPECT_TRUE(IsAdmitted(sleeper)) << "at the limit, not above it";
  ASSERT_TRUE(session_.SendClientFrames(sleeper.user, chunk.data(), 1, 1, false));
  const std::size_t from = Lines().size();
  session_.EnforceClientLimits(0);
  const std::string line = "Client " + std::to_string(sleeper.id) + " with IP " + kPeerIp + " has 4194305 bytes " +
                           "queued, more than the 4194304 allowed -> Disconnected";
  const std::vector<std::string> lines = LinesFrom(from);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], line);
  EXPECT_EQ(LevelOf(line), 1);
  EXPECT_EQ(lines[1], "Disconnecting client " + std::to_string(sleeper.id) + " with IP " + kPeerIp +
                          " (reason : ConnectionLost)");
  EXPECT_FALSE(IsAdmitted(sleeper));
  EXPECT_TRUE(IsAdmitted(reader));
  EXPECT_TRUE(IsAdmitted(third));
  // The others hear that it left (a client event of kind 2), and go on as before.
  bool toldLeft = false;
  for (const std::string& frame : Received(reader)) toldLeft = toldLeft || frame.rfind("\xc8\x02", 0) == 0;
  EXPECT_TRUE(toldLeft);
  EXPECT_TRUE(Feed(third, GameFrame(kToAll, 'e', ChatData("still here"))));
  EXPECT_EQ(Received(reader), std::vector<std::string>{RelayBody(third.id, 'e', ChatData("still here"))});
}

TEST_F(ClientChannelTest, LineBreaksAreEscapedInTheChatLogOnly) {
  TPeer& sender = Admit(0x3001);
  const std::string text = "one\r\ntwo\nthree\r";
  const std::time_t before = std::time(nullptr);
  EXPECT_TRUE(Feed(sender, GameFrame(kToAll, 'e', ChatData(text))));
  const std::vector<std::string> lines = ChatLogLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(Unstamped(lines[0], before, std::time(nullptr)), "12289: one\\r\\ntwo\\nthree\\r");
  EXPECT_EQ(Received(sender), std::vector<std::string>{RelayBody(sender.id, 'e', ChatData(text))});
}

TEST_F(ClientChannelTest, GameDataNeedsARecipientAndTwoBytes) {
  TPeer& sender = Admit(0x4001);
  struct Case {
    const char* what;
    std::string message;
    bool dropped;
  };
  const std::vector<Case> cases = {
      {"empty", "", true},
      {"part of a recipient", std::string(3, '\0'), true},
      {"recipient only", BigEndian(kToAll, 4), true},
      {"recipient and one byte", BigEndian(kToAll, 4) + "z", true},
      {"recipient, letter and one byte", BigEndian(kToAll, 4) + "z!", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t from = Lines().size();
    EXPECT_TRUE(Feed(sender, Frame(194, c.message)));
    EXPECT_EQ(LinesFrom(from),
              c.dropped ? std::vector<std::string>{InvalidDataLine(sender.id)} : std::vector<std::string>{});
  }
  EXPECT_EQ(LevelOf(InvalidDataLine(sender.id)), 1);
  // Only chat is relayed until the game's own messages are handled.
  EXPECT_TRUE(Received(sender).empty());
}

TEST_F(ClientChannelTest, OtherChannelsAndTheirDrops) {
  TPeer& sender = Admit(0x5001);
  const std::string id = std::to_string(sender.id);
  const std::string drop = "Drop packet received from client " + id;
  struct Case {
    const char* what;
    std::string frame;
    std::vector<std::string> lines;
    int level;
  };
  const std::vector<Case> cases = {
      {"196 ignored", Frame(196, "anything"), {}, -1},
      {"193 after admission", Frame(193, "x"), {drop + " (reason : invalid channel, channel 193)"}, 1},
      {"unknown channel", Frame(250, ""), {drop + " (reason : invalid channel, channel 250)"}, 1},
      {"short system message", Frame(197, std::string(2, '\0')),
       {drop + "(reason : decode packet failed, channel : NETWORK_CHANNEL_DEDICATED_SYSTEM_MSG)"}, 1},
      {"unknown system command", Frame(197, "\x03" + BigEndian(7, 4)), {drop + " (reason : invalid system command 3)"}, 1},
      {"short player command", Frame(203, BigEndian(10, 4) + "abc"),
       {drop + "(reason : decode packet failed, channel : NETWORK_CHANNEL_DEDICATED_PLAYER_COMMAND)"}, 1},
      {"player command", Frame(203, OrvTest::LengthPrefixed("launch")),
       {"Client " + id + " request command : launch",
        "Command received from client " + id + " rejected (reason : not enough right) : launch"},
       0},
      {"short state request", Frame(205, "\x33"),
       {drop + "(reason : decode packet failed, channel : NETWORK_CHANNEL_DEDICATED_STATE_WILL_CHANGE)"}, 1},
      {"state request", Frame(205, BigEndian(51, 4)), {"Client " + id + " want request state to 51"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t from = Lines().size();
    EXPECT_TRUE(Feed(sender, c.frame));
    EXPECT_EQ(LinesFrom(from), c.lines);
    if (!c.lines.empty()) {
      EXPECT_EQ(LevelOf(c.lines[0]), c.level);
    }
    EXPECT_EQ(session_.FindClientById(Network::OrvNetId::FromValue(sender.id)), sender.user);
  }
}

TEST_F(ClientChannelTest, PingAnswerMeasuresOnlyTheLastPing) {
  TPeer& peer = Admit(0x6001);
  session_.PingClients();
  ASSERT_TRUE(peer.user->IsPingPending());
  const std::uint32_t pingId = peer.user->GetPingId();
  EXPECT_TRUE(Feed(peer, Frame(197, std::string(1, '\0') + BigEndian(pingId + 1, 4))));
  EXPECT_TRUE(peer.user->IsPingPending());
  EXPECT_EQ(peer.user->GetPing(), kPingNotMeasured);
  EXPECT_TRUE(Feed(peer, Frame(197, std::string(1, '\0') + BigEndian(pingId, 4))));
  EXPECT_FALSE(peer.user->IsPingPending());
  EXPECT_LT(peer.user->GetPing(), kPingNotMeasured);
}

TEST_F(ClientChannelTest, SeveralFramesInOneCallAreAllHandled) {
  TPeer& first = Admit(0x7001);
  TPeer& second = Admit(0x7002);
  const std::string bytes = GameFrame(kToAll, 'e', ChatData("one")) + Frame(250, "") + Frame(196, "") +
                            GameFrame(2, 'e', ChatData("two")) + Frame(197, "\x04" + BigEndian(0, 4));
  const std::size_t from = Lines().size();
  EXPECT_TRUE(Feed(first, bytes));
  EXPECT_TRUE(stream_.incoming.empty());
  const std::string drop = "Drop packet received from client " + std::to_string(first.id);
  EXPECT_EQ(LinesFrom(from), (std::vector<std::string>{drop + " (reason : invalid channel, channel 250)",
                                                        drop + " (reason : invalid system command 4)"}));
  EXPECT_EQ(Received(first), std::vector<std::string>{RelayBody(first.id, 'e', ChatData("one"))});
  EXPECT_EQ(Received(second), (std::vector<std::string>{RelayBody(first.id, 'e', ChatData("one")),
                                                        RelayBody(first.id, 'e', ChatData("two"))}));
  EXPECT_EQ(ChatLogLines().size(), 2u);
}

// The whole way in: frames written by the client reach the session through the connection's read
// callback and the event loop, and the chat comes out at the other player.
TEST_F(ClientChannelTest, ChatThroughTheConnection) {
  TPeer& first = Admit(0x8001);
  TPeer& second = Admit(0x8002);
  const std::string bytes = GameFrame(2, 'e', ChatData("psst")) + Frame(203, std::string(1, '\0'));
  ASSERT_EQ(::send(first.pair->second, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  const std::string drop = "Drop packet received from client " + std::to_string(first.id) +
                           "(reason : decode packet failed, channel : NETWORK_CHANNEL_DEDICATED_PLAYER_COMMAND)";
  ASSERT_TRUE(OrvTest::RunLoopUntil(*task_->GetSocketManager(), [&] { return Logged(drop); }));
  EXPECT_EQ(Received(second), std::vector<std::string>{RelayBody(first.id, 'e', ChatData("psst"))});
  EXPECT_TRUE(Received(first).empty());
}

TEST_F(ClientChannelTest, ReadFailureOrNetworkErrorDisconnects) {
  TPeer& stays = Admit(0x9000);
  struct Case {
    const char* what;
    std::string bytes;
    bool failChecks;
  };
  const std::vector<Case> cases = {
      {"frame above the limit", BigEndian(kFramerBufferSize + 1, 2), false},
      {"failing connection", "", true},
      {"after a good frame", Frame(196, "") + BigEndian(0xFFFF, 2), false},
  };
  std::uint64_t id = 0x9001;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TPeer& peer = Admit(++id);
    stream_ = OrvTest::TScriptedStream();
    stream_.failChecks = c.failChecks;
    EXPECT_FALSE(Feed(peer, c.bytes));
    EXPECT_TRUE(Logged("Disconnecting client " + std::to_string(id) + " with IP " + kPeerIp +
                       " (reason : ConnectionLost)"));
    EXPECT_EQ(session_.FindClientById(Network::OrvNetId::FromValue(id)), nullptr);
    EXPECT_EQ(session_.FindClientById(Network::OrvNetId::FromValue(stays.id)), stays.user);
  }

  TPeer& peer = Admit(++id);
  session_.OnClientNetworkError(peer.user, "read error");
  const std::string line = "Network error with client " + std::to_string(id) + " at IP " + kPeerIp + " -> read error";
  EXPECT_TRUE(Logged(line));
  EXPECT_EQ(LevelOf(line), 0);
  EXPECT_TRUE(
      Logged("Disconnecting client " + std::to_string(id) + " with IP " + kPeerIp + " (reason : ConnectionLost)"));
  EXPECT_EQ(session_.FindClientById(Network::OrvNetId::FromValue(id)), nullptr);
}

// A frame whose handling disconnects its sender ends the loop: the frames after it stay unread,
// whether the user is deleted at once or handed to the kill of its connection.
TEST_F(ClientChannelStopTest, LoopStopsOnceTheUserIsDisconnected) {
  TPeer& stays = Admit(0xA000);
  const std::vector<ClientDisconnectReason> reasons = {ClientDisconnectReason::ConnectionLost,
                                                       ClientDisconnectReason::Kicked};
  std::uint64_t id = 0xA000;
  for (ClientDisconnectReason reason : reasons) {
    SCOPED_TRACE(static_cast<int>(reason));
    TPeer& peer = Admit(++id);
    const std::string after = GameFrame(kToAll, 'e', ChatData("after")) + Frame(250, "");
    const std::size_t from = Lines().size();
    EXPECT_FALSE(Feed(peer, Frame(203, OrvTest::LengthPrefixed("leave " + std::to_string(static_cast<int>(reason)))) +
                                after));
    EXPECT_EQ(session_.FindClientById(Network::OrvNetId::FromValue(id)), nullptr);
    EXPECT_EQ(stream_.incoming.size(), after.size());
    for (const std::string& line : LinesFrom(from)) {
      EXPECT_EQ(line.find("Drop packet"), std::string::npos) << line;
    }
    if (reason == ClientDisconnectReason::Kicked) {
      // Its connection is being killed: it is read no more and its messages go nowhere.
      EXPECT_FALSE(session_.OnClientPacket(peer.user, &stream_));
      EXPECT_EQ(stream_.incoming.size(), after.size());
      const std::string chat = ChatData("late");
      Network::TPacketBufferPtr message;
      Network::CreatePacketBuffer(message, chat.data(), static_cast<std::uint16_t>(chat.size()));
      message->channel = 'e';
      session_.OnClientGameData(peer.user, message, kToAll);
    }
    // The others hear that it left, and nothing it sent.
    for (const std::string& frame : Received(stays)) EXPECT_NE(frame[0], '\xc2');
    EXPECT_TRUE(ChatLogLines().empty());
    stream_ = OrvTest::TScriptedStream();
  }
}

}  // namespace
}  // namespace Orvan::Dedicated
