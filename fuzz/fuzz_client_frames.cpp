// Fuzz target of a pending client's packet handler. Input: chunks, each a length byte and that many
// bytes, fed one by one to the client's connection (in memory) and handled as the read callback
// handles them, until the client is refused. A client is refused at most once and then gone; it
// is accepted by nothing but one well-formed connect packet as its first frame, which sends exactly
// one validation request to the match-making server.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "dedicated/main_server_task.h"
#include "dedicated/pending_client_set.h"
#include "dedicated/strivex_dedicated_session.h"
#include "dedicated/user_waiting_for_login.h"
#include "network/network_hooks.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"
#include "support/scripted_stream.h"

namespace {

using namespace Orvan;
using Orvan::Dedicated::ClientDisconnectReason;
using Orvan::Dedicated::PendingClientState;
using Orvan::Dedicated::TMainServerTask;
using Orvan::Dedicated::TUserWaitingForLogin;
using OrvTest::FuzzCheck;

void DropLog(int, const char*) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  Network::SetNetworkLogHandler(&DropLog);

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

  sockaddr_storage address{};
  reinterpret_cast<sockaddr_in*>(&address)->sin_family = AF_INET;
  session.OnNewConnection(nullptr, address);
  TUserWaitingForLogin* client = session.GetPendingClients()->FindById(Network::OrvNetId());
  FuzzCheck(client != nullptr, "a new client waits");

  OrvTest::TScriptedStream connection;
  bool refused = false;
  std::size_t at = 0;
  while (at < size && !refused) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    connection.Arrive(OrvTest::TScriptedStream::Bytes(data + at + 1, data + at + 1 + length));
    at += 1 + length;
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
  task->AttachMatchMakingStream(nullptr, Dedicated::MatchMakingLinkState::Ready);
  return 0;
}
