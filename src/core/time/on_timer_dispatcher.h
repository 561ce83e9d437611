// Timer callbacks: IIOnTimer listeners called by TOnTimerDispatcher at most about 30 times a
// second, on the engine's main thread only.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/time/time_stamp.h"

namespace Orvan {

class IIOnTimer {
 public:
  virtual ~IIOnTimer() = default;
  virtual void OnTimer() = 0;
};

class TOnTimerDispatcher {
 public:
  // Two dispatches are at least this far apart.
  static constexpr double kMinimumIntervalSeconds = 0.033;

  // Listeners are called in the order they were added; the dispatcher does not own them.
  void AddListener(IIOnTimer* listener) { listeners_.PushBack(listener); }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool IsEnabled() const { return enabled_; }

  // Calls every listener's OnTimer, unless the caller is not the main thread, the dispatcher is
  // disabled or already dispatching, or the last dispatch was less than 33 ms ago.
  void Dispatch();
  // Dispatch at the given time (the clock reading Dispatch would take).
  void DispatchAt(TTimeStamp now);

 private:
  TVector<IIOnTimer*> listeners_;
  bool enabled_ = false;
  bool dispatching_ = false;
  std::uint64_t accumulated_ = 0;  // nanoseconds
  TTimeStamp lastDispatch_ = 0;
  bool throttled_ = false;
};

}  // namespace Orvan
