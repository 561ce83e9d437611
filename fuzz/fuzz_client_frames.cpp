// Fuzz target of a client's packet handlers. Input: chunks, each a length byte and that many bytes.
// First they are fed one by one to a pending client's connection (in memory) and handled as the
// read callback handles them, until the client is refused. A client is refused at most once and
// then gone; it is accepted by nothing but one well-formed connect packet as its first frame, which
// sends exactly one validation request to the match-making server.
// Then the same chunks are fed to an admitted player's reading loop, beside a second player whose
// connection takes the relays, first in match making, then once more while a game runs: there the
// session's update follows each chunk on a clock moved by one tick, so the players' orders and
// tick reports meet the relay, the replay and the checksum table (an odd number of chunks makes
// the fed client a spectator admitted during the game, which the replay is streamed to). The loop
// reads every whole frame that has arrived, answers false exactly when its user is no longer
// admitted, and sends nothing to the match-making server; the game runs on while a player is
// connected, and the checksum table holds no tick the server has not run.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/states/phase_factories.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"
#include "support/in_process_server.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"
#include "support/scripted_stream.h"

namespace {

using namespace Orvan;
using Orvan::Dedicated::ClientDisconnectReason;
using Orvan::Dedicated::PendingClientState;
using Orvan::Dedicated::TDedicatedUser;
using Orvan::Dedicated::TMainServerTask;
using Orvan::Dedicated::TUserWaitingForLogin;
using OrvTest::FuzzCheck;
using TChunks = std::vector<OrvTest::TScriptedStream::Bytes>;

void DropLog(int, const char*) {}

void FeedPendingClient(Dedicated::TDedicatedSession& session, const TChunks& chunks, OrvTest::TScriptedStream& mms) {
  session.OnNewConnection(nullptr, OrvTest::PeerAddress());
  TUserWaitingForLogin* client = session.GetPendingClients()->FindById(Network::OrvNetId());
  FuzzCheck(client != nullptr, "a new client waits");

  OrvTest::TScriptedStream connection;
  bool refused = false;
  for (std::size_t i = 0; i < chunks.size() && !refused; ++i) {
    connection.Arrive(chunks[i]);
    ClientDisconnectReason reason = ClientDisconnectReason::Success;
    const PendingClientState before = client->GetState();
    while (session.OnPendingClientPacket(&connection, client, reason) && reason == ClientDisconnectReason::Success) {
      FuzzCheck(before == PendingClientState::WaitingForIdentification, "only the first frame can be accepted");
      FuzzCheck(client->GetState() == PendingClientState::WaitingForVerdict, "an accepted packet awaits the verdict");
    }
    if (reason != ClientDisconnectReason::Success) {
      session.RejectPendingClient(client, reason, true);
      refused = true;
      FuzzCheck(session.GetPendingClients()->GetCount() == 0, "a refused client leaves the set");
    }
  }
  const bool validated = !refused && client->GetState() == PendingClientState::WaitingForVerdict;
  // Frame length, channel 226, the id and the 128 bytes of login data: once, after an accepted packet.
  FuzzCheck(mms.written.empty() || (mms.written.size() == 139 && mms.written[2] == 226),
            "nothing but one validation request goes to the match-making server");
  FuzzCheck(!validated || mms.written.size() == 139, "an accepted packet sends its validation request");
  session.ClosePendingClients();
}

// A client whose statistics came, admitted over `connection` (null: none).
TDedicatedUser* Admit(Dedicated::TDedicatedSession& session, std::uint64_t id, Network::TBufferEventSocket* connection) {
  TDedicatedUser* user = OrvTest::AdmitWithStatistics(session, connection, id, Dedicated::TUserStatisticsDocuments());
  FuzzCheck(user != nullptr, "the client is admitted");
  return user;
}

// No whole frame is left unread: what remains is a frame still arriving.
bool OnlyAPartialFrameLeft(TDedicatedUser* user, const OrvTest::TScriptedStream& connection) {
  const std::size_t left = connection.incoming.size();
  if (user->PendingFrameLength() != 0) return left < user->PendingFrameLength();
  if (left < 2) return true;
  const std::size_t length = (std::size_t{connection.incoming[0]} << 8) | connection.incoming[1];
  return left < 2 + length;
}

// Ticks of the session's update per input in a running game: 8 s of game time, short of every
// phase's countdown, so the game never stops and no replay is saved (each input's recording starts
// its file under Replays/ anew).
constexpr int kMaxTicksPerInput = 40;

void FeedAdmittedUser(Dedicated::TDedicatedSession& session, TMainServerTask* task, const TChunks& chunks,
                      OrvTest::TScriptedStream& mms, bool inGame) {
  constexpr std::uint64_t kSender = 0x1001;
  constexpr std::uint64_t kOther = 0x1002;
  OrvTest::TSocketPair pair;
  const bool spectator = inGame && chunks.size() % 2 == 1;
  TDedicatedUser* sender = spectator ? nullptr : Admit(session, kSender, nullptr);
  Admit(session, kOther, new Network::TBufferEventSocket(pair.TakeFirst(), task->GetSocketManager()));
  if (inGame) {
    Dedicated::TDedicatedSessionStateManager* machine = session.GetStateManager();
    machine->ChangeState(Dedicated::CreateLoadingPhase(machine));
    FuzzCheck(session.IsGameRunning(), "the loading phase runs the game");
    if (spectator) {
      sender = Admit(session, kSender, nullptr);
      FuzzCheck(sender->IsSpectator(), "a client admitted during a game watches it");
    }
  }
  const std::size_t sentToMms = mms.written.size();

  OrvTest::TScriptedStream connection;
  int ticks = 0;
  for (const auto& chunk : chunks) {
    connection.Arrive(chunk);
    const bool kept = session.OnClientPacket(sender, &connection);
    // By id: a user disconnected with ConnectionLost is deleted, so only its address is compared.
    const bool admitted = session.FindClientById(Network::OrvNetId::FromValue(kSender)) == sender;
    FuzzCheck(kept == admitted, "the loop answers false exactly when its user has gone");
    if (!kept) break;
    FuzzCheck(OnlyAPartialFrameLeft(sender, connection), "every whole frame is read");
    if (inGame && ticks < kMaxTicksPerInput) {
      OrvTest::TManualClock::AdvanceMilliseconds(Dedicated::TDedicatedSession::kTickMilliseconds + 1.0);
      session.Update();
      ++ticks;
      FuzzCheck(session.IsGameRunning(), "the game runs on while a player is connected");
      FuzzCheck(session.GetTickChecksumCount() <= session.GetTickCounter(), "only ticks run have checksums");
      if (session.FindClientById(Network::OrvNetId::FromValue(kSender)) != sender) break;
    }
  }
  FuzzCheck(mms.written.size() == sentToMms, "nothing goes to the match-making server");
  session.Shutdown();
  if (inGame) {
    // With the last player gone the session is back in match making; the next input records a
    // game of its own, and this one is dropped rather than saved.
    FuzzCheck(!session.IsGameRunning(), "a game without players stops");
    session.SetRecordingForTests(false, 0);
  }
  // libevent frees a closed connection, and closes its descriptor, in its loop.
  task->GetSocketManager()->RunEventLoop(0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  Network::SetNetworkLogHandler(&DropLog);
  // Game time moves only when a tick is wanted.
  static OrvTest::TManualClock clock;

  // One task and session for the process, as in the server.
  static Dedicated::TStrivexDedicatedSession session(24);
  static TMainServerTask* task = [] {
    TMainServerTask* made = TMainServerTask::CreateInstance(24, "", 10000, "127.0.0.1", "", &session, nullptr, nullptr,
                                                            true, false, "", "", TOrvString<char>(),
                                                            TOrvString<char>(), "ab", "c");
    session.Initialize();
    return made;
  }();
  OrvTest::TScriptedStream mms;
  task->AttachMatchMakingStream(&mms, Dedicated::MatchMakingLinkState::Ready);

  TChunks chunks;
  for (std::size_t at = 0; at < size;) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    chunks.emplace_back(data + at + 1, data + at + 1 + length);
    at += 1 + length;
  }
  FeedPendingClient(session, chunks, mms);
  FeedAdmittedUser(session, task, chunks, mms, false);
  FeedAdmittedUser(session, task, chunks, mms, true);
  task->AttachMatchMakingStream(nullptr, Dedicated::MatchMakingLinkState::Ready);
  return 0;
}
