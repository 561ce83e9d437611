// How fast one source address may open client connections and have identifications forwarded to
// the match-making server: a token bucket of each per source, so that one address cannot make the
// server accept, or the match-making server validate, without bound.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "core/time/time_stamp.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::Dedicated {

// New connections one source may open: this many a second, after a burst of this many (a LAN party
// behind one address connecting at once). Further ones are closed at accept.
inline constexpr double kConnectionsPerSecondPerSource = 5.0;
inline constexpr double kConnectionBurstPerSource = 30.0;
// Identifications from one source forwarded to the match-making server: this many a second, after
// a burst of this many. Further ones are closed at once, without a validation request.
inline constexpr double kIdentificationsPerSecondPerSource = 4.0;
inline constexpr double kIdentificationBurstPerSource = 16.0;
// Sources whose buckets are remembered; one whose buckets have refilled is forgotten first.
inline constexpr std::uint32_t kMaxRateLimitedSources = 4096;

class TSourceRateLimits {
 public:
  // True when the address's source may open one more connection at `now` (a token is taken).
  bool TakeConnection(const sockaddr_storage& address, TTimeStamp now);
  // True when one more identification from the address's source may go to match making.
  bool TakeIdentification(const sockaddr_storage& address, TTimeStamp now);
  std::uint32_t GetSourceCount() const { return sources_.GetCount(); }
  void Clear();

 private:
  struct TBuckets {
    Network::TTokenBucket connections{kConnectionsPerSecondPerSource, kConnectionBurstPerSource};
    Network::TTokenBucket identifications{kIdentificationsPerSecondPerSource, kIdentificationBurstPerSource};
  };
  // Never null: a full table forgets its refilled sources, or else the one used least recently.
  TBuckets* Find(const sockaddr_storage& address, TTimeStamp now);

  Network::TPerSourceTable<TBuckets> sources_{kMaxRateLimitedSources};
};

}  // namespace Orvan::Dedicated
