// Hexadecimal digits of bytes, shared by the digest, GUID and other hex texts of the engine: one
// lower-case alphabet for output and one lookup that reads either case and marks everything else.
#pragma once

#include <cstdint>

namespace Orvan {

inline constexpr char kLowerHexDigits[] = "0123456789abcdef";
// What HexDigitValue gives for a byte that is not a hex digit.
inline constexpr std::uint8_t kNotHexDigit = 255;

// 0-15 for '0'-'9', 'a'-'f' and 'A'-'F'; kNotHexDigit for every other byte value.
std::uint8_t HexDigitValue(char c);

// Writes two lower-case digits a byte, high nibble first; no terminator. Returns the end.
char* WriteHexBytes(char* out, const void* bytes, std::uint32_t count);

}  // namespace Orvan
