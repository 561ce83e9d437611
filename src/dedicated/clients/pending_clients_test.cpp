// Clients logging in, in process: the connect packet's refusals and the validation request, the
// verdicts and the request each answers, one pending connection per id, room checked at
// identification, the caps of the pending set, the bounds and rates per source address, the quiet
// connections and the login time-outs.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/database/couchdb_database_accesser.h"
#include "network/operations/operation_with_time_out.h"
#include "network/packets/mms_messages.h"
#include "support/curl_pump.h"
#include "support/dedicated_test_helpers.h"
#include "support/http_endpoint_peer.h"
#include "support/manual_clock.h"
#include "support/scripted_stream.h"

namespace Orvan::Dedicated {
namespace {

using OrvTest::BigEndian;
using OrvTest::LengthPrefixed;

constexpr std::uint64_t kPlayer = 0x0000000000001234;
const char kPendingPeer[] = "127.0.0.1:5000";

using OrvTest::PeerAddress;

using OrvTest::ConnectFrame;

OrvTest::TScriptedStream::Bytes Bytes(const std::string& text) { return {text.begin(), text.end()}; }

class PendingClientTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    task_ = OrvTest::CreateTask(settings_, &session_);
    session_.Initialize();
    task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Ready);
  }
  void TearDown() override {
    session_.ClosePendingClients();
    TDedicatedTest::TearDown();
  }

  TPendingClientSet& Set() { return *session_.GetPendingClients(); }
  void SetProperty(const char* name, const char* value) {
    session_.GetPropertyTable()->SetVariable(name, value, false, false, false, true);
  }
  std::string Property(const char* name) { return session_.GetPropertyTable()->GetValue(name).c_str(); }
  // A client without a connection, as the listener hands one over; found as the one with no id yet.
  TUserWaitingForLogin* NewClient() {
    session_.OnNewConnection(nullptr, PeerAddress());
    return Set().FindById(Network::OrvNetId());
  }
  // Feeds the bytes to the client's packet handler and refuses it as the read callback does.
  ClientDisconnectReason Feed(TUserWaitingForLogin* client, const std::string& bytes) {
    OrvTest::TScriptedStream stream;
    stream.Arrive(Bytes(bytes));
    ClientDisconnectReason reason = ClientDisconnectReason::Success;
    while (session_.OnPendingClientPacket(&stream, client, reason) && reason == ClientDisconnectReason::Success) {
    }
    if (reason != ClientDisconnectReason::Success) session_.RejectPendingClient(client, reason, true);
    return reason;
  }
  static std::string RejectLine(const char* name) {
    return std::string("Rejecting pending client with IP ") + kPendingPeer + " (reason : " + name + ")";
  }

  OrvTest::TTaskSettings settings_;
  TStrivexDedicatedSession session_{24};
  OrvTest::TScriptedStream mms_;
  TMainServerTask* task_ = nullptr;
};

TEST_F(PendingClientTest, ConnectPacketRefusals) {
  struct Case {
    const char* what;
    const char* password;  // the server's, "" for none
    std::string bytes;
    ClientDisconnectReason reason;
    const char* name;
  };
  const std::vector<Case> cases = {
      {"another channel", "", OrvTest::Frame(194, "xyz"), ClientDisconnectReason::Failed, "Failed"},
      {"undecodable", "", OrvTest::Frame(193, "\x01\x02"), ClientDisconnectReason::Failed, "Failed"},
      {"team id", "", ConnectFrame(0x0100000000000001, "1.0", ""), ClientDisconnectReason::IncorrectIdentification,
       "IncorrectIdentification"},
      {"invalid id", "", ConnectFrame(~std::uint64_t{0}, "1.0", ""), ClientDisconnectReason::IncorrectIdentification,
       "IncorrectIdentification"},
      {"empty version", "", ConnectFrame(kPlayer, "", ""), ClientDisconnectReason::IncorrectVersion,
       "IncorrectVersion"},
      {"empty password", "secret", ConnectFrame(kPlayer, "1.0", ""),
       ClientDisconnectReason::DedicatedServerNeedPassword, "DedicatedServerNeedPassword"},
      {"wrong password", "secret", ConnectFrame(kPlayer, "1.0", "guess"),
       ClientDisconnectReason::DedicatedServerInvalidPassword, "DedicatedServerInvalidPassword"},
      {"second packet", "", ConnectFrame(kPlayer, "1.0", "") + ConnectFrame(kPlayer, "1.0", ""),
       ClientDisconnectReason::Refused, "Refused"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SetProperty("Password", c.password);
    TUserWaitingForLogin* client = NewClient();
    ASSERT_NE(client, nullptr);
    // Not identified yet: the connection holds no player slot.
    EXPECT_EQ(Property("NbPlayer"), "0");
    EXPECT_EQ(Feed(client, c.bytes), c.reason);
    EXPECT_TRUE(Logged(RejectLine(c.name)));
    EXPECT_EQ(Set().GetCount(), 0u);
    EXPECT_EQ(Property("NbPlayer"), "0");
  }
}

TEST_F(PendingClientTest, ForcedVersionRefusesAnother) {
  SetProperty("Version", "1.0");
  TUserWaitingForLogin* client = NewClient();
  EXPECT_EQ(Feed(client, ConnectFrame(kPlayer, "2.0", "")), ClientDisconnectReason::IncorrectVersion);
  client = NewClient();
  EXPECT_EQ(Feed(client, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
}

TEST_F(PendingClientTest, AcceptedConnectPacketSendsTheValidationRequest) {
  TUserWaitingForLogin* client = NewClient();
  EXPECT_EQ(Feed(client, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  EXPECT_EQ(client->GetState(), PendingClientState::WaitingForVerdict);
  EXPECT_EQ(client->GetClientId().GetValue(), kPlayer);
  const std::string expected = BigEndian(1 + 8 + 128, 2) + "\xe2" + BigEndian(kPlayer, 8) + std::string(128, 'A');
  EXPECT_EQ(std::string(mms_.written.begin(), mms_.written.end()), expected);
}

TEST_F(PendingClientTest, Verdicts) {
  struct Case {
    std::uint8_t verdict;
    const char* line;
    const char* name;
  };
  const std::vector<Case> cases = {
      {1, "invalid ticket", "InvalidTicket"},
      {2, "client is not connected to match making server", "ConnectionLost"},
      {9, "match making server sent invalid reason", "Failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.verdict);
    TUserWaitingForLogin* client = NewClient();
    ASSERT_EQ(Feed(client, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
    session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer + 1, c.verdict});
    EXPECT_EQ(Set().GetCount(), 1u) << "a verdict for an unknown id changes nothing";
    session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer, c.verdict});
    EXPECT_TRUE(Logged("Validation for client " + std::to_string(kPlayer) + " with IP " + kPendingPeer +
                       " failed (reason : " + c.line + ") -> Disconnected"));
    EXPECT_TRUE(Logged(RejectLine(c.name)));
    EXPECT_EQ(Set().GetCount(), 0u);
  }
  // Verdict 0 starts the statistics; without a database the batch is refused and the client waits.
  TUserWaitingForLogin* client = NewClient();
  ASSERT_EQ(Feed(client, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer, 0});
  EXPECT_EQ(client->GetState(), PendingClientState::FetchingStatistics);
  EXPECT_EQ(client->GetStatsOperation(), nullptr);
  EXPECT_EQ(Set().GetCount(), 1u);
}

// A verdict acts only on a client awaiting one: not on the clients still unidentified (whose id is
// the invalid one a verdict may name), nor on one already past its verdict.
TEST_F(PendingClientTest, VerdictOnlyForAClientAwaitingIt) {
  TUserWaitingForLogin* unidentified = NewClient();
  for (std::uint8_t verdict : {0, 1}) {
    SCOPED_TRACE(verdict);
    session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{~std::uint64_t{0}, verdict});
    EXPECT_EQ(unidentified->GetState(), PendingClientState::WaitingForIdentification);
    EXPECT_EQ(Set().GetCount(), 1u);
  }
  TUserWaitingForLogin* client = NewClient();
  ASSERT_EQ(Feed(client, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer, 0});
  ASSERT_EQ(client->GetState(), PendingClientState::FetchingStatistics);
  for (std::uint8_t verdict : {0, 1}) {
    SCOPED_TRACE(verdict);
    session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer, verdict});
    EXPECT_EQ(client->GetState(), PendingClientState::FetchingStatistics);
    EXPECT_EQ(Set().GetCount(), 2u);
  }
  EXPECT_FALSE(Logged(RejectLine("InvalidTicket")));
}

// With a limit of N players, the client that identifies while N-1 clients hold a slot (admitted, or
// identified and still logging in) is taken whatever the unidentified connections; the next one to
// identify is refused Full and NbPlayer does not change.
TEST_F(PendingClientTest, RoomIsCheckedWhenAClientIdentifies) {
  struct Case {
    const char* what;
    std::uint32_t admitted;
    std::uint32_t identified;
    std::uint32_t unidentified;
    ClientDisconnectReason reason;
  };
  const std::vector<Case> cases = {
      {"third of three beside two identified", 0, 2, 5, ClientDisconnectReason::Success},
      {"third of three beside two admitted", 2, 0, 5, ClientDisconnectReason::Success},
      {"fourth beside one admitted and two identified", 1, 2, 0, ClientDisconnectReason::Full},
      {"fourth beside three identified", 0, 3, 5, ClientDisconnectReason::Full},
  };
  SetProperty("NbMaxPlayer", "3");
  session_.SetNbMaxPlayer(3, false, false, false, true);
  std::uint64_t player = kPlayer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::size_t from = Lines().size();
    // Admitted first: admission finds its client as the one without an id.
    for (std::uint32_t i = 0; i < c.admitted; ++i) {
      ASSERT_NE(OrvTest::AdmitClient(session_, nullptr, ++player), nullptr);
    }
    for (std::uint32_t i = 0; i < c.identified; ++i) {
      ASSERT_EQ(Feed(NewClient(), ConnectFrame(++player, "1.0", "")), ClientDisconnectReason::Success);
    }
    TUserWaitingForLogin* subject = NewClient();
    for (std::uint32_t i = 0; i < c.unidentified; ++i) session_.OnNewConnection(nullptr, PeerAddress());
    EXPECT_EQ(Set().GetCount(), c.identified + 1 + c.unidentified);
    const std::string before = Property("NbPlayer");
    EXPECT_EQ(before, std::to_string(c.admitted + c.identified));
    EXPECT_EQ(Feed(subject, ConnectFrame(++player, "1.0", "")), c.reason);
    const bool taken = c.reason == ClientDisconnectReason::Success;
    EXPECT_EQ(Property("NbPlayer"), taken ? std::to_string(c.admitted + c.identified + 1) : before);
    EXPECT_EQ(Set().GetIdentifiedCount(), c.identified + (taken ? 1 : 0));
    std::size_t full = 0;
    for (const std::string& line : LinesFrom(from)) full += line == RejectLine("Full") ? 1 : 0;
    EXPECT_EQ(full, taken ? 0u : 1u);
    session_.Shutdown();
    session_.ClosePendingClients();
  }
}

TEST_F(PendingClientTest, TheThousandAndFirstConnectionFindsTheSetFull) {
  for (std::uint32_t i = 0; i < kMaxPendingClients; ++i) {
    TUserWaitingForLogin* client = NewClient();
    client->SetClientId(Network::OrvNetId::FromValue(kPlayer + i));
    session_.OnPendingClientIdentified(client);
  }
  EXPECT_FALSE(Logged(RejectLine("PendingClientListFull")));
  const std::string count = Property("NbPlayer");
  session_.OnNewConnection(nullptr, PeerAddress());
  EXPECT_TRUE(Logged(RejectLine("PendingClientListFull")));
  EXPECT_EQ(Set().GetCount(), kMaxPendingClients);
  EXPECT_EQ(Property("NbPlayer"), count);
}

// The unidentified connections have a budget of their own: when it is spent, a new connection
// closes the oldest of them, at once and without a change to NbPlayer; the identified clients are
// not touched.
TEST_F(PendingClientTest, UnidentifiedConnectionsHaveABudgetOfTheirOwn) {
  ASSERT_EQ(Feed(NewClient(), ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  for (std::uint32_t i = 0; i < kMaxUnidentifiedClients; ++i) session_.OnNewConnection(nullptr, PeerAddress());
  EXPECT_EQ(Set().GetUnidentifiedCount(), kMaxUnidentifiedClients);
  const std::size_t from = Lines().size();
  for (std::uint32_t round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const std::uint64_t oldest = Set().GetOldestUnidentified()->GetArrivalOrder();
    session_.OnNewConnection(nullptr, PeerAddress());
    // The next in age is the oldest now.
    EXPECT_EQ(Set().GetOldestUnidentified()->GetArrivalOrder(), oldest + 1);
    EXPECT_EQ(Set().GetUnidentifiedCount(), kMaxUnidentifiedClients);
    EXPECT_EQ(Set().GetIdentifiedCount(), 1u);
    EXPECT_EQ(Property("NbPlayer"), "1");
  }
  const std::vector<std::string> lines = LinesFrom(from);
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       std::string("Closing pending client with IP ") + kPendingPeer +
                           ": the oldest of 256 connections that have not identified themselves, to make room"),
            3);
  EXPECT_FALSE(Logged(RejectLine("PendingClientListFull")));
}

// A second identification with an id that a pending connection holds, that an admitted client
// has, or that a left connection's unanswered request still holds, is refused at once with
// AlreadyInSession and never forwarded; the first keeps its place.
TEST_F(PendingClientTest, OnePendingConnectionPerId) {
  struct Case {
    const char* what;
    std::function<void(std::uint64_t)> first;
  };
  const auto identify = [&](std::uint64_t id) {
    TUserWaitingForLogin* client = NewClient();
    EXPECT_EQ(Feed(client, ConnectFrame(id, "1.0", "")), ClientDisconnectReason::Success);
    return client;
  };
  const std::vector<Case> cases = {
      {"awaiting its verdict", [&](std::uint64_t id) { identify(id); }},
      {"fetching its statistics",
       [&](std::uint64_t id) {
         identify(id);
         session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{id, 0});
       }},
      {"admitted", [&](std::uint64_t id) { EXPECT_NE(OrvTest::AdmitClient(session_, nullptr, id), nullptr); }},
      {"left before its verdict",
       [&](std::uint64_t id) {
         session_.RejectPendingClient(identify(id), ClientDisconnectReason::ConnectionLost, true);
       }},
  };
  std::uint64_t id = kPlayer;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ++id;
    c.first(id);
    const std::uint32_t pending = Set().GetCount();
    const std::size_t written = mms_.written.size();
    EXPECT_EQ(Feed(NewClient(), ConnectFrame(id, "1.0", "")), ClientDisconnectReason::AlreadyInSession);
    EXPECT_EQ(mms_.written.size(), written) << "no second validation request";
    EXPECT_EQ(Set().GetCount(), pending);
  }
  EXPECT_TRUE(Logged(RejectLine("AlreadyInSession")));
  session_.Shutdown();
}

// A verdict reaches only the connection whose request it answers. The request of a connection that
// left keeps the id until its verdict comes: that verdict, an acceptance of the left client's
// ticket, admits nobody; then the id is free, and a new connection's verdict is its own.
TEST_F(PendingClientTest, VerdictOfALeftConnectionReachesNoOther) {
  TUserWaitingForLogin* victim = NewClient();
  ASSERT_EQ(Feed(victim, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  session_.RejectPendingClient(victim, ClientDisconnectReason::ConnectionLost, true);
  EXPECT_EQ(Feed(NewClient(), ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::AlreadyInSession);
  session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer, 0});
  EXPECT_EQ(Set().GetCount(), 0u);
  EXPECT_FALSE(Set().IsIdTaken(Network::OrvNetId::FromValue(kPlayer)));
  // A second verdict on the id, with no request left, reaches the next connection neither.
  TUserWaitingForLogin* next = NewClient();
  session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer, 1});
  ASSERT_EQ(Feed(next, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  EXPECT_EQ(next->GetState(), PendingClientState::WaitingForVerdict);
  session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer, 0});
  EXPECT_EQ(next->GetState(), PendingClientState::FetchingStatistics);
}

// A left connection's request holds its id until the login time-out at the latest: a verdict that
// never comes does not lock the player out.
TEST_F(PendingClientTest, UnansweredRequestOfALeftConnectionExpires) {
  OrvTest::TManualClock clock;
  TUserWaitingForLogin* client = NewClient();
  ASSERT_EQ(Feed(client, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  session_.RejectPendingClient(client, ClientDisconnectReason::ConnectionLost, true);
  OrvTest::TManualClock::AdvanceMilliseconds(kLoginTimeOutSeconds * 1000 - 1);
  session_.Update();
  EXPECT_TRUE(Set().IsIdTaken(Network::OrvNetId::FromValue(kPlayer)));
  OrvTest::TManualClock::AdvanceMilliseconds(2);
  session_.Update();
  EXPECT_FALSE(Set().IsIdTaken(Network::OrvNetId::FromValue(kPlayer)));
  EXPECT_EQ(Feed(NewClient(), ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
}

// Identifications from one address are forwarded up to the burst, then at the rate; one beyond is
// refused at once with NotAvailable, without a validation request and without a kill's wait.
TEST_F(PendingClientTest, IdentificationsPerSourceAreRateLimited) {
  OrvTest::TManualClock clock;
  const auto burst = static_cast<std::uint64_t>(kIdentificationBurstPerSource);
  for (std::uint64_t i = 0; i < burst; ++i) {
    ASSERT_EQ(Feed(NewClient(), ConnectFrame(kPlayer + i, "1.0", "")), ClientDisconnectReason::Success) << i;
  }
  const std::size_t written = mms_.written.size();
  EXPECT_EQ(Feed(NewClient(), ConnectFrame(kPlayer + burst, "1.0", "")), ClientDisconnectReason::NotAvailable);
  EXPECT_EQ(mms_.written.size(), written);
  EXPECT_TRUE(Logged("Identification of client " + std::to_string(kPlayer + burst) + " with IP " + kPendingPeer +
                     " not forwarded (reason : more than 4 identifications a second from its address) -> "
                     "Disconnected"));
  EXPECT_EQ(task_->GetOperationManager()->GetRegisteredCount(), 0u);
  EXPECT_FALSE(Set().IsIdTaken(Network::OrvNetId::FromValue(kPlayer + burst)));
  OrvTest::TManualClock::AdvanceMilliseconds(1000.0 / kIdentificationsPerSecondPerSource);
  EXPECT_EQ(Feed(NewClient(), ConnectFrame(kPlayer + burst, "1.0", "")), ClientDisconnectReason::Success);
  EXPECT_GT(mms_.written.size(), written);
}

// A quiet connection (accepted beyond the log shares) writes none of its lines; its end is counted
// and summed up once the second is over. A quiet client that is admitted is written about as any.
TEST_F(PendingClientTest, QuietConnectionsAreSummedUp) {
  OrvTest::TManualClock clock;
  const std::size_t from = Lines().size();
  for (int i = 0; i < 3; ++i) {
    session_.OnNewConnection(nullptr, PeerAddress(), true);
    EXPECT_EQ(Feed(Set().FindById(Network::OrvNetId()), OrvTest::Frame(194, "xyz")), ClientDisconnectReason::Failed);
  }
  session_.OnNewConnection(nullptr, PeerAddress(), true);
  session_.OnPendingConnectionEvent(Set().FindById(Network::OrvNetId()), "end of file");
  session_.Update();
  EXPECT_TRUE(LinesFrom(from).empty());
  OrvTest::TManualClock::AdvanceMilliseconds(1000);
  session_.Update();
  EXPECT_EQ(LinesFrom(from), std::vector<std::string>{"4 connections from 127.0.0.1 refused or closed in the last "
                                                       "second (Failed 3, ConnectionLost 1)"});
  session_.OnNewConnection(nullptr, PeerAddress(), true);
  TUserWaitingForLogin* pending = Set().FindById(Network::OrvNetId());
  pending->SetClientId(Network::OrvNetId::FromValue(kPlayer));
  pending->SetClientVersion("1.0");
  pending->SetState(PendingClientState::FetchingStatistics);
  session_.OnPendingClientIdentified(pending);
  session_.OnPendingClientStats(pending, false, TUserStatisticsDocuments());
  EXPECT_NE(session_.FindClientById(Network::OrvNetId::FromValue(kPlayer)), nullptr);
  bool added = false;
  for (const std::string& line : LinesFrom(from)) added = added || line.rfind("Client added in session", 0) == 0;
  EXPECT_TRUE(added);
  session_.Shutdown();
}

// Unidentified connections count against their source address, up to a bound; identifying, or
// leaving, gives the place back.
TEST(PendingClientSetTest, UnidentifiedConnectionsPerSource) {
  OrvTest::TCapturedNetworkLog log;
  const sockaddr_storage first = PeerAddress();
  sockaddr_storage second = PeerAddress();
  reinterpret_cast<sockaddr_in*>(&second)->sin_addr.s_addr = htonl(0x7F000002);
  const auto refusals = [] {
    std::size_t count = 0;
    for (const std::string& line : OrvTest::TCapturedNetworkLog::Texts()) {
      count += line.rfind("Refusing client connection from IP 127.0.0.1:5000: 8 connections from 127.0.0.1 have not "
                          "identified themselves yet",
                          0) == 0
                   ? 1
                   : 0;
    }
    return count;
  };
  TPendingClientSet set;
  std::vector<TUserWaitingForLogin*> waiters;
  const auto add = [&](const sockaddr_storage& address) {
    waiters.push_back(new TUserWaitingForLogin(nullptr, address));
    ASSERT_TRUE(set.Add(waiters.back()));
  };
  TTimeStamp now = OrvTest::TManualClock::kStart;
  for (std::uint32_t i = 0; i < kMaxUnidentifiedPerSource; ++i) {
    EXPECT_TRUE(set.TakesConnectionFrom(first, now));
    add(first);
  }
  // The source is at its bound: refused, written about within its share of lines, counted beyond
  // it; another source is not refused.
  const auto share = static_cast<std::size_t>(kLoggedConnectionBurstPerSource);
  for (std::size_t i = 0; i < share + 2; ++i) EXPECT_FALSE(set.TakesConnectionFrom(first, now));
  EXPECT_EQ(refusals(), share);
  EXPECT_TRUE(set.GetLog().HasCounts());
  EXPECT_TRUE(set.TakesConnectionFrom(second, now));
  add(second);
  EXPECT_EQ(set.GetUnidentifiedCount(first), kMaxUnidentifiedPerSource);
  EXPECT_EQ(set.GetIdentifiedCount(), 0u);

  // One identifies: it holds a slot, and its source has a place again; a new run gets a new line.
  set.MarkIdentified(waiters[0]);
  set.MarkIdentified(waiters[0]);
  EXPECT_EQ(set.GetIdentifiedCount(), 1u);
  EXPECT_EQ(set.GetUnidentifiedCount(first), kMaxUnidentifiedPerSource - 1);
  now += 1'000'000'000;
  EXPECT_TRUE(set.TakesConnectionFrom(first, now));
  add(first);
  EXPECT_FALSE(set.TakesConnectionFrom(first, now));
  EXPECT_EQ(refusals(), share + 1);

  // Leaving: an unidentified one gives its place back, an identified one its slot.
  set.Remove(waiters[1]);
  set.Remove(waiters[1]);
  EXPECT_EQ(set.GetUnidentifiedCount(first), kMaxUnidentifiedPerSource - 1);
  set.Remove(waiters[0]);
  EXPECT_EQ(set.GetUnidentifiedCount(first), kMaxUnidentifiedPerSource - 1);
  EXPECT_EQ(set.GetIdentifiedCount(), 0u);
  delete waiters[0];
  delete waiters[1];
  set.CloseAll();
  EXPECT_EQ(set.GetUnidentifiedCount(first), 0u);
  EXPECT_EQ(set.GetUnidentifiedCount(second), 0u);
  EXPECT_TRUE(set.TakesConnectionFrom(first, now));
}

// Beyond its burst a source's new connections are refused, whatever it holds; the rate comes back
// a second later.
TEST(PendingClientSetTest, NewConnectionsPerSourceAreRateLimited) {
  OrvTest::TCapturedNetworkLog log;
  TPendingClientSet set;
  const sockaddr_storage source = PeerAddress();
  TTimeStamp now = OrvTest::TManualClock::kStart;
  std::uint32_t taken = 0;
  for (int i = 0; i < 100; ++i) taken += set.TakesConnectionFrom(source, now) ? 1 : 0;
  EXPECT_EQ(taken, static_cast<std::uint32_t>(kConnectionBurstPerSource));
  ASSERT_FALSE(OrvTest::TCapturedNetworkLog::Texts().empty());
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts().front(),
            "Refusing client connection from IP 127.0.0.1:5000: 127.0.0.1 opens more than 5 connections a second");
  now += 1'000'000'000;
  taken = 0;
  for (int i = 0; i < 100; ++i) taken += set.TakesConnectionFrom(source, now) ? 1 : 0;
  EXPECT_EQ(taken, static_cast<std::uint32_t>(kConnectionsPerSecondPerSource));
}

TEST(PendingClientSetTest, HoldsAThousandAndFindsById) {
  TPendingClientSet set;
  std::vector<TUserWaitingForLogin*> waiters;
  for (std::uint32_t i = 0; i < kMaxPendingClients; ++i) {
    waiters.push_back(new TUserWaitingForLogin(nullptr, PeerAddress()));
    waiters.back()->SetIdentified();
    ASSERT_TRUE(set.Add(waiters.back()));
  }
  // A set full of identified clients takes no connection, unidentified or not.
  auto* unidentified = new TUserWaitingForLogin(nullptr, PeerAddress());
  EXPECT_FALSE(set.Add(unidentified));
  delete unidentified;
  auto* extra = new TUserWaitingForLogin(nullptr, PeerAddress());
  extra->SetIdentified();
  EXPECT_FALSE(set.Add(extra));
  set.Remove(waiters[10]);
  set.Remove(waiters[10]);
  EXPECT_EQ(set.GetCount(), kMaxPendingClients - 1);
  EXPECT_TRUE(set.Add(extra));
  delete waiters[10];

  EXPECT_EQ(set.FindById(Network::OrvNetId::FromValue(7)), nullptr);
  waiters[20]->SetClientId(Network::OrvNetId::FromValue(7));
  EXPECT_EQ(set.FindById(Network::OrvNetId::FromValue(7)), waiters[20]);
}

// A connection that has not identified itself 5 s after its accept is refused with TimeOut, one
// that has 30 s after it, whatever it waits for by then; each with the time-out line.
TEST_F(PendingClientTest, LoginTimeOuts) {
  OrvTest::TManualClock clock;
  // All four arrive at once. The silent one never identifies; the others identify at once, at
  // 4.9 s, and at 1 s with a verdict at 2 s (then they wait for their statistics).
  std::vector<TUserWaitingForLogin*> clients;
  for (int i = 0; i < 4; ++i) {
    clients.push_back(new TUserWaitingForLogin(nullptr, PeerAddress()));
    ASSERT_TRUE(Set().Add(clients.back()));
  }
  TUserWaitingForLogin* silent = clients[0];
  TUserWaitingForLogin* atOnce = clients[1];
  TUserWaitingForLogin* late = clients[2];
  TUserWaitingForLogin* verdict = clients[3];
  struct Step {
    double second;
    std::function<void()> action;
    std::vector<TUserWaitingForLogin*> left;  // in the set after the step's update
  };
  const auto identify = [&](TUserWaitingForLogin* client, std::uint64_t player) {
    return [=, this] { ASSERT_EQ(Feed(client, ConnectFrame(player, "1.0", "")), ClientDisconnectReason::Success); };
  };
  const std::vector<Step> steps = {
      {0, identify(atOnce, kPlayer), {silent, atOnce, late, verdict}},
      {1, identify(verdict, kPlayer + 1), {silent, atOnce, late, verdict}},
      {2, [&] { session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer + 1, 0}); },
       {silent, atOnce, late, verdict}},
      {3, [&] { EXPECT_EQ(verdict->GetState(), PendingClientState::FetchingStatistics); },
       {silent, atOnce, late, verdict}},
      {4.9, identify(late, kPlayer + 2), {silent, atOnce, late, verdict}},
      {4.99, [] {}, {silent, atOnce, late, verdict}},
      {5.01, [] {}, {atOnce, late, verdict}},
      {29.99, [] {}, {atOnce, late, verdict}},
      {30.01, [] {}, {}},
  };
  const std::size_t from = Lines().size();
  for (const Step& step : steps) {
    SCOPED_TRACE(step.second);
    OrvTest::TManualClock::Now() = OrvTest::TManualClock::kStart + static_cast<TTimeStamp>(step.second * 1e9);
    step.action();
    session_.Update();
    EXPECT_EQ(Set().GetCount(), step.left.size());
    for (TUserWaitingForLogin* client : step.left) EXPECT_TRUE(Set().Contains(client));
  }
  const std::string timeOutLine =
      std::string("Client with IP ") + kPendingPeer + " has taken too much time to login. Disconnecting.";
  std::size_t timeOuts = 0;
  std::size_t lines = 0;
  for (const std::string& line : LinesFrom(from)) {
    timeOuts += line == RejectLine("TimeOut") ? 1 : 0;
    lines += line == timeOutLine ? 1 : 0;
  }
  EXPECT_EQ(timeOuts, 4u);
  EXPECT_EQ(lines, 4u);
  EXPECT_EQ(Property("NbPlayer"), "0");
}

// The statistics never come: the database takes the request and never answers. The batch ends by
// its time-out of an hour, which marks the client failed and leaves it no batch to end (its request
// freed, the transfer out of libcurl and its handle back in the pool); the client still waits, and
// the login time-out of the same pass refuses it without touching the ended batch.
TEST_F(PendingClientTest, StatisticsThatNeverComeEndByTheirTimeOut) {
  OrvTest::TManualClock clock;
  OrvTest::THttpEndpointPeer database;
  ASSERT_TRUE(database.Start());
  ASSERT_TRUE(database.Command(R"({"cmd": "hold"})"));
  ASSERT_TRUE(task_->ApplyGameInfo(("{\"StatsURL\": \"" + database.Url("/stats/") + "\"}").c_str()));
  task_->OnMatchMakingLinkValidated(Network::OrvNetId::FromValue(OrvTest::kLoopbackAddressId));
  // The property query the link-up opened would outlive the task's event loop: the session is the
  // fixture's.
  session_.GetPropertyTable()->StopReporting();
  auto* accesser = static_cast<Network::TCouchDBDatabaseAccesser*>(task_->GetDatabaseAccesser());
  Network::TOperationWithTimeOutManager* operations = task_->GetOperationManager();

  TUserWaitingForLogin* client = NewClient();
  ASSERT_EQ(Feed(client, ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  session_.OnClientValidation(Network::TMmsValidatePlayerAnswer{kPlayer, 0});
  ASSERT_NE(client->GetStatsOperation(), nullptr);
  ASSERT_TRUE(OrvTest::PumpUntil(
      accesser->GetMultiHandle(), [&] { accesser->Perform(); }, [&] { return database.Count("held") == 1; },
      &database));

  // An hour, the statistics batch's time-out.
  OrvTest::TManualClock::AdvanceMilliseconds(3600000.0 + 1);
  operations->Update();
  EXPECT_TRUE(Logged("TOperationOnDatabase::OnOperationTimeout() -> no answer within 3600000 ms"));
  EXPECT_EQ(client->GetStatsOperation(), nullptr);
  EXPECT_TRUE(client->HasStatsFailed());
  EXPECT_EQ(Set().GetCount(), 1u);
  EXPECT_EQ(operations->GetRegisteredCount(), 0u);
  EXPECT_EQ(accesser->GetBusyHandleCount(), 0u);
  EXPECT_EQ(accesser->GetQueuedCount(), 0u);
  EXPECT_EQ(accesser->GetFreeHandleCount(), kDatabaseConnectionPoolSize);

  session_.Update();
  EXPECT_TRUE(Logged(RejectLine("TimeOut")));
  EXPECT_EQ(Set().GetCount(), 0u);
  EXPECT_EQ(operations->GetRegisteredCount(), 0u);
}

// A departure publishes the same count as every other change: admitted and identified clients.
TEST_F(PendingClientTest, ADepartureCountsTheIdentifiedClientsToo) {
  TDedicatedUser* leaving = OrvTest::AdmitClient(session_, nullptr, kPlayer);
  ASSERT_NE(leaving, nullptr);
  ASSERT_NE(OrvTest::AdmitClient(session_, nullptr, kPlayer + 1), nullptr);
  ASSERT_EQ(Feed(NewClient(), ConnectFrame(kPlayer + 2, "1.0", "")), ClientDisconnectReason::Success);
  ASSERT_EQ(Feed(NewClient(), ConnectFrame(kPlayer + 3, "1.0", "")), ClientDisconnectReason::Success);
  NewClient();
  EXPECT_EQ(Property("NbPlayer"), "4");
  leaving->Disconnect(ClientDisconnectReason::ConnectionLost);
  EXPECT_EQ(session_.GetAdmittedClientCount(), 1u);
  EXPECT_EQ(Property("NbPlayer"), "3");
  session_.Shutdown();
}

TEST_F(PendingClientTest, LinkChangeClosesPendingClientsAndCountsThemOut) {
  ASSERT_EQ(Feed(NewClient(), ConnectFrame(kPlayer, "1.0", "")), ClientDisconnectReason::Success);
  ASSERT_EQ(Feed(NewClient(), ConnectFrame(kPlayer + 1, "1.0", "")), ClientDisconnectReason::Success);
  NewClient();
  EXPECT_EQ(Property("NbPlayer"), "2");
  session_.OnMatchMakingLinkChanged(false);
  EXPECT_EQ(Set().GetCount(), 0u);
  EXPECT_EQ(Property("NbPlayer"), "0");
}

}  // namespace
}  // namespace Orvan::Dedicated
