#include "dedicated/link/server_property_reporting.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/sockets/libevent_socket_manager.h"
#include "support/dedicated_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

const std::string kQueryPrefix = "getinfos ";

// The answer to the datagram, or "-" for none.
std::string Answer(TServerPropertyReporting& reporting, const std::string& datagram) {
  std::uint8_t buffer[kPropertyQueryBufferSize] = {};
  std::copy(datagram.begin(), datagram.end(), buffer);
  const std::uint32_t length = reporting.AnswerQuery(buffer, static_cast<std::uint32_t>(datagram.size()));
  return length == 0 ? "-" : std::string(reinterpret_cast<const char*>(buffer), length);
}

TEST(ServerPropertyReportingTest, RepliesListThePublishedPropertiesInKeyOrder) {
  TServerPropertyReporting reporting;
  EXPECT_EQ(Answer(reporting, kQueryPrefix + "abcd"), "abcd");  // nothing published: the challenge alone
  for (const char* key : {"b", "a", "B", "ab", "~"}) EXPECT_TRUE(reporting.SetProperty(key, std::string("v") + key));
  const std::string text = "\x01" "B\x01vB\x01" "a\x01va\x01" "ab\x01vab\x01" "b\x01vb\x01" "~\x01v~\x01";
  EXPECT_EQ(Answer(reporting, kQueryPrefix + "wxyz"), "wxyz" + text);
  // A challenge of NUL bytes comes back as it is.
  EXPECT_EQ(Answer(reporting, kQueryPrefix + std::string(4, '\0')), std::string(4, '\0') + text);

  // Refused: a control byte, a line break, UTF-8 beyond ASCII; the old value stays published.
  const std::string refused[] = {"x\x01y", "x\ny", "Caf\xC3\xA9", std::string(1, '\0')};
  for (const std::string& value : refused) {
    EXPECT_FALSE(reporting.SetProperty("a", value));
    EXPECT_FALSE(reporting.SetProperty(value, "v"));
  }
  EXPECT_TRUE(reporting.SetProperty("a", "va"));  // the same value: rebuilt, the same reply
  EXPECT_TRUE(reporting.SetProperty("a", " \x7F"));
  EXPECT_EQ(Answer(reporting, kQueryPrefix + "abcd"),
            "abcd" + std::string("\x01" "B\x01vB\x01" "a\x01 \x7F\x01" "ab\x01vab\x01" "b\x01vb\x01" "~\x01v~\x01"));
  reporting.RemoveProperty("a");
  reporting.RemoveProperty("absent");
  EXPECT_EQ(reporting.GetPropertyCount(), 4u);
  EXPECT_EQ(Answer(reporting, kQueryPrefix + "abcd").find("\x01" "a\x01"), std::string::npos);
}

TEST(ServerPropertyReportingTest, OnlyExactQueriesAreAnswered) {
  TServerPropertyReporting reporting;
  reporting.SetProperty("k", "v");
  const std::string ignored[] = {kQueryPrefix + "abc", kQueryPrefix + "abcde", "GETINFOS abcd", "getinfosabcde",
                                 "", "getinfos"};
  for (const std::string& datagram : ignored) EXPECT_EQ(Answer(reporting, datagram), "-") << datagram;
}

TEST(ServerPropertyReportingTest, RepliesFitOneDatagramOf2047Bytes) {
  TServerPropertyReporting reporting;
  // 0x01 "K" 0x01 value 0x01: 4 bytes around the value.
  reporting.SetProperty("K", std::string(2043 - 4, 'v'));
  EXPECT_EQ(Answer(reporting, kQueryPrefix + "abcd").size(), 2047u);
  reporting.SetProperty("K", std::string(2044 - 4, 'v'));
  EXPECT_EQ(Answer(reporting, kQueryPrefix + "abcd"), "-");
}

// 10.0.0.0 plus the index: a source address of its own.
sockaddr_in Source(std::uint32_t index) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(4000);
  address.sin_addr.s_addr = htonl(0x0A000000u + index);
  return address;
}

// At `ms`, sources first to first + count - 1 each send `each` queries (in turn, source by source),
// of which `answered` in all are within the limits.
struct TQueryStep {
  double ms;
  std::uint32_t first;
  std::uint32_t count;
  int each;
  int answered;
};

struct TQueryCase {
  const char* name;
  std::vector<TQueryStep> steps;
};

TEST(ServerPropertyQueryLimits, EachSourceAndAllTogetherAreHeldToTheirRates) {
  const std::vector<TQueryCase> cases = {
      {"a burst of 20, then 10 a second", {{0, 0, 1, 25, 20}, {100, 0, 1, 2, 1}, {1000, 0, 1, 20, 9}}},
      {"another source is answered while one floods",
       {{0, 0, 1, 2000, 20}, {0, 1, 1, 5, 5}, {50, 0, 1, 1000, 0}, {60, 1, 1, 1, 1}}},
      {"the port does not make another source", {{0, 0, 1, 20, 20}, {0, 0, 1, 1, 0}}},
      {"1,000 a second in all", {{0, 0, 60, 20, 1000}, {100, 100, 60, 1, 60}, {200, 200, 200, 1, 140}}},
      // Every bucket emptied at 0, half refilled at 500 ms: none can be forgotten as spent.
      {"past 1,024 sources a new one takes the place of the one that queried least recently",
       {{0, 0, 1024, 20, 1000}, {500, 5000, 1, 1, 1}, {500, 0, 1, 20, 20}, {500, 2, 1, 20, 5}}},
  };
  OrvTest::TCapturedNetworkLog log;
  for (const TQueryCase& c : cases) {
    TServerPropertyReporting reporting;
    for (const TQueryStep& step : c.steps) {
      const TTimeStamp now = OrvTest::TManualClock::kStart + static_cast<TTimeStamp>(step.ms * 1e6);
      int answered = 0;
      for (std::uint32_t source = step.first; source < step.first + step.count; ++source) {
        sockaddr_in address = Source(source);
        for (int i = 0; i < step.each; ++i) {
          address.sin_port = htons(static_cast<std::uint16_t>(4000 + i));
          answered += reporting.AdmitQuery(reinterpret_cast<const sockaddr*>(&address), now) ? 1 : 0;
        }
      }
      EXPECT_EQ(answered, step.answered) << c.name << " at " << step.ms << " ms";
    }
  }
}

// One line a second at most, once the second of the drops has ended, with how many there were.
TEST(ServerPropertyQueryLimits, DropsAreLoggedOnceASecondWithTheirCount) {
  OrvTest::TCapturedNetworkLog log;
  TServerPropertyReporting reporting;
  const sockaddr_in address = Source(0);
  const auto at = [](double ms) { return OrvTest::TManualClock::kStart + static_cast<TTimeStamp>(ms * 1e6); };
  const auto send = [&](double ms, int times) {
    for (int i = 0; i < times; ++i) reporting.AdmitQuery(reinterpret_cast<const sockaddr*>(&address), at(ms));
  };
  const std::string line = " property queries over the rate limits";
  struct Step {
    double ms;
    int queries;  // 0: a step of the session instead (ReportDrops)
    std::vector<std::string> lines;  // logged by the step
  };
  const std::vector<Step> steps = {
      {0, 25, {}},         {500, 8, {}},  {999, 0, {}},   {1000, 0, {"Dropped 8" + line}}, {1000, 0, {}},
      {1200, 9, {}},       {1500, 0, {}},
      // The second of those 2 is over: the next drop writes their count and starts a new second.
      {2300, 12, {"Dropped 2" + line}}, {3300, 0, {"Dropped 1" + line}}, {9000, 0, {}},
  };
  for (const Step& step : steps) {
    OrvTest::TCapturedNetworkLog::Lines().clear();
    if (step.queries == 0) {
      reporting.ReportDrops(at(step.ms));
    } else {
      send(step.ms, step.queries);
    }
    EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(), step.lines) << "at " << step.ms << " ms";
    for (const auto& logged : OrvTest::TCapturedNetworkLog::Lines()) EXPECT_EQ(logged.level, 1);
  }
}

// The property query on its socket, on the main task's event loop and client port.
class ReportingSocketTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    client_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(client_, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    // The server's port: one that was free a moment ago.
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    ::bind(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    server_ = address;
    settings_.clientPort = ntohs(address.sin_port);
    task_ = OrvTest::CreateTask(settings_, &session_);
  }
  // The query's socket is on the task's event loop: it closes before the task goes.
  void TearDown() override {
    for (int other : others_) ::close(other);
    ::close(client_);
    if (session_.GetPropertyTable() != nullptr) session_.GetPropertyTable()->StopReporting();
    TDedicatedTest::TearDown();
  }
  // A client of its own on another loopback address (127.0.0.2 on): another source to the server.
  int OtherSource(const char* address) {
    const int other = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    ::inet_pton(AF_INET, address, &local.sin_addr);
    EXPECT_EQ(::bind(other, reinterpret_cast<const sockaddr*>(&local), sizeof(local)), 0) << address;
    others_.push_back(other);
    return other;
  }
  void Query(const std::string& challenge, int times = 1) { QueryFrom(client_, challenge, times); }
  void QueryFrom(int from, const std::string& challenge, int times = 1) {
    const std::string datagram = kQueryPrefix + challenge;
    for (int i = 0; i < times; ++i) {
      ::sendto(from, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&server_),
               sizeof(server_));
    }
  }
  // Replies waiting at the client (or another source) now.
  std::vector<std::string> Replies() { return RepliesAt(client_); }
  std::vector<std::string> RepliesAt(int at) {
    std::vector<std::string> replies;
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::recv(at, buffer, sizeof(buffer), MSG_DONTWAIT);
      if (got < 0) return replies;
      replies.emplace_back(buffer, static_cast<std::size_t>(got));
    }
  }
  // Runs the event loop until a reply came (or 200 passes).
  std::string NextReply() {
    for (int i = 0; i < 200; ++i) {
      if (OrvTest::WaitReadable(client_, 0)) break;
      task_->GetSocketManager()->RunEventLoop(10);
    }
    const std::vector<std::string> replies = Replies();
    return replies.empty() ? "" : replies.front();
  }

  TStrivexDedicatedSession session_{24};
  OrvTest::TTaskSettings settings_;
  TMainServerTask* task_ = nullptr;
  int client_ = -1;
  std::vector<int> others_;
  sockaddr_in server_{};
};

TEST_F(ReportingSocketTest, ListensBetweenStartAndStop) {
  TServerPropertyReporting reporting;
  reporting.SetProperty("k", "v");
  EXPECT_FALSE(reporting.StopListening());
  ASSERT_TRUE(reporting.StartListening());
  EXPECT_EQ(LevelOf("ServerPropertyReporting listening for client !"), 0);
  Query("abcd");
  EXPECT_EQ(NextReply(), "abcd\x01k\x01v\x01");
  // A second start replaces the socket.
  ASSERT_TRUE(reporting.StartListening());
  Query("efgh");
  EXPECT_EQ(NextReply(), "efgh\x01k\x01v\x01");
  EXPECT_TRUE(reporting.StopListening());
  EXPECT_FALSE(reporting.IsListening());
  Query("ijkl");
  EXPECT_EQ(NextReply(), "");
}

TEST_F(ReportingSocketTest, PortTakenFailsTheStart) {
  const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address = server_;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(::bind(holder, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  TServerPropertyReporting reporting;
  EXPECT_FALSE(reporting.StartListening());
  EXPECT_TRUE(Logged("Failed to bind reporting socket (Address already in use)"));
  EXPECT_EQ(LevelOf("Failed to bind reporting socket (Address already in use)"), 3);
  EXPECT_FALSE(reporting.IsListening());
  EXPECT_TRUE(reporting.StopListening());  // the closed socket was kept until here
  ::close(holder);
}

// A flood must not hold the main loop: one readable event handles a bounded number of datagrams.
// The 100 queries come from five sources, each within its burst.
TEST_F(ReportingSocketTest, AtMost64QueriesPerReadableEvent) {
  TServerPropertyReporting reporting;
  reporting.SetProperty("k", "v");
  ASSERT_TRUE(reporting.StartListening());
  std::vector<int> sources = {client_};
  for (const char* address : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}) {
    sources.push_back(OtherSource(address));
  }
  for (int source : sources) QueryFrom(source, "abcd", 20);
  const auto answered = [&] {
    std::size_t count = 0;
    for (int source : sources) count += RepliesAt(source).size();
    return count;
  };
  reporting.ReceiveQueries();
  EXPECT_EQ(answered(), 64u);
  reporting.ReceiveQueries();
  EXPECT_EQ(answered(), 36u);
}

// A flood from one socket gets its burst and then 10 replies a second, each the very reply of an
// unlimited query; another address is answered all the while, and the drops are logged once.
TEST_F(ReportingSocketTest, AFloodingSourceIsHeldToItsRateAndAnotherIsStillAnswered) {
  OrvTest::TManualClock clock;
  TServerPropertyReporting reporting;
  reporting.SetProperty("k", "v");
  ASSERT_TRUE(reporting.StartListening());
  const int other = OtherSource("127.0.0.2");
  const std::string reply = "wxyz\x01k\x01v\x01";
  const auto receive = [&] {
    for (int pass = 0; pass < 2; ++pass) reporting.ReceiveQueries();
  };
  Query("wxyz", 60);
  QueryFrom(other, "wxyz");
  receive();
  EXPECT_EQ(Replies(), std::vector<std::string>(20, reply));
  EXPECT_EQ(RepliesAt(other), std::vector<std::string>{reply});
  OrvTest::TManualClock::AdvanceMilliseconds(500);
  Query("wxyz", 30);
  QueryFrom(other, "wxyz");
  receive();
  EXPECT_EQ(Replies(), std::vector<std::string>(5, reply));
  EXPECT_EQ(RepliesAt(other), std::vector<std::string>{reply});
  EXPECT_FALSE(Logged("Dropped 65 property queries over the rate limits"));
  OrvTest::TManualClock::AdvanceMilliseconds(500);
  reporting.ReportDrops(OrvTest::TManualClock::Now());
  EXPECT_TRUE(Logged("Dropped 65 property queries over the rate limits"));
}

// A reply too large ends the pass; the queries behind it wait for the next readable event.
TEST_F(ReportingSocketTest, OversizedReplyEndsThePass) {
  TServerPropertyReporting reporting;
  reporting.SetProperty("K", std::string(2044 - 4, 'v'));
  ASSERT_TRUE(reporting.StartListening());
  Query("abcd", 2);
  reporting.ReceiveQueries();
  EXPECT_TRUE(Replies().empty());
  reporting.SetProperty("K", "v");
  reporting.ReceiveQueries();
  EXPECT_EQ(Replies(), std::vector<std::string>{"abcd\x01K\x01v\x01"});
}

// The table publishes what it declares and changes, never a hidden property.
TEST_F(ReportingSocketTest, PropertyTablePublishesItsVisibleProperties) {
  session_.Initialize();
  TDedicatedPropertyTable* table = session_.GetPropertyTable();
  ASSERT_TRUE(table->StartReporting());
  EXPECT_EQ(table->GetReporting().GetPropertyCount(), 29u);  // all thirty but Password
  EXPECT_EQ(table->SetVariable("Password", "secret", false, false, true, false), kPropertyChanged);
  EXPECT_EQ(table->SetVariable("ServerName", "Loopback", false, false, true, false), kPropertyChanged);
  // Not publishable: refused, so the table and the query both keep the old text.
  EXPECT_EQ(table->SetVariable("Map", "Caf\xC3\xA9", false, false, true, false), kPropertyRefused);
  EXPECT_EQ(std::string(table->GetValue("Map").c_str()), "Northmoor_Plains_10v10");
  Query("abcd");
  const std::string reply = NextReply();
  EXPECT_NE(reply.find("\x01" "ServerName\x01Loopback\x01"), std::string::npos);
  EXPECT_NE(reply.find("\x01" "NeedPassword\x01" "1\x01"), std::string::npos);
  EXPECT_NE(reply.find("\x01" "Map\x01Northmoor_Plains_10v10\x01"), std::string::npos);
  EXPECT_EQ(reply.find("Password\x01secret"), std::string::npos);
  EXPECT_EQ(reply.find("secret"), std::string::npos);
  EXPECT_TRUE(table->StopReporting());
}

}  // namespace
}  // namespace Orvan::Dedicated
