// Match making in process, with the hand-moved clock: when a game launches, counts down, is
// cancelled or goes to loading, the player numbers and their frame, and the version check.
#include "dedicated/game/states/strivex_dedicated_session_state_match_making.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/states/phase_factories.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/sockets/buffer_event_socket.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

using Network::OrvNetId;

// Stands for the loading phase: entered, it stays.
class TLoadingStandIn final : public TDedicatedSessionAbstractState {
 public:
  explicit TLoadingStandIn(TDedicatedSessionStateManager* manager) : TDedicatedSessionAbstractState(manager) {}
  void OnEnter() override {}
  void OnExit() override {}
  void Update() override {}
  std::uint32_t GetStateId() const override { return kLoadingStateId; }
  void OnEvent(TDedicatedUser*, std::uint32_t) override {}
  void OnClientMessage(TDedicatedUser*, const Network::TPacketBufferPtr&) override {}
  TDedicatedSessionAbstractState* CreateNextState() override { return nullptr; }
  bool AreUsersReady() override { return false; }
  bool IsGameRunning() const override { return true; }
  void OnClientRequestState(TDedicatedUser*, std::uint32_t) override {}
};

// Match making as it is, handing over to the stand-in.
class TMatchMakingUnderTest final : public TStrivexDedicatedSessionStateMatchMaking {
 public:
  using TStrivexDedicatedSessionStateMatchMaking::TStrivexDedicatedSessionStateMatchMaking;
  TDedicatedSessionAbstractState* CreateNextState() override { return new TLoadingStandIn(GetManager()); }
};

class TMatchMakingSession final : public TDedicatedSession {
 public:
  explicit TMatchMakingSession(std::map<std::string, std::string> properties)
      : TDedicatedSession("1.0", 24), properties_(std::move(properties)) {}

  bool ValidatePropertyValue(const TOrvString<char>&, const TOrvString<char>&) override { return true; }
  TDedicatedSessionAbstractState* CreateInitialState() override {
    return new TMatchMakingUnderTest(GetStateManager());
  }
  bool IsMatchMakingState(std::uint32_t stateId) override { return stateId == kMatchMakingStateId; }
  void ExecuteClientCommand(TDedicatedUser*, const TOrvString<char>&) override {}
  bool ExecuteRConCommand(const TOrvString<char>&, ServerTools::IVirtualConsole*) override { return false; }
  void RegisterServerProperties() override {
    std::map<std::string, std::string> values = {{"NbMaxPlayer", "20"}, {"NbPlayer", "0"},   {"WithHost", "0"},
                                                 {"ServerProtocol", "0.0"}, {"TimeLeft", "0"}, {"GameState", "0"},
                                                 {"NeedPassword", "0"}, {"Seed", "1"},
                                                 {"Version", "0"}};
    for (const auto& [name, value] : properties_) values[name] = value;
    for (const auto& [name, value] : values) {
      // "-" leaves the property undeclared.
      if (value == "-") continue;
      GetPropertyTable()->DeclareVariable(name.c_str(),
                                          new TDedicatedPropertyValue(value.c_str(), false, false, false, false));
    }
    GetPropertyTable()->DeclareVariable("Password", new TDedicatedPropertyValue("", false, false, true, true));
  }
  TDedicatedUser* CreateUser(std::uint32_t userSessionId, const OrvNetId& networkId,
                             Network::TBufferEventSocket* connection, const sockaddr_storage& address,
                             const TUserStatisticsDocuments& statistics) override {
    return CreateStrivexDedicatedUser(userSessionId, networkId, this, connection, address, statistics);
  }
  void AssignAlliance(TDedicatedUser*) override {}

 private:
  std::map<std::string, std::string> properties_;
};

// The client's end of a loopback connection: the frames of one channel, as hex text.
class TFrameReader {
 public:
  explicit TFrameReader(int descriptor) : descriptor_(descriptor) {}
  ~TFrameReader() { ::close(descriptor_); }
  TFrameReader(const TFrameReader&) = delete;
  TFrameReader& operator=(const TFrameReader&) = delete;

  void Read() {
    while (OrvTest::WaitReadable(descriptor_, 0)) {
      char buffer[4096];
      const ssize_t got = ::recv(descriptor_, buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      bytes_.append(buffer, static_cast<std::size_t>(got));
    }
    while (bytes_.size() >= 2) {
      const std::size_t length = (static_cast<unsigned char>(bytes_[0]) << 8) | static_cast<unsigned char>(bytes_[1]);
      if (bytes_.size() < 2 + length) break;
      const auto channel = length > 0 ? static_cast<std::uint8_t>(bytes_[2]) : 0;
      frames_[channel].push_back(OrvTest::HexText(bytes_.data(), 2 + length));
      bytes_.erase(0, 2 + length);
    }
  }
  std::vector<std::string> Frames(std::uint8_t channel) { return frames_[channel]; }

 private:
  int descriptor_;
  std::string bytes_;
  std::map<std::uint8_t, std::vector<std::string>> frames_;
};

class MatchMakingTest : public OrvTest::TDedicatedTest {
 protected:
  void TearDown() override {
    if (session_ != nullptr) {
      session_->Shutdown();
      session_.reset();
      TMainServerTask::DestroyInstance();
    }
    readers_.clear();
    TDedicatedTest::TearDown();
  }

  // A session with these properties over the defaults, no phase yet.
  void MakeSession(std::map<std::string, std::string> properties) {
    session_ = std::make_unique<TMatchMakingSession>(std::move(properties));
    task_ = OrvTest::CreateTask(settings_, session_.get());
    // Games start only over a Ready link.
    task_->AttachMatchMakingStream(nullptr, MatchMakingLinkState::Ready);
    session_->Initialize();
  }
  TDedicatedSessionStateManager& Start() {
    session_->CreateStateManager();
    return Manager();
  }
  TDedicatedSessionStateManager& Manager() { return *session_->GetStateManager(); }
  std::string Property(const char* name) { return session_->GetPropertyTable()->GetValue(name).c_str(); }

  // An admitted client; with `connected`, its end is read by the next reader.
  TDedicatedUser* Admit(std::uint64_t id, bool connected) {
    Network::TBufferEventSocket* socket = nullptr;
    if (connected) {
      int client = -1;
      socket = OrvTest::AcceptLoopbackClient(listener_, task_->GetSocketManager(), client);
      if (socket == nullptr) return nullptr;
      readers_.push_back(std::make_unique<TFrameReader>(client));
    }
    return OrvTest::AdmitClient(*session_, socket, id);
  }
  // Runs the loop until every reader holds `count` frames of the channel.
  void Receive(std::uint8_t channel, std::size_t count) {
    OrvTest::RunLoopUntil(*task_->GetSocketManager(), [&] {
      bool all = true;
      for (auto& reader : readers_) {
        reader->Read();
        all = all && reader->Frames(channel).size() >= count;
      }
      return all;
    });
  }

  OrvTest::TManualClock clock_;
  std::unique_ptr<TMatchMakingSession> session_;
  OrvTest::TTaskSettings settings_;
  TMainServerTask* task_ = nullptr;
  OrvTest::TLoopbackListener listener_;
  std::vector<std::unique_ptr<TFrameReader>> readers_;
};

// ---- Launching: one script per row, the phase and its time left seen after every step.

struct TLaunchStep {
  enum class Kind { Admit, AdmitRefused, Leave, Event, Tick, Ready, LinkDown, LinkUp, Exit } kind;
  std::uint32_t value = 0;  // event; client index for Leave and Ready
};
// Admission posts the phase's event itself.
TLaunchStep AdmitOne() { return {TLaunchStep::Kind::Admit}; }
// An admission the phase refuses (NotAvailable): a launch is less than 5 s away.
TLaunchStep AdmitRefused() { return {TLaunchStep::Kind::AdmitRefused}; }
TLaunchStep Leave(std::uint32_t client) { return {TLaunchStep::Kind::Leave, client}; }
TLaunchStep Post(std::uint32_t event) { return {TLaunchStep::Kind::Event, event}; }
// One second and a bit, then an update.
TLaunchStep Tick() { return {TLaunchStep::Kind::Tick}; }
TLaunchStep Ready(std::uint32_t client) { return {TLaunchStep::Kind::Ready, client}; }
// The match-making link lost, and Ready again.
TLaunchStep LinkDown() { return {TLaunchStep::Kind::LinkDown}; }
TLaunchStep LinkUp() { return {TLaunchStep::Kind::LinkUp}; }
// The program's first exit request.
TLaunchStep Exit() { return {TLaunchStep::Kind::Exit}; }

struct TLaunchCase {
  const char* what;
  std::map<std::string, std::string> properties;
  std::uint32_t clientsBefore;  // admitted, not ready, before match making is entered
  std::vector<TLaunchStep> steps;
  // After entering, then after each step: the phase id, and ":" the time left while in match making.
  std::vector<std::string> trace;
};

constexpr std::uint32_t kLaunch = kStateEventLaunch;
constexpr std::uint32_t kCancel = kStateEventCancelLaunch;
const char kIdle[] = "0:4294967295";

TEST_F(MatchMakingTest, LaunchCountdownAndCancel) {
  const std::map<std::string, std::string> auto2 = {{"NbMinPlayer", "2"}, {"WarmupCountdown", "3"}};
  const std::map<std::string, std::string> hosted = {
      {"NbMinPlayer", "2"}, {"WarmupCountdown", "5"}, {"WithHost", "1"}};
  const std::vector<TLaunchCase> cases = {
      {"the client that reaches NbMinPlayer launches; the countdown's end goes to loading",
       auto2,
       0,
       {AdmitOne(), AdmitOne(), Tick(), Tick(), Tick()},
       {kIdle, kIdle, "0:3", "0:2", "0:1", "51"}},
      {"enough clients already there when the phase is entered launch at once",
       auto2,
       2,
       {Tick()},
       {"0:3", "0:2"}},
      {"NbMinPlayer 0: the phase launches on entering, and an admission restarts nothing",
       {{"NbMinPlayer", "0"}, {"WarmupCountdown", "6"}},
       0,
       {AdmitOne(), Tick(), Tick(), Tick(), Tick(), Tick(), Tick()},
       {"0:6", "0:6", "0:5", "0:4", "0:3", "0:2", "0:1", "51"}},
      {"an admission while counting does not restart the countdown",
       {{"NbMinPlayer", "2"}, {"WarmupCountdown", "8"}},
       2,
       {Tick(), AdmitOne()},
       {"0:8", "0:7", "0:7"}},
      {"with fewer than 5 s left nobody is admitted; at 5 s still",
       {{"NbMinPlayer", "2"}, {"WarmupCountdown", "6"}},
       2,
       {Tick(), AdmitOne(), Tick(), AdmitRefused(), Tick(), Tick(), Tick(), Tick()},
       {"0:6", "0:5", "0:5", "0:4", "0:4", "0:3", "0:2", "0:1", "51"}},
      {"a second launch restarts the countdown from WarmupCountdown",
       auto2,
       2,
       {Tick(), Tick(), Post(kLaunch), Tick()},
       {"0:3", "0:2", "0:1", "0:3", "0:2"}},
      {"a cancel then a launch within the same second: the next step stops the countdown",
       auto2,
       2,
       {Tick(), Post(kCancel), Post(kLaunch), Tick(), Tick()},
       {"0:3", "0:2", "0:2", "0:3", kIdle, kIdle}},
      {"a client leaving below NbMinPlayer cancels at the next step",
       auto2,
       2,
       {Tick(), Leave(1), Tick()},
       {"0:3", "0:2", "0:2", kIdle}},
      {"a cancel with no countdown running leaves the next one alone",
       auto2,
       0,
       {Post(kCancel), Tick(), AdmitOne(), AdmitOne(), Tick()},
       {kIdle, kIdle, kIdle, kIdle, "0:3", "0:2"}},
      {"hosted: clients alone never launch",
       hosted,
       2,
       {AdmitOne(), Tick()},
       {kIdle, kIdle, kIdle}},
      {"hosted: a launch with a player not ready counts down; once all are ready, loading follows",
       hosted,
       2,
       {Post(kLaunch), Tick(), Ready(1), Tick()},
       {kIdle, "0:5", "0:4", "0:4", "51"}},
      {"hosted: a launch with every player ready goes to loading at once",
       hosted,
       2,
       {Ready(1), Post(kLaunch)},
       {kIdle, kIdle, "51"}},
      {"hosted: a client leaving does not cancel",
       hosted,
       2,
       {Post(kLaunch), Leave(1), Tick()},
       {kIdle, "0:5", "0:5", "0:4"}},
      {"an exit request stops the countdown, and nothing launches afterwards",
       auto2,
       2,
       {Tick(), Exit(), Tick(), Post(kLaunch), AdmitOne(), Tick(), Tick(), Tick()},
       {"0:3", "0:2", "0:2", kIdle, kIdle, kIdle, kIdle, kIdle, kIdle}},
      {"an exit request with no countdown: enough clients launch nothing",
       auto2,
       0,
       {AdmitOne(), Exit(), AdmitOne(), Tick()},
       {kIdle, kIdle, kIdle, kIdle, kIdle}},
      {"hosted: after an exit request a launch with every player ready stays in match making",
       hosted,
       2,
       {Ready(1), Exit(), Post(kLaunch), Tick()},
       {kIdle, kIdle, kIdle, kIdle, kIdle}},
      {"hosted: too few clients for NbMinPlayer are never ready",
       {{"NbMinPlayer", "3"}, {"WarmupCountdown", "1"}, {"WithHost", "1"}},
       2,
       {Ready(1), Post(kLaunch), Tick()},
       {kIdle, kIdle, "0:1", "51"}},
      {"without a Ready link the countdown runs, then the launch waits at 0 for the link",
       auto2,
       2,
       {LinkDown(), Tick(), Tick(), Tick(), Tick(), LinkUp(), Tick()},
       {"0:3", "0:3", "0:2", "0:1", "0:0", "0:0", "0:0", "51"}},
      {"a cancel stops a launch that waits for the link",
       auto2,
       2,
       {LinkDown(), Tick(), Tick(), Tick(), Post(kCancel), Tick(), LinkUp(), Tick()},
       {"0:3", "0:3", "0:2", "0:1", "0:0", "0:0", kIdle, kIdle, kIdle}},
      {"hosted: every player ready without a Ready link counts down; the link back, loading follows",
       hosted,
       2,
       {LinkDown(), Ready(1), Post(kLaunch), Tick(), LinkUp(), Tick()},
       {kIdle, kIdle, kIdle, "0:5", "0:4", "0:4", "51"}},
  };
  for (const TLaunchCase& c : cases) {
    SCOPED_TRACE(c.what);
    MakeSession(c.properties);
    std::vector<TDedicatedUser*> users;
    std::uint64_t id = 0x100;
    const auto admit = [&] {
      TDedicatedUser* user = Admit(++id, false);
      ASSERT_NE(user, nullptr);
      // Whatever the defaults, not ready; the host never has to be.
      user->SetUserVariable("PlayerReady", "0", false, false, false, true);
      users.push_back(user);
    };
    for (std::uint32_t index = 0; index < c.clientsBefore; ++index) admit();
    if (session_->HasHost()) {
      ASSERT_TRUE(users.empty() || users[0]->IsHost());
    }

    std::vector<std::string> trace;
    const auto note = [&] {
      const std::uint32_t state = Manager().GetCurrentStateId();
      trace.push_back(state == kMatchMakingStateId ? "0:" + std::to_string(Manager().GetCurrentTimeLeft())
                                                   : std::to_string(state));
    };
    Start();
    note();
    for (const TLaunchStep& step : c.steps) {
      switch (step.kind) {
        case TLaunchStep::Kind::Admit:
          admit();
          break;
        case TLaunchStep::Kind::AdmitRefused: {
          TUserWaitingForLogin pending(nullptr, OrvTest::PeerAddress());
          pending.SetClientId(Network::OrvNetId::FromValue(++id));
          pending.SetClientVersion("1.0");
          ClientDisconnectReason reason = ClientDisconnectReason::Success;
          EXPECT_FALSE(session_->AddClient(&pending, TUserStatisticsDocuments(), reason));
          EXPECT_EQ(reason, ClientDisconnectReason::NotAvailable);
          break;
        }
        case TLaunchStep::Kind::Leave:
          users[step.value]->Disconnect(ClientDisconnectReason::ConnectionLost);
          break;
        case TLaunchStep::Kind::Event:
          Manager().PostEvent(nullptr, step.value);
          break;
        case TLaunchStep::Kind::Tick:
          OrvTest::TManualClock::AdvanceMilliseconds(1001);
          Manager().Update();
          break;
        case TLaunchStep::Kind::Ready:
          users[step.value]->SetUserVariable("PlayerReady", "1", false, false, false, true);
          break;
        case TLaunchStep::Kind::LinkDown:
          task_->AttachMatchMakingStream(nullptr, MatchMakingLinkState::NotConnected);
          break;
        case TLaunchStep::Kind::LinkUp:
          task_->AttachMatchMakingStream(nullptr, MatchMakingLinkState::Ready);
          break;
        case TLaunchStep::Kind::Exit:
          session_->OnExitRequested();
          break;
      }
      note();
    }
    EXPECT_EQ(trace, c.trace);
    EXPECT_EQ(Manager().CanExit(), Manager().GetCurrentStateId() == kMatchMakingStateId);

    session_->Shutdown();
    session_.reset();
    TMainServerTask::DestroyInstance();
  }
  EXPECT_TRUE(Logged("Launch game"));
  EXPECT_TRUE(Logged("Canceling launch game"));
  EXPECT_EQ(LevelOf("Launch game"), 0);
  // Once per launch held, not once per second of the wait.
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "Game launch waits for the match making server"), 2);
  EXPECT_TRUE(Logged("Launch game refused (reason : server exiting)"));
}

// ---- Leaving: the seed and the player numbers.

// Numbers go by alliance, then by user session id; spectators and players without a readable
// alliance of 0 or more get none, and every connected client, spectators too, gets the list in the
// order of the session's clients.
TEST_F(MatchMakingTest, PlayerNumbersByAllianceThenSessionId) {
  // Seven clients with the spectator: enough.
  MakeSession({{"NbMinPlayer", "7"}, {"WithHost", "1"}});
  struct TClient {
    const char* alliance;
    bool spectator;
    std::int32_t number;
  };
  const std::vector<TClient> clients = {
      {"1", false, 3},   // the host
      {"0", false, 2},   // admitted last
      {"0", true, -1},   // a spectator's alliance does not count
      {"0", false, 1},   //
      {"-1", false, -1},
      {"7", false, 4},
      {"0", false, 0},   // the smallest session id of alliance 0
  };
  std::vector<TDedicatedUser*> users;
  std::uint64_t id = 0x200;
  for (std::size_t index = 0; index < clients.size(); ++index) {
    TDedicatedUser* user = Admit(++id, true);
    ASSERT_NE(user, nullptr);
    users.push_back(user);
  }
  // Admission order is session id order; the last one must rank first in alliance 0.
  std::swap(users[1], users[6]);
  TDedicatedSessionStateManager& manager = Start();
  for (std::size_t index = 0; index < clients.size(); ++index) {
    users[index]->SetUserVariable("PlayerAlliance", clients[index].alliance, false, false, false, true);
    users[index]->SetSpectator(clients[index].spectator);
    users[index]->SetUserVariable("PlayerReady", "1", false, false, false, true);
  }
  std::srand(77);
  const int seed = std::rand();
  std::srand(77);
  manager.PostEvent(nullptr, kStateEventLaunch);
  ASSERT_EQ(manager.GetCurrentStateId(), kLoadingStateId);
  EXPECT_EQ(Property("Seed"), std::to_string(seed));

  std::string body;
  std::uint32_t count = 0;
  for (TDedicatedUser* user : session_->GetClients()) {
    const auto index = static_cast<std::size_t>(std::find(users.begin(), users.end(), user) - users.begin());
    ASSERT_LT(index, clients.size());
    EXPECT_EQ(user->GetPlayerNumber(), clients[index].number) << clients[index].alliance;
    if (clients[index].number < 0) continue;
    body += OrvTest::BigEndian(user->GetUserSessionId(), 4) +
            OrvTest::BigEndian(static_cast<std::uint32_t>(clients[index].number), 4);
    ++count;
  }
  ASSERT_EQ(count, 5u);
  const std::string frame = OrvTest::Frame(kChannelPlayerNumbers, OrvTest::BigEndian(count, 4) + body);
  Receive(kChannelPlayerNumbers, 1);
  for (auto& reader : readers_) {
    EXPECT_EQ(reader->Frames(kChannelPlayerNumbers), std::vector<std::string>{OrvTest::HexText(frame.data(),
                                                                                                 frame.size())});
  }
}

// Entering makes everyone a player again with no number and no reported tick; a request is kept
// only for deployment or match making.
TEST_F(MatchMakingTest, EnteringResetsThePlayersAndRequestsAreFiltered) {
  MakeSession({{"NbMinPlayer", "5"}});
  TDedicatedUser* user = Admit(0x301, false);
  ASSERT_NE(user, nullptr);
  user->SetSpectator(true);
  user->SetPlayerNumber(4);
  user->SetLastReportedTick(900);
  TDedicatedSessionStateManager& manager = Start();
  EXPECT_FALSE(user->IsSpectator());
  EXPECT_EQ(user->GetPlayerNumber(), kNoPlayerNumber);
  EXPECT_EQ(user->GetLastReportedTick(), 0u);
  EXPECT_TRUE(Logged("Entering in matchmaking state"));
  EXPECT_FALSE(manager.IsGameRunning());

  const std::vector<std::pair<std::uint32_t, std::uint32_t>> requests = {
      {kDeploymentStateId, kDeploymentStateId}, {kLoadingStateId, kDeploymentStateId},
      {kMatchMakingStateId, kMatchMakingStateId}, {kDebriefingStateId, kMatchMakingStateId},
      {kCommandStateId, kMatchMakingStateId}};
  for (const auto& [asked, kept] : requests) {
    manager.OnClientStateRequest(user, asked);
    EXPECT_EQ(user->GetRequestState(), kept) << asked;
  }
  EXPECT_EQ(manager.GetCurrentStateId(), kMatchMakingStateId);
}

// ---- The version check.

struct TVersionCase {
  const char* what;
  const char* version;
  bool onEnter;         // else on event 3
  std::vector<bool> stays;
};

// Clients of another version than Version are sent 199 with 12 and leave, on entering and on event
// 3.
TEST_F(MatchMakingTest, OtherVersionsAreKicked) {
  const std::vector<const char*> versions = {"1.0", "0.9", "1.0", "1.0b"};
  const std::vector<TVersionCase> cases = {
      {"on entering", "1.0", true, {true, false, true, false}},
      {"on the game information's change", "1.0", false, {true, false, true, false}},
      {"to a version nobody has", "2.0", false, {false, false, false, false}},
  };
  for (const TVersionCase& c : cases) {
    SCOPED_TRACE(c.what);
    MakeSession({{"NbMinPlayer", "9"}});
    if (!c.onEnter) Start();
    std::uint64_t id = 0x400;
    for (const char* version : versions) {
      TDedicatedUser* user = Admit(++id, true);
      ASSERT_NE(user, nullptr);
      user->SetVersion(version);
    }
    session_->GetPropertyTable()->SetVariable("Version", c.version, false, false, false, true);
    if (c.onEnter) {
      Start();
    } else {
      Manager().PostEvent(nullptr, kStateEventGameInfoChanged);
    }
    const std::string kicked = OrvTest::Frame(199, std::string(1, '\0') + OrvTest::BigEndian(12, 4));
    for (std::size_t index = 0; index < versions.size(); ++index) {
      EXPECT_EQ(session_->FindClientById(OrvNetId::FromValue(0x401 + index)) != nullptr, c.stays[index]) << index;
    }
    OrvTest::RunLoopUntil(*task_->GetSocketManager(), [&] {
      bool all = true;
      for (std::size_t index = 0; index < versions.size(); ++index) {
        readers_[index]->Read();
        if (!c.stays[index]) all = all && !readers_[index]->Frames(199).empty();
      }
      return all;
    });
    for (std::size_t index = 0; index < versions.size(); ++index) {
      const std::vector<std::string> expected =
          c.stays[index] ? std::vector<std::string>() : std::vector<std::string>{OrvTest::HexText(kicked.data(),
                                                                                                  kicked.size())};
      EXPECT_EQ(readers_[index]->Frames(199), expected) << index;
    }
    session_->Shutdown();
    session_.reset();
    TMainServerTask::DestroyInstance();
    readers_.clear();
  }
}

}  // namespace
}  // namespace Orvan::Dedicated
