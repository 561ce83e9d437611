// Wrong remote-console passwords per source address: an address that gives too many of them within
// a minute has its new connections refused for a while, so that guessing the password is slow.
#pragma once

#include <cstdint>

#include "core/time/time_stamp.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::Network {

// An address that gives this many wrong passwords within the window is blocked for the block time.
inline constexpr std::uint32_t kPasswordFailuresBeforeBlock = 5;
inline constexpr double kPasswordFailureWindowSeconds = 60.0;
inline constexpr double kPasswordBlockSeconds = 60.0;
// Sources followed at once (an IPv6 /64 is one source). A new one takes the room of those whose
// failures have all left the window and which are not blocked, else of the one whose last failure
// is the oldest: every wrong password is counted, however many sources send them.
inline constexpr std::uint32_t kPasswordFailureSources = 1024;

enum class EPasswordFailure {
  kCounted,  // recorded; the address is not blocked (or was already)
  kBlocked   // this failure blocks the address from now on
};

class TPasswordFailureThrottle {
 public:
  // One wrong password from the source (a GetSourceKey) at `now` (the engine's monotonic clock).
  EPasswordFailure RecordFailure(std::uint32_t source, TTimeStamp now);
  // Whether the source's new connections are refused at `now`.
  bool IsBlocked(std::uint32_t source, TTimeStamp now);
  std::uint32_t GetSourceCount() const { return sources_.GetCount(); }

 private:
  struct TFailures {
    // The times of the last failures, a ring: `next` is where the next one goes, which is the
    // oldest one once `count` has reached the ring's size.
    TTimeStamp recent[kPasswordFailuresBeforeBlock] = {};
    std::uint32_t count = 0;
    std::uint32_t next = 0;
    TTimeStamp blockedUntil = 0;
  };
  // Nothing in the entry would change an answer any more: it says what a new one would.
  static bool IsSpent(const TFailures& failures, TTimeStamp now);

  TPerSourceTable<TFailures> sources_{kPasswordFailureSources};
};

}  // namespace Orvan::Network
