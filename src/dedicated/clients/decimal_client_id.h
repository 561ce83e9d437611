// Ids that people write: the arguments of the ban, unban, kick and setpvar commands and the keys of
// "banned_clients.ini". Only decimal digits name an id, so that blanks, signs or trailing text
// (which strtoull would skip or stop at) never turn a typo into another client's id.
#pragma once

#include <string_view>

#include "network/packets/network_id.h"

namespace Orvan::Dedicated {

// True for a non-empty text made of '0' to '9' only.
bool IsDecimalDigits(std::string_view text);

// The id written in decimal; the invalid id unless the text is decimal digits only and its value
// fits in 64 bits.
Network::OrvNetId ParseDecimalId(std::string_view text);

}  // namespace Orvan::Dedicated
