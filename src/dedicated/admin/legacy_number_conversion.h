// Decimal texts converted as the C library of the server's first, 32-bit host did: the switch
// values, the ports and every property number keep the results they always had, now that long is
// 64 bits wide.
#pragma once

#include <cstdint>

namespace Orvan::Dedicated {

// strtoul base 10 with a 32-bit long: leading blanks, an optional sign, then digits; no digits
// give 0. Magnitudes above 0xFFFFFFFF give 0xFFFFFFFF, negatives wrap modulo 2^32. A null text
// gives 0.
std::uint32_t ConvertDecimalToU32(const char* text);

// What ConvertDecimalToU32 makes of a text: a number it reads as written (a text without digits
// reads as 0 and counts as one), or a negative number it would wrap, or one above 0xFFFFFFFF it
// would saturate. "-0" reads as 0.
enum class EDecimalRange { kInRange, kNegative, kTooLarge };
EDecimalRange GetDecimalRange(const char* text);

// True when the text reads, without wrapping or saturating, as a number from lowest to highest.
bool IsDecimalWithin(const char* text, std::uint32_t lowest, std::uint32_t highest);

// strtol base 10 with a 32-bit long: values above 2147483647 give 2147483647, below -2147483648
// give -2147483648. A null text gives 0.
std::int32_t ConvertDecimalToI32(const char* text);

}  // namespace Orvan::Dedicated
