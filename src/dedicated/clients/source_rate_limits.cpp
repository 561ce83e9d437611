// The per-source buckets of new client connections and of forwarded identifications.
#include "dedicated/clients/source_rate_limits.h"

namespace Orvan::Dedicated {

TSourceRateLimits::TBuckets* TSourceRateLimits::Find(const sockaddr_storage& address, TTimeStamp now) {
  const std::uint32_t key = Network::GetSourceKey(reinterpret_cast<const sockaddr*>(&address));
  return sources_.FindOrAdd(key, TBuckets{}, [now](const TBuckets& buckets) {
    return buckets.connections.IsFull(now) && buckets.identifications.IsFull(now);
  });
}

bool TSourceRateLimits::TakeConnection(const sockaddr_storage& address, TTimeStamp now) {
  TBuckets* buckets = Find(address, now);
  return buckets->connections.TryTake(now);
}

bool TSourceRateLimits::TakeIdentification(const sockaddr_storage& address, TTimeStamp now) {
  TBuckets* buckets = Find(address, now);
  return buckets->identifications.TryTake(now);
}

void TSourceRateLimits::Clear() {
  sources_.RemoveIf([](const TBuckets&) { return true; });
}

}  // namespace Orvan::Dedicated
