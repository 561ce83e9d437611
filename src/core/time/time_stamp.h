// Monotonic time: the one clock every timer of the engine reads, its conversions to seconds and
// milliseconds, a short duration text and a local date-time text for log lines.
#pragma once

#include <cstdint>
#include <ctime>

namespace Orvan {

// Nanoseconds of CLOCK_MONOTONIC. Only differences between two stamps mean anything.
using TTimeStamp = std::uint64_t;

// Reads the clock into `stamp` and returns it as well.
TTimeStamp GetTimeStamp(TTimeStamp& stamp);

// Test seam over the monotonic clock: while a clock is set, GetTimeStamp reads it instead of
// CLOCK_MONOTONIC, so time-outs can be stepped through without waiting. Null puts the real clock
// back. Returns the clock it replaces (null for the real one).
using TMonotonicClock = TTimeStamp (*)();
TMonotonicClock SetMonotonicClockForTests(TMonotonicClock clock);

// end - start, or 0 when end is earlier than start (never a wrapped huge value).
void GetTimeSpan(TTimeStamp& span, const TTimeStamp& start, const TTimeStamp& end);
// Seconds, milliseconds or microseconds from start to end; 0.0 when end is earlier than start.
double GetElapsedSeconds(const TTimeStamp& start, const TTimeStamp& end);
double GetElapsedMilliseconds(const TTimeStamp& start, const TTimeStamp& end);
double GetElapsedMicroseconds(const TTimeStamp& start, const TTimeStamp& end);

// A signed span of nanoseconds in seconds or milliseconds.
double TimeStampToSeconds(std::int64_t span);
double TimeStampToMilliseconds(std::int64_t span);
// Seconds or milliseconds as a stamp, truncated toward zero (1.9999999999 s gives 1999999999).
// Values past the 64-bit range saturate, NaN gives 0.
void SecondsToTimeStamp(TTimeStamp& stamp, double seconds);
void MillisecondsToTimeStamp(TTimeStamp& stamp, double milliseconds);

// The duration text: "%dmn%ds" above 60 s, "%ds" above 10 s, "%dms" above 0.01 s, else "%dus",
// each value rounded half away from zero. At most `size` bytes are written and the last byte of
// the buffer (index size - 1) is set to NUL; size 0 writes nothing. Returns what snprintf returns
// (the untruncated length).
int FormatDuration(char* buffer, std::uint32_t size, double seconds);

// The local date-time text "YYYY-MM-DDThh:mm:ss.000" (milliseconds always 000: the source has
// whole seconds) of now, or of `time`. Holding a four-digit year needs 25 bytes: the text is
// bounded to size - 1 bytes and NUL-terminated; a smaller buffer gets the truncated text, size 0
// gets nothing. Returns the length of the text written (0 when the time has no local date).
int FormatLocalTimeIso8601(char* buffer, std::uint32_t size);
int FormatLocalTimeIso8601(char* buffer, std::uint32_t size, std::time_t time);

}  // namespace Orvan
