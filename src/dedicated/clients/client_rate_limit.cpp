// The per-client rate limit.
#include "dedicated/clients/client_rate_limit.h"

namespace Orvan::Dedicated {

bool TClientRateLimit::Admit(TTimeStamp now, std::uint32_t& endedDrops) noexcept {
  endedDrops = 0;
  if (bucket_.TryTake(now)) return true;
  drops_.Note(now, endedDrops);
  return false;
}

}  // namespace Orvan::Dedicated
