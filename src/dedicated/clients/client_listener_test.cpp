// The client listener over loopback: nothing accepted (nor watched) before the link is Ready, every
// waiting connection accepted in one event after, a refused client told why and closed, a port in
// use, the pause when out of descriptors, and the bound on unidentified connections per address.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/sockets/libevent_socket_manager.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
#include "support/manual_clock.h"
#include "support/scripted_stream.h"

namespace Orvan::Dedicated {
namespace {

class ClientListenerTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    settings_.clientPort = OrvTest::FreeClientPort();
    task_ = OrvTest::CreateTask(settings_, &session_);
    session_.Initialize();
  }
  void TearDown() override {
    for (int client : clients_) ::close(client);
    session_.ClosePendingClients();
    TDedicatedTest::TearDown();
  }
  int Connect() {
    clients_.push_back(OrvTest::ConnectLoopback(settings_.clientPort));
    return clients_.back();
  }
  // A connection from another loopback address.
  int ConnectFrom(const char* source) {
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, source, &address.sin_addr);
    EXPECT_EQ(::bind(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    address.sin_port = htons(settings_.clientPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    clients_.push_back(client);
    return client;
  }
  // Closed by the server without a byte sent.
  bool ClosedQuietly(int client) {
    std::string received;
    bool closed = false;
    RunUntil([&] {
      char buffer[64];
      const ssize_t got = ::recv(client, buffer, sizeof(buffer), MSG_DONTWAIT);
      if (got > 0) received.append(buffer, static_cast<std::size_t>(got));
      closed = got == 0;
      return closed || !received.empty();
    });
    return closed && received.empty();
  }
  std::size_t CountLines(const std::string& prefix) {
    std::size_t count = 0;
    for (const std::string& line : Lines()) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
  }
  bool RunUntil(const std::function<bool()>& done) {
    return OrvTest::RunLoopUntil(*task_->GetSocketManager(), done);
  }

  OrvTest::TTaskSettings settings_;
  TStrivexDedicatedSession session_{24};
  OrvTest::TScriptedStream mms_;
  TMainServerTask* task_ = nullptr;
  std::vector<int> clients_;
};

TEST_F(ClientListenerTest, AcceptsOnlyOnceTheLinkIsReady) {
  ASSERT_TRUE(task_->OpenClientSocket());
  for (int i = 0; i < 3; ++i) ASSERT_NE(Connect(), -1);
  // Not Ready: the connections stay in the backlog, and the socket, readable all along, is not
  // watched.
  EXPECT_FALSE(task_->GetClientAcceptor().IsWatching());
  for (int i = 0; i < 5; ++i) task_->GetSocketManager()->RunEventLoop(10);
  EXPECT_EQ(session_.GetPendingClients()->GetCount(), 0u);
  EXPECT_EQ(CountLines("New client trying to connect from IP 127.0.0.1:"), 0u);

  task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Ready);
  EXPECT_TRUE(task_->GetClientAcceptor().IsWatching());
  ASSERT_TRUE(RunUntil([&] { return session_.GetPendingClients()->GetCount() == 3; }));
  EXPECT_EQ(CountLines("New client trying to connect from IP 127.0.0.1:"), 3u);
  // Unidentified, they hold no player slot.
  EXPECT_EQ(std::string(session_.GetPropertyTable()->GetValue("NbPlayer").c_str()), "0");
  // The link going down stops the watching at the next loop pass.
  task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Connected);
  EXPECT_FALSE(task_->GetClientAcceptor().IsWatching());
}

TEST_F(ClientListenerTest, RefusedClientGetsTheReasonAndIsClosed) {
  ASSERT_TRUE(task_->OpenClientSocket());
  task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Ready);
  const int client = Connect();
  ASSERT_TRUE(RunUntil([&] { return session_.GetPendingClients()->GetCount() == 1; }));
  const std::string frame = OrvTest::Frame(194, "x");
  ASSERT_EQ(::send(client, frame.data(), frame.size(), 0), static_cast<ssize_t>(frame.size()));
  std::string received;
  bool closed = false;
  ASSERT_TRUE(RunUntil([&] {
    char buffer[64];
    const ssize_t got = ::recv(client, buffer, sizeof(buffer), MSG_DONTWAIT);
    if (got > 0) received.append(buffer, static_cast<std::size_t>(got));
    if (got == 0) closed = true;
    // The client closes on the last packet, as a game client does.
    if (received.size() >= 8 && !closed) ::shutdown(client, SHUT_WR);
    return closed;
  }));
  EXPECT_EQ(OrvTest::Hex(received), OrvTest::Hex(std::string("\x00\x06\xc7\x00\x00\x00\x00\x14", 8)));
  EXPECT_EQ(CountLines("Drop packet from pending client with IP 127.0.0.1:"), 1u);
  EXPECT_EQ(CountLines("Rejecting pending client with IP 127.0.0.1:"), 1u);
}

TEST_F(ClientListenerTest, PortInUse) {
  OrvTest::TLoopbackListener other;
  settings_.clientPort = other.port;
  TMainServerTask::DestroyInstance();
  task_ = OrvTest::CreateTask(settings_, &session_);
  EXPECT_FALSE(task_->OpenClientSocket());
  EXPECT_TRUE(Logged("Failed to bind client socket, you have probably another server running on the same port"));
  EXPECT_EQ(task_->GetClientListenSocket(), nullptr);
}

TEST_F(ClientListenerTest, OutOfDescriptorsTheListenerPausesAndClosesTheOldestWaiting) {
  OrvTest::TManualClock clock;
  ASSERT_TRUE(task_->OpenClientSocket());
  task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Ready);
  // Free descriptors for the clients, then none left for the accept.
  const int oldest = Connect();
  ASSERT_NE(oldest, -1);
  ASSERT_NE(Connect(), -1);
  sockaddr_in local{};
  socklen_t length = sizeof(local);
  ::getsockname(oldest, reinterpret_cast<sockaddr*>(&local), &length);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int probe = ::dup(0);
  ASSERT_NE(probe, -1);
  ::close(probe);
  rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(probe);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  for (int i = 0; i < 20; ++i) task_->GetSocketManager()->RunEventLoop(5);
  const std::size_t failures = CountLines("Failed to accept new client (error : ");
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  // One line for the pause, naming the connection the spare descriptor let be taken and closed.
  EXPECT_EQ(failures, 1u);
  EXPECT_TRUE(Logged("Failed to accept new client (error : Too many open files) [1 failure since the last line; "
                     "the oldest waiting connection, from 127.0.0.1:" +
                     std::to_string(ntohs(local.sin_port)) + ", closed; not accepting for 100 ms]"));
  EXPECT_TRUE(ClosedQuietly(oldest));
  EXPECT_TRUE(task_->GetClientAcceptor().IsPaused());
  // The loop pass after the pause watches the socket again and the other connection is taken.
  OrvTest::TManualClock::AdvanceMilliseconds(Network::kAcceptPauseShortestMilliseconds);
  task_->UpdateClientListener(OrvTest::TManualClock::Now());
  ASSERT_TRUE(RunUntil([&] { return session_.GetPendingClients()->GetCount() == 1; }));
}

TEST_F(ClientListenerTest, AnAddressMayHaveEightUnidentifiedConnections) {
  ASSERT_TRUE(task_->OpenClientSocket());
  task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Ready);
  TPendingClientSet& pending = *session_.GetPendingClients();
  const std::string refusal = "Refusing client connection from IP 127.0.0.2:";
  std::vector<int> silent;
  for (std::uint32_t i = 0; i < kMaxUnidentifiedPerSource; ++i) silent.push_back(ConnectFrom("127.0.0.2"));
  ASSERT_TRUE(RunUntil([&] { return pending.GetCount() == kMaxUnidentifiedPerSource; }));
  // Further ones from there are closed at accept, each with its line (within the address's share
  // of lines); another address is taken.
  EXPECT_TRUE(ClosedQuietly(ConnectFrom("127.0.0.2")));
  EXPECT_TRUE(ClosedQuietly(ConnectFrom("127.0.0.2")));
  EXPECT_EQ(CountLines(refusal), 2u);
  EXPECT_EQ(CountLines("New client trying to connect from IP 127.0.0.2:"), kMaxUnidentifiedPerSource);
  Connect();
  ASSERT_TRUE(RunUntil([&] { return pending.GetCount() == kMaxUnidentifiedPerSource + 1; }));

  // One identifies: its address may have one more.
  const std::string connect = OrvTest::ConnectFrame(0x1234, "1.0", "");
  ASSERT_EQ(::send(silent[0], connect.data(), connect.size(), 0), static_cast<ssize_t>(connect.size()));
  ASSERT_TRUE(RunUntil([&] { return pending.GetIdentifiedCount() == 1; }));
  ConnectFrom("127.0.0.2");
  ASSERT_TRUE(RunUntil([&] { return pending.GetCount() == kMaxUnidentifiedPerSource + 2; }));
  EXPECT_TRUE(ClosedQuietly(ConnectFrom("127.0.0.2")));
  EXPECT_EQ(pending.GetUnidentifiedCount(), kMaxUnidentifiedPerSource + 1);
}

}  // namespace
}  // namespace Orvan::Dedicated
