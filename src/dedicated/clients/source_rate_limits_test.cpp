// The per-source buckets of new connections and of forwarded identifications.
#include "dedicated/clients/source_rate_limits.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <functional>
#include <vector>

#include "support/network_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

constexpr TTimeStamp kRateStart = 1'000'000'000'000;
constexpr TTimeStamp kRateMillisecond = 1'000'000;

using TRateTake = std::function<bool(TSourceRateLimits&, const sockaddr_storage&, TTimeStamp)>;

// Each bucket lets its burst through at once, then its rate; the port does not make another
// source, another address does, and one kind of token does not spend the other.
TEST(SourceRateLimitsTest, BurstThenRatePerSource) {
  struct Case {
    const char* what;
    TRateTake take;
    TRateTake other;
    double rate;
    double burst;
  };
  const TRateTake connection = [](TSourceRateLimits& limits, const sockaddr_storage& address, TTimeStamp now) {
    return limits.TakeConnection(address, now);
  };
  const TRateTake identification = [](TSourceRateLimits& limits, const sockaddr_storage& address, TTimeStamp now) {
    return limits.TakeIdentification(address, now);
  };
  const std::vector<Case> cases = {
      {"connections", connection, identification, kConnectionsPerSecondPerSource, kConnectionBurstPerSource},
      {"identifications", identification, connection, kIdentificationsPerSecondPerSource,
       kIdentificationBurstPerSource},
  };
  const sockaddr_storage flooder = OrvTest::Ipv4Peer(0x7F000001, 2000);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TSourceRateLimits limits;
    const auto burst = static_cast<int>(c.burst);
    for (int i = 0; i < burst; ++i) {
      ASSERT_TRUE(c.take(limits, OrvTest::Ipv4Peer(0x7F000001, static_cast<std::uint16_t>(1000 + i)), kRateStart)) << i;
    }
    EXPECT_FALSE(c.take(limits, flooder, kRateStart));
    EXPECT_TRUE(c.take(limits, OrvTest::Ipv4Peer(0x7F000002, 2000), kRateStart)) << "another address";
    EXPECT_TRUE(c.other(limits, flooder, kRateStart)) << "the other bucket";
    // One token comes back every 1/rate seconds.
    const auto interval = static_cast<TTimeStamp>(1000.0 / c.rate * kRateMillisecond);
    EXPECT_FALSE(c.take(limits, flooder, kRateStart + interval - kRateMillisecond));
    EXPECT_TRUE(c.take(limits, flooder, kRateStart + interval));
    EXPECT_FALSE(c.take(limits, flooder, kRateStart + interval));
    // A second of flood, one try a millisecond, gets the rate and no more.
    int taken = 0;
    for (TTimeStamp t = kRateStart + interval + kRateMillisecond; t <= kRateStart + interval + 1000 * kRateMillisecond;
         t += kRateMillisecond) {
      taken += c.take(limits, flooder, t) ? 1 : 0;
    }
    EXPECT_NEAR(taken, c.rate, 1.0);
  }
}

// A full table makes room: the source used least recently goes while every bucket is still
// counting, every refilled one once they have refilled; a new source is always counted.
TEST(SourceRateLimitsTest, TableOfSourcesIsBounded) {
  TSourceRateLimits limits;
  for (std::uint32_t i = 0; i < kMaxRateLimitedSources; ++i) {
    ASSERT_TRUE(limits.TakeConnection(OrvTest::Ipv4Peer(0x0A000000 + i, 1), kRateStart));
  }
  EXPECT_EQ(limits.GetSourceCount(), kMaxRateLimitedSources);
  // Full of busy sources: the first one is forgotten and the flooder counted from its first try.
  const sockaddr_storage flooder = OrvTest::Ipv4Peer(0x0B000000, 1);
  int taken = 0;
  for (int i = 0; i < 1000; ++i) taken += limits.TakeConnection(flooder, kRateStart) ? 1 : 0;
  EXPECT_EQ(taken, static_cast<int>(kConnectionBurstPerSource));
  EXPECT_EQ(limits.GetSourceCount(), kMaxRateLimitedSources);
  // Ten seconds on, every bucket is full again: they are forgotten and the next new source counted.
  const TTimeStamp later = kRateStart + 10'000 * kRateMillisecond;
  EXPECT_TRUE(limits.TakeConnection(OrvTest::Ipv4Peer(0x0C000000, 1), later));
  EXPECT_EQ(limits.GetSourceCount(), 1u);
}

}  // namespace
}  // namespace Orvan::Dedicated
