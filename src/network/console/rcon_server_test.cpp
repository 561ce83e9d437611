#include "network/console/rcon_server.h"

#include <arpa/inet.h>
#include <event2/bufferevent_struct.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/native_socket.h"
#include "support/console_test_commands.h"
#include "support/event_loop_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"

namespace Orvan::ServerTools {
namespace {

using Network::TBufferEventSocket;
using Network::TSocketInterfaceManagerForLibEvent;
using OrvTest::RunLoopUntil;
using OrvTest::TCapturedNetworkLog;

constexpr const char* kPassword = "s3cret";

std::string Packet(std::int32_t id, std::int32_t type, const std::string& body) {
  std::string bytes;
  auto put = [&](std::int32_t value) {
    const auto word = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(word >> shift);
  };
  put(static_cast<std::int32_t>(body.size() + 10));
  put(id);
  put(type);
  bytes += body;
  bytes += std::string(2, '\0');
  return bytes;
}

// A console on one end of a socket pair; the test is the client on the other end.
class RConConsoleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrvTest::IgnoreSigpipe();
    registry_.SetPassword(kPassword);
    registry_.RegisterCommand("echo", &echo_);
    registry_.RegisterCommand("long", &long_);
    auto* socket = new TBufferEventSocket(pair_.TakeFirst(), &manager_);
    sockaddr unnamed{};
    unnamed.sa_family = AF_UNIX;
    server_.OnNewConnection(socket, &unnamed, false);
    ASSERT_EQ(server_.GetConnectionCount(), 1u);
  }

  void Send(const std::string& bytes) {
    ASSERT_EQ(::send(pair_.second, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
  }
  // Runs the loop until `count` bytes came back, or the connection closed (returns what came).
  std::string Receive(std::size_t count) {
    std::string received;
    bool closed = false;
    RunLoopUntil(manager_, [&] {
      char chunk[4096];
      ssize_t n;
      while ((n = ::recv(pair_.second, chunk, sizeof(chunk), MSG_DONTWAIT)) > 0) {
        received.append(chunk, static_cast<std::size_t>(n));
      }
      closed = n == 0;
      return closed || received.size() >= count;
    });
    return received;
  }
  bool PeerClosed(int descriptor) {
    return RunLoopUntil(manager_, [&] {
      char byte;
      return ::recv(descriptor, &byte, 1, MSG_DONTWAIT) == 0;
    });
  }
  bool PeerClosed() { return PeerClosed(pair_.second); }

  TCapturedNetworkLog log_;
  TSocketInterfaceManagerForLibEvent manager_{false};
  TConsoleCommandRegistry registry_;
  OrvTest::TEchoCommand echo_;
  OrvTest::TLongReplyCommand long_;
  RConServer server_{&registry_};
  OrvTest::TSocketPair pair_;
};

TEST_F(RConConsoleTest, ARefusedClientGetsBothAnswersBeforeTheConnectionCloses) {
  Send(Packet(7, kRConTypeAuthenticate, "wrong"));
  EXPECT_EQ(Receive(28), Packet(7, kRConTypeResponse, "") + Packet(-1, kRConTypeAuthAnswer, ""));
  EXPECT_TRUE(PeerClosed());
  EXPECT_EQ(server_.GetConnectionCount(), 0u);
}

TEST_F(RConConsoleTest, AnswersQueuedBeforeAPacketThatEndsTheConnectionStillArrive) {
  struct TCase {
    const char* name;
    std::string ending;
  };
  const std::string bad = Packet(3, kRConTypeCommand, "echo");
  const TCase cases[] = {
      {"size 9", std::string("\x09\0\0\0", 4) + bad.substr(4)},
      {"size 4097", std::string("\x01\x10\0\0", 4) + bad.substr(4)},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.name);
    OrvTest::TSocketPair pair;
    sockaddr unnamed{};
    unnamed.sa_family = AF_UNIX;
    RConServer server(&registry_);
    server.OnNewConnection(new TBufferEventSocket(pair.TakeFirst(), &manager_), &unnamed, false);
    const std::string sent =
        Packet(1, kRConTypeAuthenticate, kPassword) + Packet(2, kRConTypeCommand, "echo before") + test.ending;
    const std::string expected = Packet(1, kRConTypeResponse, "") + Packet(1, kRConTypeAuthAnswer, "") +
                                 Packet(2, kRConTypeResponse, "echo before");
    ASSERT_EQ(::send(pair.second, sent.data(), sent.size(), MSG_NOSIGNAL), static_cast<ssize_t>(sent.size()));
    std::string received;
    ASSERT_TRUE(RunLoopUntil(manager_, [&] {
      char chunk[256];
      const ssize_t n = ::recv(pair.second, chunk, sizeof(chunk), MSG_DONTWAIT);
      if (n > 0) received.append(chunk, static_cast<std::size_t>(n));
      return n == 0;
    }));
    EXPECT_EQ(received, expected);
    EXPECT_EQ(server.GetConnectionCount(), 0u);
  }
}

TEST_F(RConConsoleTest, ConnectionsWaitTenThousandSecondsForTraffic) {
  Send(Packet(1, kRConTypeAuthenticate, kPassword));
  ASSERT_EQ(Receive(28).size(), 28u);
  // Reached through a command's console: the one console there is.
  struct TSocketProbe final : IConsoleCommand {
    bool ExecuteCommand(const TOrvString<char>&, IVirtualConsole* console) override {
      const bufferevent* seen = static_cast<RConConsole*>(console)->GetSocket()->GetBufferEvent();
      readSeconds = seen->timeout_read.tv_sec;
      writeSeconds = seen->timeout_write.tv_sec;
      return true;
    }
    long readSeconds = 0;
    long writeSeconds = 0;
  } probe;
  registry_.RegisterCommand("probe", &probe);
  Send(Packet(2, kRConTypeCommand, "probe"));
  RunLoopUntil(manager_, [&] { return probe.readSeconds != 0; });
  EXPECT_EQ(probe.readSeconds, 10000);
  EXPECT_EQ(probe.writeSeconds, 10000);
}

// Kept as it is: a second authentication is taken without answer, and the packets that came with
// it wait for the next read event.
TEST_F(RConConsoleTest, ASecondAuthenticationHoldsBackWhatFollowsItUntilMoreArrives) {
  Send(Packet(1, kRConTypeAuthenticate, kPassword));
  ASSERT_EQ(Receive(28), Packet(1, kRConTypeResponse, "") + Packet(1, kRConTypeAuthAnswer, ""));
  Send(Packet(2, kRConTypeAuthenticate, kPassword) + Packet(3, kRConTypeCommand, "echo held"));
  manager_.RunEventLoop(25);
  EXPECT_EQ(Receive(0), "");
  Send(Packet(4, kRConTypeCommand, "echo next"));
  EXPECT_EQ(Receive(2 * 23), Packet(3, kRConTypeResponse, "echo held") + Packet(4, kRConTypeResponse, "echo next"));
}

TEST_F(RConConsoleTest, AReplyLongerThanAPacketIsSplitWithItsIdAndType) {
  Send(Packet(1, kRConTypeAuthenticate, kPassword));
  ASSERT_EQ(Receive(28).size(), 28u);
  Send(Packet(9, kRConTypeCommand, "long 4087"));
  const std::string text = OrvTest::LongReplyText("long 4087");
  EXPECT_EQ(Receive(4087 + 28),
            Packet(9, kRConTypeResponse, text.substr(0, 4086)) + Packet(9, kRConTypeResponse, text.substr(4086)));
}

TEST_F(RConConsoleTest, DeletingTheServerClosesItsConnections) {
  OrvTest::TSocketPair pair;
  {
    RConServer other(&registry_);
    sockaddr unnamed{};
    unnamed.sa_family = AF_UNIX;
    other.OnNewConnection(new TBufferEventSocket(pair.TakeFirst(), &manager_), &unnamed, false);
    EXPECT_EQ(other.GetConnectionCount(), 1u);
  }
  EXPECT_TRUE(PeerClosed(pair.second));
}

TEST(RConServerTest, ListensAndLogsEachAcceptedConnection) {
  OrvTest::IgnoreSigpipe();
  TCapturedNetworkLog log;
  TSocketInterfaceManagerForLibEvent manager(false);
  TConsoleCommandRegistry registry;
  RConServer server(&registry);
  server.Listen(&manager, 0);
  ASSERT_NE(server.GetListenSocket(), nullptr);
  sockaddr_in6 bound{};
  socklen_t length = sizeof(bound);
  ASSERT_EQ(::getsockname(server.GetListenSocket()->GetDescriptor(), reinterpret_cast<sockaddr*>(&bound), &length), 0);

  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = bound.sin6_port;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  sockaddr_in local{};
  length = sizeof(local);
  ASSERT_EQ(::getsockname(client, reinterpret_cast<sockaddr*>(&local), &length), 0);
  TCapturedNetworkLog::Lines().clear();
  ASSERT_TRUE(RunLoopUntil(manager, [&] { return server.GetConnectionCount() == 1; }));

  const std::vector<std::string> lines = TCapturedNetworkLog::Texts();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "New Rcon connection in progress (clear text)");
  const std::string prefix =
      "New rcon connection validated -> ::ffff:127.0.0.1 : " + std::to_string(ntohs(local.sin_port)) + " (Socket : ";
  EXPECT_EQ(lines[1].rfind(prefix, 0), 0u) << lines[1];
  EXPECT_EQ(lines[1].back(), ')');

  // A second Listen replaces the listener; the connection stays.
  server.Listen(&manager, 0);
  EXPECT_NE(server.GetListenSocket(), nullptr);
  EXPECT_EQ(server.GetConnectionCount(), 1u);
  ::close(client);
  EXPECT_TRUE(RunLoopUntil(manager, [&] { return server.GetConnectionCount() == 0; }));
}

TEST(RConPasswordTest, ComparedInConstantTimeWithTheSameAnswersAsBefore) {
  struct TCase {
    const char* given;
    const char* secret;
    bool same;
  };
  const TCase cases[] = {
      {"s3cret", "s3cret", true},   {"s3cre", "s3cret", false}, {"s3cret!", "s3cret", false},
      {"S3cret", "s3cret", false},  {"s3creT", "s3cret", false}, {"", "", true},
      {"", "s3cret", false},        {"s3cret", "", false},       {"local-console", "local-console", true},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.given) + " / " + c.secret);
    const TOrvString<char> given(c.given);
    const TOrvString<char> secret(c.secret);
    EXPECT_EQ(IsSamePassword(given, secret), c.same);
    EXPECT_EQ(IsSamePassword(given, secret), given == secret);
  }
}

// The listener's limits on connections that have not authenticated, through real connections from
// loopback addresses, with the engine's clock stepped by hand.
class RConLimitsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OrvTest::IgnoreSigpipe();
    registry_.SetPassword(kPassword);
    server_.Listen(&manager_, 0);
    ASSERT_NE(server_.GetListenSocket(), nullptr);
    sockaddr_in6 bound{};
    socklen_t length = sizeof(bound);
    ASSERT_EQ(::getsockname(server_.GetListenSocket()->GetDescriptor(), reinterpret_cast<sockaddr*>(&bound), &length),
              0);
    port_ = bound.sin6_port;
  }
  void TearDown() override {
    for (int client : clients_) ::close(client);
  }

  // A connection from the loopback address `source`; its text as the lines print it in `text`.
  int Connect(const char* source, std::string* text = nullptr) {
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, source, &local.sin_addr);
    EXPECT_EQ(::bind(client, reinterpret_cast<sockaddr*>(&local), sizeof(local)), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = port_;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    socklen_t length = sizeof(local);
    ::getsockname(client, reinterpret_cast<sockaddr*>(&local), &length);
    if (text != nullptr) *text = "::ffff:" + std::string(source) + " : " + std::to_string(ntohs(local.sin_port));
    clients_.push_back(client);
    return client;
  }
  bool Accepted(std::uint32_t connections) {
    return RunLoopUntil(manager_, [&] { return server_.GetConnectionCount() == connections; });
  }
  // Sends the bytes, then reads until `count` bytes came or the server closed the connection.
  std::string Exchange(int client, const std::string& bytes, std::size_t count, bool* closed = nullptr) {
    if (!bytes.empty()) ::send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    std::string received;
    bool ended = false;
    RunLoopUntil(manager_, [&] {
      char chunk[256];
      ssize_t n;
      while ((n = ::recv(client, chunk, sizeof(chunk), MSG_DONTWAIT)) > 0) {
        received.append(chunk, static_cast<std::size_t>(n));
      }
      ended = n == 0;
      return ended || (count != 0 && received.size() >= count);
    });
    if (closed != nullptr) *closed = ended;
    return received;
  }
  // Closed by the server, with no (more) byte sent.
  bool ClosedQuietly(int client) {
    bool closed = false;
    return Exchange(client, "", 0, &closed).empty() && closed;
  }
  std::string Authenticate(int client, bool* closed = nullptr) {
    return Exchange(client, Packet(1, kRConTypeAuthenticate, kPassword), 28, closed);
  }
  static std::size_t CountLines(const std::string& prefix) {
    std::size_t count = 0;
    for (const std::string& line : TCapturedNetworkLog::Texts()) count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    return count;
  }
  static TTimeStamp Now() {
    TTimeStamp now;
    return GetTimeStamp(now);
  }

  OrvTest::TManualClock clock_;
  TCapturedNetworkLog log_;
  TSocketInterfaceManagerForLibEvent manager_{false};
  TConsoleCommandRegistry registry_;
  RConServer server_{&registry_};
  std::uint16_t port_ = 0;  // network order
  std::vector<int> clients_;
};

const std::string kAuthenticated = Packet(1, kRConTypeResponse, "") + Packet(1, kRConTypeAuthAnswer, "");

TEST_F(RConLimitsTest, AConnectionThatHasNotAuthenticatedInTenSecondsIsClosed) {
  std::string silentText;
  const int silent = Connect("127.0.0.1", &silentText);
  const int admin = Connect("127.0.0.1");
  ASSERT_TRUE(Accepted(2));
  ASSERT_EQ(Authenticate(admin), kAuthenticated);

  OrvTest::TManualClock::AdvanceMilliseconds(kRConAuthenticationSeconds * 1000 - 1);
  server_.Update(Now());
  EXPECT_EQ(server_.GetConnectionCount(), 2u);
  OrvTest::TManualClock::AdvanceMilliseconds(2);
  server_.Update(Now());
  EXPECT_EQ(server_.GetConnectionCount(), 1u);
  EXPECT_TRUE(ClosedQuietly(silent));
  const std::string line = "Rcon connection from " + silentText + " closed: not authenticated within 10 s";
  ASSERT_EQ(CountLines(line), 1u);
  EXPECT_EQ(TCapturedNetworkLog::Lines().back().level, 1);
  // An authenticated console keeps the connection's own, long time-outs.
  OrvTest::TManualClock::AdvanceMilliseconds(3600 * 1000);
  server_.Update(Now());
  EXPECT_EQ(server_.GetConnectionCount(), 1u);
}

TEST_F(RConLimitsTest, AtMostSixteenConnectionsWaitForAuthentication) {
  const std::string refused = "Rcon connection from ";
  std::vector<int> waiting;
  // From four addresses, each within its share.
  for (std::uint32_t i = 0; i < kRConMaxUnauthenticated; ++i) {
    const std::string source = "127.0.0." + std::to_string(1 + i / kRConMaxUnauthenticatedPerSource);
    waiting.push_back(Connect(source.c_str()));
  }
  ASSERT_TRUE(Accepted(kRConMaxUnauthenticated));
  // Beyond them each new one is closed at once; one line for the run of refusals, and no other.
  const std::size_t lines = TCapturedNetworkLog::Lines().size();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ClosedQuietly(Connect("127.0.0.9")));
  EXPECT_EQ(CountLines(refused), 1u);
  EXPECT_EQ(CountLines(refused + "::ffff:127.0.0.9 : "), 1u);
  EXPECT_EQ(TCapturedNetworkLog::Lines().size(), lines + 1);
  EXPECT_EQ(server_.GetConnectionCount(), kRConMaxUnauthenticated);
  // One authenticates: a place is free, and the run of refusals is over.
  ASSERT_EQ(Authenticate(waiting[0]), kAuthenticated);
  const int next = Connect("127.0.0.9");
  ASSERT_TRUE(Accepted(kRConMaxUnauthenticated + 1));
  EXPECT_EQ(Authenticate(next), kAuthenticated);
  Connect("127.0.0.9");
  ASSERT_TRUE(Accepted(kRConMaxUnauthenticated + 2));
  EXPECT_TRUE(ClosedQuietly(Connect("127.0.0.10")));
  EXPECT_EQ(CountLines(refused), 2u);
}

// One address re-opening connections holds its share of the waiting places, never all of them.
TEST_F(RConLimitsTest, OneAddressHoldsAtMostFourOfTheWaitingPlaces) {
  std::vector<int> held;
  for (std::uint32_t i = 0; i < kRConMaxUnauthenticatedPerSource; ++i) held.push_back(Connect("127.0.0.3"));
  ASSERT_TRUE(Accepted(kRConMaxUnauthenticatedPerSource));
  const std::string shareLine = "Rcon connection from ::ffff:127.0.0.3 : ";
  const std::string shareEnd =
      " refused: 4 connections from ::ffff:127.0.0.3 are waiting for authentication (further ones from there are "
      "refused without a line until one is accepted again)";
  // The other twelve of its sixteen are closed at accept, with one line for them all.
  for (std::uint32_t i = kRConMaxUnauthenticatedPerSource; i < kRConMaxUnauthenticated; ++i) {
    EXPECT_TRUE(ClosedQuietly(Connect("127.0.0.3")));
  }
  ASSERT_EQ(CountLines(shareLine), 1u);
  const std::string& line = TCapturedNetworkLog::Lines().back().text;
  EXPECT_EQ(line.substr(line.size() - shareEnd.size()), shareEnd) << line;
  EXPECT_EQ(TCapturedNetworkLog::Lines().back().level, 1);
  // The operator, from another address, gets in.
  EXPECT_EQ(Authenticate(Connect("127.0.0.1")), kAuthenticated);
  // Once one of the four authenticates, the address may have another wait, and the next refusal
  // starts a new run with a line of its own.
  ASSERT_EQ(Authenticate(held[0]), kAuthenticated);
  Connect("127.0.0.3");
  ASSERT_TRUE(Accepted(kRConMaxUnauthenticatedPerSource + 2));
  EXPECT_TRUE(ClosedQuietly(Connect("127.0.0.3")));
  EXPECT_EQ(CountLines(shareLine), 2u);
  EXPECT_EQ(server_.GetUnauthenticatedCount(), kRConMaxUnauthenticatedPerSource);
}

TEST_F(RConLimitsTest, AnAddressGivingFiveWrongPasswordsInAMinuteIsRefusedForAMinute) {
  const std::string wrong = Packet(1, kRConTypeAuthenticate, "guess");
  const std::string wrongAnswers = Packet(1, kRConTypeResponse, "") + Packet(-1, kRConTypeAuthAnswer, "");
  std::vector<std::string> texts;
  for (std::uint32_t i = 0; i < Network::kPasswordFailuresBeforeBlock; ++i) {
    std::string text;
    const int guesser = Connect("127.0.0.2", &text);
    texts.push_back(text);
    // Each wrong password is answered as before, then the connection closes.
    EXPECT_EQ(Exchange(guesser, wrong, 28), wrongAnswers);
    EXPECT_TRUE(ClosedQuietly(guesser));
    OrvTest::TManualClock::AdvanceMilliseconds(10000);
  }
  for (const std::string& text : texts) {
    EXPECT_EQ(CountLines("Rcon authentication refused: wrong password from " + text), 1u) << text;
  }
  const std::string blocked = "Rcon connections from ::ffff:127.0.0.2 refused for 60 s: 5 wrong passwords within 60 s";
  ASSERT_EQ(CountLines(blocked), 1u);
  for (const auto& line : TCapturedNetworkLog::Lines()) {
    if (line.text.rfind("Rcon authentication refused", 0) == 0 || line.text == blocked) {
      EXPECT_EQ(line.level, 1);
    }
  }

  // Blocked: closed at accept, the right password never read; another address is let in.
  const std::size_t lines = TCapturedNetworkLog::Lines().size();
  EXPECT_TRUE(ClosedQuietly(Connect("127.0.0.2")));
  EXPECT_TRUE(ClosedQuietly(Connect("127.0.0.2")));
  EXPECT_EQ(Authenticate(Connect("127.0.0.1")), kAuthenticated);
  // The refused connections add nothing to the log: the lines are the accepted one's.
  ASSERT_EQ(TCapturedNetworkLog::Lines().size(), lines + 2);
  EXPECT_EQ(TCapturedNetworkLog::Lines()[lines].text, "New Rcon connection in progress (clear text)");
  const std::string& validated = TCapturedNetworkLog::Lines()[lines + 1].text;
  EXPECT_EQ(validated.rfind("New rcon connection validated -> ::ffff:127.0.0.1 : ", 0), 0u) << validated;
  // The block ends 60 s after the fifth wrong password.
  OrvTest::TManualClock::AdvanceMilliseconds(Network::kPasswordBlockSeconds * 1000 - 10000);
  EXPECT_EQ(Authenticate(Connect("127.0.0.2")), kAuthenticated);
}

}  // namespace
}  // namespace Orvan::ServerTools
