// The admitted user in process: its variables and how the statistics fill them, variable changes,
// the requested state, the ping measure, and the ways a user leaves.
#include "dedicated/clients/dedicated_user.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user_stats_manager.h"
#include "dedicated/clients/strivex_dedicated_user.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/operations/operation_with_time_out.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/rate_limit_group.h"
#include "support/dedicated_test_helpers.h"
#include "support/manual_clock.h"

namespace Orvan::Dedicated {
namespace {

constexpr std::uint64_t kPlayerId = 4660;
constexpr std::uint32_t kUserGameId = 24;

using TDocuments = std::map<std::uint32_t, std::map<std::string, std::string>>;

TUserStatisticsDocuments StatisticsOf(const TDocuments& documents) {
  TUserStatisticsDocuments statistics;
  for (const auto& [number, fields] : documents) {
    Network::TDocumentFieldMap& document = statistics.FindOrInsert(number);
    for (const auto& [name, text] : fields) Network::SetDocumentField(document, name.c_str(), text.c_str());
  }
  return statistics;
}

sockaddr_storage Address(std::uint16_t port) {
  sockaddr_storage storage{};
  auto* address = reinterpret_cast<sockaddr_in*>(&storage);
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return storage;
}

std::string VariableLine(const std::string& name, const std::string& value) {
  return "Client " + std::to_string(kPlayerId) + " variable " + name + " set to \"" + value + "\"";
}

std::string Value(const TDedicatedUser& user, const char* name) {
  const TDedicatedPropertyValue* variable = user.GetUserVariable(name);
  return variable != nullptr ? variable->GetValue().c_str() : "<none>";
}

TEST(UserStatisticsDocumentsTest, AbsentDocumentsAndFieldsReadEmptyAndTheLastTakeWins) {
  TUserStatisticsDocuments documents;
  EXPECT_EQ(documents.GetField(0, "@name"), "");
  EXPECT_EQ(documents.GetCount(), 0u) << "reading enters nothing";
  Network::SetDocumentField(documents.FindOrInsert(24), "ELO", "1600");
  EXPECT_EQ(documents.GetField(24, "ELO"), "1600");
  EXPECT_EQ(documents.GetField(24, "@level"), "");
  EXPECT_EQ(documents.GetField(0, "ELO"), "");

  Network::TDocumentFieldMap first;
  Network::SetDocumentField(first, "name", "first");
  documents.TakeFrom(0, std::move(first));
  Network::TDocumentFieldMap second;
  Network::SetDocumentField(second, "other", "second");
  documents.TakeFrom(0, std::move(second));
  EXPECT_EQ(documents.GetField(0, "name"), "") << "a repeated number keeps only the last document";
  EXPECT_EQ(documents.GetField(0, "other"), "second");
  EXPECT_EQ(documents.GetCount(), 2u);
}

class DedicatedUserTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    settings_.gameId = kUserGameId;
    task_ = OrvTest::CreateTask(settings_, &session_);
    session_.Initialize();
  }
  void TearDown() override {
    session_.ClosePendingClients();
    TDedicatedTest::TearDown();
  }

  std::unique_ptr<TDedicatedUser> NewUser(const TDocuments& documents = {},
                                          Network::TBufferEventSocket* connection = nullptr,
                                          const sockaddr_storage& address = Address(5000)) {
    return std::unique_ptr<TDedicatedUser>(
        session_.CreateUser(3, Network::OrvNetId::FromValue(kPlayerId), connection, address, StatisticsOf(documents)));
  }
  Network::TOperationWithTimeOutManager* Operations() const { return task_->GetOperationManager(); }

  OrvTest::TTaskSettings settings_;
  TStrivexDedicatedSession session_{kUserGameId};
  TMainServerTask* task_ = nullptr;
};

TEST_F(DedicatedUserTest, TwelveVariablesInOrderWithTheirRights) {
  const std::unique_ptr<TDedicatedUser> user = NewUser();
  const struct {
    const char* name;
    const char* value;  // after creation from empty statistics
    bool anyClient, host, admin;
  } expected[] = {
      {"PlayerUserId", "4660", false, false, false}, {"PlayerIALevel", "-1", false, false, false},
      {"PlayerObserver", "0", false, false, false},  {"PlayerAlliance", "0", true, false, true},
      {"PlayerReady", "1", false, false, false},     {"PlayerElo", "1500", false, false, false},
      {"PlayerLevel", "1", false, false, false},     {"PlayerName", "Player", false, false, true},
      {"PlayerTeamName", "", false, false, false},   {"PlayerAvatar", "", false, false, false},
      {"PlayerDeckName", "", true, false, true},     {"PlayerDeckContent", "", true, false, true},
  };
  ASSERT_EQ(user->GetUserVariables().Count(), std::size(expected));
  std::size_t index = 0;
  for (const auto& entry : user->GetUserVariables()) {
    SCOPED_TRACE(expected[index].name);
    EXPECT_EQ(entry.key, expected[index].name);
    EXPECT_EQ(entry.value->GetValue(), expected[index].value);
    EXPECT_EQ(entry.value->IsAnyClientAllowed(), expected[index].anyClient);
    EXPECT_EQ(entry.value->IsHostAllowed(), expected[index].host);
    EXPECT_EQ(entry.value->IsAdminAllowed(), expected[index].admin);
    EXPECT_FALSE(entry.value->IsHidden());
    ++index;
  }
  EXPECT_TRUE(user->IsPublished());
  EXPECT_EQ(user->GetUserSessionId(), 3u);
  EXPECT_EQ(user->GetRequestState(), 0u);
  EXPECT_EQ(user->GetPlayerNumber(), kNoPlayerNumber);
  EXPECT_EQ(user->GetPing(), kPingNotMeasured);
  EXPECT_FALSE(Logged(VariableLine("PlayerUserId", "4660"))) << "the id is stored, not set";
}

// The five steps, each value logged as it is set: the name and avatar come from the general
// document (0), the level and rating from the game's (24); empty texts count as missing.
TEST_F(DedicatedUserTest, InitFromStatistics) {
  const struct {
    const char* what;
    TDocuments documents;
    const char* name;
    const char* level;
    const char* elo;
    const char* avatar;
  } cases[] = {
      {"no documents", {}, "Player", "1", "1500", ""},
      {"full",
       {{0, {{"@name", "bob"}, {"@avatar", "a.png"}}}, {24, {{"@level", "12"}, {"ELO", "1620"}}}},
       "bob",
       "12",
       "1620",
       "a.png"},
      {"empty texts",
       {{0, {{"@name", ""}, {"@avatar", ""}}}, {24, {{"@level", ""}, {"ELO", ""}}}},
       "Player",
       "1",
       "1500",
       ""},
      {"each field read from its own document only",
       {{0, {{"@level", "9"}, {"ELO", "2000"}}}, {24, {{"@name", "eve"}, {"@avatar", "e.png"}}}},
       "Player",
       "1",
       "1500",
       ""},
      {"another game's document", {{7, {{"@level", "9"}, {"ELO", "2000"}}}}, "Player", "1", "1500", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t from = Lines().size();
    const std::unique_ptr<TDedicatedUser> user = NewUser(c.documents);
    EXPECT_EQ(Value(*user, "PlayerName"), c.name);
    EXPECT_EQ(Value(*user, "PlayerLevel"), c.level);
    EXPECT_EQ(Value(*user, "PlayerElo"), c.elo);
    EXPECT_EQ(Value(*user, "PlayerAvatar"), c.avatar);
    std::vector<std::string> expected = {VariableLine("PlayerName", c.name), VariableLine("PlayerLevel", c.level),
                                         VariableLine("PlayerElo", c.elo)};
    if (*c.avatar != '\0') expected.push_back(VariableLine("PlayerAvatar", c.avatar));
    EXPECT_EQ(LinesFrom(from), expected);
    EXPECT_FALSE(user->GetStatsManager()->IsRunning());
  }
}

// Only a valid team id in the game document's "active_team" asks for the team's document. Here no
// database is reached: the request fails at once for want of an accesser, with its line, and is freed.
TEST_F(DedicatedUserTest, OnlyATeamIdAsksForTheTeamDocument) {
  const struct {
    const char* what;
    TDocuments documents;
    bool asked;
  } cases[] = {
      {"team id", {{24, {{"active_team", "72057594037927937"}}}}, true},
      {"client id", {{24, {{"active_team", "12345"}}}}, false},
      {"address id", {{24, {{"active_team", "288230376151711745"}}}}, false},
      {"invalid id", {{24, {{"active_team", "18446744073709551615"}}}}, false},
      {"not a number", {{24, {{"active_team", "red"}}}}, false},
      {"trailing text", {{24, {{"active_team", "72057594037927937x"}}}}, false},
      {"in the general document", {{0, {{"active_team", "72057594037927937"}}}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OrvTest::TCapturedNetworkLog::Lines().clear();
    const std::unique_ptr<TDedicatedUser> user = NewUser(c.documents);
    EXPECT_EQ(Logged("Team statistics of client " + std::to_string(kPlayerId) +
                     " not fetched (reason : no statistics database while the match making link is down)"),
              c.asked);
    EXPECT_FALSE(Logged("TOperationOnDatabase::OnOperationLaunched() -> no database accesser"));
    EXPECT_FALSE(user->GetStatsManager()->IsRunning());
    EXPECT_EQ(user->GetStatsManager()->GetQueuedCount(), 0u);
    EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
  }
}

TEST_F(DedicatedUserTest, SetUserVariable) {
  const std::unique_ptr<TDedicatedUser> user = NewUser();
  const struct {
    const char* what;
    const char* name;
    const char* value;
    bool anyClient, host, admin, force;
    bool changed;
  } steps[] = {
      {"unknown name", "PlayerColour", "red", false, false, false, true, false},
      {"no right", "PlayerReady", "0", true, true, true, false, false},
      {"any client's variable", "PlayerAlliance", "1", true, false, false, false, true},
      {"same value", "PlayerAlliance", "1", false, false, true, false, false},
      {"host right not carried", "PlayerDeckName", "rush", false, true, false, false, false},
      {"admin right", "PlayerDeckName", "rush", false, false, true, false, true},
      {"forced", "PlayerReady", "0", false, false, false, true, true},
      {"quotes kept as sent", "PlayerName", "a \"b\"", false, false, true, false, true},
      {"empty text", "PlayerName", "", false, false, false, true, true},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    const std::string before = Value(*user, step.name);
    const std::size_t from = Lines().size();
    EXPECT_EQ(user->SetUserVariable(step.name, step.value, step.anyClient, step.host, step.admin, step.force),
              step.changed);
    EXPECT_EQ(Value(*user, step.name), step.changed ? step.value : before);
    const std::vector<std::string> expected =
        step.changed ? std::vector<std::string>{VariableLine(step.name, step.value)} : std::vector<std::string>{};
    EXPECT_EQ(LinesFrom(from), expected);
  }
}

TEST_F(DedicatedUserTest, RequestStateIsLoggedAndKept) {
  const std::unique_ptr<TDedicatedUser> user = NewUser();
  for (const std::uint32_t state : {51u, 0u, 4294967295u}) {
    user->SetRequestState(state);
    EXPECT_EQ(user->GetRequestState(), state);
    EXPECT_EQ(Lines().back(), "Client 4660 set request state to " + std::to_string(state));
  }
}

// One user through several ping passes, on a clock moved by hand.
TEST_F(DedicatedUserTest, PingAnswers) {
  OrvTest::TManualClock clock;
  const std::unique_ptr<TDedicatedUser> user = NewUser();
  const TTimeStamp start = OrvTest::TManualClock::Now();
  const auto millisecondsAgo = [](double milliseconds) {
    return OrvTest::TManualClock::Now() - static_cast<TTimeStamp>(milliseconds * 1e6);
  };
  const struct {
    const char* what;
    bool sendPing;  // a new pass: reset when still pending, then the next id
    bool answer;
    std::uint32_t answerId;
    double sentMillisecondsAgo;
    std::uint32_t ping;
    bool pending;
  } steps[] = {
      {"answer with nothing pending", false, true, 0, 10, 9999, false},
      {"stale id", true, true, 0, 10, 9999, true},
      {"the pending id", false, true, 1, 250.7, 250, false},
      {"the same id again", false, true, 1, 900, 250, false},
      {"unanswered pass", true, false, 0, 0, 250, true},
      {"next pass shows no measure", true, false, 0, 0, 9999, true},
      {"the last id", false, true, 3, 0, 0, false},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.sendPing) {
      if (user->IsPingPending()) user->ResetPing();
      user->NextPingId();
    }
    if (step.answer) user->OnPingAnswer(step.answerId, millisecondsAgo(step.sentMillisecondsAgo));
    EXPECT_EQ(user->GetPing(), step.ping);
    EXPECT_EQ(user->IsPingPending(), step.pending);
  }
  EXPECT_EQ(user->GetPingId(), 3u);
  // Stamps outside a u32 of milliseconds, either way, are clamped rather than wrapped.
  user->NextPingId();
  user->OnPingAnswer(4, OrvTest::TManualClock::Now() + 1000000);
  EXPECT_EQ(user->GetPing(), 0u);
  OrvTest::TManualClock::AdvanceMilliseconds(5e9);
  user->NextPingId();
  user->OnPingAnswer(5, start);
  EXPECT_EQ(user->GetPing(), 4294967295u);
}

// Reasons that are not sent to the client, and every reason when there is no main task, end the
// user at once.
TEST(DedicatedUserWithoutTaskTest, DisconnectDeletesAtOnce) {
  OrvTest::TCapturedNetworkLog log;
  const struct {
    ClientDisconnectReason reason;
    const char* name;
  } cases[] = {{ClientDisconnectReason::Kicked, "Kicked"},
               {static_cast<ClientDisconnectReason>(19), "Unspecified"},
               {static_cast<ClientDisconnectReason>(99), "Unspecified"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto* user = new TStrivexDedicatedUser(1, Network::OrvNetId::FromValue(kPlayerId), nullptr, nullptr, Address(6000));
    user->RegisterUserVariables();
    user->GetStatsManager()->QueueTeamStatistics(Network::OrvNetId::FromValue(0x0100000000000001));
    user->Disconnect(c.reason);
    EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts().back(),
              std::string("Disconnecting client 4660 with IP 127.0.0.1:6000 (reason : ") + c.name + ")");
  }
}

// A user on a real loopback connection, through the main task's socket manager.
class DedicatedUserConnectionTest : public DedicatedUserTest {
 protected:
  void TearDown() override {
    CloseClient();
    DedicatedUserTest::TearDown();
  }
  // A connected client and its user, handed a connection as admission hands it one.
  void Connect() {
    manager_ = task_->GetSocketManager();
    client_ = OrvTest::ConnectLoopback(listener_.port);
    ASSERT_NE(client_, -1);
    const int accepted = listener_.Accept();
    ASSERT_NE(accepted, -1);
    auto* connection = new Network::TBufferEventSocket(accepted, manager_);
    ASSERT_TRUE(task_->GetRateLimitGroup()->AddSocket(connection));
    sockaddr_storage peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(::getpeername(accepted, reinterpret_cast<sockaddr*>(&peer), &length), 0);
    peerPort_ = ntohs(reinterpret_cast<sockaddr_in*>(&peer)->sin_port);
    user_ = NewUser({}, connection, peer).release();
  }
  void CloseClient() {
    if (client_ != -1) ::close(client_);
    client_ = -1;
  }
  std::string DisconnectLine(const char* reason) const {
    return "Disconnecting client 4660 with IP 127.0.0.1:" + std::to_string(peerPort_) + " (reason : " + reason + ")";
  }
  // What the client reads while the loop runs, until `count` bytes came or its connection ended.
  std::string ClientReceives(std::size_t count, bool& ended) {
    std::string bytes;
    ended = false;
    OrvTest::RunLoopUntil(*manager_, [&] {
      while (bytes.size() < count && OrvTest::WaitReadable(client_, 0)) {
        char buffer[64];
        const ssize_t got = ::recv(client_, buffer, sizeof buffer, 0);
        if (got <= 0) {
          ended = true;
          return true;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
      }
      return bytes.size() >= count;
    });
    return OrvTest::HexText(bytes.data(), bytes.size());
  }

  Network::TSocketInterfaceManagerForLibEvent* manager_ = nullptr;
  OrvTest::TLoopbackListener listener_;
  int client_ = -1;
  std::uint16_t peerPort_ = 0;
  TDedicatedUser* user_ = nullptr;  // its own way out deletes it
};

TEST_F(DedicatedUserConnectionTest, LostConnectionAndUserRequestCloseAtOnce) {
  const struct {
    ClientDisconnectReason reason;
    const char* name;
  } cases[] = {{ClientDisconnectReason::ConnectionLost, "ConnectionLost"},
               {ClientDisconnectReason::UserDiconnectRequest, "UserDiconnectRequest"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_TRUE(user_->IsConnected());
    user_->Disconnect(c.reason);
    EXPECT_TRUE(Logged(DisconnectLine(c.name)));
    EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
    // Nothing is said: the client sees its connection end.
    bool ended = false;
    EXPECT_EQ(ClientReceives(1, ended), "");
    EXPECT_TRUE(ended);
    CloseClient();
  }
}

// 00 06, channel 199, command 0, reason 15.
TEST_F(DedicatedUserConnectionTest, KickSendsTheReasonAndEndsAtTheClientsClose) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  user_->Disconnect(ClientDisconnectReason::Kicked);
  EXPECT_TRUE(Logged(DisconnectLine("Kicked")));
  bool ended = false;
  EXPECT_EQ(ClientReceives(8, ended), "0006c7000000000f");
  EXPECT_FALSE(ended);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 1u) << "the connection stays open until the client closes it";
  CloseClient();
  ASSERT_TRUE(OrvTest::RunLoopUntil(*manager_, [&] { return Operations()->GetRegisteredCount() == 0; }));
  for (const std::string& line : Lines()) EXPECT_EQ(line.find("OnOperationTimeout"), std::string::npos) << line;
}

TEST_F(DedicatedUserConnectionTest, CloseConnectionLeavesTheUserWithoutOne) {
  ASSERT_NO_FATAL_FAILURE(Connect());
  const std::unique_ptr<TDedicatedUser> user(user_);
  user->CloseConnection();
  EXPECT_FALSE(user->IsConnected());
  EXPECT_EQ(user->GetConnection(), nullptr);
  user->CloseConnection();
  bool ended = false;
  EXPECT_EQ(ClientReceives(1, ended), "");
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace Orvan::Dedicated
