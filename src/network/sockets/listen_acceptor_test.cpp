// The listen acceptor over loopback: out of descriptors it neither spins nor floods the log, its
// pause grows while the failure repeats and is short again after a success, the spare descriptor
// closes the oldest waiting connection, a held socket is not watched, and a failure of one
// connection is gone past at once.
#include "network/sockets/listen_acceptor.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/listening_socket.h"
#include "network/sockets/native_socket.h"
#include "network/sockets/socket_utilities.h"
#include "support/event_loop_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"

namespace Orvan::Network {
namespace {

using OrvTest::TCapturedNetworkLog;
using OrvTest::TManualClock;

TOrvString<char> FailureLine(int error) { return "accept failed (" + GetErrorString(error) + ")"; }

// Lowers the descriptor limit to the lowest free descriptor, so that the next one cannot be had,
// while it lives.
class TDescriptorsExhausted {
 public:
  TDescriptorsExhausted() {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    const int probe = ::dup(0);
    ::close(probe);
    rlimit lowered = saved_;
    lowered.rlim_cur = static_cast<rlim_t>(probe);
    applied_ = probe != -1 && ::setrlimit(RLIMIT_NOFILE, &lowered) == 0;
  }
  ~TDescriptorsExhausted() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
  TDescriptorsExhausted(const TDescriptorsExhausted&) = delete;
  TDescriptorsExhausted& operator=(const TDescriptorsExhausted&) = delete;
  bool Applied() const { return applied_; }

 private:
  rlimit saved_{};
  bool applied_ = false;
};

class ListenAcceptorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrvTest::IgnoreSigpipe();
    listener_.reset(InitNewConnectionSocket(&manager_, std::uint16_t{0}));
    ASSERT_NE(listener_, nullptr);
    sockaddr_in6 bound{};
    socklen_t length = sizeof(bound);
    ASSERT_EQ(::getsockname(listener_->GetDescriptor(), reinterpret_cast<sockaddr*>(&bound), &length), 0);
    port_ = ntohs(bound.sin6_port);
    acceptor_.Start(&manager_, listener_.get(), &OnReadable, this);
    // The manager's start-up lines.
    TCapturedNetworkLog::Lines().clear();
  }
  void TearDown() override {
    acceptor_.Stop();
    for (int client : clients_) ::close(client);
  }

  // A client whose connection waits in the backlog; its local port names it in the lines.
  std::uint16_t Connect() {
    const int client = OrvTest::ConnectLoopback(port_);
    EXPECT_NE(client, -1);
    clients_.push_back(client);
    sockaddr_in local{};
    socklen_t length = sizeof(local);
    ::getsockname(client, reinterpret_cast<sockaddr*>(&local), &length);
    return ntohs(local.sin_port);
  }
  // What the listener's callback does: accept until nothing is left.
  static void OnReadable(evutil_socket_t, short, void* test) {
    auto* self = static_cast<ListenAcceptorTest*>(test);
    ++self->calls_;
    sockaddr_storage address{};
    for (int descriptor; (descriptor = self->acceptor_.Accept(address)) != -1;) self->accepted_.push_back(descriptor);
  }
  void CloseAccepted() {
    for (int descriptor : accepted_) ::close(descriptor);
    accepted_.clear();
  }
  static bool ClosedByServer(int client) {
    char byte;
    return OrvTest::WaitReadable(client) && ::recv(client, &byte, 1, MSG_DONTWAIT) <= 0;
  }
  static std::size_t LineCount() { return TCapturedNetworkLog::Lines().size(); }
  static std::string LastLine() { return TCapturedNetworkLog::Lines().back().text; }
  static TTimeStamp Now() {
    TTimeStamp now;
    return GetTimeStamp(now);
  }

  TManualClock clock_;
  TCapturedNetworkLog log_;
  TSocketInterfaceManagerForLibEvent manager_{false};
  std::unique_ptr<TNativeSocket> listener_;
  std::uint16_t port_ = 0;
  TListenAcceptor acceptor_{&FailureLine};
  std::vector<int> clients_;
  std::vector<int> accepted_;
  int calls_ = 0;
};

// A socket the event loop refused to watch is not taken as watched: the next pass tries again.
TEST_F(ListenAcceptorTest, ASocketThatCouldNotBeWatchedIsWatchedAtTheNextPass) {
  acceptor_.Stop();
  // The listening socket's descriptor, closed under it: the system refuses to watch that number.
  const int descriptor = listener_->GetDescriptor();
  const int saved = ::dup(descriptor);
  ASSERT_NE(saved, -1);
  ::close(descriptor);
  acceptor_.Start(&manager_, listener_.get(), &OnReadable, this);
  EXPECT_FALSE(acceptor_.IsWatching());
  ASSERT_EQ(LineCount(), 1u);
  EXPECT_EQ(LastLine(), "TSocketInterfaceManagerForLibEvent::SetCallbackForSocket() -> Failed to add event !");
  acceptor_.Update(Now());
  EXPECT_FALSE(acceptor_.IsWatching());

  // The descriptor back: the next pass watches it, and a waiting connection is taken.
  ASSERT_EQ(::dup2(saved, descriptor), descriptor);
  ::close(saved);
  Connect();
  acceptor_.Update(Now());
  EXPECT_TRUE(acceptor_.IsWatching());
  ASSERT_TRUE(OrvTest::RunLoopUntil(manager_, [&] { return accepted_.size() == 1; }));
  CloseAccepted();
}

TEST_F(ListenAcceptorTest, OutOfDescriptorsTheSocketIsCalledOnceAndLoggedOnce) {
  Connect();
  Connect();
  {
    TDescriptorsExhausted exhausted;
    ASSERT_TRUE(exhausted.Applied());
    // The loop would call a readable listener on every pass; paused, it does not call it again.
    for (int pass = 0; pass < 20; ++pass) manager_.RunEventLoop(5);
  }
  EXPECT_EQ(calls_, 1);
  EXPECT_EQ(LineCount(), 1u);
  EXPECT_FALSE(acceptor_.IsWatching());
  EXPECT_TRUE(acceptor_.IsPaused());
  // Descriptors again, and the pause over: the connection still waiting is taken.
  TManualClock::AdvanceMilliseconds(kAcceptPauseShortestMilliseconds);
  acceptor_.Update(Now());
  EXPECT_TRUE(acceptor_.IsWatching());
  ASSERT_TRUE(OrvTest::RunLoopUntil(manager_, [&] { return accepted_.size() == 1; }));
  EXPECT_EQ(LineCount(), 1u);
  CloseAccepted();
}

TEST_F(ListenAcceptorTest, PauseGrowsWhileFailuresRepeatAndIsShortAgainAfterASuccess) {
  struct TStep {
    const char* what;
    bool exhausted;   // no descriptor left for the accept
    std::uint32_t pause;  // the pause that follows, 0 for an accepted connection
  };
  const std::vector<TStep> steps = {
      {"first failure", true, 100},  {"second", true, 200},  {"third", true, 400}, {"fourth", true, 800},
      {"fifth, at the longest", true, 1000}, {"sixth, still the longest", true, 1000},
      {"a success", false, 0},       {"a failure after it", true, 100},
  };
  std::vector<std::uint16_t> waiting;
  for (std::size_t i = 0; i < steps.size(); ++i) waiting.push_back(Connect());
  // The steps call Accept themselves: the loop does not run.
  ASSERT_TRUE(OrvTest::WaitReadable(listener_->GetDescriptor()));

  std::size_t oldest = 0;
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.what);
    const std::size_t lines = LineCount();
    sockaddr_storage address{};
    int descriptor;
    {
      std::unique_ptr<TDescriptorsExhausted> exhausted;
      if (step.exhausted) exhausted = std::make_unique<TDescriptorsExhausted>();
      descriptor = acceptor_.Accept(address);
    }
    if (step.pause == 0) {
      EXPECT_NE(descriptor, -1);
      ::close(descriptor);
      EXPECT_EQ(acceptor_.GetNextPauseMilliseconds(), kAcceptPauseShortestMilliseconds);
      EXPECT_EQ(LineCount(), lines);
      ++oldest;
      continue;
    }
    EXPECT_EQ(descriptor, -1);
    // One line, naming the connection the spare descriptor let be taken and closed: the oldest.
    ASSERT_EQ(LineCount(), lines + 1);
    EXPECT_EQ(LastLine(), "accept failed (Too many open files) [1 failure since the last line; the oldest waiting "
                          "connection, from ::ffff:127.0.0.1 : " + std::to_string(waiting[oldest]) +
                              ", closed; not accepting for " + std::to_string(step.pause) + " ms]");
    EXPECT_TRUE(ClosedByServer(clients_[oldest]));
    ++oldest;
    EXPECT_TRUE(acceptor_.HasSpareDescriptor());
    // Paused for exactly that long: no accept, no line, the socket not watched.
    EXPECT_FALSE(acceptor_.IsWatching());
    TManualClock::AdvanceMilliseconds(step.pause - 1);
    acceptor_.Update(Now());
    EXPECT_TRUE(acceptor_.IsPaused());
    EXPECT_EQ(acceptor_.Accept(address), -1);
    EXPECT_EQ(LineCount(), lines + 1);
    TManualClock::AdvanceMilliseconds(1);
    acceptor_.Update(Now());
    EXPECT_FALSE(acceptor_.IsPaused());
    EXPECT_TRUE(acceptor_.IsWatching());
  }
}

TEST_F(ListenAcceptorTest, AHeldSocketIsNotWatchedEvenAfterAPause) {
  Connect();
  Connect();
  acceptor_.SetHeld(true);
  for (int pass = 0; pass < 5; ++pass) manager_.RunEventLoop(5);
  EXPECT_EQ(calls_, 0);
  acceptor_.SetHeld(false);
  ASSERT_TRUE(OrvTest::RunLoopUntil(manager_, [&] { return accepted_.size() == 2; }));
  CloseAccepted();

  // Out of descriptors the oldest is closed and the socket paused; the other one waits.
  Connect();
  Connect();
  {
    TDescriptorsExhausted exhausted;
    ASSERT_TRUE(exhausted.Applied());
    manager_.RunEventLoop(5);
  }
  ASSERT_TRUE(acceptor_.IsPaused());
  acceptor_.SetHeld(true);
  TManualClock::AdvanceMilliseconds(kAcceptPauseLongestMilliseconds);
  acceptor_.Update(Now());
  EXPECT_FALSE(acceptor_.IsPaused());
  EXPECT_FALSE(acceptor_.IsWatching());
  acceptor_.SetHeld(false);
  EXPECT_TRUE(acceptor_.IsWatching());
  ASSERT_TRUE(OrvTest::RunLoopUntil(manager_, [&] { return accepted_.size() == 1; }));
  CloseAccepted();
}

TEST(AcceptFailures, OnlyResourcesAndABrokenSocketPause) {
  struct TCase {
    int error;
    EAcceptFailure expected;
  };
  const std::vector<TCase> cases = {
      {ECONNABORTED, EAcceptFailure::kRetry}, {EPROTO, EAcceptFailure::kRetry},
      {ENETDOWN, EAcceptFailure::kRetry},     {ENOPROTOOPT, EAcceptFailure::kRetry},
      {EHOSTDOWN, EAcceptFailure::kRetry},    {ENONET, EAcceptFailure::kRetry},
      {EHOSTUNREACH, EAcceptFailure::kRetry}, {EOPNOTSUPP, EAcceptFailure::kRetry},
      {ENETUNREACH, EAcceptFailure::kRetry},  {EPERM, EAcceptFailure::kRetry},
      {EINTR, EAcceptFailure::kRetry},        {ECONNRESET, EAcceptFailure::kRetry},
      {ETIMEDOUT, EAcceptFailure::kRetry},    {EMFILE, EAcceptFailure::kPause},
      {ENFILE, EAcceptFailure::kPause},       {ENOBUFS, EAcceptFailure::kPause},
      {ENOMEM, EAcceptFailure::kPause},       {EBADF, EAcceptFailure::kPause},
      {EINVAL, EAcceptFailure::kPause},       {ENOTSOCK, EAcceptFailure::kPause},
  };
  for (const TCase& c : cases) EXPECT_EQ(ClassifyAcceptError(c.error), c.expected) << GetErrorString(c.error).c_str();
}

TEST_F(ListenAcceptorTest, AFailureOfOneConnectionIsGonePastWithALineASecondAtMost) {
  Connect();
  const TTimeStamp start = Now();
  EXPECT_TRUE(acceptor_.HandleFailure(ECONNABORTED, start));
  ASSERT_EQ(LineCount(), 1u);
  EXPECT_EQ(LastLine(), "accept failed (Software caused connection abort) [1 failure of a single connection since "
                        "the last such line; went on to the next one]");
  EXPECT_EQ(TCapturedNetworkLog::Lines().back().level, 1);
  // More within the second are counted, not written, and nothing pauses.
  for (int error : {EPROTO, ENETDOWN, EHOSTUNREACH}) EXPECT_TRUE(acceptor_.HandleFailure(error, start));
  EXPECT_FALSE(acceptor_.IsPaused());
  EXPECT_TRUE(acceptor_.IsWatching());
  acceptor_.Update(start + (kAcceptRetriedLineMilliseconds - 1) * 1000000ull);
  EXPECT_EQ(LineCount(), 1u);
  // The second over, the next pass of the loop writes them.
  acceptor_.Update(start + kAcceptRetriedLineMilliseconds * 1000000ull);
  ASSERT_EQ(LineCount(), 2u);
  EXPECT_EQ(LastLine(), "accept failed (No route to host) [3 failures of a single connection since the last such "
                        "line; went on to the next one]");
  acceptor_.Update(start + 5 * kAcceptRetriedLineMilliseconds * 1000000ull);
  EXPECT_EQ(LineCount(), 2u);
  // The connection waiting behind them is taken.
  ASSERT_TRUE(OrvTest::RunLoopUntil(manager_, [&] { return accepted_.size() == 1; }));
  CloseAccepted();
}

TEST_F(ListenAcceptorTest, OutOfResourcesOrWithABrokenSocketItPauses) {
  for (int error : {EMFILE, ENFILE, ENOBUFS, ENOMEM, EBADF}) {
    SCOPED_TRACE(GetErrorString(error).c_str());
    const std::size_t lines = LineCount();
    EXPECT_FALSE(acceptor_.HandleFailure(error, Now()));
    EXPECT_TRUE(acceptor_.IsPaused());
    EXPECT_FALSE(acceptor_.IsWatching());
    ASSERT_EQ(LineCount(), lines + 1);
    EXPECT_NE(LastLine().find("; not accepting for "), std::string::npos) << LastLine();
    TManualClock::AdvanceMilliseconds(kAcceptPauseLongestMilliseconds);
    acceptor_.Update(Now());
    ASSERT_FALSE(acceptor_.IsPaused());
  }
}

// A failure that leaves its connection waiting would come back at once for ever: so many in a row
// pause the socket all the same, and an accepted connection starts the count again.
TEST_F(ListenAcceptorTest, TooManySingleConnectionFailuresInARowPause) {
  for (std::uint32_t i = 1; i < kAcceptRetriesInARow; ++i) ASSERT_TRUE(acceptor_.HandleFailure(EPERM, Now())) << i;
  EXPECT_FALSE(acceptor_.HandleFailure(EPERM, Now()));
  EXPECT_TRUE(acceptor_.IsPaused());
  EXPECT_NE(LastLine().find("(Operation not permitted) [1 failure since the last line; not accepting for 100 ms]"),
            std::string::npos)
      << LastLine();
  TManualClock::AdvanceMilliseconds(kAcceptPauseShortestMilliseconds);
  acceptor_.Update(Now());
  for (std::uint32_t i = 1; i < kAcceptRetriesInARow; ++i) ASSERT_TRUE(acceptor_.HandleFailure(EPERM, Now())) << i;
  Connect();
  ASSERT_TRUE(OrvTest::RunLoopUntil(manager_, [&] { return accepted_.size() == 1; }));
  CloseAccepted();
  for (std::uint32_t i = 1; i < kAcceptRetriesInARow; ++i) ASSERT_TRUE(acceptor_.HandleFailure(EPERM, Now())) << i;
  EXPECT_FALSE(acceptor_.IsPaused());
}

}  // namespace
}  // namespace Orvan::Network
