// Token buckets.
#include "network/sockets/token_bucket.h"

#include <algorithm>

namespace Orvan::Network {

TTokenBucket::TTokenBucket(double ratePerSecond, double burst) noexcept
    : rate_(ratePerSecond), burst_(burst), tokens_(burst) {}

double TTokenBucket::GetTokens(TTimeStamp now) const noexcept {
  if (!started_) return burst_;
  return std::min(burst_, tokens_ + GetElapsedSeconds(last_, now) * rate_);
}

bool TTokenBucket::TryTake(TTimeStamp now) noexcept {
  tokens_ = GetTokens(now);
  // A clock read earlier than the last one refills nothing and keeps the later stamp.
  if (!started_ || now > last_) last_ = now;
  started_ = true;
  if (tokens_ < 1.0) return false;
  tokens_ -= 1.0;
  return true;
}

}  // namespace Orvan::Network
