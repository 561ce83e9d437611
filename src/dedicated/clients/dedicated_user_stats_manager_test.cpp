// A user's statistics requests against a real pouchdb-server: the team name, one request at a
// time, failures and time-outs that let the next one run, and cancelling.
#include "dedicated/clients/dedicated_user_stats_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/database/couchdb_database_accesser.h"
#include "network/database/statistics_request.h"
#include "network/operations/operation_with_time_out.h"
#include "support/curl_pump.h"
#include "support/dedicated_test_helpers.h"
#include "support/manual_clock.h"
#include "support/pouchdb_server_peer.h"

namespace Orvan::Dedicated {
namespace {

constexpr std::uint32_t kGameId = 24;
constexpr std::uint64_t kTeam = 0x0100000000000000;

std::string TeamText(std::uint64_t n) { return std::to_string(kTeam | n); }
Network::OrvNetId Team(std::uint64_t n) { return Network::OrvNetId::FromValue(kTeam | n); }

class UserStatsManagerTest : public OrvTest::TDedicatedTest {
 protected:
  static void SetUpTestSuite() {
    database_ = new OrvTest::TPouchDbServerPeer;
    started_ = database_->Start({"stats"});
    // Teams 1 to 3 have a document, team 9 none.
    for (int n = 1; n <= 3 && started_; ++n) {
      started_ = database_->PutJson("stats/t" + TeamText(n),
                                    R"({"name": "Team )" + std::to_string(n) + R"(", "members": 4})") == 201;
    }
  }
  static void TearDownTestSuite() {
    delete database_;
    database_ = nullptr;
  }

  void SetUp() override {
    TDedicatedTest::SetUp();
    ASSERT_TRUE(started_) << "pouchdb-server did not start from tests/peers/node_modules";
    settings_.gameId = kGameId;
    task_ = OrvTest::CreateTask(settings_, nullptr);
    session_.Initialize();
    ASSERT_TRUE(task_->ApplyGameInfo(("{\"StatsURL\": \"" + database_->Url("stats/") + "\"}").c_str()));
    task_->OnMatchMakingLinkValidated(Network::OrvNetId::FromValue(OrvTest::kLoopbackAddressId));
    accesser_ = static_cast<Network::TCouchDBDatabaseAccesser*>(task_->GetDatabaseAccesser());
    ASSERT_NE(accesser_, nullptr);
  }

  // A user admitted with statistics whose game document names the team (none for 0).
  std::unique_ptr<TDedicatedUser> NewUser(std::uint64_t player, std::uint64_t team) {
    TUserStatisticsDocuments statistics;
    if (team != 0) Network::SetDocumentField(statistics.FindOrInsert(kGameId), "active_team", TeamText(team).c_str());
    return std::unique_ptr<TDedicatedUser>(
        session_.CreateUser(1, Network::OrvNetId::FromValue(player), nullptr, sockaddr_storage{}, statistics));
  }
  // Runs the database until `done`, recording the most operations that ran at once.
  bool Pump(const std::function<bool()>& done) {
    return OrvTest::PumpUntil(
        accesser_->GetMultiHandle(),
        [&] {
          accesser_->Perform();
          mostRunning_ = std::max(mostRunning_, Operations()->GetRegisteredCount());
        },
        done);
  }
  Network::TOperationWithTimeOutManager* Operations() const { return task_->GetOperationManager(); }
  static std::string TeamName(const TDedicatedUser& user) {
    return user.GetUserVariable("PlayerTeamName")->GetValue().c_str();
  }
  static std::size_t CountTeamNameLines(std::uint64_t player) {
    const std::string prefix = "Client " + std::to_string(player) + " variable PlayerTeamName";
    const std::vector<std::string> lines = Lines();
    return static_cast<std::size_t>(
        std::count_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.starts_with(prefix); }));
  }

  static inline OrvTest::TPouchDbServerPeer* database_ = nullptr;
  static inline bool started_ = false;
  OrvTest::TTaskSettings settings_;
  TStrivexDedicatedSession session_{kGameId};
  TMainServerTask* task_ = nullptr;
  Network::TCouchDBDatabaseAccesser* accesser_ = nullptr;
  std::size_t mostRunning_ = 0;
};

// The team document is read under the number every team request carries, whatever the game id.
TEST_F(UserStatsManagerTest, ActiveTeamGivesTheTeamName) {
  const std::unique_ptr<TDedicatedUser> user = NewUser(10, 1);
  TDedicatedUserStatsManager* stats = user->GetStatsManager();
  EXPECT_TRUE(stats->IsRunning());
  EXPECT_EQ(TeamName(*user), "");
  ASSERT_TRUE(Pump([&] { return !stats->IsRunning(); }));
  EXPECT_EQ(TeamName(*user), "Team 1");
  EXPECT_TRUE(Logged("Client 10 variable PlayerTeamName set to \"Team 1\""));
  EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
}

TEST_F(UserStatsManagerTest, UserDocumentFillsTheVariablesAgain) {
  ASSERT_EQ(database_->PutJson("stats/u0_11", R"({"@name": "carol", "@avatar": "c.png"})"), 201);
  const std::unique_ptr<TDedicatedUser> user = NewUser(11, 0);
  ASSERT_EQ(user->GetUserVariable("PlayerName")->GetValue(), "Player");
  user->GetStatsManager()->QueueUserStatistics();
  ASSERT_TRUE(Pump([&] { return !user->GetStatsManager()->IsRunning(); }));
  EXPECT_EQ(user->GetUserVariable("PlayerName")->GetValue(), "carol");
  EXPECT_EQ(user->GetUserVariable("PlayerAvatar")->GetValue(), "c.png");
}

// Queued requests wait for the running one; a failed one (no document: 404) hands nothing over and
// the next still runs.
TEST_F(UserStatsManagerTest, RequestsRunOneAfterTheOtherAndAFailureLetsTheNextRun) {
  const std::unique_ptr<TDedicatedUser> user = NewUser(12, 2);
  TDedicatedUserStatsManager* stats = user->GetStatsManager();
  stats->QueueTeamStatistics(Team(9));
  stats->QueueTeamStatistics(Team(3));
  EXPECT_TRUE(stats->IsRunning());
  EXPECT_EQ(stats->GetQueuedCount(), 2u);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 1u);

  ASSERT_TRUE(Pump([&] { return stats->GetQueuedCount() == 1; }));
  EXPECT_EQ(TeamName(*user), "Team 2");
  ASSERT_TRUE(Pump([&] { return !stats->IsRunning(); }));
  EXPECT_EQ(TeamName(*user), "Team 3");
  EXPECT_EQ(CountTeamNameLines(12), 2u);
  EXPECT_EQ(mostRunning_, 1u);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
}

// A request whose operation times out (error 1) is over: it is freed and the next one starts.
TEST_F(UserStatsManagerTest, TimedOutRequestEndsAndTheNextRuns) {
  OrvTest::TManualClock clock;
  const std::unique_ptr<TDedicatedUser> user = NewUser(13, 1);
  TDedicatedUserStatsManager* stats = user->GetStatsManager();
  stats->QueueTeamStatistics(Team(2));
  OrvTest::TManualClock::AdvanceMilliseconds(kUserStatisticsTimeOutMilliseconds + 1);
  Operations()->Update();
  EXPECT_TRUE(stats->IsRunning());
  EXPECT_EQ(stats->GetQueuedCount(), 0u);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 1u);
  ASSERT_TRUE(Pump([&] { return !stats->IsRunning(); }));
  EXPECT_EQ(TeamName(*user), "Team 2");
  EXPECT_EQ(CountTeamNameLines(13), 1u) << "the timed-out answer never comes";
}

// After Cancel nothing reaches the user: not the request in transfer (another user's request for the
// same document shows when it would have come), not a queued one, not one asked for later. A second
// Cancel, as Disconnect makes after the link's loss cancelled everything, finds nothing to end.
TEST_F(UserStatsManagerTest, CancelledUserHearsNothing) {
  const std::unique_ptr<TDedicatedUser> cancelled = NewUser(14, 1);
  TDedicatedUserStatsManager* stats = cancelled->GetStatsManager();
  stats->QueueTeamStatistics(Team(2));
  stats->Cancel();
  EXPECT_TRUE(stats->IsCancelled());
  EXPECT_FALSE(stats->IsRunning());
  EXPECT_EQ(stats->GetQueuedCount(), 0u);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
  stats->Cancel();
  stats->QueueTeamStatistics(Team(3));
  EXPECT_FALSE(stats->IsRunning());
  EXPECT_EQ(stats->GetQueuedCount(), 0u);

  const std::unique_ptr<TDedicatedUser> witness = NewUser(15, 1);
  ASSERT_TRUE(Pump([&] { return !witness->GetStatsManager()->IsRunning(); }));
  EXPECT_EQ(TeamName(*witness), "Team 1");
  EXPECT_EQ(TeamName(*cancelled), "");
  EXPECT_EQ(CountTeamNameLines(14), 0u);
}

// Disconnect cancels, and the user's end cancels once more: each ending a request in transfer and
// a queued one, or finding them already ended.
TEST_F(UserStatsManagerTest, DisconnectEndsTheRequests) {
  for (const bool cancelledBefore : {false, true}) {
    SCOPED_TRACE(cancelledBefore ? "cancelled before" : "running");
    TDedicatedUser* user = NewUser(16, 1).release();
    user->GetStatsManager()->QueueTeamStatistics(Team(2));
    if (cancelledBefore) user->GetStatsManager()->Cancel();
    user->Disconnect(ClientDisconnectReason::ConnectionLost);
    EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
  }
  const std::unique_ptr<TDedicatedUser> witness = NewUser(17, 1);
  ASSERT_TRUE(Pump([&] { return !witness->GetStatsManager()->IsRunning(); }));
  EXPECT_EQ(CountTeamNameLines(16), 0u);
}

// The link's loss takes the database with it: the request in transfer and the queued one end with a
// line each, one asked for while the link is down fails at once with its line, and nothing
// dereferences the accesser that went. The next link serves the user's requests again.
TEST_F(UserStatsManagerTest, LinkLossEndsTheRequestsAndTheNextLinkServesThemAgain) {
  const std::unique_ptr<TDedicatedUser> user = NewUser(18, 1);
  TDedicatedUserStatsManager* stats = user->GetStatsManager();
  stats->QueueTeamStatistics(Team(2));
  ASSERT_TRUE(stats->IsRunning());
  const std::size_t mark = Lines().size();
  stats->EndDatabaseWork("match making link lost");
  task_->CloseMatchMakingLink();
  ASSERT_EQ(task_->GetDatabaseAccesser(), nullptr);
  stats->QueueTeamStatistics(Team(3));
  const std::string lost = "Team statistics of client 18 not fetched (reason : match making link lost)";
  EXPECT_EQ(LinesFrom(mark), (std::vector<std::string>{lost, lost,
                                                       "Team statistics of client 18 not fetched (reason : no "
                                                       "statistics database while the match making link is down)"}));
  EXPECT_EQ(LevelOf(lost), 1);
  EXPECT_FALSE(stats->IsCancelled());
  EXPECT_FALSE(stats->IsRunning());
  EXPECT_EQ(stats->GetQueuedCount(), 0u);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);

  task_->OnMatchMakingLinkValidated(Network::OrvNetId::FromValue(OrvTest::kLoopbackAddressId));
  accesser_ = static_cast<Network::TCouchDBDatabaseAccesser*>(task_->GetDatabaseAccesser());
  ASSERT_NE(accesser_, nullptr);
  stats->QueueTeamStatistics(Team(3));
  ASSERT_TRUE(Pump([&] { return !stats->IsRunning(); }));
  EXPECT_EQ(TeamName(*user), "Team 3");
  EXPECT_EQ(CountTeamNameLines(18), 1u);
}

}  // namespace
}  // namespace Orvan::Dedicated
