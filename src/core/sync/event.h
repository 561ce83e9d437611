// TEvent: an auto-reset or manual-reset event over a mutex and a condition on the monotonic clock.
#pragma once

#include <pthread.h>

#include <cstdint>

namespace Orvan {

class TEvent {
 public:
  // Auto-reset: each Set lets one wait through. Manual-reset: a Set lets every wait through
  // until Reset.
  static constexpr std::uint32_t kManualReset = 0;
  static constexpr std::uint32_t kAutoReset = 1;

  explicit TEvent(std::uint32_t mode, bool initiallySignalled = false);
  ~TEvent();
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void Set();
  void Reset();
  void Wait();
  // True when the event was seen signalled before the deadline (and, auto-reset, taken); false on
  // time-out, the flag then left as it is.
  bool TimedWait(std::uint32_t milliseconds);
  // TimedWait of 1 ms.
  bool Poll();

 private:
  // Takes the signal when seen; the caller holds mutex_.
  bool ConsumeSignalLocked();

  pthread_mutex_t mutex_;
  pthread_cond_t condition_;
  std::uint32_t mode_;
  std::uint8_t signalled_;
};

}  // namespace Orvan
