// The running game in process, with the clock in the test's hands: the 200 ms tick relaying every
// player's orders to every player, the catching up after a stall, the orders' cap, the players'
// tick reports and checksums, the replay saved when the game stops (with its chunks, its numbering
// and its desync copy), the file it is written to as it is recorded, and the spectators' stream of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "core/filesystem/native_file_operations.h"
#include "core/streams/memory_stream.h"
#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/game/replay_recording.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/states/phase_factories.h"
#include "dedicated/game/user_action_buffer.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/files/save_file_writer.h"
#include "network/files/spooled_save_file_writer.h"
#include "support/client_channel_fixture.h"
#include "support/manual_clock.h"
#include "support/running_game_phase.h"
#include "support/native_file_calls.h"
#include "support/save_file_recorder.h"

namespace Orvan::Dedicated {
namespace {

using OrvTest::BigEndian;
using OrvTest::Frame;
using OrvTest::GameFrame;
using OrvTest::RelayBody;
using OrvTest::Tag;

constexpr std::uint32_t kEvery = TDedicatedSession::kEveryPlayer;


std::string LittleEndian(std::uint32_t value, int bytes) {
  std::string text;
  for (int i = 0; i < bytes; ++i) text += static_cast<char>((value >> (8 * i)) & 0xFF);
  return text;
}
// One player's actions payload for a tick.
std::string Actions(std::uint32_t tick, std::uint32_t player, std::uint32_t count, const std::string& bytes) {
  return LittleEndian(tick, 4) + LittleEndian(player, 4) + LittleEndian(count, 4) +
         LittleEndian(static_cast<std::uint32_t>(bytes.size()), 2) + bytes;
}
// A 'g' message's data: the tick and the checksum at bytes 0 and 8, then `extra` more bytes.
std::string TickReport(std::uint32_t tick, std::uint32_t checksum, std::size_t extra = 1) {
  return LittleEndian(tick, 4) + std::string(4, '\0') + LittleEndian(checksum, 4) + std::string(extra, 'x');
}
std::string KickFrame(std::uint32_t reason) { return std::string("\xc7\x00", 2) + BigEndian(reason, 4); }

std::vector<std::string> OnChannel(const std::vector<std::string>& frames, std::uint8_t channel) {
  std::vector<std::string> kept;
  for (const std::string& frame : frames) {
    if (!frame.empty() && static_cast<std::uint8_t>(frame[0]) == channel) kept.push_back(frame);
  }
  return kept;
}

std::string ReadFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

OrvTest::TSaveFileRecorder WalkBytes(const std::string& bytes) {
  TMemoryStream stream;
  stream.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  stream.SetPosition(0);
  return OrvTest::WalkSaveFile(stream);
}

class GameRelayTest : public OrvTest::TChannelTest<TStrivexDedicatedSession> {
 protected:
  TDedicatedSessionStateManager& Manager() { return *session_.GetStateManager(); }
  // Out of match making (players numbered) into a game that runs until StopGame; the recording
  // starts with the next update.
  void StartGame() {
    Manager().ChangeState(new OrvTest::TRunningGamePhase(&Manager()));
    session_.Update();
    ASSERT_TRUE(session_.IsRecording());
  }
  void StopGame() {
    Manager().ChangeState(CreateMatchMakingPhase(&Manager()));
    session_.Update();
  }
  // One tick's time, then one update.
  void Step() {
    OrvTest::TManualClock::AdvanceMilliseconds(TDedicatedSession::kTickMilliseconds);
    session_.Update();
  }
  std::uint32_t Number(const TPeer& peer) const { return static_cast<std::uint32_t>(peer.user->GetPlayerNumber()); }
  // The kill's frame and the connection's end, as the peer sees them.
  std::string ReadUntilClosed(TPeer& peer) {
    std::string bytes;
    OrvTest::RunLoopUntil(*task_->GetSocketManager(), [&] {
      char buffer[4096];
      while (OrvTest::WaitReadable(peer.pair->second, 0)) {
        const ssize_t got = ::recv(peer.pair->second, buffer, sizeof(buffer), 0);
        if (got <= 0) return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
      }
      return false;
    });
    return bytes;
  }

  OrvTest::TManualClock clock_;
};

TEST_F(GameRelayTest, EachTickRelaysEveryPlayersOrdersToEveryPlayerAndNoneToSpectators) {
  TPeer& first = Admit(0x1001);
  TPeer& second = Admit(0x1002);
  TPeer& spectator = Admit(0x1003, true);
  StartGame();
  ASSERT_NE(Number(first), Number(second));
  for (TPeer* peer : {&first, &second, &spectator}) Received(*peer);

  // Orders arrive in two messages; they leave in one packet, in the order received.
  EXPECT_TRUE(Feed(first, GameFrame(kEvery, 'd', "ab") + GameFrame(kEvery, 'd', "cde")));
  Step();
  const std::vector<std::string> tick0 = {RelayBody(first.id, 'd', Actions(0, Number(first), 2, "abcde")),
                                          RelayBody(second.id, 'd', Actions(0, Number(second), 0, ""))};
  EXPECT_EQ(OnChannel(Received(first), kChannelGameData), tick0);
  EXPECT_EQ(OnChannel(Received(second), kChannelGameData), tick0);
  EXPECT_TRUE(OnChannel(Received(spectator), kChannelGameData).empty());

  // Nothing sent: every player still gets an empty packet per player.
  Step();
  const std::vector<std::string> tick1 = {RelayBody(first.id, 'd', Actions(1, Number(first), 0, "")),
                                          RelayBody(second.id, 'd', Actions(1, Number(second), 0, ""))};
  EXPECT_EQ(OnChannel(Received(first), kChannelGameData), tick1);
  EXPECT_EQ(OnChannel(Received(second), kChannelGameData), tick1);
  EXPECT_EQ(session_.GetTickCounter(), 2u);

  // Orders sent outside a game are not kept for the next one.
  StopGame();
  EXPECT_FALSE(session_.IsRecording());
  EXPECT_TRUE(Feed(first, GameFrame(kEvery, 'd', "zz")));
  EXPECT_EQ(first.user->GetActionBuffer()->GetSize(), 0u);
  Step();
  EXPECT_TRUE(OnChannel(Received(first), kChannelGameData).empty());
}

TEST_F(GameRelayTest, ALateServerCatchesUpOneTickPerUpdate) {
  Admit(0x2001);
  StartGame();
  OrvTest::TManualClock::AdvanceMilliseconds(1000);
  std::vector<std::uint32_t> counters;
  for (int update = 0; update < 6; ++update) {
    session_.Update();
    counters.push_back(session_.GetTickCounter());
  }
  EXPECT_EQ(counters, (std::vector<std::uint32_t>{1, 2, 3, 4, 5, 5}));
}

TEST_F(GameRelayTest, WhileAGameIsRecordedTheLoopsSliceEndsWhenTheNextTickIsDue) {
  Admit(0x2101);
  const auto toTick = [this] { return session_.GetMillisecondsToNextTick(OrvTest::TManualClock::Now()); };
  const auto slice = [this] { return task_->GetEventSliceMilliseconds(OrvTest::TManualClock::Now()); };
  EXPECT_LT(toTick(), 0.0);
  EXPECT_EQ(slice(), kLoopStepMilliseconds);
  StartGame();  // the recording starts now; tick 0 runs at the first update once time has moved
  struct TStep {
    double advance;         // milliseconds
    bool update;
    double toTick;          // expected, in milliseconds
    std::uint32_t slice;    // expected, in milliseconds
  };
  const TStep steps[] = {
      {0, false, 0, 1},      // tick 0 is due: one pass of the loop, then the update runs it
      {1, true, 199, 25},    // tick 1 at 200 ms
      {150, false, 49, 25},
      {30, false, 19, 20},   // a slice ending up to a millisecond past the tick's time
      {18.5, false, 0.5, 2},
      {10.5, false, 0, 1},   // late: the next pass ticks
      {0, true, 190, 25},    // tick 1 ran at 210 ms; tick 2 stays at 400 ms
  };
  for (const TStep& step : steps) {
    OrvTest::TManualClock::AdvanceMilliseconds(step.advance);
    if (step.update) session_.Update();
    EXPECT_NEAR(toTick(), step.toTick, 1e-6) << "after " << step.advance << " ms";
    EXPECT_EQ(slice(), step.slice) << "after " << step.advance << " ms";
  }
  StopGame();
  EXPECT_LT(toTick(), 0.0);
  EXPECT_EQ(slice(), kLoopStepMilliseconds);
}

TEST_F(GameRelayTest, OrdersFromSpectatorsAreDroppedAndAFloodKicks) {
  TPeer& player = Admit(0x3001);
  TPeer& spectator = Admit(0x3002, true);
  TPeer& flooder = Admit(0x3003);
  TPeer& empty = Admit(0x3004);
  StartGame();

  EXPECT_TRUE(Feed(spectator, GameFrame(kEvery, 'd', "x")));
  EXPECT_TRUE(Logged("Drop packet received from client " + std::to_string(spectator.id) +
                     " (reason : client is spectator and is trying to send packet reserved for playing client !)"));
  EXPECT_EQ(spectator.user->GetActionBuffer()->GetSize(), 0u);

  // 4063 bytes in one tick pass; one more byte is a flood.
  EXPECT_TRUE(Feed(player, GameFrame(kEvery, 'd', std::string(kUserActionBufferLimit, 'p'))));
  EXPECT_TRUE(session_.FindClientById(Network::OrvNetId::FromValue(player.id)) != nullptr);
  EXPECT_FALSE(Feed(flooder, GameFrame(kEvery, 'd', std::string(4000, 'f')) + GameFrame(kEvery, 'd', std::string(64, 'f')) +
                                 GameFrame(kEvery, 'd', "after")));
  EXPECT_TRUE(Logged("Disconnecting client " + std::to_string(flooder.id)));
  EXPECT_EQ(session_.FindClientById(Network::OrvNetId::FromValue(flooder.id)), nullptr);
  EXPECT_NE(ReadUntilClosed(flooder).find(Frame(kChannelLastPacket, KickFrame(15).substr(1))), std::string::npos);

  // An order of no bytes at all is refused the same way.
  session_.OnClientGameData(empty.user, Network::TPacketBufferPtr(), kEvery);
  Network::TPacketBufferPtr nothing;
  Network::CreatePacketBuffer(nothing, nullptr, 0);
  nothing->channel = 'd';
  session_.OnClientGameData(empty.user, nothing, kEvery);
  EXPECT_EQ(session_.FindClientById(Network::OrvNetId::FromValue(empty.id)), nullptr);
  EXPECT_NE(ReadUntilClosed(empty).find(Frame(kChannelLastPacket, KickFrame(15).substr(1))), std::string::npos);
}

TEST_F(GameRelayTest, TickReportsRecordPastTicksAndTwoChecksumsForOneTickAreADesync) {
  TPeer& first = Admit(0x4001);
  TPeer& second = Admit(0x4002);
  TPeer& third = Admit(0x4003);
  StartGame();
  for (int tick = 0; tick < 3; ++tick) Step();
  ASSERT_EQ(session_.GetTickCounter(), 3u);
  Received(first);

  struct Case {
    const char* what;
    TPeer* sender;
    std::string data;
    std::uint32_t reportedTick;  // the sender's last reported tick afterwards
    std::uint32_t checksums;     // ticks in the table afterwards
    bool desync;
  };
  const std::vector<Case> cases = {
      {"12 bytes carry no tick", &first, TickReport(1, 7, 0), 0, 0, false},
      {"13 bytes do", &first, TickReport(1, 7), 1, 1, false},
      {"the same checksum again", &second, TickReport(1, 7), 1, 1, false},
      {"a tick not run yet is not recorded", &second, TickReport(3, 9), 3, 1, false},
      {"another tick", &second, TickReport(2, 5, 20), 2, 2, false},
      {"another checksum for tick 1", &third, TickReport(1, 8), 1, 2, true},
      {"an equal one does not clear the flag", &third, TickReport(1, 7), 1, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_TRUE(Feed(*c.sender, GameFrame(kEvery, 'g', c.data)));
    EXPECT_EQ(c.sender->user->GetLastReportedTick(), c.reportedTick);
    EXPECT_EQ(session_.GetTickChecksumCount(), c.checksums);
    EXPECT_EQ(session_.IsDesynchronized(), c.desync);
  }
  // Every 'g' is relayed to every player, the sender too.
  EXPECT_EQ(OnChannel(Received(first), kChannelGameData).size(), cases.size());

  // A new recording starts with an empty table and no desync.
  StopGame();
  StartGame();
  EXPECT_FALSE(session_.IsDesynchronized());
  EXPECT_EQ(session_.GetTickChecksumCount(), 0u);
}

// A player's game messages of one tick are held to the orders' 4,063 bytes, counted as the frames
// relayed of them: a report of 16 bytes is a frame of 28, so 145 fit a tick, each tick anew, and the
// 146th is a flood that kicks its sender unrelayed. The other players lose nothing.
TEST_F(GameRelayTest, GameMessagesOfATickAreHeldToTheOrdersCapAndAFloodKicks) {
  TPeer& steady = Admit(0xA001);
  TPeer& flooder = Admit(0xA002);
  StartGame();
  Received(steady);
  const auto reports = [](int count) {
    std::string frames;
    for (int i = 0; i < count; ++i) frames += GameFrame(kEvery, 'g', TickReport(0, 7, 4));
    return frames;
  };
  const auto relayedReports = [&] {
    std::size_t count = 0;
    for (const std::string& frame : OnChannel(Received(steady), kChannelGameData)) count += frame[9] == 'g' ? 1 : 0;
    return count;
  };
  for (int tick = 0; tick < 2; ++tick) {
    SCOPED_TRACE(tick);
    EXPECT_TRUE(Feed(flooder, reports(145)));
    EXPECT_EQ(relayedReports(), 145u);
    EXPECT_TRUE(Feed(steady, GameFrame(kEvery, 'g', TickReport(0, 7))));
    EXPECT_EQ(relayedReports(), 1u);
    Step();
    Received(steady);
  }
  const std::size_t from = Lines().size();
  EXPECT_FALSE(Feed(flooder, reports(146)));
  const std::string id = std::to_string(flooder.id);
  EXPECT_EQ(LinesFrom(from)[0], "Dropping game message, flooding (client " + id + ")");
  EXPECT_TRUE(Logged("Disconnecting client " + id));
  EXPECT_EQ(session_.FindClientById(Network::OrvNetId::FromValue(flooder.id)), nullptr);
  EXPECT_EQ(relayedReports(), 145u);
  EXPECT_NE(ReadUntilClosed(flooder).find(Frame(kChannelLastPacket, KickFrame(15).substr(1))), std::string::npos);
  // The steady player's one report a tick, and its ticks, go on.
  EXPECT_TRUE(Feed(steady, GameFrame(kEvery, 'g', TickReport(1, 7))));
  Step();
  const std::vector<std::string> frames = OnChannel(Received(steady), kChannelGameData);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0], RelayBody(steady.id, 'g', TickReport(1, 7)));
  EXPECT_EQ(frames[1], RelayBody(steady.id, 'd', Actions(2, Number(steady), 0, "")));
}

TEST_F(GameRelayTest, TheSavedReplayHoldsTheHeaderThenThreeKindsOfChunkPerTick) {
  session_.GetPropertyTable()->SetVariable("Password", "secret", false, false, false, true);
  TPeer& first = Admit(0x5001);
  TPeer& second = Admit(0x5002);
  Admit(0x5003, true);
  StartGame();
  EXPECT_TRUE(Feed(second, GameFrame(kEvery, 'd', "go")));
  Step();
  // A change of phase during tick 1 is that tick's state record.
  Manager().ChangeState(new OrvTest::TRunningGamePhase(&Manager()));
  Step();
  // Back in match making the players lose their numbers.
  const std::uint32_t firstNumber = Number(first);
  const std::uint32_t secondNumber = Number(second);
  StopGame();
  EXPECT_FALSE(session_.IsRecording());

  const OrvTest::TSaveFileRecorder walk = WalkBytes(ReadFile("Replays/lastreplay001.orvgamerpl2"));
  EXPECT_EQ(walk.Ending(), "end intact");
  ASSERT_EQ(walk.chunks.size(), 1u + 2 * 4);
  const std::string& header = walk.chunks[0].data;
  EXPECT_EQ(walk.chunks[0].tag, Tag("rply"));
  EXPECT_EQ(header.rfind("{\"game\":{", 0), 0u) << header;
  EXPECT_EQ(header.find("secret"), std::string::npos);
  EXPECT_EQ(header.find("\"Password\""), std::string::npos);
  // The players, and no member for the spectator.
  EXPECT_NE(header.find("\"player_" + std::to_string(firstNumber) + "\":{"), std::string::npos) << header;
  EXPECT_NE(header.find("\"player_" + std::to_string(secondNumber) + "\":{"), std::string::npos) << header;
  EXPECT_EQ(header.find("\"player_-1\""), std::string::npos) << header;
  EXPECT_EQ(header.find("player_", header.find("player_", header.find("player_") + 1) + 1), std::string::npos) << header;

  std::vector<std::uint32_t> tags;
  for (std::size_t i = 1; i < walk.chunks.size(); ++i) tags.push_back(walk.chunks[i].tag);
  EXPECT_EQ(tags, (std::vector<std::uint32_t>{Tag("star"), Tag("pact"), Tag("pact"), Tag("endt"), Tag("star"),
                                              Tag("pact"), Tag("pact"), Tag("endt")}));
  // Tick 0 changed nothing; tick 1 holds the change (kind 5: unused, from 53, to 53, unused, tick).
  EXPECT_EQ(walk.chunks[1].data, LittleEndian(0, 4) + LittleEndian(0, 4));
  EXPECT_EQ(walk.chunks[5].data, LittleEndian(1, 4) + LittleEndian(1, 4) + LittleEndian(5, 4) + LittleEndian(0, 2) +
                                     LittleEndian(0xFFFFFFFF, 4) + LittleEndian(53, 4) + LittleEndian(53, 4) +
                                     LittleEndian(0xFFFFFFFF, 4) + LittleEndian(1, 4));
  // The payload each player was relayed, and the empty departed set.
  EXPECT_EQ(walk.chunks[2].data, Actions(0, firstNumber, 0, ""));
  EXPECT_EQ(walk.chunks[3].data, Actions(0, secondNumber, 1, "go"));
  EXPECT_EQ(walk.chunks[4].data, LittleEndian(0, 4) + LittleEndian(0, 4) + LittleEndian(0, 4));
  EXPECT_EQ(ReadFile("Replays/desync_replay001.orvgamerpl2"), "");
}

TEST(ReplayPayloads, StateRecordsAndDepartedPlayers) {
  TVector<TStateRecord> records;
  TStateRecord change;
  change.kind = kStateRecordStateChange;
  change.text = "ab";
  for (std::uint32_t i = 0; i < kStateRecordValueCount; ++i) change.values[i] = i + 1;
  records.PushBack(change);
  const std::vector<std::uint8_t> star = MakeStateRecordsPayload(9, records);
  EXPECT_EQ(std::string(star.begin(), star.end()),
            LittleEndian(9, 4) + LittleEndian(1, 4) + LittleEndian(5, 4) + LittleEndian(2, 2) + "ab" +
                LittleEndian(1, 4) + LittleEndian(2, 4) + LittleEndian(3, 4) + LittleEndian(4, 4) + LittleEndian(5, 4));

  struct Case {
    std::vector<std::uint32_t> players;
    std::uint32_t low;
    std::uint32_t high;
  };
  const std::vector<Case> cases = {
      {{}, 0, 0}, {{3}, 1u << 3, 0}, {{40}, 0, 1u << 8}, {{0, 31, 32, 63}, 0x80000001u, 0x80000001u}};
  for (const Case& c : cases) {
    TVector<std::uint32_t> departed;
    for (std::uint32_t player : c.players) departed.PushBack(player);
    const std::vector<std::uint8_t> endt = MakeDepartedPlayersPayload(7, departed);
    EXPECT_EQ(std::string(endt.begin(), endt.end()), LittleEndian(7, 4) + LittleEndian(c.low, 4) + LittleEndian(c.high, 4));
  }
  EXPECT_EQ(ReplayFileName("lastreplay", 1), "Replays/lastreplay001.orvgamerpl2");
  EXPECT_EQ(ReplayFileName("desync_replay", 100), "Replays/desync_replay100.orvgamerpl2");
}

TEST_F(GameRelayTest, LeaversOfATickAreItsDepartedSet) {
  TPeer& first = Admit(0x6001);
  TPeer& second = Admit(0x6002);
  Admit(0x6003);
  StartGame();
  Step();
  first.user->SetPlayerNumber(40);
  first.user->Disconnect(ClientDisconnectReason::ConnectionLost);
  second.user->SetPlayerNumber(3);
  second.user->Disconnect(ClientDisconnectReason::ConnectionLost);
  Step();
  StopGame();
  const OrvTest::TSaveFileRecorder walk = WalkBytes(ReadFile("Replays/lastreplay001.orvgamerpl2"));
  ASSERT_FALSE(walk.chunks.empty());
  EXPECT_EQ(walk.chunks.back().tag, Tag("endt"));
  EXPECT_EQ(walk.chunks.back().data, LittleEndian(1, 4) + LittleEndian(1u << 3, 4) + LittleEndian(1u << 8, 4));
}

TEST_F(GameRelayTest, ReplaysAreNumberedToAHundredAndADesyncGameIsSavedTwice) {
  TPeer& first = Admit(0x7001);
  TPeer& second = Admit(0x7002);
  ASSERT_FALSE(NativeFileExists("Replays/"));
  struct Case {
    std::uint32_t counter;
    bool desync;
    const char* name;
    std::uint32_t next;
  };
  const std::vector<Case> cases = {
      {1, false, "001", 2}, {2, true, "002", 3}, {100, false, "100", 1}, {1, false, "001", 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    session_.SetReplayCounterForTests(c.counter);
    StartGame();
    Step();
    Step();
    if (c.desync) {
      EXPECT_TRUE(Feed(first, GameFrame(kEvery, 'g', TickReport(0, 1))));
      EXPECT_TRUE(Feed(second, GameFrame(kEvery, 'g', TickReport(0, 2))));
    }
    StopGame();
    const std::string saved = ReadFile(std::string("Replays/lastreplay") + c.name + ".orvgamerpl2");
    EXPECT_EQ(WalkBytes(saved).Ending(), "end intact");
    EXPECT_EQ(ReadFile(std::string("Replays/desync_replay") + c.name + ".orvgamerpl2"), c.desync ? saved : "");
    EXPECT_EQ(session_.GetReplayCounter(), c.next);
  }
}

TEST_F(GameRelayTest, SpectatorsAreStreamedTheReplayOnePieceOfAtMost4064BytesPerTick) {
  TPeer& player = Admit(0x8001);
  StartGame();
  // Admitted during the game: a spectator.
  TPeer& late = Admit(0x8002, true);
  Received(late);
  std::string streamed;
  std::vector<std::size_t> pieces;
  for (int tick = 0; tick < 40; ++tick) {
    // More than a piece's worth per tick: the spectator never catches up.
    EXPECT_TRUE(Feed(player, GameFrame(kEvery, 'd', std::string(4000, static_cast<char>(tick)))));
    Step();
    const std::vector<std::string> frames = OnChannel(Received(late), kChannelReplayStream);
    ASSERT_LE(frames.size(), 1u);
    if (frames.empty()) continue;
    ASSERT_EQ(frames[0].substr(0, 5), std::string("\xcf\0\0\0\0", 5));
    pieces.push_back(frames[0].size() - 5);
    streamed += frames[0].substr(5);
  }
  EXPECT_EQ(pieces, std::vector<std::size_t>(40, 4064));
  StopGame();
  const std::string saved = ReadFile("Replays/lastreplay001.orvgamerpl2");
  ASSERT_GE(saved.size(), streamed.size());
  // The size and the digest are written at the save.
  EXPECT_EQ(saved.substr(0, 8), streamed.substr(0, 8));
  EXPECT_EQ(saved.substr(40, streamed.size() - 40), streamed.substr(40));
}

// At the orders' cap (64 players of 4,063 bytes) the replay grows by about 260 kB a tick: it goes to
// its file as it is recorded, the writer's memory stays within its buffer however long the game
// runs, and the sealed file is byte for byte the container the memory writer lays out.
TEST_F(GameRelayTest, TheReplayIsWrittenToItsFileAsItIsRecorded) {
  constexpr std::uint32_t kTicks = 30;
  constexpr std::uint32_t kBuffer = TSpooledSaveFileWriter::kBufferBytes;
  session_.SetNbMaxPlayer(kMaxPlayerLimit, false, false, false, true);
  std::vector<TDedicatedUser*> players;
  for (std::uint64_t i = 0; i < kMaxPlayerLimit; ++i) {
    players.push_back(OrvTest::AdmitClient(session_, nullptr, 0xA000 + i));
    ASSERT_NE(players.back(), nullptr);
  }
  StartGame();
  const std::string orders(kUserActionBufferLimit, 'o');
  std::size_t mostResident = 0;
  for (std::uint32_t tick = 0; tick < kTicks; ++tick) {
    for (TDedicatedUser* player : players) {
      ASSERT_TRUE(player->GetActionBuffer()->Append(orders.data(), kUserActionBufferLimit));
    }
    Step();
    const TSpooledSaveFileWriter* writer = session_.GetReplayWriter();
    ASSERT_NE(writer, nullptr);
    mostResident = std::max(mostResident, writer->GetResidentBytes());
    EXPECT_GE(std::filesystem::file_size(kRecordingReplayFile) + kBuffer, writer->GetSize()) << tick;
  }
  EXPECT_GT(session_.GetReplayWriter()->GetSize(), kTicks * kMaxPlayerLimit * kUserActionBufferLimit);
  EXPECT_LE(mostResident, kBuffer);
  StopGame();

  const std::string saved = ReadFile("Replays/lastreplay001.orvgamerpl2");
  EXPECT_FALSE(NativeFileExists(kRecordingReplayFile));
  const OrvTest::TSaveFileRecorder walk = WalkBytes(saved);
  EXPECT_EQ(walk.Ending(), "end intact");
  ASSERT_EQ(walk.chunks.size(), 1u + kTicks * (2 + kMaxPlayerLimit));
  TSaveFileWriter reference;
  ASSERT_TRUE(reference.Begin());
  for (const OrvTest::TRecordedChunk& chunk : walk.chunks) {
    const auto size = static_cast<std::uint32_t>(chunk.data.size());
    ASSERT_TRUE(reference.AddChunk(chunk.tag, chunk.value, chunk.data.data(), size));
  }
  ASSERT_TRUE(reference.Finish());
  const TMemoryStream& bytes = *reference.GetStream();
  EXPECT_TRUE(saved == std::string(reinterpret_cast<const char*>(bytes.GetData()), bytes.GetSize()));
}

// A spectator admitted once most of the replay has left the writer's memory is streamed it from
// its first byte, read back from the file: the replay's bytes, the size and digest still zero.
TEST_F(GameRelayTest, ASpectatorJoiningLateIsStreamedTheReplayFromItsFirstByte) {
  TPeer& player = Admit(0x8101);
  StartGame();
  for (int tick = 0; tick < 40; ++tick) {
    EXPECT_TRUE(Feed(player, GameFrame(kEvery, 'd', std::string(4000, static_cast<char>(tick)))));
    Step();
  }
  ASSERT_GT(session_.GetReplayWriter()->GetSize(), 2 * TSpooledSaveFileWriter::kBufferBytes);
  TPeer& late = Admit(0x8102, true);
  Received(late);
  std::string streamed;
  for (int tick = 0; tick < 10; ++tick) {
    Step();
    const std::vector<std::string> frames = OnChannel(Received(late), kChannelReplayStream);
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(frames[0].size(), 5u + 4064);
    ASSERT_EQ(frames[0].substr(0, 5), std::string("\xcf\0\0\0\0", 5));
    streamed += frames[0].substr(5);
  }
  StopGame();
  const std::string saved = ReadFile("Replays/lastreplay001.orvgamerpl2");
  ASSERT_GE(saved.size(), streamed.size());
  EXPECT_EQ(streamed.substr(0, 40), saved.substr(0, 8) + std::string(32, '\0'));
  EXPECT_TRUE(streamed.substr(40) == saved.substr(40, streamed.size() - 40));
}

// The spectators' stream reads the replay back from its file: a file cut short under the server is
// told as a failed read-back, not as a failed write, and the game goes on without replay.
TEST_F(GameRelayTest, AReplayThatCannotBeReadBackIsLoggedAsSuch) {
  TPeer& player = Admit(0x8201);
  StartGame();
  for (int tick = 0; tick < 40; ++tick) {
    EXPECT_TRUE(Feed(player, GameFrame(kEvery, 'd', std::string(4000, 'r'))));
    Step();
  }
  ASSERT_GT(session_.GetReplayWriter()->GetSize(), 2 * TSpooledSaveFileWriter::kBufferBytes);
  std::filesystem::resize_file(kRecordingReplayFile, 0);
  const std::size_t from = Lines().size();
  Admit(0x8202, true);
  Step();
  const std::string line = std::string("Failed to read back replay file ") + kRecordingReplayFile +
                           " (reason : Input/output error), the game goes on without replay";
  const std::vector<std::string> lines = LinesFrom(from);
  EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end());
  EXPECT_EQ(LevelOf(line), 2);
  EXPECT_EQ(session_.GetReplayWriter(), nullptr);
  Step();
  EXPECT_EQ(session_.GetTickCounter(), 42u);
  StopGame();
}

// A replay file that cannot be written is logged at level 2 with its name and the system's reason,
// and the game goes on: a recording whose file fails stops, the orders are still relayed.
TEST_F(GameRelayTest, AReplayFileThatCannotBeWrittenIsLoggedAndTheGameGoesOn) {
  TPeer& first = Admit(0xC001);
  TPeer& second = Admit(0xC002);
  const std::string stopped = ", the game goes on without replay";
  struct Case {
    const char* what;
    bool replaysIsAFile;
    bool fullWhileRecording;
    bool fullAtSave;
    bool desyncCopyIsAFolder;
    std::string line;
    bool saved;
  };
  const std::vector<Case> cases = {
      {"Replays is a file", true, false, false, false,
       "Failed to write replay file Replays/recording.orvgamerpl2.part (reason : Not a directory)" + stopped, false},
      {"the disk fills during the game", false, true, false, false,
       "Failed to write replay file Replays/recording.orvgamerpl2.part (reason : No space left on device)" + stopped,
       false},
      {"the disk fills at the save", false, false, true, false,
       "Failed to write replay file Replays/lastreplay001.orvgamerpl2 (reason : No space left on device)", false},
      {"the desync copy's name is a folder", false, false, false, true,
       "Failed to write replay file Replays/desync_replay001.orvgamerpl2 (reason : Is a directory)", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all("Replays");
    if (c.replaysIsAFile) WriteFile("Replays", "");
    if (c.desyncCopyIsAFolder) std::filesystem::create_directories("Replays/desync_replay001.orvgamerpl2");
    session_.SetReplayCounterForTests(1);
    const std::size_t from = Lines().size();
    StartGame();
    {
      std::optional<OrvTest::TScriptedWrite> full;
      if (c.fullWhileRecording) full.emplace(std::vector<long>{-ENOSPC});
      // More than the writer's buffer: the recording writes to its file.
      for (int tick = 0; tick < 20; ++tick) {
        EXPECT_TRUE(Feed(first, GameFrame(kEvery, 'd', std::string(4000, 'o'))));
        Step();
      }
    }
    EXPECT_EQ(session_.GetTickCounter(), 20u);
    EXPECT_EQ(OnChannel(Received(first), kChannelGameData).size(), 2u * 20);
    EXPECT_EQ(session_.GetReplayWriter() != nullptr, !c.replaysIsAFile && !c.fullWhileRecording);
    EXPECT_TRUE(Feed(first, GameFrame(kEvery, 'g', TickReport(0, 1))));
    EXPECT_TRUE(Feed(second, GameFrame(kEvery, 'g', TickReport(0, 2))));
    {
      std::optional<OrvTest::TScriptedWrite> full;
      if (c.fullAtSave) full.emplace(std::vector<long>{-ENOSPC});
      StopGame();
    }
    const std::vector<std::string> lines = LinesFrom(from);
    EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end());
    EXPECT_EQ(LevelOf(c.line), 2);
    EXPECT_EQ(NativeFileExists("Replays/lastreplay001.orvgamerpl2"), c.saved);
    EXPECT_FALSE(NativeFileExists(kRecordingReplayFile));
    for (TPeer* peer : {&first, &second}) Received(*peer);
  }
}

TEST_F(GameRelayTest, TheLastPlayerLeavingEndsTheGameForTheSpectators) {
  TPeer& first = Admit(0x9001);
  TPeer& second = Admit(0x9002);
  TPeer& spectator = Admit(0x9003, true);
  StartGame();
  Step();
  first.user->Disconnect(ClientDisconnectReason::ConnectionLost);
  EXPECT_EQ(Manager().GetCurrentStateId(), kCommandStateId);
  second.user->Disconnect(ClientDisconnectReason::ConnectionLost);
  EXPECT_EQ(Manager().GetCurrentStateId(), kMatchMakingStateId);
  // The spectator is told, and the replay is saved at the next update.
  EXPECT_EQ(OnChannel(Received(spectator), kChannelNextState).back(),
            "\xce" + BigEndian(kCommandStateId, 4) + BigEndian(kMatchMakingStateId, 4) + BigEndian(1, 4));
  Step();
  EXPECT_FALSE(session_.IsRecording());
  EXPECT_TRUE(NativeFileExists("Replays/lastreplay001.orvgamerpl2"));
}

}  // namespace
}  // namespace Orvan::Dedicated
