#include "core/numbers/wichmann_hill_random.h"

#include <gtest/gtest.h>

#include <vector>

namespace Orvan {
namespace {

struct TState {
  std::uint32_t s1, s2, s3;
  bool operator==(const TState&) const = default;
};

TState StateOf(const TWichmannHillRandom& random) { return {random.GetS1(), random.GetS2(), random.GetS3()}; }

TEST(WichmannHillRandomTest, SeedingKeepsEveryWordAboveZero) {
  struct Case {
    std::uint64_t seed;
    TState state;
  };
  const Case cases[] = {
      {0, {1, 1, 1}},
      {30267, {30268, 1, 1}},
      {30268, {1, 2, 1}},
      {std::uint64_t{30268} * 30306, {1, 1, 2}},
      {std::uint64_t{30268} * 30306 * 30322, {1, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seed);
    TWichmannHillRandom random;
    random.Seed(c.seed);
    EXPECT_EQ(StateOf(random), c.state);
  }
}

TEST(WichmannHillRandomTest, FirstDrawAfterSeedZeroAndRepeatableSequences) {
  TWichmannHillRandom random;
  random.Seed(0);
  const float expected = 171.0f / 30269.0f + 172.0f / 30307.0f + 170.0f / 30323.0f;
  EXPECT_EQ(random.Next(), expected);
  EXPECT_EQ(StateOf(random), (TState{171, 172, 170}));

  TWichmannHillRandom a, b, c;
  a.Seed(0x123456789ABCDEF);
  b.Seed(0x123456789ABCDEF);
  c.Seed(0x123456789ABCDEE);
  std::vector<float> drawsA, drawsB, drawsC;
  for (int i = 0; i < 1000; ++i) {
    drawsA.push_back(a.Next());
    drawsB.push_back(b.Next());
    drawsC.push_back(c.Next());
    EXPECT_GE(drawsA.back(), 0.0f);
    EXPECT_LT(drawsA.back(), 1.0f);
  }
  EXPECT_EQ(drawsA, drawsB);
  EXPECT_NE(drawsA, drawsC);
}

TEST(WichmannHillRandomTest, RangesAndEmptyRangesThatDoNotDraw) {
  TWichmannHillRandom random;
  random.Seed(42);
  const TState before = StateOf(random);
  EXPECT_EQ(random.RandomInt(5, 5), 5);
  EXPECT_EQ(random.RandomInt(7, 3), 7);
  EXPECT_EQ(random.RandomUInt(9, 2), 9u);
  EXPECT_EQ(StateOf(random), before);

  for (int i = 0; i < 1000; ++i) {
    const std::int32_t value = random.RandomInt(-3, 4);
    EXPECT_GE(value, -3);
    EXPECT_LE(value, 4);
    const std::uint32_t unsignedValue = random.RandomUInt(10, 20);
    EXPECT_GE(unsignedValue, 10u);
    EXPECT_LE(unsignedValue, 20u);
    const float uniform = random.Uniform(2.0f, 4.0f);
    EXPECT_GE(uniform, 2.0f);
    EXPECT_LE(uniform, 4.0f);
  }
  // The full ranges: the difference is taken in 64 bits, never overflowing.
  bool negative = false, positive = false, high = false;
  for (int i = 0; i < 200; ++i) {
    const std::int32_t value = random.RandomInt();
    negative |= value < 0;
    positive |= value > 0;
    high |= random.RandomUInt() > 0x80000000u;
  }
  EXPECT_TRUE(negative && positive && high);
}

}  // namespace
}  // namespace Orvan
