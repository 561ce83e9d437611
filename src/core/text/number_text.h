// Small number texts used across the engine: integers in decimal (plain or zero-padded) or in a
// radix, byte counts with a power-of-1024 unit, and the names of the file layer's status codes.
#pragma once

#include <sys/types.h>

#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan {

// "%d" and "%zd".
TOrvString<char> IntToString(std::int32_t value);
TOrvString<char> SizeToString(ssize_t value);
// The plain text with '0's put in front, the sign included, until it is `width` long (-5 to width
// 4 gives "00-5"); a longer text is left as it is.
TOrvString<char> IntToStringPadded(std::int32_t value, std::uint32_t width);
TOrvString<char> SizeToStringPadded(ssize_t value, std::uint32_t width);

// Characters needed by IntToText at most: 32 binary digits, the sign and the NUL.
inline constexpr std::uint32_t kIntToTextCapacity = 34;
// Writes the text and a NUL and returns `buffer`. Each digit is '0' + remainder, also past 9 (radix
// 16 writes ':' for 10 and '?' for 15); a negative value gets a leading '-'. The radix must be 2 or
// more.
char* IntToText(std::int32_t value, char* buffer, std::int32_t radix);
wchar_t* IntToText(std::int32_t value, wchar_t* buffer, std::int32_t radix);

// The size in the largest unit it is strictly above ("TiB", "GiB", "MiB", "KiB", else "byte"), with
// `precision` decimals (0 to 8; below 0 reads as 0, above 8 as 8), cut to 13 characters.
TOrvString<char> ByteSizeToString(std::uint64_t size, std::int32_t precision);

// The value as a standard narrow string stream writes it: default settings (6 significant digits),
// or the given precision.
TOrvString<char> ToString(float value);
TOrvString<char> ToString(float value, std::uint32_t precision);

// "Success", "File not found", ... for the file layer's status codes; "" for an unknown code.
const char* GetFileStatusText(std::int32_t status);

}  // namespace Orvan
