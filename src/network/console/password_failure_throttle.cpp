// The per-address count of wrong console passwords and the blocks it starts.
#include "network/console/password_failure_throttle.h"

namespace Orvan::Network {

bool TPasswordFailureThrottle::IsSpent(const TFailures& failures, TTimeStamp now) {
  if (failures.blockedUntil > now) return false;
  if (failures.count == 0) return true;
  const TTimeStamp newest =
      failures.recent[(failures.next + kPasswordFailuresBeforeBlock - 1) % kPasswordFailuresBeforeBlock];
  return GetElapsedSeconds(newest, now) > kPasswordFailureWindowSeconds;
}

EPasswordFailure TPasswordFailureThrottle::RecordFailure(std::uint32_t source, TTimeStamp now) {
  TFailures* failures =
      sources_.FindOrAdd(source, TFailures{}, [now](const TFailures& entry) { return IsSpent(entry, now); });
  // A connection opened before the block began may still fail: the block is not made longer.
  if (failures->blockedUntil > now) return EPasswordFailure::kCounted;
  failures->recent[failures->next] = now;
  failures->next = (failures->next + 1) % kPasswordFailuresBeforeBlock;
  if (failures->count < kPasswordFailuresBeforeBlock) ++failures->count;
  if (failures->count < kPasswordFailuresBeforeBlock) return EPasswordFailure::kCounted;
  const TTimeStamp oldest = failures->recent[failures->next];
  if (GetElapsedSeconds(oldest, now) > kPasswordFailureWindowSeconds) return EPasswordFailure::kCounted;
  TTimeStamp block;
  SecondsToTimeStamp(block, kPasswordBlockSeconds);
  failures->blockedUntil = now + block;
  // The block starts the count afresh: its end lets a whole new series of attempts in.
  failures->count = 0;
  failures->next = 0;
  return EPasswordFailure::kBlocked;
}

bool TPasswordFailureThrottle::IsBlocked(std::uint32_t source, TTimeStamp now) {
  const TFailures* failures = sources_.Find(source);
  return failures != nullptr && failures->blockedUntil > now;
}

}  // namespace Orvan::Network
