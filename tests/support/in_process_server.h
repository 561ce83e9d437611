// The server in process without a test framework, for fuzz targets and the tests' helpers alike:
// clients admitted as admission admits them, a console that records what it is told, and a whole
// server made for one input in a folder of its own, its configuration files written there first
// and the main task and this game's session started as main starts them. Whatever the server made
// goes with it, so no input leaves anything for the next one.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/console/console_interfaces.h"
#include "network/operations/operation_with_time_out.h"
#include "network/sockets/buffer_event_socket.h"
#include "support/scripted_stream.h"
#include "support/temporary_folder.h"

namespace OrvTest {

// The peer address of the in-process clients: 127.0.0.1:5000, printed "127.0.0.1:5000" in the lines.
inline sockaddr_storage PeerAddress() {
  sockaddr_storage storage{};
  auto* address = reinterpret_cast<sockaddr_in*>(&storage);
  address->sin_family = AF_INET;
  address->sin_port = htons(5000);
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return storage;
}

// A console that keeps what it is told, one text per Print.
class TRecordingConsole final : public Orvan::ServerTools::IVirtualConsole {
 public:
  void Print(const Orvan::TOrvString<char>& text) override { printed.emplace_back(text.c_str()); }
  std::vector<std::string> printed;
};

// A client taken in on `connection` (null for none) and brought through its login as admission
// sees it: identified as `id` with version "1.0", its statistics arrived. The admitted user, or null
// when the session refused it.
inline Orvan::Dedicated::TDedicatedUser* AdmitWithStatistics(Orvan::Dedicated::TDedicatedSession& session,
                                                             Orvan::Network::TBufferEventSocket* connection,
                                                             std::uint64_t id,
                                                             const Orvan::Dedicated::TUserStatisticsDocuments& statistics) {
  using Orvan::Network::OrvNetId;
  session.OnNewConnection(connection, PeerAddress());
  Orvan::Dedicated::TUserWaitingForLogin* pending = session.GetPendingClients()->FindById(OrvNetId());
  if (pending == nullptr) return nullptr;
  pending->SetClientId(OrvNetId::FromValue(id));
  pending->SetClientVersion("1.0");
  pending->SetState(Orvan::Dedicated::PendingClientState::FetchingStatistics);
  session.OnPendingClientIdentified(pending);
  session.OnPendingClientStats(pending, false, statistics);
  return session.FindClientById(OrvNetId::FromValue(id));
}

// One server for one input. The files (name and content) are written into a fresh working folder,
// then the task is made with an empty login and key, so that it reads "login.ini", and the session
// initialised, which reads "variables.ini" and "admins.ini" and, entering match making, merges and
// writes "banned_clients.ini". The match-making link is Ready over a stream in memory.
class TInProcessServer {
 public:
  using TFiles = std::vector<std::pair<std::string, std::string>>;
  static constexpr std::uint32_t kGameId = 24;

  explicit TInProcessServer(const TFiles& files) {
    for (const auto& [name, content] : files) WriteFileBytes(folder_.Path(name), content);
    task_ = Orvan::Dedicated::TMainServerTask::CreateInstance(kGameId, "", 10000, "127.0.0.1", "", &session_, nullptr,
                                                              nullptr, true, false, "", "", "", "", "", "");
    session_.Initialize();
    task_->AttachMatchMakingStream(&mms_, Orvan::Dedicated::MatchMakingLinkState::Ready);
  }
  ~TInProcessServer() {
    session_.Shutdown();
    session_.ClosePendingClients();
    // Kills still waiting for a client's connection end here.
    task_->GetOperationManager()->CancelAll();
    task_->AttachMatchMakingStream(nullptr, Orvan::Dedicated::MatchMakingLinkState::NotConnected);
    Orvan::Dedicated::TMainServerTask::DestroyInstance();
  }
  TInProcessServer(const TInProcessServer&) = delete;
  TInProcessServer& operator=(const TInProcessServer&) = delete;

  Orvan::Dedicated::TStrivexDedicatedSession& Session() { return session_; }
  Orvan::Dedicated::TMainServerTask& Task() { return *task_; }
  // The bytes of a file of the working folder; empty when it is absent.
  std::string ReadFile(const std::string& name) const { return ReadFileBytes(folder_.Path(name)); }

 private:
  TTemporaryFolder folder_{"orv_fuzz"};
  TScopedWorkingDirectory workingDirectory_{folder_.Path()};
  // Goes after the task has gone; the folder after the session.
  Orvan::Dedicated::TStrivexDedicatedSession session_{kGameId};
  TScriptedStream mms_;
  Orvan::Dedicated::TMainServerTask* task_ = nullptr;
};

}  // namespace OrvTest
