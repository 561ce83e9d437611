// The running game's phases in process, each entered through a real machine with admitted clients
// and the hand-moved clock: their time limits, the requests each accepts, the players each removes,
// the players the game expects, and the result the debriefing uploads.
#include "dedicated/game/states/strivex_game_phases.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/game/game_result_document.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/states/phase_factories.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/operations/http_request.h"
#include "network/operations/operation_with_time_out.h"
#include "support/curl_pump.h"
#include "support/dedicated_test_helpers.h"
#include "support/http_endpoint_peer.h"
#include "support/manual_clock.h"

namespace Orvan::Dedicated {
namespace {

using Network::OrvNetId;

const char kDisconnect22[] = " (reason : KickedDueToBadPerf)";
const char kDisconnect21[] = " (reason : KickedAtEndGame)";

// A session without a first phase, whose properties are those a test declares: an absent one is
// not declared at all.
class TGamePhaseTestSession final : public TDedicatedSession {
 public:
  explicit TGamePhaseTestSession(std::vector<std::pair<std::string, std::string>> properties)
      : TDedicatedSession("1.0", 24), properties_(std::move(properties)) {}

  bool ValidatePropertyValue(const TOrvString<char>&, const TOrvString<char>&) override { return true; }
  TDedicatedSessionAbstractState* CreateInitialState() override { return nullptr; }
  bool IsMatchMakingState(std::uint32_t stateId) override { return stateId == kMatchMakingStateId; }
  void ExecuteClientCommand(TDedicatedUser*, const TOrvString<char>&) override {}
  bool ExecuteRConCommand(const TOrvString<char>&, ServerTools::IVirtualConsole*) override { return false; }
  void RegisterServerProperties() override {
    OrvTest::DeclarePhaseTestProperties(GetPropertyTable());
    for (const auto& [name, value] : properties_) {
      GetPropertyTable()->DeclareVariable(name.c_str(),
                                          new TDedicatedPropertyValue(value.c_str(), false, false, false, false));
    }
  }
  TDedicatedUser* CreateUser(std::uint32_t userSessionId, const OrvNetId& networkId,
                             Network::TBufferEventSocket* connection, const sockaddr_storage& address,
                             const TUserStatisticsDocuments& statistics) override {
    return CreateStrivexDedicatedUser(userSessionId, networkId, this, connection, address, statistics);
  }
  void AssignAlliance(TDedicatedUser*) override {}

 private:
  std::vector<std::pair<std::string, std::string>> properties_;
};

TVector<std::uint64_t> Players(const std::vector<std::uint64_t>& ids) {
  TVector<std::uint64_t> players;
  for (std::uint64_t id : ids) players.PushBack(id);
  return players;
}
std::vector<std::uint64_t> Ids(const TVector<std::uint64_t>& players) {
  std::vector<std::uint64_t> ids;
  for (std::uint64_t id : players) ids.push_back(id);
  return ids;
}

class GamePhasesTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    // No upload of these tests but the endpoint's leaves the machine: the others are refused.
    settings_.gameReportingUrl = "http://127.0.0.1:" + OrvTest::ClosedPortText() + "/recorddedicatedgame";
  }
  void TearDown() override {
    if (session_ != nullptr) {
      session_->Shutdown();
      session_.reset();
    }
    TDedicatedTest::TearDown();
  }

  // A session with these properties and its machine, still without a phase.
  TDedicatedSessionStateManager& Start(std::vector<std::pair<std::string, std::string>> properties = {}) {
    session_ = std::make_unique<TGamePhaseTestSession>(std::move(properties));
    task_ = OrvTest::CreateTask(settings_, session_.get());
    // Games start only over a Ready link.
    task_->AttachMatchMakingStream(nullptr, MatchMakingLinkState::Ready);
    session_->Initialize();
    session_->CreateStateManager();
    return Manager();
  }
  TDedicatedSessionStateManager& Manager() { return *session_->GetStateManager(); }

  // An admitted client without a connection.
  TDedicatedUser* Admit(std::uint64_t id, bool spectator = false) {
    TDedicatedUser* user = OrvTest::AdmitClient(*session_, nullptr, id);
    if (user == nullptr) return nullptr;
    user->SetSpectator(spectator);
    return user;
  }
  bool Present(std::uint64_t id) const { return session_->FindClientById(OrvNetId::FromValue(id)) != nullptr; }
  // The removals of client `id` logged with this reason.
  static std::size_t Disconnects(std::uint64_t id, const char* reason) {
    const std::string prefix = "Disconnecting client " + std::string(OrvNetId::FromValue(id).ToString().c_str()) +
                               " with IP ";
    const std::string suffix = reason;
    std::size_t count = 0;
    for (const std::string& line : Lines()) {
      if (line.rfind(prefix, 0) == 0 && line.size() >= prefix.size() + suffix.size() &&
          line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
        ++count;
      }
    }
    return count;
  }
  static std::size_t Count(const std::string& line) {
    std::size_t count = 0;
    for (const std::string& logged : Lines()) count += logged == line ? 1 : 0;
    return count;
  }
  std::string PlayerReady(TDedicatedUser* user) {
    return user->GetUserVariable("PlayerReady")->GetValue().c_str();
  }
  // The machine's step after `milliseconds`.
  void UpdateAfter(double milliseconds) {
    OrvTest::TManualClock::AdvanceMilliseconds(milliseconds);
    Manager().Update();
  }

  OrvTest::TManualClock clock_;
  OrvTest::TTaskSettings settings_;
  std::unique_ptr<TGamePhaseTestSession> session_;
  TMainServerTask* task_ = nullptr;
};

TDedicatedSessionAbstractState* MakePhase(TDedicatedSessionStateManager* manager, std::uint32_t id) {
  switch (id) {
    case kLoadingStateId:
      return CreateLoadingPhase(manager);
    case kDeploymentStateId:
      return new TStrivexDedicatedSessionStateDeploiementPhase(manager);
    case kCommandStateId:
      return new TStrivexDedicatedSessionStateCommandPhase(manager, Players({}));
    default:
      return new TStrivexDedicatedSessionStateDebriefingPhase(manager, Players({}));
  }
}

// ---- Time limits.

TEST_F(GamePhasesTest, EachPhaseTakesItsTimeLimitFromItsProperty) {
  const struct {
    std::uint32_t phase;
    const char* property;
    std::optional<std::string> value;  // absent when empty
    std::uint32_t timeLeft;
  } cases[] = {
      {kLoadingStateId, "LoadingTimeMax", "120", 120},
      {kLoadingStateId, "LoadingTimeMax", "soon", 0},
      {kLoadingStateId, "LoadingTimeMax", std::nullopt, 0},
      {kDeploymentStateId, "DeploiementTimeMax", "45s", 45},
      {kCommandStateId, "TimeLimit", "0", kNoTimeLimit},
      {kCommandStateId, "TimeLimit", "4294967295", kNoTimeLimit},
      {kCommandStateId, "TimeLimit", "99999999999", kNoTimeLimit},
      {kCommandStateId, "TimeLimit", std::nullopt, kNoTimeLimit},
      {kCommandStateId, "TimeLimit", "1", 1},
      {kCommandStateId, "TimeLimit", "1200", 1200},
      {kDebriefingStateId, "DebriefingTimeMax", "0", 10},
      {kDebriefingStateId, "DebriefingTimeMax", "5", 10},
      {kDebriefingStateId, "DebriefingTimeMax", std::nullopt, 10},
      {kDebriefingStateId, "DebriefingTimeMax", "10", 10},
      {kDebriefingStateId, "DebriefingTimeMax", "30", 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.property) + " " + c.value.value_or("absent"));
    std::vector<std::pair<std::string, std::string>> properties;
    if (c.value) properties.emplace_back(c.property, *c.value);
    TDedicatedSessionStateManager& manager = Start(properties);
    manager.ChangeState(MakePhase(&manager, c.phase));
    EXPECT_EQ(manager.GetCurrentStateId(), c.phase);
    EXPECT_EQ(manager.GetCurrentTimeLeft(), c.timeLeft);
    EXPECT_TRUE(manager.IsGameRunning());
    EXPECT_FALSE(manager.CanExit());
    session_->Shutdown();
    session_.reset();
    TMainServerTask::DestroyInstance();
  }
}

// A battle of one second ends at the first countdown step, however soon after it began; one
// without a limit never does.
TEST_F(GamePhasesTest, CommandPhaseEndsAtItsLimitOnlyWhenItHasOne) {
  for (const char* limit : {"1", "0"}) {
    SCOPED_TRACE(limit);
    TDedicatedSessionStateManager& manager = Start({{"TimeLimit", limit}});
    OrvTest::TManualClock::AdvanceMilliseconds(900);
    manager.ChangeState(MakePhase(&manager, kCommandStateId));
    UpdateAfter(101);
    const bool limited = std::string(limit) == "1";
    EXPECT_EQ(manager.GetCurrentStateId(), limited ? kDebriefingStateId : kCommandStateId);
    for (int second = 0; second < 3; ++second) UpdateAfter(1001);
    EXPECT_EQ(manager.GetCurrentStateId(), limited ? kDebriefingStateId : kCommandStateId);
    session_->Shutdown();
    session_.reset();
    TMainServerTask::DestroyInstance();
  }
}

// ---- Requests.

// Two players: the second never asks, so the first one's request never ends the phase.
TEST_F(GamePhasesTest, EachPhaseStoresOnlyTheRequestsItAccepts) {
  const std::uint32_t asked[] = {0, 7, kLoadingStateId, kDeploymentStateId, kCommandStateId, kDebriefingStateId};
  const struct {
    std::uint32_t phase;
    std::vector<std::uint32_t> accepted;
  } cases[] = {
      {kLoadingStateId, {kDeploymentStateId, kCommandStateId, kDebriefingStateId}},
      {kDeploymentStateId, {kDeploymentStateId, kCommandStateId, kDebriefingStateId}},
      {kCommandStateId, {kCommandStateId, kDebriefingStateId}},
      {kDebriefingStateId, {0, kDebriefingStateId}},
  };
  for (const auto& c : cases) {
    TDedicatedSessionStateManager& manager = Start();
    TDedicatedUser* player = Admit(1);
    Admit(2);
    ASSERT_NE(player, nullptr);
    manager.ChangeState(MakePhase(&manager, c.phase));
    for (std::uint32_t id : asked) {
      SCOPED_TRACE("phase " + std::to_string(c.phase) + " asked " + std::to_string(id));
      player->SetRequestState(c.phase);
      manager.OnClientStateRequest(player, id);
      const bool accepted = std::find(c.accepted.begin(), c.accepted.end(), id) != c.accepted.end();
      EXPECT_EQ(player->GetRequestState(), accepted ? id : c.phase);
      EXPECT_EQ(manager.GetCurrentStateId(), c.phase);
    }
    session_->Shutdown();
    session_.reset();
    TMainServerTask::DestroyInstance();
  }
}

// Deployment marks everyone not ready; asking to leave the debriefing marks a client ready again.
TEST_F(GamePhasesTest, DeploymentClearsPlayerReadyAndAskingForMatchMakingSetsIt) {
  TDedicatedSessionStateManager& manager = Start();
  TDedicatedUser* player = Admit(1);
  TDedicatedUser* spectator = Admit(2, true);
  TDedicatedUser* other = Admit(3);
  ASSERT_TRUE(player != nullptr && spectator != nullptr && other != nullptr);
  manager.ChangeState(MakePhase(&manager, kDeploymentStateId));
  for (TDedicatedUser* user : {player, spectator, other}) EXPECT_EQ(PlayerReady(user), "0");

  manager.ChangeState(MakePhase(&manager, kDebriefingStateId));
  manager.OnClientStateRequest(player, kDebriefingStateId);
  manager.OnClientStateRequest(spectator, 0);
  EXPECT_EQ(PlayerReady(player), "0");
  EXPECT_EQ(PlayerReady(spectator), "1");
  manager.OnClientStateRequest(player, 0);
  EXPECT_EQ(PlayerReady(player), "1");
  EXPECT_EQ(PlayerReady(other), "0");
}

// ---- Removals.

struct TClientPlan {
  std::uint64_t id;
  bool spectator;
  std::uint32_t asked;  // a request made during the phase; kNoStateId for none
  bool kept;
};

// At the end of loading, a player that never asked beyond loading is removed; spectators stay.
TEST_F(GamePhasesTest, LoadingEndRemovesPlayersThatDidNotLoad) {
  const std::vector<TClientPlan> clients = {
      {1, false, kDeploymentStateId, true}, {2, false, kNoStateId, false},   {3, false, kDebriefingStateId, true},
      {4, true, kNoStateId, true},          {5, false, kLoadingStateId, false}, {6, false, 0, false},
      {7, false, kCommandStateId, true},
  };
  TDedicatedSessionStateManager& manager = Start({{"LoadingTimeMax", "1"}});
  for (const TClientPlan& client : clients) ASSERT_NE(Admit(client.id, client.spectator), nullptr);
  manager.ChangeState(CreateLoadingPhase(&manager));
  for (const TClientPlan& client : clients) {
    if (client.asked != kNoStateId) {
      manager.OnClientStateRequest(session_->FindClientById(OrvNetId::FromValue(client.id)), client.asked);
    }
  }
  ASSERT_EQ(manager.GetCurrentStateId(), kLoadingStateId);
  UpdateAfter(1001);
  EXPECT_EQ(manager.GetCurrentStateId(), kDeploymentStateId);
  for (const TClientPlan& client : clients) {
    SCOPED_TRACE(client.id);
    EXPECT_EQ(Present(client.id), client.kept);
    EXPECT_EQ(Disconnects(client.id, kDisconnect22), client.kept ? 0u : 1u);
  }
  // Removed before the change: the kept players alone are raised to deployment.
  EXPECT_EQ(session_->GetClients().GetSize(), 4u);
}

// At the end of the debriefing every client that did not ask to go back is removed, spectators too.
TEST_F(GamePhasesTest, DebriefingEndRemovesClientsThatDidNotReturn) {
  const std::vector<TClientPlan> clients = {
      {1, false, 0, true},
      {2, false, kDebriefingStateId, false},
      // Spectators are never raised to the phase: this one follows the game by its own requests.
      {3, true, kDebriefingStateId, false},
      {4, true, 0, true},
      {5, false, kNoStateId, false},
  };
  TDedicatedSessionStateManager& manager = Start();
  for (const TClientPlan& client : clients) ASSERT_NE(Admit(client.id, client.spectator), nullptr);
  manager.ChangeState(MakePhase(&manager, kDebriefingStateId));
  for (const TClientPlan& client : clients) {
    if (client.asked != kNoStateId) {
      manager.OnClientStateRequest(session_->FindClientById(OrvNetId::FromValue(client.id)), client.asked);
    }
  }
  ASSERT_EQ(manager.GetCurrentStateId(), kDebriefingStateId);
  manager.ChangeState(CreateLoadingPhase(&manager));
  for (const TClientPlan& client : clients) {
    SCOPED_TRACE(client.id);
    EXPECT_EQ(Present(client.id), client.kept);
    EXPECT_EQ(Disconnects(client.id, kDisconnect21), client.kept ? 0u : 1u);
  }
}

// A lag of 150 ticks is tolerated, 151 is not; spectators and clients ahead are never removed; the
// check runs on entering, then once a second.
TEST_F(GamePhasesTest, CommandPhaseRemovesPlayersThatLagBeyond150Ticks) {
  const std::uint32_t tick = 1000;
  const struct {
    std::uint64_t id;
    bool spectator;
    std::uint32_t lastReported;
    bool kept;
  } clients[] = {
      {1, false, tick - 150, true}, {2, false, tick - 151, false}, {3, true, 0, true},
      {4, false, tick + 5, true},   {5, false, tick, true},        {6, false, 0, false},
      // Far enough ahead that the difference wraps: ahead, not behind.
      {7, false, tick + 0x80000000u, true},
  };
  TDedicatedSessionStateManager& manager = Start();
  session_->SetRecordingForTests(false, tick);
  for (const auto& client : clients) {
    TDedicatedUser* user = Admit(client.id, client.spectator);
    ASSERT_NE(user, nullptr);
    user->SetLastReportedTick(client.lastReported);
  }
  manager.ChangeState(MakePhase(&manager, kCommandStateId));
  manager.Update();
  for (const auto& client : clients) {
    SCOPED_TRACE(client.id);
    EXPECT_EQ(Present(client.id), client.kept);
    EXPECT_EQ(Disconnects(client.id, kDisconnect22), client.kept ? 0u : 1u);
  }

  // One more tick behind: removed at the next check, a second after the last.
  session_->SetRecordingForTests(false, tick + 1);
  UpdateAfter(999);
  EXPECT_TRUE(Present(1));
  UpdateAfter(1);
  EXPECT_FALSE(Present(1));
  EXPECT_EQ(Disconnects(1, kDisconnect22), 1u);
  EXPECT_TRUE(Present(3));
  EXPECT_EQ(manager.GetCurrentStateId(), kCommandStateId);
}

// ---- Expected players and the result.

// The expected players are every client on entering deployment, spectators included, in the
// session's order; later clients are not added. They travel to the debriefing, which uploads them.
TEST_F(GamePhasesTest, ExpectedPlayersAreRecordedOnceAndUploadedWithTheResult) {
  OrvTest::THttpEndpointPeer endpoint;
  ASSERT_TRUE(endpoint.Start());
  ASSERT_TRUE(endpoint.Command(R"({"cmd": "answer", "status": 200, "body": "recorded"})"));
  settings_.gameReportingUrl = endpoint.Url("/recorddedicatedgame");
  settings_.gameId = 77;
  TDedicatedSessionStateManager& manager = Start({{"Map", "12_Ridge"}});
  // Client ids with a high word, listed in admission order, not sorted.
  const std::uint64_t high = std::uint64_t{0x00ABCDEF} << 32;
  const std::vector<std::uint64_t> expected = {high | 6, high | 1, high | 4};
  ASSERT_NE(Admit(expected[0]), nullptr);
  ASSERT_NE(Admit(expected[1], true), nullptr);
  ASSERT_NE(Admit(expected[2]), nullptr);

  manager.ChangeState(MakePhase(&manager, kDeploymentStateId));
  ASSERT_NE(Admit(high | 9), nullptr);
  auto* deployment = dynamic_cast<TStrivexDedicatedSessionStateDeploiementPhase*>(manager.GetCurrentState());
  ASSERT_NE(deployment, nullptr);
  EXPECT_EQ(Ids(deployment->GetExpectedPlayers()), expected);

  manager.ChangeState(manager.GetCurrentState()->CreateNextState());
  auto* command = dynamic_cast<TStrivexDedicatedSessionStateCommandPhase*>(manager.GetCurrentState());
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(Ids(command->GetExpectedPlayers()), expected);

  const std::string terminated = "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: 200";
  manager.ChangeState(manager.GetCurrentState()->CreateNextState());
  auto* debriefing = dynamic_cast<TStrivexDedicatedSessionStateDebriefingPhase*>(manager.GetCurrentState());
  ASSERT_NE(debriefing, nullptr);
  EXPECT_EQ(Ids(debriefing->GetExpectedPlayers()), expected);
  EXPECT_EQ(Count("Entering in debriephing phase state"), 1u);

  Network::TCurlRequestManager* requests = task_->GetHttpManager();
  ASSERT_TRUE(OrvTest::PumpUntil(
      requests->GetMultiHandle(), [&] { requests->Perform(); },
      [&] { return task_->GetOperationManager()->GetRegisteredCount() == 0; }, &endpoint));
  EXPECT_EQ(Count(terminated), 1u);
  const std::vector<OrvTest::TEndpointEvent> received = endpoint.Requests();
  ASSERT_EQ(received.size(), 1u);
  ASSERT_EQ(received[0].parts.size(), 3u);
  EXPECT_EQ(received[0].path, "/recorddedicatedgame");
  const std::string document = received[0].parts[0].content;
  // The clock's second is the one thing not known beforehand.
  const std::string timeKey = "\"timestamp\" : \"";
  const std::size_t time = document.find(timeKey);
  ASSERT_NE(time, std::string::npos) << document;
  const TOrvString<char> wanted =
      WriteGameResultDocument(Players(expected), std::stoll(document.substr(time + timeKey.size())), 77, "12_Ridge");
  EXPECT_EQ(document, std::string(wanted.c_str(), wanted.GetLength()));
  EXPECT_NE(document.find("\"map\": \"12\""), std::string::npos) << document;
  EXPECT_EQ(received[0].parts[1].content, settings_.login);
  EXPECT_EQ(received[0].parts[2].content, settings_.key);
}

// A refused upload is only logged: the debriefing goes on.
TEST_F(GamePhasesTest, RefusedUploadLeavesTheDebriefingRunning) {
  TDedicatedSessionStateManager& manager = Start();
  ASSERT_NE(Admit(1), nullptr);
  manager.ChangeState(MakePhase(&manager, kDebriefingStateId));
  Network::TCurlRequestManager* requests = task_->GetHttpManager();
  ASSERT_TRUE(OrvTest::PumpUntil(
      requests->GetMultiHandle(), [&] { requests->Perform(); },
      [&] { return task_->GetOperationManager()->GetRegisteredCount() == 0; }));
  EXPECT_EQ(Count("TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: 0"), 1u);
  UpdateAfter(1001);
  EXPECT_EQ(manager.GetCurrentStateId(), kDebriefingStateId);
  EXPECT_EQ(manager.GetCurrentTimeLeft(), 9u);
  EXPECT_TRUE(Present(1));
}

}  // namespace
}  // namespace Orvan::Dedicated
