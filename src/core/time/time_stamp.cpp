// Monotonic time stamps, their conversions and the duration and date-time texts.
#include "core/time/time_stamp.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdio>

namespace Orvan {

namespace {

// Every conversion multiplies by one of these (then by 1000.0, 0.001 or 1e6), in that order, so
// that results are the same bit for bit wherever they are computed.
constexpr double kNanosecondsToSeconds = 1e-9;
constexpr double kSecondsToNanoseconds = 1e9;

// Nearest int, halves away from zero; values past the int range saturate, NaN gives 0.
int RoundToInt(double x) {
  if (std::isnan(x)) return 0;
  if (x >= 0.0) {
    const double shifted = x + 0.5;
    return shifted >= 2147483648.0 ? INT_MAX : static_cast<int>(shifted);
  }
  const double shifted = 0.5 - x;
  return shifted >= 2147483648.0 ? INT_MIN : -static_cast<int>(shifted);
}

// Truncation toward zero into a stamp; negative values keep their two's-complement bits.
TTimeStamp TruncateToStamp(double nanoseconds) {
  if (std::isnan(nanoseconds)) return 0;
  if (nanoseconds >= 9223372036854775808.0) return static_cast<TTimeStamp>(INT64_MAX);
  if (nanoseconds < -9223372036854775808.0) return static_cast<TTimeStamp>(INT64_MIN);
  return static_cast<TTimeStamp>(static_cast<std::int64_t>(nanoseconds));
}

std::atomic<TMonotonicClock> g_testClock{nullptr};

}  // namespace

TMonotonicClock SetMonotonicClockForTests(TMonotonicClock clock) { return g_testClock.exchange(clock); }

TTimeStamp GetTimeStamp(TTimeStamp& stamp) {
  if (const TMonotonicClock clock = g_testClock.load(std::memory_order_relaxed); clock != nullptr) {
    stamp = clock();
    return stamp;
  }
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  stamp = static_cast<TTimeStamp>(now.tv_sec) * 1000000000u + static_cast<TTimeStamp>(now.tv_nsec);
  return stamp;
}

void GetTimeSpan(TTimeStamp& span, const TTimeStamp& start, const TTimeStamp& end) {
  span = end < start ? 0 : end - start;
}

double GetElapsedSeconds(const TTimeStamp& start, const TTimeStamp& end) {
  if (end < start) return 0.0;
  return static_cast<double>(static_cast<std::int64_t>(end - start)) * kNanosecondsToSeconds;
}

double GetElapsedMilliseconds(const TTimeStamp& start, const TTimeStamp& end) {
  return GetElapsedSeconds(start, end) * 1000.0;
}

double GetElapsedMicroseconds(const TTimeStamp& start, const TTimeStamp& end) {
  return GetElapsedSeconds(start, end) * 1e6;
}

double TimeStampToSeconds(std::int64_t span) { return static_cast<double>(span) * kNanosecondsToSeconds; }

double TimeStampToMilliseconds(std::int64_t span) {
  return static_cast<double>(span) * kNanosecondsToSeconds * 1000.0;
}

void SecondsToTimeStamp(TTimeStamp& stamp, double seconds) { stamp = TruncateToStamp(seconds * kSecondsToNanoseconds); }

void MillisecondsToTimeStamp(TTimeStamp& stamp, double milliseconds) {
  stamp = TruncateToStamp(milliseconds * kSecondsToNanoseconds * 0.001);
}

int FormatDuration(char* buffer, std::uint32_t size, double seconds) {
  int length;
  if (seconds > 60.0) {
    const int rounded = RoundToInt(seconds);
    length = std::snprintf(buffer, size, "%dmn%ds", rounded / 60, rounded % 60);
  } else if (seconds > 10.0) {
    length = std::snprintf(buffer, size, "%ds", RoundToInt(seconds));
  } else if (seconds > 0.01) {
    length = std::snprintf(buffer, size, "%dms", RoundToInt(seconds * 1000.0));
  } else {
    length = std::snprintf(buffer, size, "%dus", RoundToInt(seconds * 1e6));
  }
  if (size != 0) buffer[size - 1] = '\0';
  return length;
}

int FormatLocalTimeIso8601(char* buffer, std::uint32_t size) {
  return FormatLocalTimeIso8601(buffer, size, std::time(nullptr));
}

int FormatLocalTimeIso8601(char* buffer, std::uint32_t size, std::time_t time) {
  if (size == 0) return 0;
  buffer[0] = '\0';
  std::tm local;
  if (size < 2 || localtime_r(&time, &local) == nullptr) return 0;
  const int length = std::snprintf(buffer, size - 1, "%d-%02d-%02dT%02d:%02d:%02d.%03d", local.tm_year + 1900,
                                   local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, 0);
  if (length < 0) {
    buffer[0] = '\0';
    return 0;
  }
  // snprintf kept at most size - 2 characters and terminated them.
  return length < static_cast<int>(size - 1) ? length : static_cast<int>(size - 2);
}

}  // namespace Orvan
