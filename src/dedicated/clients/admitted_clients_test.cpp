// Admitted clients, in process: what admission sends and in which order, its refusals, the end of
// a client's statistics batch, leaving and the host role, the player limit's kick, the ping cycle,
// property sends, alliances and the shutdown.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/dedicated_user_stats_manager.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/states/phase_factories.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/database/operation_on_database.h"
#include "network/database/statistics_request.h"
#include "network/packets/buffer_io.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"
#include "support/scripted_stream.h"

namespace Orvan::Dedicated {
namespace {

using Network::OrvNetId;

const char kPeer[] = "127.0.0.1:5000";

using OrvTest::PeerAddress;

std::string Decimal(std::uint64_t value) { return std::to_string(value); }

// One frame as a line of text, decoded with the protocol's own readers.
std::string Describe(std::uint8_t channel, const std::uint8_t* body, std::uint32_t size) {
  Network::TFixedBufferReader reader(body, size);
  switch (channel) {
    case kChannelInitConnection: {
      TAdmissionAnswer answer;
      if (!ReadAdmissionAnswer(reader, answer)) break;
      return "answer " + Decimal(answer.userSessionId) + " " + Decimal(answer.spectator) + " " +
             Decimal(answer.stateId);
    }
    case kChannelSystemMessage: {
      TSystemMessage message;
      if (!ReadSystemMessage(reader, message)) break;
      return "ping " + Decimal(message.command) + " " + Decimal(message.value);
    }
    case kChannelClientEvent: {
      TClientEvent event;
      if (!ReadClientEvent(reader, event)) break;
      static const char* const kKinds[] = {"joined", "ready", "left", "host"};
      const auto kind = static_cast<std::uint32_t>(event.kind);
      return std::string(kind < 4 ? kKinds[kind] : "kind?") + " " + Decimal(event.userSessionId) + " " +
             Decimal(event.playerId.GetValue()) + " " + Decimal(event.flag);
    }
    case kChannelServerProperty: {
      TServerPropertyPacket property;
      if (!ReadServerProperty(reader, property)) break;
      return std::string("property ") + property.name.c_str() + "=" + property.value.c_str();
    }
    case kChannelPlayerVariable: {
      TPlayerVariablePacket variable;
      if (!ReadPlayerVariable(reader, variable)) break;
      return "variable " + Decimal(variable.userSessionId) + " " + variable.name.c_str() + "=" +
             variable.value.c_str();
    }
    case kChannelPingTable: {
      TPingTableEntry entry;
      if (!ReadPingTableEntry(reader, entry)) break;
      return "pings " + Decimal(entry.playerId.GetValue()) + " " + Decimal(entry.ping);
    }
    case kChannelLastPacket: {
      TSystemMessage message;
      if (!ReadSystemMessage(reader, message)) break;
      return "last " + Decimal(message.value);
    }
    default:
      break;
  }
  return "channel " + Decimal(channel) + " " + OrvTest::HexText(body, size);
}

// The client's end of a connection: the frames it received, in order, and whether the server
// closed it.
class TClientEnd {
 public:
  explicit TClientEnd(int descriptor) : descriptor_(descriptor) {}
  ~TClientEnd() {
    if (descriptor_ != -1) ::close(descriptor_);
  }
  TClientEnd(const TClientEnd&) = delete;
  TClientEnd& operator=(const TClientEnd&) = delete;

  // Takes in what has arrived, without waiting.
  void Read() {
    while (!closed_ && OrvTest::WaitReadable(descriptor_, 0)) {
      char buffer[4096];
      const ssize_t got = ::recv(descriptor_, buffer, sizeof(buffer), 0);
      if (got <= 0) {
        closed_ = true;
        break;
      }
      bytes_.append(buffer, static_cast<std::size_t>(got));
    }
    while (bytes_.size() >= 2) {
      const std::size_t length = (static_cast<unsigned char>(bytes_[0]) << 8) | static_cast<unsigned char>(bytes_[1]);
      if (bytes_.size() < 2 + length || length == 0) break;
      const auto* frame = reinterpret_cast<const std::uint8_t*>(bytes_.data() + 2);
      frames_.push_back(Describe(frame[0], frame + 1, static_cast<std::uint32_t>(length - 1)));
      bytes_.erase(0, 2 + length);
    }
  }
  std::size_t FrameCount() const { return frames_.size(); }
  // The frames received and not taken yet; they are taken.
  std::vector<std::string> Take() {
    std::vector<std::string> taken;
    taken.swap(frames_);
    return taken;
  }
  bool IsClosed() const { return closed_; }
  // The client closes its end.
  void Close() {
    if (descriptor_ != -1) ::close(descriptor_);
    descriptor_ = -1;
    closed_ = true;
  }

 private:
  int descriptor_;
  std::string bytes_;
  std::vector<std::string> frames_;
  bool closed_ = false;
};

class AdmittedClientsTest : public OrvTest::TDedicatedTest {
 protected:
  void TearDown() override {
    session_.Shutdown();
    session_.ClosePendingClients();
    // Kills still waiting for a client's close end here.
    if (task_ != nullptr) task_->GetOperationManager()->CancelAll();
    if (session_.GetPropertyTable() != nullptr) session_.GetPropertyTable()->StopReporting();
    ends_.clear();
    TDedicatedTest::TearDown();
  }

  // The task and the session's start-up; "variables.ini" is read here.
  void Start(bool slave = false, const char* forcedVersion = nullptr) {
    settings_.slave = slave;
    settings_.forcedVersion = forcedVersion;
    settings_.clientPort = OrvTest::FreeClientPort();
    task_ = OrvTest::CreateTask(settings_, &session_);
    session_.Initialize();
    task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Ready);
  }

  TPendingClientSet& Set() { return *session_.GetPendingClients(); }
  Network::TSocketInterfaceManagerForLibEvent& Manager() { return *task_->GetSocketManager(); }
  std::string Property(const char* name) { return session_.GetPropertyTable()->GetValue(name).c_str(); }
  void SetProperty(const char* name, const char* value) {
    session_.GetPropertyTable()->SetVariable(name, value, false, false, false, true);
  }

  // A client at the end of its login: identified, its verdict given, its statistics being fetched.
  // With `connected`, over a loopback connection whose client end is kept in ends_, else without a
  // connection.
  TUserWaitingForLogin* Pending(std::uint64_t id, bool connected, const char* version = "1.0", bool ask = false) {
    Network::TBufferEventSocket* socket = nullptr;
    if (connected) {
      int client = -1;
      socket = OrvTest::AcceptLoopbackClient(listener_, &Manager(), client);
      if (socket == nullptr) return nullptr;
      ends_.push_back(std::make_unique<TClientEnd>(client));
    }
    session_.OnNewConnection(socket, PeerAddress());
    TUserWaitingForLogin* pending = Set().FindById(OrvNetId());
    if (pending == nullptr) return nullptr;
    pending->SetClientId(OrvNetId::FromValue(id));
    pending->SetClientVersion(version);
    pending->SetAskFlag(ask);
    pending->SetState(PendingClientState::FetchingStatistics);
    session_.OnPendingClientIdentified(pending);
    return pending;
  }
  // The client's statistics arrive; the user admitted, or null.
  TDedicatedUser* Admit(std::uint64_t id, bool connected, const char* version = "1.0", bool ask = false,
                        const TUserStatisticsDocuments& statistics = TUserStatisticsDocuments()) {
    TUserWaitingForLogin* pending = Pending(id, connected, version, ask);
    if (pending == nullptr) return nullptr;
    session_.OnPendingClientStats(pending, false, statistics);
    return session_.FindClientById(OrvNetId::FromValue(id));
  }
  TClientEnd& End(std::size_t index) { return *ends_[index]; }
  // Runs the loop until the client end holds `count` frames; takes them.
  std::vector<std::string> Receive(TClientEnd& end, std::size_t count) {
    OrvTest::RunLoopUntil(Manager(), [&] {
      end.Read();
      return end.FrameCount() >= count;
    });
    return end.Take();
  }
  // Per client end, every frame up to a marker sent after them (a change of ServerName), the marker
  // left out.
  std::vector<std::vector<std::string>> ReceiveAll(const std::vector<std::size_t>& indexes) {
    const std::string marker = "property ServerName=marker " + Decimal(++markers_);
    SetProperty("ServerName", marker.substr(std::string("property ServerName=").size()).c_str());
    std::vector<std::vector<std::string>> received;
    for (std::size_t index : indexes) {
      TClientEnd& end = End(index);
      std::vector<std::string> frames;
      OrvTest::RunLoopUntil(Manager(), [&] {
        end.Read();
        for (std::string& frame : end.Take()) frames.push_back(std::move(frame));
        return !frames.empty() && frames.back() == marker;
      });
      if (!frames.empty() && frames.back() == marker) frames.pop_back();
      received.push_back(std::move(frames));
    }
    return received;
  }
  // The frames the user's client receives for the user's variables, in declaration order.
  static std::vector<std::string> VariableFrames(const TDedicatedUser* owner) {
    std::vector<std::string> frames;
    for (const auto& entry : owner->GetUserVariables()) {
      frames.push_back("variable " + Decimal(owner->GetUserSessionId()) + " " + entry.key.c_str() + "=" +
                       entry.value->GetValue().c_str());
    }
    return frames;
  }
  std::vector<std::string> PropertyFrames() {
    std::vector<std::string> frames;
    for (const auto& entry : session_.GetPropertyTable()->GetProperties()) {
      if (entry.value->IsHidden()) continue;
      frames.push_back(std::string("property ") + entry.key.c_str() + "=" + entry.value->GetValue().c_str());
    }
    return frames;
  }
  static std::string RejectLine(const char* name) {
    return std::string("Rejecting pending client with IP ") + kPeer + " (reason : " + name + ")";
  }
  static std::string Event(const char* kind, const TDedicatedUser* subject, bool flag = false) {
    return std::string(kind) + " " + Decimal(subject->GetUserSessionId()) + " " +
           Decimal(subject->GetNetworkId().GetValue()) + " " + (flag ? "1" : "0");
  }

  OrvTest::TTaskSettings settings_;
  TStrivexDedicatedSession session_{24};
  OrvTest::TScriptedStream mms_;
  TMainServerTask* task_ = nullptr;
  OrvTest::TLoopbackListener listener_;
  std::vector<std::unique_ptr<TClientEnd>> ends_;
  int markers_ = 0;
};

template <typename T>
std::vector<T> Joined(std::initializer_list<std::vector<T>> parts) {
  std::vector<T> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// The newcomer learns its number, the properties, itself, then each user with their variables;
// those already there learn of the newcomer. Both sequences whole, in order.
TEST_F(AdmittedClientsTest, AdmissionSendsInOrderToNewcomerAndOthers) {
  Start();
  TUserStatisticsDocuments statistics;
  Network::SetDocumentField(statistics.FindOrInsert(0), "@name", "alice");
  TPendingClientSet& set = Set();
  TUserWaitingForLogin* pending = Pending(0x1234, true, "1.0", false);
  ASSERT_NE(pending, nullptr);
  const int descriptor = pending->GetConnection()->GetDescriptor();
  session_.OnPendingClientStats(pending, false, statistics);
  TDedicatedUser* first = session_.FindClientById(OrvNetId::FromValue(0x1234));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(set.GetCount(), 0u);
  EXPECT_TRUE(Logged("Client added in session (OrvNetId : 4660, UserSessionId : 1, socket : " + Decimal(descriptor) +
                     ", IP : " + kPeer + ")"));
  EXPECT_EQ(Property("NbPlayer"), "1");
  EXPECT_EQ(first->GetUserVariable("PlayerName")->GetValue(), "alice");
  EXPECT_FALSE(first->IsSpectator());
  EXPECT_EQ(first->GetVersion(), "1.0");

  std::vector<std::string> expected = Joined<std::string>({{"answer 1 0 0"}, PropertyFrames(),
                                                          {Event("joined", first)}, VariableFrames(first),
                                                          {Event("ready", first)}});
  EXPECT_EQ(Receive(End(0), expected.size()), expected);

  TDedicatedUser* second = Admit(0x5678, true);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->GetUserSessionId(), 2u);
  EXPECT_EQ(Property("NbPlayer"), "2");
  // Alliance 0 has one member, alliance 1 none: the newcomer joins 1, and everyone is told.
  ASSERT_EQ(second->GetUserVariable("PlayerAlliance")->GetValue(), "1");
  const std::string alliance = "variable 2 PlayerAlliance=1";
  std::vector<std::string> secondVariables = VariableFrames(second);
  for (std::string& frame : secondVariables) {
    if (frame == alliance) frame = "variable 2 PlayerAlliance=0";
  }
  expected = Joined<std::string>({{"answer 2 0 0"}, PropertyFrames(), {Event("joined", second)},
                                  {Event("joined", first)}, VariableFrames(first), secondVariables,
                                  {Event("ready", first), Event("ready", second), alliance}});
  EXPECT_EQ(Receive(End(1), expected.size()), expected);
  // The first client heard the count of the newcomer's identification, then its admission.
  expected = Joined<std::string>({{"property NbPlayer=2", Event("joined", second)}, secondVariables,
                                  {Event("ready", second), alliance}});
  EXPECT_EQ(Receive(End(0), expected.size()), expected);
}

TEST_F(AdmittedClientsTest, AdmissionRefusals) {
  struct Case {
    const char* what;
    std::int64_t banEnd;  // -1: no ban
    bool duplicate;       // the id is admitted already
    const char* version;  // the client's; the first user fixed "1.0"
    const char* name;     // the refusal, null when admitted
  };
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  const std::vector<Case> cases = {
      {"banned forever", 0, false, "1.0", "BannedFromDedicatedServer"},
      {"ban ending later", now + 3600, false, "1.0", "BannedFromDedicatedServer"},
      {"expired ban", now - 10, false, "1.0", nullptr},
      {"already in session", -1, true, "1.0", "AlreadyInSession"},
      // It connected while every version was allowed, before the first user fixed one.
      {"another version", -1, false, "2.0", "IncorrectVersion"},
  };
  Start();
  ASSERT_NE(Admit(1, false, "1.0"), nullptr);
  ASSERT_EQ(Property("Version"), "1.0");
  std::uint64_t id = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint64_t clientId = c.duplicate ? 1 : ++id;
    if (c.banEnd != -1) session_.SetBan(OrvNetId::FromValue(clientId), c.banEnd);
    const std::size_t from = Lines().size();
    const std::uint32_t admitted = session_.GetAdmittedClientCount();
    TUserWaitingForLogin* pending = Pending(clientId, false, c.version);
    ASSERT_NE(pending, nullptr);
    session_.OnPendingClientStats(pending, false, TUserStatisticsDocuments());
    EXPECT_EQ(Set().GetCount(), 0u);
    if (c.name == nullptr) {
      EXPECT_EQ(session_.GetAdmittedClientCount(), admitted + 1);
      EXPECT_EQ(session_.GetBans().Find(OrvNetId::FromValue(clientId)), nullptr) << "an expired ban is erased";
    } else {
      EXPECT_EQ(session_.GetAdmittedClientCount(), admitted);
      const std::vector<std::string> lines = LinesFrom(from);
      EXPECT_NE(std::find(lines.begin(), lines.end(), RejectLine(c.name)), lines.end());
    }
    EXPECT_EQ(Property("NbPlayer"), Decimal(session_.GetAdmittedClientCount()));
  }
}

// A slave hosts the clients the match-making server announces: nobody before the announcement,
// only the awaited client until it came, then anyone but a second client asking to host; the last
// one leaving makes the server available again.
TEST_F(AdmittedClientsTest, SlaveModeAdmission) {
  Start(true);
  ASSERT_FALSE(session_.IsAdmissionOpen());
  TServerPropertyReporting& reporting = session_.GetPropertyTable()->GetReporting();
  struct Step {
    const char* what;
    std::uint64_t announced;  // 0: no announcement before this client
    std::uint64_t id;
    bool ask;
    const char* refusal;  // null when admitted
  };
  const std::vector<Step> steps = {
      {"admission closed", 0, 7, false, "NotAvailable"},
      {"not the awaited client", 7, 8, false, "NotAvailable"},
      {"the awaited client", 0, 7, true, nullptr},
      {"asks to host beside a player", 0, 9, true, "Refused"},
      {"joins the hosted session", 0, 9, false, nullptr},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    if (step.announced != 0) {
      // The match-making server names the client to wait for.
      const std::string update = OrvTest::SlaveUpdateFrame(step.announced, 4);
      mms_.Arrive(OrvTest::TScriptedStream::Bytes(update.begin(), update.end()));
      task_->OnMatchMakingPacket();
      ASSERT_EQ(session_.GetAwaitedClient(), OrvNetId::FromValue(step.announced));
    }
    const std::size_t from = Lines().size();
    const bool admitted = Admit(step.id, false, "1.0", step.ask) != nullptr;
    EXPECT_EQ(admitted, step.refusal == nullptr);
    if (step.refusal != nullptr) {
      const std::vector<std::string> lines = LinesFrom(from);
      EXPECT_NE(std::find(lines.begin(), lines.end(), RejectLine(step.refusal)), lines.end());
    } else {
      EXPECT_FALSE(session_.GetAwaitedClient().IsValid());
      EXPECT_EQ(session_.GetAwaitedSince(), kNotAwaiting);
      EXPECT_TRUE(session_.IsAdmissionOpen());
      EXPECT_TRUE(reporting.IsListening()) << "the hosted session is published";
    }
  }
  // The slave has a host: the first player.
  EXPECT_TRUE(session_.FindClientById(OrvNetId::FromValue(7))->IsHost());

  mms_.written.clear();
  session_.FindClientById(OrvNetId::FromValue(7))->Disconnect(ClientDisconnectReason::ConnectionLost);
  EXPECT_TRUE(mms_.written.empty());
  session_.FindClientById(OrvNetId::FromValue(9))->Disconnect(ClientDisconnectReason::ConnectionLost);
  EXPECT_TRUE(Logged("Server is ready to host new session"));
  EXPECT_EQ(OrvTest::Hex(std::string(mms_.written.begin(), mms_.written.end())), "0002e501");
  EXPECT_FALSE(session_.IsAdmissionOpen());
  EXPECT_FALSE(reporting.IsListening());
  EXPECT_EQ(session_.GetNextUserNumber(), 1u);
}

// The batch's end regroups both documents by their number and hands them to admission; a failed
// batch refuses the client.
TEST_F(AdmittedClientsTest, StatisticsBatchEnd) {
  Start();
  for (const bool failed : {false, true}) {
    SCOPED_TRACE(failed ? "failed" : "answered");
    const std::uint64_t id = failed ? 0x22 : 0x11;
    TUserWaitingForLogin* pending = Pending(id, false);
    ASSERT_NE(pending, nullptr);
    // Not launched: this test ends the batch by hand, as the accesser would, and frees it after.
    std::unique_ptr<Network::TOperationOnDatabase> operation(
        new Network::TOperationOnDatabase(task_->GetOperationManager(), nullptr, pending));
    auto* general = new Network::TDbRequestGetStatistics(TOrvString<char>(), 0, id, 0);
    auto* game = new Network::TDbRequestGetStatistics(TOrvString<char>(), 24, id, 0);
    general->InterpretRequestResult(200, R"({"@name":"bob","@level":"3"})");
    game->InterpretRequestResult(200, R"({"@level":"7","ELO":1612})");
    operation->AddRequest(general);
    operation->AddRequest(game);
    pending->SetStatsOperation(operation.get());
    if (failed) pending->OnRequestDatabaseError(Network::TDbRequestError::NotFound);
    pending->OnRequestDatabaseTerminated();
    EXPECT_EQ(Set().GetCount(), 0u);
    TDedicatedUser* user = session_.FindClientById(OrvNetId::FromValue(id));
    if (failed) {
      EXPECT_EQ(user, nullptr);
      EXPECT_TRUE(Logged("Failed to get stats for pending client 34"));
      EXPECT_TRUE(Logged(RejectLine("Failed")));
      continue;
    }
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(user->GetUserVariable("PlayerName")->GetValue(), "bob");
    EXPECT_EQ(user->GetUserVariable("PlayerLevel")->GetValue(), "7");
    EXPECT_EQ(user->GetUserVariable("PlayerElo")->GetValue(), "1612");
  }
}

// A refused client whose connection is open gets the reason before it is closed.
TEST_F(AdmittedClientsTest, FailedStatisticsSendTheReason) {
  Start();
  TUserWaitingForLogin* pending = Pending(0x22, true);
  ASSERT_NE(pending, nullptr);
  session_.OnPendingClientStats(pending, true, TUserStatisticsDocuments());
  EXPECT_TRUE(Logged("Failed to get stats for pending client 34"));
  EXPECT_EQ(Receive(End(0), 1), std::vector<std::string>{"last 20"});
  // The client closes its end: the kill ends and the connection goes.
  End(0).Close();
  EXPECT_TRUE(OrvTest::RunLoopUntil(Manager(), [&] { return task_->GetOperationManager()->GetRegisteredCount() == 0; }));
}

// With a host: leaving passes the role to the last player left, and everyone hears of it; with only
// spectators left nobody is host.
TEST_F(AdmittedClientsTest, LeavingMovesTheHost) {
  WriteFile("variables.ini", "WithHost=1\n");
  Start();
  std::vector<TDedicatedUser*> users;
  for (std::uint64_t id = 1; id <= 4; ++id) {
    users.push_back(Admit(id, true));
    ASSERT_NE(users.back(), nullptr);
  }
  ASSERT_TRUE(users[0]->IsHost());
  // The last newcomer was told who the host is before its own ready event.
  const std::vector<std::string> last = ReceiveAll({0, 1, 2, 3})[3];
  const auto ready = std::find(last.begin(), last.end(), "ready 4 4 0");
  ASSERT_TRUE(ready != last.end() && ready != last.begin());
  EXPECT_EQ(*(ready - 1), "host 1 1 0");
  users[3]->SetSpectator(true);

  struct Step {
    std::size_t leaving;
    std::vector<std::size_t> left;  // the client ends still there
    std::vector<std::string> frames;
  };
  const std::vector<Step> steps = {
      {0, {1, 2, 3}, {"property NbPlayer=3", "left 1 1 0", "host 3 3 0"}},
      {2, {1, 3}, {"property NbPlayer=2", "left 3 3 0", "host 2 2 0"}},
      {1, {3}, {"property NbPlayer=1", "left 2 2 0"}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.leaving);
    users[step.leaving]->Disconnect(ClientDisconnectReason::ConnectionLost);
    EXPECT_EQ(Property("NbPlayer"), Decimal(step.left.size()));
    EXPECT_EQ(ReceiveAll(step.left), std::vector<std::vector<std::string>>(step.left.size(), step.frames));
  }
  EXPECT_FALSE(users[3]->IsHost());
}

// Each session takes the version of its first player and numbers its users from 1, unless a
// version was forced: then it stays for good.
struct TEmptyServerCase {
  const char* forced;
  const char* versionWhilePlaying;
  const char* versionWhenEmpty;
};

void PrintTo(const TEmptyServerCase& c, std::ostream* out) { *out << (c.forced != nullptr ? c.forced : "none"); }

class EmptyServerTest : public AdmittedClientsTest, public testing::WithParamInterface<TEmptyServerCase> {};

TEST_P(EmptyServerTest, StartsOver) {
  const TEmptyServerCase& c = GetParam();
  Start(false, c.forced);
  ASSERT_EQ(Property("Version"), c.forced != nullptr ? c.forced : "0");
  TDedicatedUser* first = Admit(1, false, "1.0");
  TDedicatedUser* second = Admit(2, false, "1.0");
  ASSERT_TRUE(first != nullptr && second != nullptr);
  EXPECT_EQ(Property("Version"), c.versionWhilePlaying);
  first->Disconnect(ClientDisconnectReason::ConnectionLost);
  EXPECT_EQ(Property("Version"), c.versionWhilePlaying) << "a user is still there";
  second->Disconnect(ClientDisconnectReason::ConnectionLost);
  EXPECT_EQ(Property("Version"), c.versionWhenEmpty);
  EXPECT_EQ(Property("NbPlayer"), "0");
  // Another version gets in only when none was forced.
  TDedicatedUser* next = Admit(3, false, "2.0");
  EXPECT_EQ(next != nullptr, c.forced == nullptr);
  if (next != nullptr) {
    EXPECT_EQ(next->GetUserSessionId(), 1u);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, EmptyServerTest,
                         testing::Values(TEmptyServerCase{nullptr, "1.0", "0"}, TEmptyServerCase{"1.0", "1.0", "1.0"}),
                         [](const testing::TestParamInfo<TEmptyServerCase>& info) {
                           return std::string(info.param.forced != nullptr ? "Forced" : "FollowsFirstPlayer");
                         });

// The admitted beyond a lowered limit are kicked, the last admitted first; the others stay.
TEST_F(AdmittedClientsTest, LowerPlayerLimitKicksTheLastAdmitted) {
  Start();
  for (std::uint64_t id = 1; id <= 4; ++id) ASSERT_NE(Admit(id, false), nullptr);
  const std::size_t from = Lines().size();
  session_.SetNbMaxPlayer(2, false, false, true, false);
  EXPECT_EQ(Property("NbMaxPlayer"), "2");
  ASSERT_EQ(session_.GetAdmittedClientCount(), 2u);
  EXPECT_EQ(session_.GetClients()[0]->GetNetworkId().GetValue(), 1u);
  EXPECT_EQ(session_.GetClients()[1]->GetNetworkId().GetValue(), 2u);
  std::vector<std::string> kicks;
  for (const std::string& line : LinesFrom(from)) {
    if (line.rfind("Disconnecting client ", 0) == 0) kicks.push_back(line);
  }
  EXPECT_EQ(kicks, (std::vector<std::string>{
                       std::string("Disconnecting client 3 with IP ") + kPeer + " (reason : Kicked)",
                       std::string("Disconnecting client 4 with IP ") + kPeer + " (reason : Kicked)"}));
}

// A disconnect during a game that leaves no connected player ends the game, and leaving the loading
// phase kicks the players that have not loaded: the rest of a lowered limit's kicks, or of the
// shutdown, must not reach those users again.
struct TGameEndingCase {
  const char* name;
  std::function<void(TDedicatedSession&)> disconnect;
};

class GameEndingDisconnectsTest : public AdmittedClientsTest, public testing::WithParamInterface<TGameEndingCase> {};

TEST_P(GameEndingDisconnectsTest, EachClientIsDisconnectedOnce) {
  Start();
  for (std::uint64_t id = 1; id <= 3; ++id) ASSERT_NE(Admit(id, false), nullptr);
  TDedicatedSessionStateManager* machine = session_.GetStateManager();
  machine->ChangeState(CreateLoadingPhase(machine));
  ASSERT_TRUE(session_.IsGameRunning());
  const std::size_t from = Lines().size();
  GetParam().disconnect(session_);
  EXPECT_EQ(session_.GetAdmittedClientCount(), 0u);
  EXPECT_FALSE(session_.IsGameRunning());
  for (std::uint64_t id = 1; id <= 3; ++id) {
    const std::string prefix = "Disconnecting client " + Decimal(id) + " ";
    const std::vector<std::string> lines = LinesFrom(from);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }),
              1)
        << "client " << id;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Disconnects, GameEndingDisconnectsTest,
    testing::Values(
        TGameEndingCase{"LoweredPlayerLimit",
                        [](TDedicatedSession& session) { session.SetNbMaxPlayer(1, false, false, true, false); }},
        TGameEndingCase{"Shutdown", [](TDedicatedSession& session) { session.Shutdown(); }}),
    [](const testing::TestParamInfo<TGameEndingCase>& info) { return std::string(info.param.name); });

// Every 2.5 s each client is pinged, then everyone is sent its ping; an answer shows in the next
// table, an unanswered or stale one as 9999.
TEST_F(AdmittedClientsTest, PingCycles) {
  OrvTest::TManualClock clock;
  Start();
  TDedicatedUser* first = Admit(1, true);
  TDedicatedUser* second = Admit(2, true);
  ASSERT_TRUE(first != nullptr && second != nullptr);
  ReceiveAll({0, 1});
  const auto expectCycle = [&](std::uint32_t pingId, std::uint32_t firstPing, std::uint32_t secondPing) {
    const std::string ping = "ping 1 " + Decimal(pingId);
    const std::string firstEntry = "pings 1 " + Decimal(firstPing);
    const std::string secondEntry = "pings 2 " + Decimal(secondPing);
    EXPECT_EQ(ReceiveAll({0, 1}), (std::vector<std::vector<std::string>>{{ping, firstEntry, secondEntry},
                                                                          {firstEntry, ping, secondEntry}}));
    EXPECT_EQ(session_.GetLastPingCycle(), OrvTest::TManualClock::Now());
  };
  const TTimeStamp start = OrvTest::TManualClock::Now();
  const auto at = [&](double milliseconds) {
    OrvTest::TManualClock::Now() = start + static_cast<TTimeStamp>(milliseconds * 1e6);
  };

  session_.Update();
  expectCycle(1, kPingNotMeasured, kPingNotMeasured);
  at(25);
  second->OnPingAnswer(1, session_.GetLastPingCycle());
  at(40);
  first->OnPingAnswer(1, session_.GetLastPingCycle());
  at(60);
  first->OnPingAnswer(1, session_.GetLastPingCycle());  // answered already: ignored
  at(2499);
  session_.Update();
  EXPECT_EQ(ReceiveAll({0, 1}), (std::vector<std::vector<std::string>>{{}, {}})) << "not a whole cycle yet";

  at(2500);
  session_.Update();
  expectCycle(2, 40, 25);
  at(2510);
  second->OnPingAnswer(1, session_.GetLastPingCycle());  // the previous cycle's id
  at(5000);
  session_.Update();
  expectCycle(3, kPingNotMeasured, kPingNotMeasured);
}

// Property changes reach every client unless hidden; Seed reaches them twice.
TEST_F(AdmittedClientsTest, PropertyChangesReachEveryClient) {
  Start();
  ASSERT_NE(Admit(1, true), nullptr);
  ASSERT_NE(Admit(2, true), nullptr);
  ReceiveAll({0, 1});
  struct Case {
    const char* what;
    std::function<void()> change;
    std::vector<std::string> frames;
  };
  const std::vector<Case> cases = {
      {"a visible property", [&] { SetProperty("Map", "Somewhere"); }, {"property Map=Somewhere"}},
      {"the hidden password", [&] { SetProperty("Password", "secret"); }, {"property NeedPassword=1"}},
      {"the seed", [&] { session_.SetSeed(77); }, {"property Seed=77", "property Seed=77"}},
      {"the same seed", [&] { session_.SetSeed(77); }, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.change();
    EXPECT_EQ(ReceiveAll({0, 1}), (std::vector<std::vector<std::string>>{c.frames, c.frames}));
  }
}

// The newcomer joins the smaller of alliances 0 and 1, 0 on a tie; other values count for neither.
TEST_F(AdmittedClientsTest, AllianceOfTheNewcomer) {
  struct Case {
    std::vector<const char*> others;
    const char* chosen;
  };
  const std::vector<Case> cases = {
      {{}, "0"},
      {{"0"}, "1"},
      {{"1"}, "0"},
      {{"0", "0", "1", "1"}, "0"},
      {{"0", "0", "1"}, "1"},
      {{"0", "1", "1"}, "0"},
      {{"0", "5", "5"}, "1"},
      {{"-1", "7"}, "0"},
  };
  Start();
  std::uint64_t id = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::vector<std::string>(c.others.begin(), c.others.end())));
    for (const char* alliance : c.others) {
      TDedicatedUser* other = Admit(++id, false);
      ASSERT_NE(other, nullptr);
      other->SetUserVariable("PlayerAlliance", alliance, false, false, false, true);
    }
    TDedicatedUser* newcomer = Admit(++id, false);
    ASSERT_NE(newcomer, nullptr);
    EXPECT_EQ(newcomer->GetUserVariable("PlayerAlliance")->GetValue(), c.chosen);
    session_.Shutdown();
  }
}

// At exit every user is disconnected with ConnectionLost and its connection closed at once.
TEST_F(AdmittedClientsTest, ShutdownDisconnectsEveryone) {
  Start();
  for (std::uint64_t id = 1; id <= 3; ++id) ASSERT_NE(Admit(id, true), nullptr);
  session_.Shutdown();
  EXPECT_EQ(session_.GetAdmittedClientCount(), 0u);
  for (std::uint64_t id = 1; id <= 3; ++id) {
    EXPECT_TRUE(Logged("Disconnecting client " + Decimal(id) + " with IP " + kPeer + " (reason : ConnectionLost)"));
    TClientEnd& end = End(id - 1);
    EXPECT_TRUE(OrvTest::RunLoopUntil(Manager(), [&] {
      end.Read();
      return end.IsClosed();
    }));
  }
}

// Before the database accesser goes, every user's statistics requests end; the users stay, and
// may ask again once a database is back.
TEST_F(AdmittedClientsTest, EndingDatabaseWorkEndsEveryUsersStatistics) {
  Start();
  TDedicatedUser* first = Admit(1, false);
  TDedicatedUser* second = Admit(2, false);
  ASSERT_TRUE(first != nullptr && second != nullptr);
  first->GetStatsManager()->QueueUserStatistics();
  session_.EndDatabaseWork();
  for (TDedicatedUser* user : {first, second}) {
    EXPECT_FALSE(user->GetStatsManager()->IsCancelled());
    EXPECT_FALSE(user->GetStatsManager()->IsRunning());
    EXPECT_EQ(user->GetStatsManager()->GetQueuedCount(), 0u);
  }
  EXPECT_EQ(session_.GetAdmittedClientCount(), 2u);
}

// A slave that hosts a session publishes it as soon as the link is back; one hosting nobody waits
// for its next client.
TEST_F(AdmittedClientsTest, SlaveLinkUpPublishesOnlyAHostedSession) {
  Start(true);
  TServerPropertyReporting& reporting = session_.GetPropertyTable()->GetReporting();
  session_.OnMatchMakingLinkChanged(true);
  EXPECT_FALSE(reporting.IsListening());
  session_.OnWaitClientMessage(OrvNetId::FromValue(5), 4);
  ASSERT_NE(Admit(5, false), nullptr);
  session_.OnMatchMakingLinkChanged(false);
  EXPECT_FALSE(reporting.IsListening());
  session_.OnMatchMakingLinkChanged(true);
  EXPECT_TRUE(reporting.IsListening());
}

}  // namespace
}  // namespace Orvan::Dedicated
