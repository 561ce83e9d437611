// Texts that come from outside (a client's chat, commands and variables, a console's commands)
// written into a log: a line break in them would start a line of their own, so a peer could forge
// whole log lines. They are written with their control characters escaped.
#pragma once

#include <string>
#include <string_view>

#include "core/text/engine_string.h"

namespace Orvan::Network {

// CR, LF and tab become the two characters "\r", "\n" and "\t"; every other control character
// (bytes 0 to 31, and 127) becomes "\x" and two upper-case hex digits. Everything else, bytes past
// 127 included, is kept as it is, so an honest text reads the same.
std::string EscapeControlCharacters(std::string_view text);
TOrvString<char> EscapeControlCharacters(const TOrvString<char>& text);

}  // namespace Orvan::Network
