// The link from the init answer on: link-up, the keep-alive, the drops, the Ready traffic and the
// slave-mode wait, against a peer on loopback (or an in-memory stream) with the clock in the test's
// hand.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/buffer_event_socket.h"
#include "support/dedicated_test_helpers.h"
#include "support/manual_clock.h"
#include "support/memory_link_stream.h"
#include "support/recording_session.h"

namespace Orvan::Dedicated {
namespace {

using OrvTest::Frame;
using OrvTest::GameInfoFrame;
using OrvTest::Hex;
using OrvTest::InitAnswerFrame;
using OrvTest::kLoopbackAddressId;
using OrvTest::SlaveUpdateFrame;
using OrvTest::TLinkPeer;
using OrvTest::TManualClock;
using OrvTest::TMemoryLinkStream;
using OrvTest::TRecordingSession;
using OrvTest::VerdictFrame;

const std::string kStatsInfo = R"({"StatsURL":"http://127.0.0.1:5984/"})";
const std::string kValidatedLine =
    "Connection to match making server validated , dedicated server can be used by clients on IP 127.0.0.1:10000";

class MatchMakingReadyTest : public OrvTest::TDedicatedTest {
 protected:
  TMainServerTask* Create() {
    settings_.matchMakingPort = peer_.PortText();
    return OrvTest::CreateTask(settings_, &session_);
  }
  bool TickUntil(TMainServerTask* task, MatchMakingLinkState state, int passes = 400) {
    for (int i = 0; i < passes && task->GetLinkState() != state; ++i) task->Tick();
    return task->GetLinkState() == state;
  }
  bool TickUntilCalls(TMainServerTask* task, std::size_t count, int passes = 400) {
    for (int i = 0; i < passes && session_.calls.size() < count; ++i) task->Tick();
    return session_.calls.size() >= count;
  }
  // Connected, the init message taken, then the answer (and whatever follows it) in one write.
  TMainServerTask* ConnectAndAnswer(const std::string& afterAnswer = "") {
    TMainServerTask* task = Create();
    EXPECT_TRUE(TickUntil(task, MatchMakingLinkState::Connected));
    EXPECT_NE(peer_.Accept(), -1);
    init_ = peer_.Receive(25);
    EXPECT_TRUE(peer_.Send(InitAnswerFrame(0, kStatsInfo, kLoopbackAddressId) + afterAnswer));
    EXPECT_TRUE(TickUntil(task, MatchMakingLinkState::Ready));
    return task;
  }

  TManualClock clock_;
  TLinkPeer peer_;
  TRecordingSession session_;
  OrvTest::TTaskSettings settings_;
  std::string init_;
};

TEST_F(MatchMakingReadyTest, SuccessMakesTheLinkReadyAndKeepsItAlive) {
  TMainServerTask* task = ConnectAndAnswer();
  EXPECT_TRUE(task->IsMatchMakingLinkReady());
  EXPECT_TRUE(Logged("Stats URL for game http://127.0.0.1:5984/"));
  EXPECT_TRUE(Logged(kValidatedLine));
  EXPECT_TRUE(Logged("Using http://127.0.0.1:5984/ as CouchDB stats source"));
  EXPECT_NE(task->GetDatabaseAccesser(), nullptr);
  EXPECT_EQ(session_.calls, std::vector<std::string>{"link up"});

  // The init message was the last send. (120 s exactly already count as more in the clock's double
  // arithmetic.)
  TManualClock::AdvanceNanoseconds(120'000'000'000ull - 1);
  task->Tick();
  task->Tick();
  EXPECT_EQ(peer_.Receive(1, 100), "");
  TManualClock::AdvanceNanoseconds(1);
  task->Tick();
  task->Tick();  // the event loop writes what the pass before queued
  EXPECT_EQ(Hex(peer_.Receive(4)), "0002e300");
  for (int i = 0; i < 4; ++i) task->Tick();
  EXPECT_EQ(peer_.Receive(1, 100), "");

  // What the match-making server sends does not put the next keep-alive off.
  TManualClock::AdvanceMilliseconds(60000);
  ASSERT_TRUE(peer_.Send(GameInfoFrame(kStatsInfo)));
  ASSERT_TRUE(TickUntilCalls(task, 2));
  EXPECT_EQ(session_.calls.back(), "game info");
  EXPECT_EQ(peer_.Receive(1, 100), "");
  TManualClock::AdvanceMilliseconds(60000);
  task->Tick();
  task->Tick();
  EXPECT_EQ(Hex(peer_.Receive(4)), "0002e300");
}

TEST_F(MatchMakingReadyTest, PeerClosingAReadyLink) {
  TMainServerTask* task = ConnectAndAnswer();
  Network::TBufferEventSocket* socket = task->GetMatchMakingSocket();
  peer_.CloseAccepted();
  const std::size_t mark = Lines().size();
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::NotConnected));
  EXPECT_EQ(LinesFrom(mark), std::vector<std::string>{"Disconnected from match making server -> Error during "
                                                      "reading. End of file received."});
  // The session hears of the drop once, and its database work ends before the accesser goes.
  EXPECT_EQ(session_.calls, (std::vector<std::string>{"link up", "link down", "end database work"}));
  EXPECT_EQ(task->GetDatabaseAccesser(), nullptr);
  // The closed socket stays until the next attempt replaces it.
  EXPECT_EQ(task->GetMatchMakingSocket(), socket);
  EXPECT_TRUE(socket->IsClosed());
  for (int i = 0; i < 4; ++i) task->Tick();
  EXPECT_EQ(session_.calls.size(), 3u);

  TManualClock::AdvanceMilliseconds(20001);
  task->Tick();
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connecting);
  ASSERT_NE(task->GetMatchMakingSocket(), nullptr);
  EXPECT_FALSE(task->GetMatchMakingSocket()->IsClosed());
}

// A connection dropped in the middle of a frame leaves nothing of it to the next one.
TEST_F(MatchMakingReadyTest, AFrameCutByADropDoesNotReachTheNextConnection) {
  TMainServerTask* task = Create();
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::Connected));
  ASSERT_NE(peer_.Accept(), -1);
  EXPECT_EQ(peer_.Receive(25).size(), 25u);
  ASSERT_TRUE(peer_.Send(InitAnswerFrame(0, kStatsInfo, kLoopbackAddressId).substr(0, 9)));
  for (int i = 0; i < 4; ++i) task->Tick();
  peer_.CloseAccepted();
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::NotConnected));

  TManualClock::AdvanceMilliseconds(20001);
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::Connected));
  ASSERT_NE(peer_.Accept(), -1);
  EXPECT_EQ(peer_.Receive(25).size(), 25u);
  ASSERT_TRUE(peer_.Send(InitAnswerFrame(0, kStatsInfo, kLoopbackAddressId)));
  EXPECT_TRUE(TickUntil(task, MatchMakingLinkState::Ready));
}

// A frame sent in the same segment as the answer raises no read event of its own.
TEST_F(MatchMakingReadyTest, SlaveUpdateInTheAnswersSegmentIsHandled) {
  settings_.slave = true;
  TMainServerTask* task = ConnectAndAnswer(SlaveUpdateFrame(5, 8) + VerdictFrame(6, 2));
  EXPECT_EQ(init_[13], '\x01');  // the slave byte of the init message
  EXPECT_TRUE(Logged("Connection to match making server validated (SlaveMode), dedicated server can be used by "
                     "clients on IP 127.0.0.1:10000"));
  EXPECT_EQ(session_.calls, (std::vector<std::string>{"link up", "wait 5 8", "verdict 6 2"}));
  EXPECT_TRUE(task->IsMatchMakingLinkReady());
}

TEST_F(MatchMakingReadyTest, ReadyFramesOfOneReadAreAllHandledInOrder) {
  TMainServerTask* task = ConnectAndAnswer();
  const std::size_t mark = Lines().size();
  ASSERT_TRUE(peer_.Send(VerdictFrame(7, 0) + Frame(225, std::string(1, '\0')) + Frame(227, std::string(1, '\0')) +
                         SlaveUpdateFrame(5, 8) + GameInfoFrame("{") + GameInfoFrame(R"({"StatsURL":7})") +
                         Frame(226, "short") + Frame(228, "") + GameInfoFrame(R"({"StatsURL":"http://other/"})")));
  ASSERT_TRUE(TickUntilCalls(task, 3));
  EXPECT_EQ(session_.calls, (std::vector<std::string>{"link up", "verdict 7 0", "game info"}));
  const std::string warning = "Failed to get game version from data received from match making server -> ";
  EXPECT_EQ(LinesFrom(mark),
            (std::vector<std::string>{
                "Drop packet received from match making server (reason : invalid channel -> 225)",
                "Drop packet received from match making server (reason : invalid channel -> 227)",
                "Drop packet received from match making server (reason : dedicated server is not a mms slave",
                "Error parsing game info received from match making server -> update ignored, still connected "
                "to match making server",
                "Drop packet received from match making server (reason : invalid game info received",
                "Failed to get game info from data received from match making server -> update ignored, still "
                "connected to match making server",
                "Drop packet received from match making server (reason : invalid game info received",
                "Drop packet received from match making server (reason : failed to decode a validate player "
                "message",
                "Drop packet received from match making server (reason : failed to decode an update game info "
                "message",
                "Stats URL for game http://other/"}));
  EXPECT_EQ(LevelOf("Drop packet received from match making server (reason : dedicated server is not a mms slave"),
            1);
  EXPECT_EQ(LevelOf("Drop packet received from match making server (reason : invalid channel -> 225)"), 2);
  // The accesser keeps the address it was made with; the link stays up.
  EXPECT_EQ(std::string(task->GetStatsUrl().c_str()), "http://other/");
  EXPECT_TRUE(task->IsMatchMakingLinkReady());
}

TEST_F(MatchMakingReadyTest, OversizedFrameClosesAReadyLinkQuietly) {
  TMainServerTask* task = ConnectAndAnswer();
  ASSERT_TRUE(peer_.Send(OrvTest::BigEndian(4097, 2)));
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::NotConnected));
  EXPECT_EQ(session_.calls, (std::vector<std::string>{"link up", "link down", "end database work"}));
  EXPECT_FALSE(Logged("Failed to connect to match making server"));
}

// The answer's decoding while Connected, one frame per read event, from an in-memory stream.
TEST_F(MatchMakingReadyTest, InitAnswersThatDoNotMakeTheLinkReady) {
  TMainServerTask* task = OrvTest::CreateTask(settings_, &session_);
  struct TCase {
    const char* name;
    std::string frame;
    bool result;
    MatchMakingLinkState state;
    std::vector<std::string> lines;
  };
  const std::string failedInfo =
      "Failed to get game info from data received from match making server -> Disconnected from match making "
      "server !";
  const TCase cases[] = {
      {"not yet complete", InitAnswerFrame(0, kStatsInfo, 0).substr(0, 9), true, MatchMakingLinkState::Connected, {}},
      {"another channel", GameInfoFrame(kStatsInfo), false, MatchMakingLinkState::Connected, {}},
      {"undecodable", Frame(225, std::string(3, '\0')), true, MatchMakingLinkState::Connected,
       {"Drop init packet received from match making server (reason : decode packet failed, channel : "
        "NETWORK_CHANNEL_MMS_DEDICATED_INIT_MESSAGE)"}},
      {"refused", InitAnswerFrame(4, kStatsInfo, 0), false, MatchMakingLinkState::NotConnected,
       {"Connection to mms failed (reason : InvalidDedicatedLoginOrKey)"}},
      {"unnamed code", InitAnswerFrame(9, kStatsInfo, 0), false, MatchMakingLinkState::NotConnected,
       {"Connection to mms failed (reason : Unknown)"}},
      {"no StatsURL", InitAnswerFrame(0, R"({"gameVersion":"1.2"})", 0), false, MatchMakingLinkState::NotConnected,
       {failedInfo}},
      {"oversized", OrvTest::BigEndian(4097, 2), false, MatchMakingLinkState::Connected,
       {"TPacketHelperBase::ReceivePacket() -> frame of 4097 bytes is above the 4096 bytes accepted: connection "
        "dropped",
        "Failed to received init packet from match making server !!!"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryLinkStream stream;
    task->AttachMatchMakingStream(&stream, MatchMakingLinkState::Connected);
    stream.Feed(c.frame);
    const std::size_t mark = Lines().size();
    EXPECT_EQ(task->OnMatchMakingInitAnswer(), c.result);
    EXPECT_EQ(task->GetLinkState(), c.state);
    EXPECT_EQ(LinesFrom(mark), c.lines);
    EXPECT_EQ(stream.IsClosed(), c.state == MatchMakingLinkState::NotConnected);
    task->AttachMatchMakingStream(nullptr, MatchMakingLinkState::NotConnected);
  }
  EXPECT_TRUE(session_.calls.empty());
  EXPECT_EQ(std::string(GetMatchMakingInitResultName(12)), "InvalidInitPacketReceived");
  EXPECT_EQ(std::string(GetMatchMakingInitResultName(13)), "Unknown");
  EXPECT_EQ(std::string(GetMatchMakingInitResultName(255)), "Unknown");
}

TEST_F(MatchMakingReadyTest, GameInformationMembers) {
  struct TCase {
    const char* json;
    bool result;
    const char* statsUrl;
  };
  const TCase cases[] = {
      {R"({"StatsURL":"http://a/","StatsURL":"http://b/"})", true, "http://b/"},
      {R"({"StatsURL":5,"gameVersion":"1.2"})", false, ""},
      {R"({"StatsURL":""})", true, ""},
      {R"(["StatsURL","http://a/"])", false, ""},
      {R"({})", false, ""},
      {R"("StatsURL")", false, ""},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.json);
    TMainServerTask* task = OrvTest::CreateTask(settings_, &session_);
    EXPECT_EQ(task->ApplyGameInfo(c.json), c.result);
    EXPECT_EQ(std::string(task->GetStatsUrl().c_str()), c.statsUrl);
    TMainServerTask::DestroyInstance();
  }
}

// Without the version lock, gameVersion sets Version even when the game information fails; a
// missing one only warns.
TEST_F(MatchMakingReadyTest, GameVersionIsAppliedOnlyWhenTheVersionIsNotLocked) {
  OrvTest::TTaskSettings settings;
  TMainServerTask* task = TMainServerTask::CreateInstance(
      24, "", 10000, "127.0.0.1", "", &session_, nullptr, nullptr, false, false, "", "", TOrvString<char>(),
      TOrvString<char>(), "ab", "c");
  ASSERT_FALSE(task->IsVersionLocked());
  session_.Initialize();
  EXPECT_FALSE(task->ApplyGameInfo(R"({"gameVersion":"1.2"})"));
  EXPECT_EQ(std::string(session_.GetPropertyTable()->GetValue("Version").c_str()), "1.2");
  EXPECT_TRUE(task->ApplyGameInfo(R"({"StatsURL":"http://a/"})"));
  EXPECT_TRUE(Logged("Failed to get game version from data received from match making server -> Disconnected from "
                     "match making server !"));
  TMainServerTask::DestroyInstance();

  // Locked, as the program always makes the task: Version stays.
  task = OrvTest::CreateTask(settings, &session_);
  EXPECT_FALSE(task->ApplyGameInfo(R"({"gameVersion":"2.0"})"));
  EXPECT_EQ(std::string(session_.GetPropertyTable()->GetValue("Version").c_str()), "1.2");
}

// The session's side of the link, with the game's own session.
class SessionLinkTest : public OrvTest::TDedicatedTest {
 protected:
  TMainServerTask* Create(bool slave, TDedicatedSession* session = nullptr) {
    settings_.slave = slave;
    settings_.clientPort = OrvTest::FreeClientPort();
    session = session != nullptr ? session : &session_;
    TMainServerTask* task = OrvTest::CreateTask(settings_, session);
    session->Initialize();
    return task;
  }
  // The query's socket is on the task's event loop: it closes before the task goes.
  void TearDown() override {
    if (session_.GetPropertyTable() != nullptr) session_.GetPropertyTable()->StopReporting();
    OrvTest::TDedicatedTest::TearDown();
  }

  TManualClock clock_;
  TStrivexDedicatedSession session_{24};
  OrvTest::TTaskSettings settings_;
};

TEST_F(SessionLinkTest, LinkEdgesOpenAndCloseThePropertyQuery) {
  Create(false);
  TServerPropertyReporting& reporting = session_.GetPropertyTable()->GetReporting();
  session_.OnMatchMakingLinkChanged(true);
  EXPECT_TRUE(reporting.IsListening());
  EXPECT_TRUE(Logged("ServerPropertyReporting listening for client !"));
  session_.OnMatchMakingLinkChanged(false);
  EXPECT_FALSE(reporting.IsListening());
  TMainServerTask::DestroyInstance();

  // A slave hosting nobody keeps it closed.
  TStrivexDedicatedSession slaveSession{24};
  Create(true, &slaveSession);
  slaveSession.OnMatchMakingLinkChanged(true);
  EXPECT_FALSE(slaveSession.GetPropertyTable()->GetReporting().IsListening());
}

TEST_F(SessionLinkTest, WaitMessagesInSlaveMode) {
  Create(true);
  EXPECT_FALSE(session_.IsAdmissionOpen());
  struct TCase {
    std::uint64_t id;
    const char* line;
  };
  const std::string refused = "Failed to apply a wait client message in slave mode (reason : ";
  // Kind 1 (a team) is no client.
  session_.OnWaitClientMessage(Network::OrvNetId::FromValue(0x0100000000000005ull), 8);
  EXPECT_TRUE(Logged(refused + "received client id is not a valid id)"));
  EXPECT_EQ(LevelOf(refused + "received client id is not a valid id)"), 1);

  // Admission closed with a client already awaited.
  session_.SetAwaitedClient(Network::OrvNetId::FromValue(9), TManualClock::Now());
  session_.OnWaitClientMessage(Network::OrvNetId::FromValue(5), 8);
  EXPECT_TRUE(Logged(refused + "dedicated server is currently waiting client with id 9)"));
  session_.SetAwaitedClient(Network::OrvNetId(), kNotAwaiting);

  session_.OnWaitClientMessage(Network::OrvNetId::FromValue(5), 8);
  EXPECT_TRUE(Logged("Waiting client with id 5 to join hosted session"));
  EXPECT_EQ(LevelOf("Waiting client with id 5 to join hosted session"), 0);
  EXPECT_TRUE(session_.IsAdmissionOpen());
  EXPECT_EQ(session_.GetAwaitedClient().GetValue(), 5u);
  EXPECT_EQ(session_.GetAwaitedSince(), TManualClock::Now());
  EXPECT_EQ(std::string(session_.GetPropertyTable()->GetValue("NbMaxPlayer").c_str()), "8");

  session_.OnWaitClientMessage(Network::OrvNetId::FromValue(6), 4);
  EXPECT_TRUE(Logged(refused + "dedicated server is currently accepting anybody)"));
  EXPECT_EQ(session_.GetAwaitedClient().GetValue(), 5u);
}

TEST_F(SessionLinkTest, AwaitedClientThatDoesNotComeFreesTheServer) {
  TMainServerTask* task = Create(true);
  TMemoryLinkStream stream;
  task->AttachMatchMakingStream(&stream, MatchMakingLinkState::Ready);
  TServerPropertyReporting& reporting = session_.GetPropertyTable()->GetReporting();
  ASSERT_TRUE(session_.GetPropertyTable()->StartReporting());
  session_.OnWaitClientMessage(Network::OrvNetId::FromValue(5), 8);

  TManualClock::AdvanceMilliseconds(10000);
  session_.Update();
  EXPECT_EQ(stream.TakeOutput(), "");
  TManualClock::AdvanceNanoseconds(1);
  session_.Update();
  EXPECT_TRUE(Logged("Client with id 5 did not connect in 10 second : server is ready to host other session"));
  EXPECT_EQ(Hex(stream.TakeOutput()), "0002e501");
  // Sent with the link's framer: the send counts for the keep-alive.
  EXPECT_EQ(task->GetMatchMakingFramer()->GetLastSendTime(), TManualClock::Now());
  EXPECT_FALSE(session_.IsAdmissionOpen());
  EXPECT_FALSE(session_.GetAwaitedClient().IsValid());
  EXPECT_EQ(session_.GetAwaitedSince(), kNotAwaiting);
  EXPECT_FALSE(reporting.IsListening());

  // A send that fails leaves the property query open.
  ASSERT_TRUE(session_.GetPropertyTable()->StartReporting());
  session_.OnWaitClientMessage(Network::OrvNetId::FromValue(5), 8);
  stream.Close();
  TManualClock::AdvanceMilliseconds(10001);
  session_.Update();
  EXPECT_TRUE(Logged("Trying to send a packet to a closed socket in channel 229"));
  EXPECT_TRUE(Logged("Failed to inform mms that server is available"));
  EXPECT_TRUE(reporting.IsListening());
  EXPECT_FALSE(session_.IsAdmissionOpen());
}

}  // namespace
}  // namespace Orvan::Dedicated
