// A limit on how often an admitted client may make the server write a line: a token bucket, and
// the count of what it refused in each second, handed out once that second has ended so that the
// drops themselves make one line a second at most.
#pragma once

#include <cstdint>

#include "core/time/time_stamp.h"
#include "network/logging/repeat_window.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::Dedicated {

class TClientRateLimit {
 public:
  TClientRateLimit(double perSecond, double burst) noexcept : bucket_(perSecond, burst) {}

  // Whether one more at `now` is within the rate; one that is not is counted as dropped. When the
  // second of an earlier count has ended, `endedDrops` gets that count (else 0).
  bool Admit(TTimeStamp now, std::uint32_t& endedDrops) noexcept;
  // The drops of a second that has ended by `now`; 0 while it runs, and each count once.
  std::uint32_t TakeEndedDrops(TTimeStamp now) noexcept { return drops_.TakeEnded(now); }
  // The drops counted so far, whether or not their second has ended: the client is leaving.
  std::uint32_t TakeAllDrops() noexcept { return drops_.TakeAll(); }

 private:
  Network::TTokenBucket bucket_;
  // Nothing passes: every drop is counted.
  Network::TRepeatWindow drops_{0};
};

}  // namespace Orvan::Dedicated
