// Hexadecimal digits of bytes: the 256-entry digit table and the lower-case writer.
#include "core/text/hex_text.h"

#include <array>

namespace Orvan {

namespace {

constexpr std::array<std::uint8_t, 256> BuildDigitTable() {
  std::array<std::uint8_t, 256> table{};
  for (std::uint8_t& value : table) value = kNotHexDigit;
  for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::uint8_t>(i);
  for (int i = 0; i < 6; ++i) {
    table['a' + i] = static_cast<std::uint8_t>(10 + i);
    table['A' + i] = static_cast<std::uint8_t>(10 + i);
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> kDigitTable = BuildDigitTable();

}  // namespace

std::uint8_t HexDigitValue(char c) { return kDigitTable[static_cast<unsigned char>(c)]; }

char* WriteHexBytes(char* out, const void* bytes, std::uint32_t count) {
  const auto* from = static_cast<const unsigned char*>(bytes);
  for (std::uint32_t i = 0; i < count; ++i) {
    *out++ = kLowerHexDigits[from[i] >> 4];
    *out++ = kLowerHexDigits[from[i] & 15];
  }
  return out;
}

}  // namespace Orvan
