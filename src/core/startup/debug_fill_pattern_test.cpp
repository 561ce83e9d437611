#include "core/startup/debug_fill_pattern.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace Orvan {
namespace {

// Runs first in this program, before any test sets a pattern.
TEST(DebugFillPatternTest, ChosenBeforeMainAsOneOfTheSixWithItsIndex) {
  const std::uint32_t index = GetDebugFillPatternIndex();
  ASSERT_LT(index, kDebugFillPatternCount);
  EXPECT_EQ(GetDebugFillPattern(), kDebugFillPatterns[index]);
}

class DebugFillPatternWords : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  void SetUp() override {
    chosen_ = GetDebugFillPatternIndex();
    SetDebugFillPatternForTests(GetParam());
  }
  void TearDown() override { SetDebugFillPatternForTests(chosen_); }

 private:
  std::uint32_t chosen_ = 0;
};

// Seven bytes from one past an aligned address: pattern bytes 1, 2 and 3, then a whole word.
TEST_P(DebugFillPatternWords, FillsByAddressAndDetectsAnyChangedByte) {
  const std::uint32_t word = kDebugFillPatterns[GetParam()];
  unsigned char bytes[4];
  std::memcpy(bytes, &word, 4);
  alignas(4) unsigned char buffer[12];
  std::memset(buffer, 0x11, sizeof buffer);
  FillWithDebugPattern(buffer + 1, 7);

  EXPECT_EQ(buffer[0], 0x11);
  EXPECT_EQ(buffer[8], 0x11);
  for (int i = 1; i < 8; ++i) EXPECT_EQ(buffer[i], bytes[i % 4]) << "byte " << i;
  std::uint32_t aligned;
  std::memcpy(&aligned, buffer + 4, 4);
  EXPECT_EQ(aligned, word);

  EXPECT_TRUE(IsFilledWithDebugPattern(buffer + 1, 7));
  EXPECT_TRUE(IsFilledWithDebugPattern(buffer + 2, 5));
  EXPECT_TRUE(IsFilledWithDebugPattern(buffer + 4, 0));
  EXPECT_FALSE(IsFilledWithDebugPattern(buffer, 8));
  EXPECT_FALSE(IsFilledWithDebugPattern(buffer + 1, 8));
  for (int i = 1; i < 8; ++i) {
    buffer[i] ^= 0x01;
    EXPECT_FALSE(IsFilledWithDebugPattern(buffer + 1, 7)) << "byte " << i << " changed";
    buffer[i] ^= 0x01;
  }
  EXPECT_TRUE(IsFilledWithDebugPattern(buffer + 1, 7));

  FillWithDebugPattern(nullptr, 16);
  EXPECT_TRUE(IsFilledWithDebugPattern(nullptr, 16));
}

// Ranges of every start and length within a filled block test alike.
TEST_P(DebugFillPatternWords, EveryPieceOfAFilledBlockHoldsThePattern) {
  alignas(16) unsigned char buffer[40];
  FillWithDebugPattern(buffer + 3, 33);
  for (std::uint32_t start = 3; start < 36; ++start) {
    for (std::uint32_t length = 0; start + length <= 36; ++length) {
      ASSERT_TRUE(IsFilledWithDebugPattern(buffer + start, length)) << start << "+" << length;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(SixWords, DebugFillPatternWords, ::testing::Range(0u, kDebugFillPatternCount));

}  // namespace
}  // namespace Orvan
