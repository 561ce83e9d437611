#include "network/sockets/token_bucket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <vector>

namespace Orvan::Network {
namespace {

constexpr TTimeStamp kOneMs = 1000000;
constexpr TTimeStamp kBucketStart = 1000 * kOneMs;

// One step of a bucket's life: at `ms` after the start, `tries` takes, of which `granted` succeed.
struct TBucketStep {
  TTimeStamp ms;
  int tries;
  int granted;
};

struct TBucketCase {
  const char* name;
  double rate;
  double burst;
  std::vector<TBucketStep> steps;
};

TEST(TokenBucket, GrantsTheBurstThenTheRate) {
  const std::vector<TBucketCase> cases = {
      {"a burst of 20 at once, then nothing", 10, 20, {{0, 25, 20}, {0, 5, 0}}},
      {"10 a second refill one token each 100 ms", 10, 20, {{0, 20, 20}, {99, 1, 0}, {100, 2, 1}, {1100, 20, 10}}},
      {"the refill never passes the burst", 10, 20, {{0, 20, 20}, {60000, 30, 20}}},
      {"half a token is not a token", 1, 1, {{0, 1, 1}, {500, 1, 0}, {1000, 1, 1}}},
      {"a refused take costs nothing", 5, 1, {{0, 1, 1}, {100, 3, 0}, {200, 1, 1}}},
      {"a clock step back refills nothing", 10, 2, {{1000, 2, 2}, {500, 1, 0}, {1100, 1, 1}}},
  };
  for (const TBucketCase& c : cases) {
    TTokenBucket bucket(c.rate, c.burst);
    for (const TBucketStep& step : c.steps) {
      int granted = 0;
      for (int i = 0; i < step.tries; ++i) granted += bucket.TryTake(kBucketStart + step.ms * kOneMs) ? 1 : 0;
      EXPECT_EQ(granted, step.granted) << c.name << " at " << step.ms << " ms";
    }
  }
}

TEST(TokenBucket, IsFullOnceRefilled) {
  TTokenBucket bucket(10, 20);
  EXPECT_TRUE(bucket.IsFull(kBucketStart));
  EXPECT_TRUE(bucket.TryTake(kBucketStart));
  EXPECT_FALSE(bucket.IsFull(kBucketStart + 99 * kOneMs));
  EXPECT_TRUE(bucket.IsFull(kBucketStart + 100 * kOneMs));
}

sockaddr_in Ipv4(const char* text, std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  inet_pton(AF_INET, text, &address.sin_addr);
  return address;
}

TEST(PerSourceTable, KeysAddressesNotPorts) {
  const sockaddr_in a1 = Ipv4("10.0.0.1", 1000);
  const sockaddr_in a2 = Ipv4("10.0.0.1", 2000);
  const sockaddr_in b = Ipv4("10.0.0.2", 1000);
  EXPECT_EQ(GetSourceKey(reinterpret_cast<const sockaddr*>(&a1)), GetSourceKey(reinterpret_cast<const sockaddr*>(&a2)));
  EXPECT_NE(GetSourceKey(reinterpret_cast<const sockaddr*>(&a1)), GetSourceKey(reinterpret_cast<const sockaddr*>(&b)));
  sockaddr unknown{};
  unknown.sa_family = AF_UNIX;
  EXPECT_EQ(GetSourceKey(&unknown), 0u);
  EXPECT_EQ(GetSourceKey(nullptr), 0u);
}

TEST(PerSourceTable, StaysWithinItsBoundAndForgetsWhatItCan) {
  TPerSourceTable<int> table(3);
  const auto never = [](const int&) { return false; };
  const auto zero = [](const int& value) { return value == 0; };
  for (std::uint32_t source = 1; source <= 3; ++source) ASSERT_NE(table.FindOrAdd(source, 5, never), nullptr);
  // Full of sources that cannot be forgotten: a fourth is refused, a known one still found.
  EXPECT_EQ(table.FindOrAdd(4, 5, never), nullptr);
  ASSERT_NE(table.FindOrAdd(2, 7, never), nullptr);
  EXPECT_EQ(*table.Find(2), 5);
  // Once two of them are back to a new source's state, they make room.
  *table.Find(1) = 0;
  *table.Find(3) = 0;
  ASSERT_NE(table.FindOrAdd(4, 5, zero), nullptr);
  EXPECT_EQ(table.GetCount(), 2u);
  EXPECT_EQ(table.Find(1), nullptr);
  EXPECT_EQ(table.Find(3), nullptr);
  EXPECT_NE(table.Find(2), nullptr);
  table.Remove(2);
  EXPECT_EQ(table.Find(2), nullptr);
  EXPECT_EQ(table.GetCount(), 1u);
}

}  // namespace
}  // namespace Orvan::Network
