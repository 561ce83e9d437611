#include "core/text/number_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <cwchar>
#include <string>

namespace Orvan {
namespace {

std::string NumberString(const TOrvString<char>& text) { return std::string(text.GetData(), text.GetLength()); }

TEST(NumberTextTest, DecimalTextsPlainAndPadded) {
  EXPECT_EQ(NumberString(IntToString(0)), "0");
  EXPECT_EQ(NumberString(IntToString(INT_MIN)), "-2147483648");
  EXPECT_EQ(NumberString(IntToString(INT_MAX)), "2147483647");
  EXPECT_EQ(NumberString(SizeToString(SSIZE_MAX)), "9223372036854775807");
  EXPECT_EQ(NumberString(SizeToString(-SSIZE_MAX - 1)), "-9223372036854775808");

  struct Case {
    std::int32_t value;
    std::uint32_t width;
    const char* expected;
  };
  const Case cases[] = {
      {7, 3, "007"}, {1234, 2, "1234"}, {1234, 4, "1234"}, {-5, 4, "00-5"}, {0, 0, "0"}, {42, 1, "42"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(NumberString(IntToStringPadded(c.value, c.width)), c.expected);
    EXPECT_EQ(NumberString(SizeToStringPadded(c.value, c.width)), c.expected);
  }
  EXPECT_EQ(NumberString(SizeToStringPadded(SSIZE_MAX, 21)), "009223372036854775807");
}

TEST(NumberTextTest, FloatsAsAStandardStreamWritesThem) {
  const struct {
    float value;
    std::int32_t precision;  // -1: the stream's default
    const char* expected;
  } cases[] = {
      {1.0f / 3, -1, "0.333333"}, {1.0f / 3, 3, "0.333"}, {2.5f, -1, "2.5"},  {1e7f, -1, "1e+07"},
      {-0.0f, -1, "-0"},          {1234.5f, 2, "1.2e+03"}, {0.0f, 3, "0"},
  };
  for (const auto& c : cases) {
    const TOrvString<char> text = c.precision < 0 ? ToString(c.value) : ToString(c.value, c.precision);
    EXPECT_EQ(NumberString(text), c.expected) << c.value << " at " << c.precision;
  }
}

TEST(NumberTextTest, IntToTextWritesDigitsFollowingZeroAsAscii) {
  struct Case {
    std::int32_t value;
    std::int32_t radix;
    const char* expected;
  };
  const Case cases[] = {
      {255, 16, "??"},  // '0' + 15
      {10, 16, ":"},
      {-5, 10, "-5"},
      {0, 10, "0"},
      {5, 2, "101"},
      {123456, 10, "123456"},
      {INT_MIN, 10, "-2147483648"},
      {INT_MIN, 2, "-10000000000000000000000000000000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    char narrow[kIntToTextCapacity];
    EXPECT_EQ(IntToText(c.value, narrow, c.radix), narrow);
    EXPECT_STREQ(narrow, c.expected);
    wchar_t wide[kIntToTextCapacity];
    EXPECT_EQ(IntToText(c.value, wide, c.radix), wide);
    EXPECT_EQ(std::wstring(wide), std::wstring(c.expected, c.expected + std::strlen(c.expected)));
  }
}

TEST(NumberTextTest, ByteSizesTakeTheUnitStrictlyBelowThem) {
  struct Case {
    std::uint64_t size;
    std::int32_t precision;
    const char* expected;
  };
  const Case cases[] = {
      {0, 0, "0 byte"},
      {1024, 0, "1024 byte"},
      {1025, 2, "1.00 KiB"},
      {std::uint64_t{1} << 20, 2, "1024.00 KiB"},
      {(std::uint64_t{1} << 20) + 1, 2, "1.00 MiB"},
      {std::uint64_t{5} << 30, 1, "5.0 GiB"},
      {std::uint64_t{1} << 40, 0, "1024 GiB"},
      {(std::uint64_t{3} << 40) / 2, 3, "1.500 TiB"},
      {1048575, 8, "1023.99902344"},  // cut to 13 characters: the unit is lost
      {1536, 9, "1.50000000 Ki"},     // above 8 reads as 8
      {1536, -1, "2 KiB"},            // below 0 reads as 0
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(NumberString(ByteSizeToString(c.size, c.precision)), c.expected);
  }
}

TEST(NumberTextTest, FileStatusTexts) {
  struct Case {
    std::int32_t status;
    const char* text;
  };
  const Case cases[] = {
      {0, "Success"},           {1, "File not found"},     {2, "File too small"},  {3, "Not enough space"},
      {7, "Has latency"},       {8, "file corrupted"},     {260, "File not available"},
      {261, "File not writable"}, {262, "Not supported"}, {65535, "Not defined"},
      {4, ""},                  {-1, ""},                  {263, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    EXPECT_STREQ(GetFileStatusText(c.status), c.text);
  }
}

}  // namespace
}  // namespace Orvan
