// The throttled timer dispatch of the main thread.
#include "core/time/on_timer_dispatcher.h"

#include "core/threads/thread_attachment.h"

namespace Orvan {

void TOnTimerDispatcher::Dispatch() {
  TTimeStamp now;
  GetTimeStamp(now);
  DispatchAt(now);
}

void TOnTimerDispatcher::DispatchAt(TTimeStamp now) {
  if (!IsEngineMainThread() || !enabled_ || dispatching_) return;
  if (throttled_) {
    if (GetElapsedSeconds(lastDispatch_, now + accumulated_) < kMinimumIntervalSeconds) return;
    throttled_ = false;
    accumulated_ += now - lastDispatch_;
  }
  dispatching_ = true;
  for (IIOnTimer* listener : listeners_) listener->OnTimer();
  dispatching_ = false;
  accumulated_ = 0;
  throttled_ = true;
  lastDispatch_ = now;
}

}  // namespace Orvan
