// The client listener over loopback: nothing accepted before the link is Ready, every waiting
// connection accepted in one event after, a refused client told why and closed, a port in use.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "dedicated/dedicated_property_table.h"
#include "dedicated/main_server_task.h"
#include "dedicated/pending_client_set.h"
#include "dedicated/strivex_dedicated_session.h"
#include "network/libevent_socket_manager.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
#include "support/scripted_stream.h"

namespace Orvan::Dedicated {
namespace {

class ClientListenerTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    settings_.clientPort = static_cast<std::uint16_t>(std::stoi(OrvTest::ClosedPortText()));
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
  // Not Ready: the connections stay in the backlog however often the socket fires.
  for (int i = 0; i < 5; ++i) task_->GetSocketManager()->RunEventLoop(10);
  EXPECT_EQ(session_.GetPendingClients()->GetCount(), 0u);
  EXPECT_EQ(CountLines("New client trying to connect from IP 127.0.0.1:"), 0u);

  task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Ready);
  ASSERT_TRUE(RunUntil([&] { return session_.GetPendingClients()->GetCount() == 3; }));
  EXPECT_EQ(CountLines("New client trying to connect from IP 127.0.0.1:"), 3u);
  // Unidentified, they hold no player slot.
  EXPECT_EQ(std::string(session_.GetPropertyTable()->GetValue("NbPlayer").c_str()), "0");
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

TEST_F(ClientListenerTest, OutOfDescriptorsLogsOncePerStepAndResumes) {
  ASSERT_TRUE(task_->OpenClientSocket());
  task_->AttachMatchMakingStream(&mms_, MatchMakingLinkState::Ready);
  // A free descriptor for the client, then none left for the accept.
  ASSERT_NE(Connect(), -1);
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
  const int probe = ::dup(0);
  ASSERT_NE(probe, -1);
  ::close(probe);
  rlimit lowered = saved;
  lowered.rlim_cur = static_cast<rlim_t>(probe);
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
  for (int i = 0; i < 5; ++i) task_->GetSocketManager()->RunEventLoop(10);
  const std::size_t failures = CountLines("Failed to accept new client (error : ");
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
  EXPECT_EQ(failures, 1u);
  EXPECT_TRUE(task_->IsClientListenPaused());
  // The next loop step watches the socket again and the connection is taken.
  task_->WatchClientSocket();
  ASSERT_TRUE(RunUntil([&] { return session_.GetPendingClients()->GetCount() == 1; }));
}

}  // namespace
}  // namespace Orvan::Dedicated
