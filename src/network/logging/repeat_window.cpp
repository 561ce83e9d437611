// Windows of a second over one event's occurrences.
#include "network/logging/repeat_window.h"

namespace Orvan::Network {

bool TRepeatWindow::HasEnded(TTimeStamp now) const noexcept {
  return open_ && GetElapsedSeconds(start_, now) >= kRepeatWindowSeconds;
}

bool TRepeatWindow::Note(TTimeStamp now, std::uint32_t& endedCount) noexcept {
  endedCount = TakeEnded(now);
  if (!open_) {
    open_ = true;
    start_ = now;
    seen_ = 0;
  }
  if (seen_ != UINT32_MAX) ++seen_;
  return seen_ <= passing_;
}

std::uint32_t TRepeatWindow::TakeEnded(TTimeStamp now) noexcept { return HasEnded(now) ? TakeAll() : 0; }

std::uint32_t TRepeatWindow::TakeAll() noexcept {
  const std::uint32_t count = open_ ? GetCount() : 0;
  open_ = false;
  return count;
}

}  // namespace Orvan::Network
