// The log shares of connections that never became clients, and the summary line of the rest.
#include "dedicated/clients/connection_log_limiter.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <string>
#include <vector>

#include "support/network_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

constexpr TTimeStamp kLimiterStart = 1'000'000'000'000;
constexpr TTimeStamp kLimiterMillisecond = 1'000'000;

TEST(ConnectionLogLimiterTest, SharesPerSourceAndInAll) {
  struct Case {
    const char* what;
    std::uint32_t sources;
    std::uint32_t perSource;  // connections from each source, all at once
    std::uint32_t written;
  };
  const auto perSource = static_cast<std::uint32_t>(kLoggedConnectionBurstPerSource);
  const auto overall = static_cast<std::uint32_t>(kLoggedConnectionBurst);
  const std::vector<Case> cases = {
      {"one source within its burst", 1, perSource, perSource},
      {"one source flooding", 1, 1000, perSource},
      {"a few sources each flooding", 4, 1000, 4 * perSource},
      {"many sources, a few each", 200, 2, overall},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TConnectionLogLimiter limiter;
    std::uint32_t written = 0;
    for (std::uint32_t source = 0; source < c.sources; ++source) {
      for (std::uint32_t i = 0; i < c.perSource; ++i) {
        written += limiter.TakeLine(OrvTest::Ipv4Peer(0x0A000000 + source, static_cast<std::uint16_t>(i)), kLimiterStart) ? 1 : 0;
      }
    }
    EXPECT_EQ(written, c.written);
  }
  // A flooding source gets its share back at the share's pace.
  TConnectionLogLimiter limiter;
  while (limiter.TakeLine(OrvTest::Ipv4Peer(0x7F000001), kLimiterStart)) {
  }
  std::uint32_t written = 0;
  for (TTimeStamp t = kLimiterStart + kLimiterMillisecond; t <= kLimiterStart + 10'000 * kLimiterMillisecond; t += kLimiterMillisecond) {
    written += limiter.TakeLine(OrvTest::Ipv4Peer(0x7F000001), t) ? 1 : 0;
  }
  EXPECT_NEAR(written, 10 * kLoggedConnectionsPerSecondPerSource, 1.0);
}

TEST(ConnectionLogLimiterTest, SummaryOnceASecondWithReasons) {
  OrvTest::TCapturedNetworkLog log;
  TConnectionLogLimiter limiter;
  limiter.Flush(kLimiterStart);
  EXPECT_TRUE(OrvTest::TCapturedNetworkLog::Lines().empty()) << "nothing counted, nothing written";
  for (int i = 0; i < 1200; ++i) limiter.CountEnd(OrvTest::Ipv4Peer(0x7F000001), "ConnectionLost", kLimiterStart);
  for (int i = 0; i < 40; ++i) limiter.CountEnd(OrvTest::Ipv4Peer(0x7F000001), "connection rate", kLimiterStart + kLimiterMillisecond);
  limiter.CountEnd(OrvTest::Ipv4Peer(0x7F000002), "TimeOut", kLimiterStart + 2 * kLimiterMillisecond);
  limiter.Flush(kLimiterStart + 999 * kLimiterMillisecond);
  EXPECT_TRUE(OrvTest::TCapturedNetworkLog::Lines().empty()) << "not before the second is over";
  limiter.Flush(kLimiterStart + 1000 * kLimiterMillisecond);
  const std::vector<std::string> expected = {
      "1240 connections from 127.0.0.1 refused or closed in the last second (ConnectionLost 1200, connection rate 40)",
      "1 connections from 127.0.0.2 refused or closed in the last second (TimeOut 1)",
  };
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(), expected);
  EXPECT_FALSE(limiter.HasCounts());
  limiter.Flush(kLimiterStart + 5000 * kLimiterMillisecond);
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines().size(), 2u) << "the counts started again";
}

// However many sources and reasons, a second writes a bounded number of lines: the sources beyond
// the named ones share one line, the reasons beyond the named ones count as "other".
TEST(ConnectionLogLimiterTest, SummaryIsBoundedInSourcesAndReasons) {
  OrvTest::TCapturedNetworkLog log;
  TConnectionLogLimiter limiter;
  static const char* const kReasons[] = {"r0", "r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9"};
  for (const char* reason : kReasons) limiter.CountEnd(OrvTest::Ipv4Peer(0x7F000001), reason, kLimiterStart);
  for (std::uint32_t source = 0; source < 1000; ++source) {
    limiter.CountEnd(OrvTest::Ipv4Peer(0x0A000000 + source), "ConnectionLost", kLimiterStart);
  }
  limiter.Flush(kLimiterStart + 1000 * kLimiterMillisecond);
  const std::vector<std::string> lines = OrvTest::TCapturedNetworkLog::Texts();
  ASSERT_EQ(lines.size(), kSummarySourcesPerSecond + 1);
  EXPECT_EQ(lines.front(),
            "10 connections from 127.0.0.1 refused or closed in the last second (r0 1, r1 1, r2 1, r3 1, r4 1, r5 1, "
            "r6 1, r7 1, other 2)");
  const std::string others = std::to_string(1000 - (kSummarySourcesPerSecond - 1));
  EXPECT_EQ(lines.back(), others + " connections from other addresses refused or closed in the last second "
                                   "(ConnectionLost " +
                              others + ")");
}

}  // namespace
}  // namespace Orvan::Dedicated
