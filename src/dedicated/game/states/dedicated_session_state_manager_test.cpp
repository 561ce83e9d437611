// The phase machine in process, with scripted phases and the hand-moved clock: changes of phase
// (also from inside a phase's own operations), the countdown, the players' requests, the records
// kept for the replay, the frames every client gets, and that every phase object is deleted once.
#include "dedicated/game/states/dedicated_session_state_manager.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
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

std::string Decimal(std::uint64_t value) { return std::to_string(value); }

// ---- Scripted phases.

// How the scripted phase of one id behaves.
struct TPhasePlan {
  enum class Ready { Never, ByRequests, Always };
  std::uint32_t timeLimit = kNoTimeLimit;  // set on entering
  Ready ready = Ready::Never;
  std::uint32_t next = kMatchMakingStateId;
  std::vector<std::uint32_t> exitChanges;      // phases asked for from OnExit, in order
  std::uint32_t changeOnRequest = kNoStateId;  // a request makes the phase change to this itself
  std::uint32_t changeInUpdate = kNoStateId;   // the phase's Update changes to this
  std::set<std::uint32_t> ignoredRequests;     // requests the phase does not store
  bool running = true;
  bool canExit = false;  // false: the base answer
};

// Every scripted phase made, kept and gone, and the journal of what happened to them.
struct TPhaseWorld {
  std::map<std::uint32_t, TPhasePlan> plans;
  std::vector<std::string> journal;
  // Notes what the session recorded since the last note first, so records and phase calls keep
  // their order.
  std::function<void()> flushRecords;
  int made = 0;
  int deleted = 0;
  std::set<int> alive;  // serial numbers
  std::vector<std::string> faults;

  void Note(const std::string& text) {
    if (flushRecords) flushRecords();
    journal.push_back(text);
  }
};

TPhaseWorld* gWorld = nullptr;

class TScriptedPhase final : public TDedicatedSessionAbstractState {
 public:
  TScriptedPhase(TDedicatedSessionStateManager* manager, std::uint32_t id)
      : TDedicatedSessionAbstractState(manager), id_(id), serial_(++gWorld->made) {
    gWorld->alive.insert(serial_);
  }
  ~TScriptedPhase() override {
    if (gWorld->alive.erase(serial_) != 1) gWorld->faults.push_back("phase " + Decimal(serial_) + " deleted twice");
    ++gWorld->deleted;
    gWorld->Note("delete " + Decimal(id_));
  }

  void OnEnter() override {
    gWorld->Note("enter " + Decimal(id_));
    if (Plan().timeLimit != kNoTimeLimit) SetTimeLeft(Plan().timeLimit);
  }
  void OnExit() override {
    gWorld->Note("exit " + Decimal(id_) +
                 " TimeLeft=" + GetSession()->GetPropertyTable()->GetValue("TimeLeft").c_str());
    for (std::uint32_t id : Plan().exitChanges) GetManager()->ChangeState(new TScriptedPhase(GetManager(), id));
  }
  void Update() override {
    if (Plan().changeInUpdate == kNoStateId) return;
    GetManager()->ChangeState(new TScriptedPhase(GetManager(), Plan().changeInUpdate));
    // Left, but not deleted under its own feet.
    gWorld->Note("update " + Decimal(GetStateId()) + " goes on");
  }
  std::uint32_t GetStateId() const override { return id_; }
  void OnEvent(TDedicatedUser* user, std::uint32_t event) override {
    gWorld->Note("event " + Decimal(event) + " from " +
                 (user != nullptr ? user->GetNetworkId().ToString().c_str() : "none"));
  }
  void OnClientMessage(TDedicatedUser* client, const Network::TPacketBufferPtr& message) override {
    gWorld->Note("message from " + std::string(client->GetNetworkId().ToString().c_str()) + " of " +
                 Decimal(message->length) + " bytes");
  }
  TDedicatedSessionAbstractState* CreateNextState() override { return new TScriptedPhase(GetManager(), Plan().next); }
  bool AreUsersReady() override {
    switch (Plan().ready) {
      case TPhasePlan::Ready::Never:
        return false;
      case TPhasePlan::Ready::Always:
        return true;
      case TPhasePlan::Ready::ByRequests:
        return TDedicatedSessionAbstractState::AreUsersReady();
    }
    return false;
  }
  bool IsGameRunning() const override { return Plan().running; }
  void OnClientRequestState(TDedicatedUser* user, std::uint32_t requestedStateId) override {
    if (Plan().changeOnRequest != kNoStateId) {
      GetManager()->ChangeState(new TScriptedPhase(GetManager(), Plan().changeOnRequest));
      return;
    }
    if (Plan().ignoredRequests.count(requestedStateId) == 0) user->SetRequestState(requestedStateId);
  }
  bool CanExit() const override { return Plan().canExit || TDedicatedSessionAbstractState::CanExit(); }

 private:
  const TPhasePlan& Plan() const { return gWorld->plans[id_]; }

  std::uint32_t id_;
  int serial_;
};

// A session whose first phase is scripted, with the properties the machine and admission use.
class TPhaseTestSession final : public TDedicatedSession {
 public:
  TPhaseTestSession() : TDedicatedSession("1.0", 24) {}

  bool ValidatePropertyValue(const TOrvString<char>&, const TOrvString<char>&) override { return true; }
  TDedicatedSessionAbstractState* CreateInitialState() override {
    return new TScriptedPhase(GetStateManager(), kMatchMakingStateId);
  }
  bool IsMatchMakingState(std::uint32_t stateId) override { return stateId == kMatchMakingStateId; }
  void ExecuteClientCommand(TDedicatedUser*, const TOrvString<char>&) override {}
  bool ExecuteRConCommand(const TOrvString<char>&, ServerTools::IVirtualConsole*) override { return false; }
  void RegisterServerProperties() override {
    OrvTest::DeclarePhaseTestProperties(GetPropertyTable());
  }
  TDedicatedUser* CreateUser(std::uint32_t userSessionId, const OrvNetId& networkId,
                             Network::TBufferEventSocket* connection, const sockaddr_storage& address,
                             const TUserStatisticsDocuments& statistics) override {
    return CreateStrivexDedicatedUser(userSessionId, networkId, this, connection, address, statistics);
  }
  void AssignAlliance(TDedicatedUser*) override {}
};

using OrvTest::PeerAddress;

// The client's end of a loopback connection: the phase frames (channels 205 and 206) it received,
// as hex text with their length, the other frames left out.
class TPhaseFrameReader {
 public:
  explicit TPhaseFrameReader(int descriptor) : descriptor_(descriptor) {}
  ~TPhaseFrameReader() { ::close(descriptor_); }
  TPhaseFrameReader(const TPhaseFrameReader&) = delete;
  TPhaseFrameReader& operator=(const TPhaseFrameReader&) = delete;

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
      if (channel == kChannelStateWillChange || channel == kChannelNextState) {
        frames_.push_back(OrvTest::HexText(bytes_.data(), 2 + length));
      }
      bytes_.erase(0, 2 + length);
    }
  }
  const std::vector<std::string>& Frames() const { return frames_; }

 private:
  int descriptor_;
  std::string bytes_;
  std::vector<std::string> frames_;
};

class StateManagerTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    gWorld = &world_;
    world_.flushRecords = [this] { FlushRecords(); };
    MakeSession();
  }
  void TearDown() override {
    EndSession();
    readers_.clear();
    world_.flushRecords = nullptr;
    gWorld = nullptr;
    TDedicatedTest::TearDown();
  }

  void MakeSession() {
    session_ = std::make_unique<TPhaseTestSession>();
    task_ = OrvTest::CreateTask(settings_, session_.get());
    // Games start only over a Ready link.
    task_->AttachMatchMakingStream(nullptr, MatchMakingLinkState::Ready);
    session_->Initialize();
    journaledRecords_ = 0;
  }
  // The session goes with its machine and every phase: each phase made was deleted, and once.
  void EndSession() {
    session_->Shutdown();
    session_.reset();
    TMainServerTask::DestroyInstance();
    task_ = nullptr;
    EXPECT_EQ(world_.deleted, world_.made);
    EXPECT_TRUE(world_.alive.empty());
    EXPECT_EQ(world_.faults, std::vector<std::string>());
  }

  // The machine, in its first phase.
  TDedicatedSessionStateManager& Start() {
    session_->CreateStateManager();
    return *session_->GetStateManager();
  }
  TDedicatedSessionStateManager& Manager() { return *session_->GetStateManager(); }
  TScriptedPhase* Phase(std::uint32_t id) { return new TScriptedPhase(&Manager(), id); }
  std::string Property(const char* name) { return session_->GetPropertyTable()->GetValue(name).c_str(); }

  // An admitted client, with a loopback connection whose end is read by a frame reader, or with
  // none.
  TDedicatedUser* Admit(std::uint64_t id, bool connected) {
    Network::TBufferEventSocket* socket = nullptr;
    if (connected) {
      int client = -1;
      socket = OrvTest::AcceptLoopbackClient(listener_, task_->GetSocketManager(), client);
      if (socket == nullptr) return nullptr;
      readers_.push_back(std::make_unique<TPhaseFrameReader>(client));
    }
    return OrvTest::AdmitClient(*session_, socket, id);
  }
  // Runs the loop until the first `readers` readers hold `count` phase frames each; the others
  // read what came meanwhile.
  void ReceivePhaseFrames(std::size_t readers, std::size_t count) {
    OrvTest::RunLoopUntil(*task_->GetSocketManager(), [&] {
      bool all = true;
      for (std::size_t index = 0; index < readers_.size(); ++index) {
        readers_[index]->Read();
        if (index < readers) all = all && readers_[index]->Frames().size() >= count;
      }
      return all;
    });
  }

  void FlushRecords() {
    if (session_ == nullptr) return;
    const TVector<TStateRecord>& records = session_->GetStateRecords();
    for (; journaledRecords_ < records.GetSize(); ++journaledRecords_) {
      const TStateRecord& record = records[journaledRecords_];
      std::string text = record.kind == kStateRecordStateChange
                             ? "change " + Decimal(record.values[1]) + ">" + Decimal(record.values[2])
                             : "timer " + Decimal(record.values[1]) + " " + Decimal(record.values[3]);
      // The fields a kind leaves unused are all ones, the tick is the session's.
      const bool change = record.kind == kStateRecordStateChange;
      if (record.values[0] != kStateRecordUnused || record.values[change ? 3 : 2] != kStateRecordUnused ||
          record.values[4] != session_->GetTickCounter() || !record.text.IsEmpty() || !record.packet.IsNull()) {
        text += " (malformed)";
      }
      world_.journal.push_back("record " + text);
    }
  }
  std::vector<std::string> TakeJournal() {
    FlushRecords();
    std::vector<std::string> taken;
    taken.swap(world_.journal);
    return taken;
  }
  static std::size_t Count(const std::string& line) {
    const std::vector<std::string> lines = Lines();
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
  }

  OrvTest::TManualClock clock_;
  TPhaseWorld world_;
  std::unique_ptr<TPhaseTestSession> session_;
  OrvTest::TTaskSettings settings_;
  TMainServerTask* task_ = nullptr;
  OrvTest::TLoopbackListener listener_;
  std::vector<std::unique_ptr<TPhaseFrameReader>> readers_;
  std::uint32_t journaledRecords_ = 0;
};

// ---- The machine's rules, one scripted run per row.

struct TStep {
  enum class Kind { Update, Change, Request, StopCountdown, SetTimeLeft, Mark };
  Kind kind;
  double advanceMilliseconds = 0;  // the clock moves this much first
  std::uint32_t value = 0;         // phase id, requested id or seconds
  std::size_t client = 0;          // for a request: the index of the client
};
TStep Update(double advanceMilliseconds) { return {TStep::Kind::Update, advanceMilliseconds}; }
TStep Change(std::uint32_t id) { return {TStep::Kind::Change, 0, id}; }
TStep Request(std::size_t client, std::uint32_t id) { return {TStep::Kind::Request, 0, id, client}; }
TStep StopCountdown() { return {TStep::Kind::StopCountdown}; }
TStep SetTimeLeft(std::uint32_t seconds) { return {TStep::Kind::SetTimeLeft, 0, seconds}; }
// "--" in the journal.
TStep Mark() { return {TStep::Kind::Mark}; }

struct TClientSetUp {
  bool spectator;
  std::uint32_t requested;
};

struct TRuleCase {
  const char* what;
  std::map<std::uint32_t, TPhasePlan> plans;  // ids without a plan: no limit, never ready, next 0
  std::vector<TClientSetUp> clients;
  bool recording;
  std::vector<TStep> steps;
  std::vector<std::string> journal;  // after the first phase was entered
  std::uint32_t phase;               // in force at the end
  std::string timeLeft;              // the property at the end
  std::vector<std::uint32_t> requested;
};

// Counts down from `seconds`, then 52.
TPhasePlan Limit(std::uint32_t seconds) {
  TPhasePlan plan;
  plan.timeLimit = seconds;
  plan.next = kDeploymentStateId;
  return plan;
}
TPhasePlan ReadyBy(TPhasePlan::Ready ready, std::uint32_t next) {
  TPhasePlan plan;
  plan.ready = ready;
  plan.next = next;
  return plan;
}

const char kUnlimited[] = "4294967295";

TEST_F(StateManagerTest, Rules) {
  using R = TPhasePlan::Ready;
  TPhasePlan exitReplaces;
  exitReplaces.exitChanges = {kDeploymentStateId, kCommandStateId};
  TPhasePlan changesOnRequest;
  changesOnRequest.changeOnRequest = kDeploymentStateId;
  TPhasePlan changesInUpdate;
  changesInUpdate.changeInUpdate = kDeploymentStateId;

  const std::vector<TRuleCase> cases = {
      {"a change asked for from OnExit replaces the phase being entered, which is deleted unentered",
       {{kMatchMakingStateId, exitReplaces}},
       {},
       true,
       {Change(kLoadingStateId), Update(0)},
       {"exit 0 TimeLeft=4294967295", "delete 51", "delete 52", "record change 0>53", "enter 53", "delete 0"},
       kCommandStateId,
       kUnlimited,
       {}},
      {"TimeLeft 0 and its timer come before the change",
       {{kLoadingStateId, Limit(2)}},
       {},
       true,
       {Change(kLoadingStateId), Update(1001), Update(1001)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "record timer 51 1", "delete 0",
        "record timer 51 0", "exit 51 TimeLeft=0", "record change 51>52", "enter 52", "delete 51"},
       kDeploymentStateId,
       kUnlimited,
       {}},
      {"a limit of 0 stays 0 and ends the phase at the first step",
       {{kLoadingStateId, Limit(0)}},
       {},
       true,
       {Change(kLoadingStateId), Update(1001)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "record timer 51 0", "exit 51 TimeLeft=0",
        "record change 51>52", "enter 52", "delete 0", "delete 51"},
       kDeploymentStateId,
       kUnlimited,
       {}},
      {"one countdown step per update, however long the pause",
       {{kLoadingStateId, Limit(5)}},
       {},
       true,
       {Change(kLoadingStateId), Update(10000), Update(0), Update(1001)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "record timer 51 4", "delete 0",
        "record timer 51 3"},
       kLoadingStateId,
       "3",
       {}},
      {"a change keeps the step: the new phase steps 101 ms after it began",
       {{kLoadingStateId, Limit(3)}},
       {},
       true,
       {Update(900), Change(kLoadingStateId), Update(101), Update(999), Update(2)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "record timer 51 2", "delete 0",
        "record timer 51 1"},
       kLoadingStateId,
       "1",
       {}},
      {"a stopped countdown becomes unlimited at the next step and stays so",
       {{kLoadingStateId, Limit(5)}},
       {},
       true,
       {Change(kLoadingStateId), Update(1001), StopCountdown(), Update(1001), Update(1001)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "record timer 51 4", "delete 0",
        "record timer 51 4294967295"},
       kLoadingStateId,
       kUnlimited,
       {}},
      {"a stop asked for without a limit is dropped at the next step",
       {},
       {},
       true,
       {Change(kLoadingStateId), StopCountdown(), Update(1001), SetTimeLeft(3), Update(1001)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "delete 0", "record timer 51 2"},
       kLoadingStateId,
       "2",
       {}},
      {"nothing is recorded while no game is recorded",
       {{kLoadingStateId, Limit(1)}},
       {},
       false,
       {Change(kLoadingStateId), Update(1001)},
       {"exit 0 TimeLeft=4294967295", "enter 51", "exit 51 TimeLeft=0", "enter 52", "delete 0", "delete 51"},
       kDeploymentStateId,
       kUnlimited,
       {}},
      {"players are raised, never lowered; spectators neither raised nor blocking",
       {{kLoadingStateId, ReadyBy(R::ByRequests, kDeploymentStateId)}},
       {{false, 0}, {false, kDebriefingStateId}, {true, 0}, {true, kLoadingStateId}},
       true,
       {Change(kLoadingStateId), Request(0, kDeploymentStateId)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "exit 51 TimeLeft=4294967295",
        "record change 51>52", "enter 52"},
       kDeploymentStateId,
       kUnlimited,
       {kDeploymentStateId, kDebriefingStateId, 0, kLoadingStateId}},
      {"with no client the players' rule keeps the phase",
       {{kLoadingStateId, ReadyBy(R::ByRequests, kDeploymentStateId)}},
       {},
       true,
       {Change(kLoadingStateId), Update(1001), Update(1001), Update(1001)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "delete 0"},
       kLoadingStateId,
       kUnlimited,
       {}},
      {"with spectators only the players' rule ends the phase at the next update",
       {{kLoadingStateId, ReadyBy(R::ByRequests, kDeploymentStateId)}},
       {{true, kLoadingStateId}},
       true,
       {Change(kLoadingStateId), Update(0)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "exit 51 TimeLeft=4294967295",
        "record change 51>52", "enter 52", "delete 0", "delete 51"},
       kDeploymentStateId,
       kUnlimited,
       {kLoadingStateId}},
      {"a request the phase answers by changing is not followed by the next phase's readiness",
       {{kLoadingStateId, changesOnRequest}, {kDeploymentStateId, ReadyBy(R::Always, kCommandStateId)}},
       {{false, 0}},
       true,
       {Change(kLoadingStateId), Request(0, kDebriefingStateId), Mark(), Update(0)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "exit 51 TimeLeft=4294967295",
        "record change 51>52", "enter 52", "--", "exit 52 TimeLeft=4294967295", "record change 52>53", "enter 53",
        "delete 0", "delete 51", "delete 52"},
       kCommandStateId,
       kUnlimited,
       {kCommandStateId}},
      {"a phase that changes in its own update lives until the update ends",
       {{kLoadingStateId, changesInUpdate}},
       {},
       true,
       {Change(kLoadingStateId), Update(0)},
       {"exit 0 TimeLeft=4294967295", "record change 0>51", "enter 51", "exit 51 TimeLeft=4294967295",
        "record change 51>52", "enter 52", "update 51 goes on", "delete 0", "delete 51"},
       kDeploymentStateId,
       kUnlimited,
       {}},
  };
  for (const TRuleCase& c : cases) {
    SCOPED_TRACE(c.what);
    world_.plans = c.plans;
    world_.journal.clear();
    std::vector<TDedicatedUser*> users;
    std::uint64_t id = 0x100;
    for (const TClientSetUp& setUp : c.clients) {
      TDedicatedUser* user = Admit(++id, false);
      ASSERT_NE(user, nullptr);
      user->SetSpectator(setUp.spectator);
      user->SetRequestState(setUp.requested);
      users.push_back(user);
    }
    session_->SetRecordingForTests(c.recording, 7);
    TDedicatedSessionStateManager& manager = Start();
    ASSERT_EQ(manager.GetCurrentStateId(), kMatchMakingStateId);
    TakeJournal();
    for (const TStep& step : c.steps) {
      OrvTest::TManualClock::AdvanceMilliseconds(step.advanceMilliseconds);
      switch (step.kind) {
        case TStep::Kind::Update:
          manager.Update();
          break;
        case TStep::Kind::Change:
          manager.ChangeState(Phase(step.value));
          break;
        case TStep::Kind::Request:
          manager.OnClientStateRequest(users[step.client], step.value);
          break;
        case TStep::Kind::StopCountdown:
          manager.GetCurrentState()->SetStopCountdown(true);
          break;
        case TStep::Kind::SetTimeLeft:
          manager.GetCurrentState()->SetTimeLeft(step.value);
          break;
        case TStep::Kind::Mark:
          world_.Note("--");
          break;
      }
    }
    EXPECT_EQ(TakeJournal(), c.journal);
    EXPECT_EQ(manager.GetCurrentStateId(), c.phase);
    EXPECT_EQ(Property("GameState"), Decimal(c.phase));
    EXPECT_EQ(Property("TimeLeft"), c.timeLeft);
    std::vector<std::uint32_t> requested;
    for (const TDedicatedUser* user : users) requested.push_back(user->GetRequestState());
    EXPECT_EQ(requested, c.requested);

    // The next row starts afresh; the phases left and not deleted yet go with the machine.
    EndSession();
    world_.journal.clear();
    MakeSession();
  }
}

// ---- What the clients are sent.

std::string ThreeValues(std::uint8_t channel, std::uint32_t first, std::uint32_t second, std::uint32_t third) {
  const std::string bytes = OrvTest::Frame(
      channel, OrvTest::BigEndian(first, 4) + OrvTest::BigEndian(second, 4) + OrvTest::BigEndian(third, 4));
  return OrvTest::HexText(bytes.data(), bytes.size());
}

// Every connected client, spectators too, gets each change (206) and each countdown step (205)
// with the session's tick; the 205 of the step that reaches 0 comes before the 206 of the change.
// A client without a connection gets nothing and costs no line; a send that fails is logged and the
// others go on.
TEST_F(StateManagerTest, PhaseFramesToEveryConnectedClient) {
  world_.plans[kLoadingStateId] = Limit(2);
  TDedicatedUser* player = Admit(0x201, true);
  TDedicatedUser* spectator = Admit(0x202, true);
  TDedicatedUser* failing = Admit(0x203, true);
  TDedicatedUser* closed = Admit(0x204, true);
  ASSERT_TRUE(player != nullptr && spectator != nullptr && failing != nullptr && closed != nullptr);
  spectator->SetSpectator(true);
  closed->CloseConnection();
  // Nothing more can be queued on this connection: every send to it fails.
  evbuffer* output = bufferevent_get_output(failing->GetConnection()->GetBufferEvent());
  evbuffer_freeze(output, 0);
  session_->SetRecordingForTests(false, 7);

  TDedicatedSessionStateManager& manager = Start();
  manager.ChangeState(Phase(kLoadingStateId));
  OrvTest::TManualClock::AdvanceMilliseconds(1001);
  manager.Update();
  OrvTest::TManualClock::AdvanceMilliseconds(1001);
  manager.Update();
  evbuffer_unfreeze(output, 0);

  const std::vector<std::string> expected = {ThreeValues(206, kNoStateId, 0, 7), ThreeValues(206, 0, 51, 7),
                                             ThreeValues(205, 51, 1, 7), ThreeValues(205, 51, 0, 7),
                                             ThreeValues(206, 51, 52, 7)};
  ASSERT_EQ(expected[0], "000dceffffffff0000000000000007");
  ReceivePhaseFrames(2, expected.size());
  EXPECT_EQ(readers_[0]->Frames(), expected);
  EXPECT_EQ(readers_[1]->Frames(), expected);
  EXPECT_EQ(readers_[2]->Frames(), std::vector<std::string>());
  EXPECT_EQ(readers_[3]->Frames(), std::vector<std::string>());
  const std::string nextStateLine = "Failed to send next state packet to client " + Decimal(0x203);
  const std::string timerLine = "Failed to send state timer packet to client " + Decimal(0x203);
  EXPECT_EQ(Count(nextStateLine), 3u);
  EXPECT_EQ(Count(timerLine), 2u);
  EXPECT_EQ(LevelOf(nextStateLine), 0);
  EXPECT_EQ(LevelOf(timerLine), 0);
  // A client without a connection is not even tried.
  for (const char* channel : {"205", "206"}) {
    EXPECT_FALSE(Logged(std::string("Trying to send a packet to null socket in channel ") + channel));
  }
  EXPECT_EQ(Count("Failed to send next state packet to client " + Decimal(0x204)), 0u);
  EXPECT_EQ(Count("Failed to send state timer packet to client " + Decimal(0x204)), 0u);
}

// Every request is logged, also one the phase does not take; a taken one can end the phase at once.
TEST_F(StateManagerTest, ClientRequestsAreLoggedThenHandedToThePhase) {
  TPhasePlan loading = ReadyBy(TPhasePlan::Ready::ByRequests, kDeploymentStateId);
  loading.ignoredRequests = {kCommandStateId};
  world_.plans[kLoadingStateId] = loading;
  TDedicatedUser* first = Admit(0x301, false);
  TDedicatedUser* second = Admit(0x302, false);
  ASSERT_TRUE(first != nullptr && second != nullptr);
  TDedicatedSessionStateManager& manager = Start();
  manager.ChangeState(Phase(kLoadingStateId));

  manager.OnClientStateRequest(first, kCommandStateId);
  EXPECT_TRUE(Logged("Client " + Decimal(0x301) + " want request state to 53"));
  EXPECT_EQ(first->GetRequestState(), kLoadingStateId);
  manager.OnClientStateRequest(first, kDeploymentStateId);
  EXPECT_EQ(manager.GetCurrentStateId(), kLoadingStateId);
  manager.OnClientStateRequest(second, kDeploymentStateId);
  EXPECT_TRUE(Logged("Client " + Decimal(0x302) + " want request state to 52"));
  EXPECT_EQ(LevelOf("Client " + Decimal(0x302) + " want request state to 52"), 0);
  EXPECT_EQ(manager.GetCurrentStateId(), kDeploymentStateId);
}

// The machine answers for the phase in force and hands it the session's events and the clients'
// game messages; before its first phase it answers as no game.
TEST_F(StateManagerTest, AnswersAndHandOversFollowThePhaseInForce) {
  TPhasePlan matchMaking;
  matchMaking.running = false;
  matchMaking.canExit = true;
  matchMaking.next = kLoadingStateId;
  world_.plans[kMatchMakingStateId] = matchMaking;
  world_.plans[kLoadingStateId] = Limit(120);
  {
    TDedicatedSessionStateManager empty(session_.get());
    EXPECT_FALSE(empty.IsGameRunning());
    EXPECT_TRUE(empty.CanExit());
    EXPECT_EQ(empty.GetCurrentStateId(), kNoStateId);
    EXPECT_EQ(empty.GetCurrentTimeLeft(), kNoTimeLimit);
    empty.PostEvent(nullptr, kStateEventLaunch);
    empty.Update();
  }
  TDedicatedUser* user = Admit(0x401, false);
  ASSERT_NE(user, nullptr);
  TDedicatedSessionStateManager& manager = Start();
  EXPECT_FALSE(manager.IsGameRunning());
  EXPECT_TRUE(manager.CanExit());
  EXPECT_EQ(manager.GetCurrentTimeLeft(), kNoTimeLimit);
  manager.ChangeState(Phase(kLoadingStateId));
  EXPECT_TRUE(manager.IsGameRunning());
  EXPECT_FALSE(manager.CanExit());  // the phases' default
  EXPECT_EQ(manager.GetCurrentTimeLeft(), 120u);
  EXPECT_EQ(manager.GetCurrentStateId(), kLoadingStateId);

  TakeJournal();
  manager.PostEvent(nullptr, kStateEventLaunch);
  manager.PostEvent(user, kStateEventClientRemoved);
  Network::TPacketBufferPtr message;
  const char bytes[] = "gabc";
  Network::CreatePacketBuffer(message, bytes, 4);
  manager.OnClientMessage(user, message);
  EXPECT_EQ(TakeJournal(), (std::vector<std::string>{"event 1000 from none", "event 1 from " + Decimal(0x401),
                                                     "message from " + Decimal(0x401) + " of 4 bytes"}));
}

// Phases left and not deleted yet when the machine goes are deleted with it, and a null phase
// changes nothing.
TEST_F(StateManagerTest, DestructionDeletesEveryPhaseOnce) {
  const int madeBefore = world_.made;
  const int deletedBefore = world_.deleted;
  auto* manager = new TDedicatedSessionStateManager(session_.get());
  manager->ChangeState(new TScriptedPhase(manager, kMatchMakingStateId));
  manager->ChangeState(new TScriptedPhase(manager, kLoadingStateId));
  manager->ChangeState(new TScriptedPhase(manager, kDeploymentStateId));
  manager->ChangeState(nullptr);
  EXPECT_EQ(manager->GetRetiredCount(), 2u);
  EXPECT_EQ(manager->GetCurrentStateId(), kDeploymentStateId);
  delete manager;
  EXPECT_EQ(world_.made - madeBefore, 3);
  EXPECT_EQ(world_.deleted - deletedBefore, 3);
}

}  // namespace
}  // namespace Orvan::Dedicated
