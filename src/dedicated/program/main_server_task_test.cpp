#include "dedicated/program/main_server_task.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <vector>

#include "dedicated/session/strivex_dedicated_session.h"
#include "network/console/console_command_registry.h"
#include "network/console/rcon_server.h"
#include "network/operations/operation_with_time_out.h"
#include "network/packets/mms_messages.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/buffer_event_socket.h"
#include "support/dedicated_test_helpers.h"
#include "support/manual_clock.h"

namespace Orvan::Dedicated {
namespace {

using OrvTest::ClosedPortText;
using OrvTest::Hex;
using OrvTest::TDedicatedTest;
using OrvTest::TLinkPeer;
using OrvTest::TManualClock;
using OrvTest::TTaskSettings;

class MainServerTaskTest : public TDedicatedTest {
 protected:
  TMainServerTask* Create() { return OrvTest::CreateTask(settings_, &session_); }

  TStrivexDedicatedSession session_{24};
  TTaskSettings settings_;
};

// Every way "login.ini" can fail to give the account says so in one line, and Run then returns
// at once with the status of a server without an account, without a second line.
TEST_F(MainServerTaskTest, LoginIniIsReadOnlyWithoutLoginAndKey) {
  enum class EFile { kNone, kText, kFolder, kSymbolicLinkLoop };
  struct TCase {
    const char* name;
    EFile kind;
    const char* file;
    const char* login;
    const char* key;
    const char* expectedLogin;
    const char* expectedKey;
    const char* line;  // null: nothing logged about the account
  };
  const char* const kNoAccount = "No login or dedicated key specified, can't connect to match making server";
  const TCase cases[] = {
      {"no file", EFile::kNone, nullptr, "", "", "", "", "Error : login.ini file doesn't exist !!"},
      {"both keys, any section", EFile::kText, "[account]\nlogin=me\ndedicated_key=k1\n", "", "", "me", "k1",
       nullptr},
      {"login only", EFile::kText, "login=me\n", "", "", "me", "", "Error : login.ini gives no dedicated_key"},
      {"key only", EFile::kText, "dedicated_key=k1\n", "", "", "", "k1", "Error : login.ini gives no login"},
      {"empty", EFile::kText, "", "", "", "", "", "Error : login.ini gives no login and no dedicated_key"},
      {"empty values", EFile::kText, "login=\ndedicated_key=\n", "", "", "", "",
       "Error : login.ini gives no login and no dedicated_key"},
      {"garbage", EFile::kText, "\x7f\x01ELF\x02\xff\xfe[\n;;=\n", "", "", "", "",
       "Error : login.ini gives no login and no dedicated_key"},
      {"keys are case-sensitive", EFile::kText, "Login=me\nDEDICATED_KEY=k1\nother=x\n", "", "", "", "",
       "Error : login.ini gives no login and no dedicated_key"},
      {"a folder", EFile::kFolder, nullptr, "", "", "", "", "Error : login.ini is not a file"},
      // A name that is there but cannot be opened must not be called missing.
      {"unreadable", EFile::kSymbolicLinkLoop, nullptr, "", "", "", "",
       "Error : login.ini file can't be read (Too many levels of symbolic links)"},
      {"a switch wins", EFile::kText, "login=me\ndedicated_key=k1\n", "sw", "", "sw", "", kNoAccount},
      {"a key switch wins", EFile::kText, "login=me\ndedicated_key=k1\n", "", "k2", "", "k2", kNoAccount},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink("login.ini");
    ::rmdir("login.ini");
    if (c.kind == EFile::kText) WriteFile("login.ini", c.file);
    if (c.kind == EFile::kFolder) {
      ASSERT_EQ(::mkdir("login.ini", 0755), 0);
    }
    if (c.kind == EFile::kSymbolicLinkLoop) {
      ASSERT_EQ(::symlink("login.ini", "login.ini"), 0);
    }
    settings_.login = c.login;
    settings_.key = c.key;
    const std::size_t mark = Lines().size();
    TMainServerTask* task = Create();
    EXPECT_EQ(std::string(task->GetLogin().c_str()), c.expectedLogin);
    EXPECT_EQ(std::string(task->GetKey().c_str()), c.expectedKey);
    // Run would start the server when the account is complete.
    if (c.line != nullptr) task->Run();
    // The lines about the account, among those of the task's construction.
    std::vector<std::string> lines = LinesFrom(mark);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& line) { return line.find(" login") == std::string::npos; }),
                lines.end());
    EXPECT_EQ(lines, c.line != nullptr ? std::vector<std::string>{c.line} : std::vector<std::string>{});
    if (c.line != nullptr) {
      EXPECT_GE(LevelOf(c.line), 2);
      EXPECT_EQ(task->GetExitStatus(), kExitNoAccount);
      EXPECT_EQ(session_.GetPropertyTable(), nullptr);  // the session was never started
      EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::NotConnected);
    }
    TMainServerTask::DestroyInstance();
  }
  EXPECT_EQ(TMainServerTask::GetInstance(), nullptr);
}

TEST_F(MainServerTaskTest, Construction) {
  const struct {
    const char* portText;
    std::uint16_t port;
  } ports[] = {{"", 27017}, {"27100", 27100}, {"99999999999", 65535}, {"-1", 65535}, {"66561", 1025}};
  for (const auto& p : ports) {
    SCOPED_TRACE(p.portText);
    settings_.matchMakingPort = p.portText;
    EXPECT_EQ(Create()->GetMatchMakingPort(), p.port);
    TMainServerTask::DestroyInstance();
  }

  settings_.clientPort = 10000;
  TMainServerTask* task = Create();
  EXPECT_EQ(task->GetClientPort(), htons(10000));
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::NotConnected);
  EXPECT_EQ(task->GetLastConnectionAttempt(), 0u);
  EXPECT_TRUE(task->IsVersionLocked());  // all versions are allowed
  EXPECT_EQ(task->GetConsoleServer(), nullptr);
  EXPECT_EQ(task->GetChatLog(), nullptr);
  EXPECT_EQ(task->GetConsoleRegistry()->GetCommandCount(), 8u);
  EXPECT_EQ(task->GetMatchMakingFramer()->GetMaximumSize(), 4096u);
  EXPECT_EQ(task->GetClientFramer()->GetMaximumSize(), 4096u);
  EXPECT_NE(task->GetHttpManager(), nullptr);
  EXPECT_TRUE(Logged("No rcon port or no rcon password specified, rcon won't be available"));
  EXPECT_EQ(LevelOf("No rcon port or no rcon password specified, rcon won't be available"), 1);
}

TEST_F(MainServerTaskTest, RemoteConsoleNeedsPortAndPassword) {
  settings_.rconPassword = "pw";
  settings_.rconPort = "0";  // any free port
  TMainServerTask* task = Create();
  ASSERT_NE(task->GetConsoleServer(), nullptr);
  EXPECT_NE(task->GetConsoleServer()->GetListenSocket(), nullptr);
  EXPECT_EQ(std::string(task->GetConsoleRegistry()->GetPassword().c_str()), "pw");
  EXPECT_FALSE(Logged("No rcon port or no rcon password specified, rcon won't be available"));
}

TEST_F(MainServerTaskTest, OwnAddressResolution) {
  const struct {
    const char* text;
    std::uint32_t address;
    bool invalidLine;
  } cases[] = {{"", 0, false}, {"1.2.3.4", 0x04030201u, false}, {"::1", 0, true}, {"not.an.address", 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    settings_.ownAddress = c.text;
    const std::size_t mark = Lines().size();
    TMainServerTask* task = Create();
    task->ResolveServerAddress();
    EXPECT_EQ(task->GetResolvedAddress(), c.address);
    const std::vector<std::string> lines = LinesFrom(mark);
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "Invalid IP given, default IP will be used") != lines.end(),
              c.invalidLine);
    TMainServerTask::DestroyInstance();
  }
}

TEST_F(MainServerTaskTest, ConsoleLinesGoToTheSession) {
  TMainServerTask* task = Create();
  OrvTest::TRecordingConsole console;
  EXPECT_FALSE(task->GetConsoleRegistry()->Dispatch(&console, "launch now"));
  EXPECT_TRUE(Logged("RCon request command : launch now"));
  EXPECT_EQ(console.printed, std::vector<std::string>{"Invalid command."});
}

TEST_F(MainServerTaskTest, ExitSignals) {
  TManualClock clock;
  settings_.matchMakingPort = ClosedPortText();
  TMainServerTask* task = Create();
  TMainServerTask::OnExitSignal(SIGHUP);
  EXPECT_EQ(gExitRequested, 0);
  EXPECT_TRUE(task->Tick());
  for (int number : {SIGINT, SIGTERM}) {
    gExitRequested = 0;
    TMainServerTask::OnExitSignal(number);
    EXPECT_EQ(gExitRequested, 1);
    EXPECT_FALSE(task->Tick());
  }
}

// An operation that only records how it ended.
class TProbeOperation final : public Network::TOperationWithTimeOut {
 public:
  TProbeOperation(Network::TOperationWithTimeOutManager* manager, std::string* end)
      : TOperationWithTimeOut(manager, 1000.0), end_(end) {}

 protected:
  bool OnOperationLaunched() override { return true; }
  void OnOperationTerminated() override { *end_ = "terminated"; }
  void OnOperationTimeout() override { *end_ = "timed out"; }
  void OnOperationKilled() override { *end_ = "killed"; }
  void OnOperationUpdate() override {}

 private:
  std::string* end_;
};

// Every pass of the loop runs the operation manager's tick, with the link down (the pass that starts
// a connection) as with it coming up: an operation whose peer never answers ends by its time-out.
TEST_F(MainServerTaskTest, EveryPassEndsOperationsByTheirTimeOut) {
  TManualClock clock;
  TLinkPeer peer;
  settings_.matchMakingPort = peer.PortText();
  TMainServerTask* task = Create();
  for (const MatchMakingLinkState state : {MatchMakingLinkState::NotConnected, MatchMakingLinkState::Connecting}) {
    SCOPED_TRACE(static_cast<int>(state));
    ASSERT_EQ(task->GetLinkState(), state);
    std::string end;
    ASSERT_GE((new TProbeOperation(task->GetOperationManager(), &end))->Launch(), 0);
    TManualClock::AdvanceMilliseconds(1001);
    EXPECT_TRUE(task->Tick());
    EXPECT_EQ(end, "timed out");
    EXPECT_EQ(task->GetOperationManager()->GetRegisteredCount(), 0u);
  }
}

// The link with the clock in the test's hand: the time-outs and the reconnect delay pass at once.
class MatchMakingLinkTest : public MainServerTaskTest {
 protected:
  // Passes of the loop until the link reaches the state (each pass runs the event loop 25 ms).
  bool TickUntil(TMainServerTask* task, MatchMakingLinkState state, int passes = 400) {
    for (int i = 0; i < passes && task->GetLinkState() != state; ++i) task->Tick();
    return task->GetLinkState() == state;
  }

  TManualClock clock_;
};

TEST_F(MatchMakingLinkTest, SilentPeerIsDroppedAfterThirtySecondsInConnected) {
  TLinkPeer peer;
  settings_.matchMakingPort = peer.PortText();
  settings_.ownAddress = "1.2.3.4";
  TMainServerTask* task = Create();
  task->ResolveServerAddress();

  EXPECT_TRUE(task->Tick());
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connecting);
  EXPECT_EQ(task->GetLastConnectionAttempt(), TManualClock::kStart);
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::Connected));
  EXPECT_TRUE(Logged("Connecting to match making server"));
  EXPECT_TRUE(Logged("Connected to match making server"));

  // Port 10000, game id 24, address 1.2.3.4, slave off, login "ab", key "c".
  ASSERT_NE(peer.Accept(), -1);
  EXPECT_EQ(Hex(peer.Receive(25)),
            "0017e1102700000018040302010000000002616200000001"
            "63");

  // Thirty seconds exactly already count as more in the clock's double arithmetic.
  TManualClock::AdvanceNanoseconds(30'000'000'000ull - 1);
  task->Tick();
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connected);
  const std::size_t mark = Lines().size();
  TManualClock::AdvanceNanoseconds(2);
  task->Tick();
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::NotConnected);
  EXPECT_EQ(task->GetMatchMakingSocket(), nullptr);
  EXPECT_EQ(LinesFrom(mark), (std::vector<std::string>{"Timeout during connection to match making server : state was "
                                                       "Connected",
                                                       "Failed to connect to match making server"}));
  EXPECT_EQ(LevelOf("Failed to connect to match making server"), 1);

  // More than 20 s have passed since that attempt began: the next pass connects again.
  task->Tick();
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connecting);
  EXPECT_EQ(task->GetLastConnectionAttempt(), TManualClock::kStart + 30'000'000'001ull);
}

TEST_F(MatchMakingLinkTest, ClosedPortFailsAndIsRetriedAfterTwentySeconds) {
  settings_.matchMakingPort = ClosedPortText();
  TMainServerTask* task = Create();
  EXPECT_TRUE(task->Tick());
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::NotConnected));
  EXPECT_TRUE(Logged("Failed to connect to match making server"));
  EXPECT_EQ(task->GetMatchMakingSocket(), nullptr);

  TManualClock::AdvanceMilliseconds(20000);
  EXPECT_TRUE(task->Tick());
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::NotConnected);
  EXPECT_EQ(task->GetLastConnectionAttempt(), TManualClock::kStart);

  TManualClock::AdvanceNanoseconds(1);
  const std::size_t mark = Lines().size();
  EXPECT_TRUE(task->Tick());
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connecting);
  EXPECT_EQ(task->GetLastConnectionAttempt(), TManualClock::kStart + 20'000'000'001ull);
  EXPECT_EQ(LinesFrom(mark), std::vector<std::string>{"Connecting to match making server"});
}

TEST_F(MatchMakingLinkTest, PeerClosingBeforeTheAnswerDropsTheLink) {
  TLinkPeer peer;
  settings_.matchMakingPort = peer.PortText();
  TMainServerTask* task = Create();
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::Connected));
  ASSERT_NE(peer.Accept(), -1);
  EXPECT_EQ(peer.Receive(25).size(), 25u);
  peer.CloseAccepted();
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::NotConnected));
  EXPECT_TRUE(Logged("Failed to connect to match making server -> Error during reading. End of file received."));
  EXPECT_TRUE(Logged("Failed to connect to match making server"));
  EXPECT_EQ(task->GetMatchMakingSocket(), nullptr);
}

TEST_F(MatchMakingLinkTest, EmptyKeyTimesOutInConnectingWithNothingToClose) {
  TMainServerTask* task = Create();
  task->SetKey("");
  EXPECT_FALSE(task->ConnectToMatchMakingServer());
  EXPECT_TRUE(Logged("No login or dedicated key specified, can't connect to match making server"));
  EXPECT_EQ(LevelOf("No login or dedicated key specified, can't connect to match making server"), 3);
  EXPECT_EQ(task->GetExitStatus(), kExitNoAccount);  // the loop now ends: not a clean stop
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connecting);
  EXPECT_EQ(task->GetMatchMakingSocket(), nullptr);

  TManualClock::AdvanceMilliseconds(10000);
  task->CheckMatchMakingTimeOuts();
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connecting);
  const std::size_t mark = Lines().size();
  TManualClock::AdvanceNanoseconds(1);
  task->CheckMatchMakingTimeOuts();
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::NotConnected);
  EXPECT_EQ(LinesFrom(mark), (std::vector<std::string>{"Timeout during connection to match making server : state was "
                                                       "Connecting",
                                                       "Failed to connect to match making server"}));
}

TEST_F(MatchMakingLinkTest, AFailedAttemptEndsThePassAsAnExitRequest) {
  TMainServerTask* task = Create();
  task->SetLogin("");
  EXPECT_FALSE(task->Tick());
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connecting);
}

// A message larger than the framer's buffer is not cut short: nothing leaves.
TEST_F(MatchMakingLinkTest, InitMessageThatDoesNotFitIsNotSent) {
  TLinkPeer peer;
  settings_.matchMakingPort = peer.PortText();
  settings_.login = std::string(5000, 'l');
  TMainServerTask* task = Create();
  ASSERT_TRUE(TickUntil(task, MatchMakingLinkState::Connected));
  EXPECT_TRUE(Logged("Failed to pack a packet for match making server in channel 225"));
  ASSERT_NE(peer.Accept(), -1);
  for (int i = 0; i < 8; ++i) task->Tick();
  EXPECT_EQ(peer.Receive(1, 200), "");
  EXPECT_EQ(task->GetLinkState(), MatchMakingLinkState::Connected);
}

TEST_F(MatchMakingLinkTest, SendingNeedsAnOpenSocket) {
  TMainServerTask* task = Create();
  Network::TMmsDedicatedInitMessage message;
  EXPECT_FALSE(task->SendMatchMakingPacket(task->GetMatchMakingFramer(), nullptr, 225, message));
  EXPECT_TRUE(Logged("Trying to send a packet to null socket in channel 225"));
  OrvTest::TSocketPair pair;
  Network::TBufferEventSocket socket(pair.TakeFirst(), task->GetSocketManager());
  socket.Close();
  EXPECT_FALSE(task->SendMatchMakingPacket(task->GetMatchMakingFramer(), &socket, 225, message));
  EXPECT_TRUE(Logged("Trying to send a packet to a closed socket in channel 225"));
}

}  // namespace
}  // namespace Orvan::Dedicated
