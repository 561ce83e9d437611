// Counting what comes too often to be handled one by one: the occurrences of one event in windows
// of a second, of which the first few pass and the rest are only counted, the count handed out once
// the window has ended. The log's repeated lines and the drop lines of the rate limits count so.
#pragma once

#include <cstdint>

#include "core/time/time_stamp.h"

namespace Orvan::Network {

// A window lasts this long from the occurrence that opens it.
inline constexpr double kRepeatWindowSeconds = 1.0;

class TRepeatWindow {
 public:
  // `passing`: the occurrences of each window that pass before the rest are counted.
  explicit TRepeatWindow(std::uint32_t passing) noexcept : passing_(passing) {}

  // One occurrence at `now`: true when it passes, false when it is only counted. When the open
  // window has ended by `now`, it closes first and `endedCount` gets its count (0 when it counted
  // nothing), and this occurrence opens the next one.
  bool Note(TTimeStamp now, std::uint32_t& endedCount) noexcept;
  // Closes the window when it has ended by `now` and returns its count; 0, and nothing changes,
  // while it runs or when none is open.
  std::uint32_t TakeEnded(TTimeStamp now) noexcept;
  // Closes the window whether or not it has ended and returns its count: the last report of all.
  std::uint32_t TakeAll() noexcept;

  bool IsOpen() const noexcept { return open_; }
  bool HasEnded(TTimeStamp now) const noexcept;

 private:
  std::uint32_t GetCount() const noexcept { return seen_ > passing_ ? seen_ - passing_ : 0; }

  std::uint32_t passing_;
  std::uint32_t seen_ = 0;
  TTimeStamp start_ = 0;
  bool open_ = false;
};

}  // namespace Orvan::Network
