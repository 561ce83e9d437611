// Base64 of bytes in the two alphabets of RFC 4648 (standard, and URL-safe with '-' and '_'), both
// padded with '='. Whole-buffer codecs: the output string is sized first and then written.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan {

// Four characters for every three bytes begun; the empty string for no bytes. An output past
// 4 GiB - 1 characters cannot be held and throws std::bad_alloc.
TOrvString<char> Base64Encode(const std::uint8_t* first, const std::uint8_t* last);
TOrvString<char> Base64UrlEncode(const std::uint8_t* first, const std::uint8_t* last);

// White space is skipped anywhere; '=' may only end the text. `out` is first sized to three bytes
// for every four input characters (white space counted). Fewer than four characters decode to the
// empty string with true, whatever they are. True: `out` holds exactly the decoded bytes. False:
// `out` keeps that first size and holds the bytes decoded before the fault, then what the sizing
// left (its former characters, then NULs). Input whose decoding would pass 4 GiB - 1 bytes gives
// false with `out` unchanged. The input may lie in `out`'s own text.
bool Base64Decode(const char* first, const char* last, TOrvString<char>& out);
bool Base64UrlDecode(const char* first, const char* last, TOrvString<char>& out);

}  // namespace Orvan
