// The states of the link to the match-making server; their names are also the texts that the
// time-out line prints.
#pragma once

#include <cstdint>

namespace Orvan::Dedicated {

enum class MatchMakingLinkState : std::int32_t { NotConnected = 0, Connecting = 1, Connected = 2, Ready = 3 };

const char* GetMatchMakingLinkStateName(MatchMakingLinkState state);

}  // namespace Orvan::Dedicated
