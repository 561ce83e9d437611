// The text a finished game reports to the result-recording endpoint: the players the game expected,
// when it ended, which game and which map. Its layout, blanks and empty line included, is what the
// endpoint has always been sent, so it is written line by line rather than by a JSON generator.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"

namespace Orvan::Dedicated {

// `expectedPlayers` are the players' network id values in list order; `timeSeconds` is the end in
// seconds since the epoch; `mapProperty` is the Map property's text, reported as the number its
// leading digits make (0 for a map name, null included).
TOrvString<char> WriteGameResultDocument(const TVector<std::uint64_t>& expectedPlayers, std::int64_t timeSeconds,
                                         std::uint32_t gameId, const char* mapProperty);

}  // namespace Orvan::Dedicated
