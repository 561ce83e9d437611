// The short duration text ("1mn2s", "12s", "500ms", "1500us") as an engine string.
#pragma once

#include "core/text/engine_string.h"

namespace Orvan {

// FormatDuration's text of `seconds`, formatted into a 128-byte buffer.
TOrvString<char> DurationToString(double seconds);

}  // namespace Orvan
