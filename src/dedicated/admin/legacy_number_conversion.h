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

// strtol base 10 with a 32-bit long: values above 2147483647 give 2147483647, below -2147483648
// give -2147483648. A null text gives 0.
std::int32_t ConvertDecimalToI32(const char* text);

}  // namespace Orvan::Dedicated
