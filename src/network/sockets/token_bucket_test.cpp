#include "network/sockets/token_bucket.h"

#include <gtest/gtest.h>

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

TEST(PerSourceTable, AFullTableForgetsWhatItCanThenTheLeastRecentlyUsed) {
  TPerSourceTable<int> table(3);
  const auto never = [](const int&) { return false; };
  const auto zero = [](const int& value) { return value == 0; };
  for (std::uint32_t source = 1; source <= 3; ++source) ASSERT_NE(table.FindOrAdd(source, 5, never), nullptr);
  // A known source is found with its state, and counts as used.
  ASSERT_NE(table.FindOrAdd(1, 7, never), nullptr);
  EXPECT_EQ(*table.Find(1), 5);
  // Full of sources still counting: a fourth takes the room of the one used least recently, 2.
  ASSERT_NE(table.FindOrAdd(4, 6, never), nullptr);
  EXPECT_EQ(table.GetCount(), 3u);
  EXPECT_EQ(table.Find(2), nullptr);
  EXPECT_EQ(*table.Find(4), 6);
  // Find alone is no use: 3 is still the least recently used.
  EXPECT_NE(table.Find(3), nullptr);
  ASSERT_NE(table.FindOrAdd(5, 5, never), nullptr);
  EXPECT_EQ(table.Find(3), nullptr);
  EXPECT_NE(table.Find(1), nullptr);
  // Sources back to a new one's state make room first, however recently used.
  *table.Find(4) = 0;
  *table.Find(5) = 0;
  ASSERT_NE(table.FindOrAdd(6, 5, zero), nullptr);
  EXPECT_EQ(table.GetCount(), 2u);
  EXPECT_EQ(table.Find(4), nullptr);
  EXPECT_EQ(table.Find(5), nullptr);
  EXPECT_NE(table.Find(1), nullptr);
  table.Remove(1);
  EXPECT_EQ(table.Find(1), nullptr);
  EXPECT_EQ(table.GetCount(), 1u);
}

}  // namespace
}  // namespace Orvan::Network
