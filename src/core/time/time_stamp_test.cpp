#include "core/time/time_stamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Orvan::TTimeStamp;

TEST(TimeStampTest, ReadsTheMonotonicClockIntoTheOutParameter) {
  timespec before;
  clock_gettime(CLOCK_MONOTONIC, &before);
  TTimeStamp first = 0;
  const TTimeStamp returned = Orvan::GetTimeStamp(first);
  TTimeStamp second = 0;
  Orvan::GetTimeStamp(second);

  EXPECT_EQ(returned, first);
  EXPECT_GE(first, static_cast<TTimeStamp>(before.tv_sec) * 1000000000u + static_cast<TTimeStamp>(before.tv_nsec));
  EXPECT_GE(second, first);
}

TEST(TimeStampTest, SpansOfAnEndBeforeItsStartAreZero) {
  const TTimeStamp start = 5'000'000'000;
  const TTimeStamp end = 4'999'999'999;
  TTimeStamp span = 123;
  Orvan::GetTimeSpan(span, start, end);
  EXPECT_EQ(span, 0u);
  EXPECT_EQ(Orvan::GetElapsedSeconds(start, end), 0.0);
  EXPECT_EQ(Orvan::GetElapsedMilliseconds(start, end), 0.0);
  EXPECT_EQ(Orvan::GetElapsedMicroseconds(start, end), 0.0);

  Orvan::GetTimeSpan(span, end, start);
  EXPECT_EQ(span, 1u);
}

TEST(TimeStampTest, ConversionsBetweenStampsAndSeconds) {
  const TTimeStamp start = 1'000'000'000;
  const TTimeStamp end = start + 1'500'000'000;
  EXPECT_DOUBLE_EQ(Orvan::GetElapsedSeconds(start, end), 1.5);
  EXPECT_DOUBLE_EQ(Orvan::GetElapsedMilliseconds(start, end), 1500.0);
  EXPECT_DOUBLE_EQ(Orvan::GetElapsedMicroseconds(start, end), 1.5e6);
  EXPECT_DOUBLE_EQ(Orvan::TimeStampToSeconds(-2'500'000'000), -2.5);
  EXPECT_DOUBLE_EQ(Orvan::TimeStampToMilliseconds(2'500'000), 2.5);

  TTimeStamp stamp = 0;
  Orvan::SecondsToTimeStamp(stamp, 1.9999999999);
  EXPECT_EQ(stamp, 1'999'999'999u) << "seconds must truncate, not round";
  Orvan::MillisecondsToTimeStamp(stamp, 1.5);
  EXPECT_EQ(stamp, 1'500'000u);
  Orvan::SecondsToTimeStamp(stamp, 1e30);
  EXPECT_EQ(stamp, static_cast<TTimeStamp>(INT64_MAX));
}

struct DurationCase {
  double seconds;
  const char* text;
};

TEST(FormatDurationTest, TextsAndThresholds) {
  const std::vector<DurationCase> cases = {
      {61.6, "1mn2s"},    {3600.0, "60mn0s"},   {60.0, "60s"},     {12.4, "12s"},
      {10.0, "10000ms"},  {0.5, "500ms"},       {0.01, "10000us"}, {0.0015, "1500us"},
      {0.0, "0us"},       {-5e-6, "-5us"},      {-3.0, "-3000000us"},
      {10.5, "11s"},      // halves round away from zero
      {1e12, "35791394mn7s"},  // beyond the int range the seconds saturate
  };
  for (const DurationCase& c : cases) {
    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    const int length = Orvan::FormatDuration(buffer, sizeof buffer, c.seconds);
    EXPECT_STREQ(buffer, c.text) << c.seconds;
    EXPECT_EQ(length, static_cast<int>(std::strlen(c.text))) << c.seconds;
  }
}

TEST(FormatDurationTest, StaysInsideSmallBuffers) {
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  // A zero size writes nothing at all but still reports the text's length.
  EXPECT_EQ(Orvan::FormatDuration(buffer + 4, 0, 61.6), 5);
  EXPECT_EQ(std::string(buffer, sizeof buffer), "xxxxxxxx");

  EXPECT_EQ(Orvan::FormatDuration(buffer + 2, 4, 61.6), 5);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("xx1mn\0xx", 8));

  // The last byte of the buffer is cleared even when the text is shorter.
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(Orvan::FormatDuration(buffer, 7, 0.0), 3);
  EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("0us\0xx\0x", 8));
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

struct DateTimeCase {
  std::time_t time;
  const char* text;
};

TEST(FormatLocalTimeTest, TextsOfGivenTimes) {
  const std::vector<DateTimeCase> cases = {
      {LocalTime(2026, 3, 5, 9, 7, 3), "2026-03-05T09:07:03.000"},
      {LocalTime(1999, 12, 31, 23, 59, 59), "1999-12-31T23:59:59.000"},
      {LocalTime(2024, 2, 29, 0, 0, 0), "2024-02-29T00:00:00.000"},
  };
  for (const DateTimeCase& c : cases) {
    char buffer[512];
    EXPECT_EQ(Orvan::FormatLocalTimeIso8601(buffer, sizeof buffer, c.time), 23);
    EXPECT_STREQ(buffer, c.text);
  }
}

struct BufferCase {
  std::uint32_t size;
  std::string contents;  // the whole buffer afterwards (size bytes)
  int length;
};

TEST(FormatLocalTimeTest, BoundedBySizeLessOneAndNeverOutside) {
  const std::time_t time = LocalTime(2026, 3, 5, 9, 7, 3);
  const std::vector<BufferCase> cases = {
      {25, std::string("2026-03-05T09:07:03.000\0x", 25), 23},
      {24, std::string("2026-03-05T09:07:03.00\0x", 24), 22},
      {3, std::string("2\0x", 3), 1},
      {2, std::string("\0x", 2), 0},
      {1, std::string("\0", 1), 0},
      {0, std::string(), 0},
  };
  for (const BufferCase& c : cases) {
    char buffer[40];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(Orvan::FormatLocalTimeIso8601(buffer, c.size, time), c.length) << "size " << c.size;
    EXPECT_EQ(std::string(buffer, c.size), c.contents) << "size " << c.size;
    EXPECT_EQ(buffer[c.size], 'x') << "wrote past a buffer of " << c.size;
  }
}

TEST(FormatLocalTimeTest, NowHasTheShapeOfTheTextOfTheClock) {
  const std::time_t before = std::time(nullptr);
  char buffer[512];
  const int length = Orvan::FormatLocalTimeIso8601(buffer, sizeof buffer);
  const std::time_t after = std::time(nullptr);
  ASSERT_EQ(length, 23);
  char expectedBefore[64];
  char expectedAfter[64];
  Orvan::FormatLocalTimeIso8601(expectedBefore, sizeof expectedBefore, before);
  Orvan::FormatLocalTimeIso8601(expectedAfter, sizeof expectedAfter, after);
  EXPECT_TRUE(std::strcmp(buffer, expectedBefore) == 0 || std::strcmp(buffer, expectedAfter) == 0) << buffer;
}

}  // namespace

namespace {

Orvan::TTimeStamp FixedClock() { return 42; }

TEST(TimeStampTest, ClockSeamReplacesTheMonotonicClockUntilPutBack) {
  const Orvan::TMonotonicClock previous = Orvan::SetMonotonicClockForTests(&FixedClock);
  TTimeStamp stamp = 0;
  EXPECT_EQ(Orvan::GetTimeStamp(stamp), 42u);
  EXPECT_EQ(stamp, 42u);
  EXPECT_EQ(Orvan::SetMonotonicClockForTests(previous), &FixedClock);

  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  EXPECT_GE(Orvan::GetTimeStamp(stamp), static_cast<TTimeStamp>(now.tv_sec) * 1000000000u);
}

}  // namespace
