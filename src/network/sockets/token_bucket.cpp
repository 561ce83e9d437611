// Token buckets and the source key of per-source tables.
#include "network/sockets/token_bucket.h"

#include <netinet/in.h>

#include <algorithm>
#include <cstring>

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

std::uint32_t GetSourceKey(const sockaddr* address) noexcept {
  if (address == nullptr) return 0;
  if (address->sa_family == AF_INET) {
    return reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr;
  }
  if (address->sa_family == AF_INET6) {
    std::uint32_t words[4];
    std::memcpy(words, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, sizeof(words));
    return words[0] ^ words[1] ^ words[2] ^ words[3];
  }
  return 0;
}

}  // namespace Orvan::Network
