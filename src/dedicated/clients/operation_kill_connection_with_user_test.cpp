#include "dedicated/clients/operation_kill_connection_with_user.h"

#include <event2/buffer.h>
#include <event2/event.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "dedicated/program/main_server_task.h"
#include "network/operations/operation_with_time_out.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

using Network::OrvNetId;
using Network::TBufferEventSocket;

struct TTargetRecord {
  int closes = 0;
  bool deleted = false;
  std::size_t inputAtClose = 0;  // bytes the connection held unread when it was closed
};

// A target that owns its connection as a user or a waiting client does, and tells what was done
// to it.
class TRecordingTarget final : public IConnectionKillTarget {
 public:
  TRecordingTarget(TBufferEventSocket* connection, TTargetRecord* record) : connection_(connection), record_(record) {}
  ~TRecordingTarget() override { record_->deleted = true; }
  OrvNetId GetKillTargetId() const override { return OrvNetId::FromValue(5); }
  TBufferEventSocket* GetKillTargetConnection() const override { return connection_; }
  void CloseKillTarget() override {
    ++record_->closes;
    if (connection_ == nullptr) return;
    if (!connection_->IsClosed()) {
      record_->inputAtClose = evbuffer_get_length(bufferevent_get_input(connection_->GetBufferEvent()));
    }
    connection_->Close();
    delete connection_;
    connection_ = nullptr;
  }

 private:
  TBufferEventSocket* connection_;
  TTargetRecord* record_;
};

constexpr const char* kTimeOutLine =
    "TOperationKillConnectionWithUser::OnOperationTimeout() -> Client 5 kept its connection open after its last "
    "packet: closed";
// 00 06, channel 199, command 0, reason Full.
constexpr const char* kLastPacketFull = "0006c70000000005";

class OperationKillConnectionTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    task_ = OrvTest::CreateTask(settings_, nullptr);
    manager_ = task_->GetSocketManager();
    baseEvents_ = AddedEvents();
    client_ = OrvTest::ConnectLoopback(listener_.port);
    ASSERT_NE(client_, -1);
    const int accepted = listener_.Accept();
    ASSERT_NE(accepted, -1);
    connection_ = new TBufferEventSocket(accepted, manager_);
  }
  void TearDown() override {
    if (client_ != -1) ::close(client_);
    TDedicatedTest::TearDown();
  }

  std::size_t InputLength() const { return evbuffer_get_length(bufferevent_get_input(connection_->GetBufferEvent())); }
  int AddedEvents() const { return event_base_get_num_events(manager_->GetEventBase(), EVENT_BASE_COUNT_ADDED); }
  Network::TOperationWithTimeOutManager* Operations() const { return task_->GetOperationManager(); }
  std::int32_t LaunchKill(TTargetRecord& record) {
    auto* kill = new TOperationKillConnectionWithUser(Operations(), new TRecordingTarget(connection_, &record),
                                                      ClientDisconnectReason::Full);
    return kill->Launch();
  }
  // What the client has received, read while the loop runs, until `count` bytes are there.
  std::string ClientReceives(std::size_t count) {
    std::string bytes;
    OrvTest::RunLoopUntil(*manager_, [&] {
      while (bytes.size() < count && OrvTest::WaitReadable(client_, 0)) {
        char buffer[64];
        const ssize_t got = ::recv(client_, buffer, count - bytes.size(), 0);
        if (got <= 0) return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
      }
      return bytes.size() >= count;
    });
    return OrvTest::HexText(bytes.data(), bytes.size());
  }
  // An ended kill leaves no event behind: only the events there were before the connection remain.
  bool OnlyBaseEventsLeft() {
    return OrvTest::RunLoopUntil(*manager_, [&] { return AddedEvents() == baseEvents_; }, 500);
  }

  OrvTest::TTaskSettings settings_;
  TMainServerTask* task_ = nullptr;
  Network::TSocketInterfaceManagerForLibEvent* manager_ = nullptr;
  OrvTest::TLoopbackListener listener_;
  int client_ = -1;
  TBufferEventSocket* connection_ = nullptr;
  int baseEvents_ = 0;
};

// Also when frames the server had not read yet fill more than the cap.
TEST_F(OperationKillConnectionTest, ClientClosingAtOnceEndsTheKillByItsClose) {
  const std::string unread(kKilledConnectionInputLimit + 1000, '\0');
  ASSERT_EQ(::send(client_, unread.data(), unread.size(), 0), static_cast<ssize_t>(unread.size()));
  ASSERT_TRUE(OrvTest::RunLoopUntil(*manager_, [&] { return InputLength() == unread.size(); }));
  TTargetRecord record;
  ASSERT_NE(LaunchKill(record), -1);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 1u);
  EXPECT_EQ(ClientReceives(8), kLastPacketFull);
  ::close(client_);
  client_ = -1;
  ASSERT_TRUE(OrvTest::RunLoopUntil(*manager_, [&] { return record.deleted; }));
  EXPECT_EQ(record.closes, 1);
  EXPECT_FALSE(Logged(kTimeOutLine));
  EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
  EXPECT_TRUE(OnlyBaseEventsLeft());
}

bool gReadAfterKill = false;
void RecordRead(bufferevent*, void*) { gReadAfterKill = true; }

// The client reads its last packet and keeps talking: nothing it sends is read, at most the cap is
// buffered, and the manager's tick closes the connection once the kill's second has passed.
TEST_F(OperationKillConnectionTest, ClientKeepingItsEndOpenIsClosedByTheTimeOut) {
  OrvTest::TManualClock clock;
  gReadAfterKill = false;
  manager_->SetCallbackForBufferEvent(connection_, true, false, &RecordRead);
  TTargetRecord record;
  ASSERT_NE(LaunchKill(record), -1);
  EXPECT_EQ(ClientReceives(8), kLastPacketFull);
  // Well-formed connect frames, five times more than the cap.
  std::string frames;
  while (frames.size() < 5 * kKilledConnectionInputLimit) frames += std::string("\x00\x03\xc1\x01\x02", 5);
  ASSERT_EQ(::send(client_, frames.data(), frames.size(), MSG_DONTWAIT), static_cast<ssize_t>(frames.size()));
  ASSERT_TRUE(OrvTest::RunLoopUntil(*manager_, [&] { return InputLength() == kKilledConnectionInputLimit; }));

  Operations()->Update();
  EXPECT_FALSE(record.deleted);
  OrvTest::TManualClock::AdvanceMilliseconds(kConnectionKillTimeOutMilliseconds + 1);
  Operations()->Update();
  EXPECT_TRUE(record.deleted);
  EXPECT_TRUE(Logged(kTimeOutLine));
  EXPECT_FALSE(gReadAfterKill);
  EXPECT_EQ(record.inputAtClose, kKilledConnectionInputLimit);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
  EXPECT_TRUE(OnlyBaseEventsLeft());
  // The client sees its connection end.
  ASSERT_TRUE(OrvTest::WaitReadable(client_));
  char byte;
  EXPECT_LE(::recv(client_, &byte, 1, 0), 0);
}

// With no open connection there is nothing to say goodbye on: the launch is refused and the target,
// which the caller has let go of, is released all the same.
TEST_F(OperationKillConnectionTest, RefusedLaunchReleasesItsTarget) {
  for (const bool withConnection : {false, true}) {
    SCOPED_TRACE(withConnection ? "closed connection" : "no connection");
    TTargetRecord record;
    TBufferEventSocket* connection = nullptr;
    if (withConnection) {
      connection = connection_;
      connection_ = nullptr;
      connection->Close();
    }
    auto* kill = new TOperationKillConnectionWithUser(Operations(), new TRecordingTarget(connection, &record),
                                                      ClientDisconnectReason::TimeOut);
    EXPECT_EQ(kill->Launch(), -1);
    EXPECT_TRUE(record.deleted);
    EXPECT_EQ(record.closes, 1);
    EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
  }
  EXPECT_TRUE(OnlyBaseEventsLeft());
}

// A kill ended by its manager (timed out by its tick, or cancelled) releases its target once and
// leaves no event behind.
TEST_F(OperationKillConnectionTest, EndsByTheManagerReleaseTheTargetOnce) {
  OrvTest::TManualClock clock;
  TTargetRecord record;
  ASSERT_NE(LaunchKill(record), -1);
  Operations()->Update();
  EXPECT_FALSE(record.deleted);
  OrvTest::TManualClock::AdvanceMilliseconds(kConnectionKillTimeOutMilliseconds + 1);
  Operations()->Update();
  EXPECT_TRUE(record.deleted);
  EXPECT_EQ(record.closes, 1);
  EXPECT_TRUE(Logged(kTimeOutLine));
  EXPECT_TRUE(OnlyBaseEventsLeft());

  ::close(client_);
  client_ = OrvTest::ConnectLoopback(listener_.port);
  ASSERT_NE(client_, -1);
  const int accepted = listener_.Accept();
  ASSERT_NE(accepted, -1);
  connection_ = new TBufferEventSocket(accepted, manager_);
  TTargetRecord cancelled;
  ASSERT_NE(LaunchKill(cancelled), -1);
  Operations()->CancelAll();
  EXPECT_TRUE(cancelled.deleted);
  EXPECT_EQ(cancelled.closes, 1);
  EXPECT_EQ(Operations()->GetRegisteredCount(), 0u);
  EXPECT_TRUE(OnlyBaseEventsLeft());
}

}  // namespace
}  // namespace Orvan::Dedicated
