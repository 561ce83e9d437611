// A clock that tests move by hand, installed over the monotonic clock for the life of a scope, so
// time-outs and ticks are stepped through without waiting.
#pragma once

#include "core/time/time_stamp.h"

namespace OrvTest {

class TManualClock {
 public:
  // Starts far from 0: a stamp of 0 means "never" to the code under test.
  static constexpr Orvan::TTimeStamp kStart = 1'000'000'000'000;

  TManualClock() : previous_(Orvan::SetMonotonicClockForTests(&Read)) { Now() = kStart; }
  ~TManualClock() { Orvan::SetMonotonicClockForTests(previous_); }
  TManualClock(const TManualClock&) = delete;
  TManualClock& operator=(const TManualClock&) = delete;

  static void AdvanceMilliseconds(double milliseconds) {
    Now() += static_cast<Orvan::TTimeStamp>(milliseconds * 1e6);
  }
  static void AdvanceNanoseconds(Orvan::TTimeStamp nanoseconds) { Now() += nanoseconds; }
  static Orvan::TTimeStamp& Now() {
    static Orvan::TTimeStamp now = kStart;
    return now;
  }

 private:
  static Orvan::TTimeStamp Read() { return Now(); }
  Orvan::TMonotonicClock previous_;
};

}  // namespace OrvTest
