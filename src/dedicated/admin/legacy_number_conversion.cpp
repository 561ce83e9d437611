// The 32-bit strtoul and strtol conversions.
#include "dedicated/admin/legacy_number_conversion.h"

#include <cctype>
#include <cstdlib>

namespace Orvan::Dedicated {

std::uint32_t ConvertDecimalToU32(const char* text) {
  if (text == nullptr) return 0;
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';
  std::uint64_t magnitude = 0;
  bool overflow = false;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(*text - '0');
    if (magnitude > 0xFFFFFFFFull) {
      overflow = true;
      magnitude = 0xFFFFFFFFull;  // keeps the product in range while the digits run on
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const std::uint32_t value = static_cast<std::uint32_t>(magnitude);
  return negative ? 0u - value : value;
}

std::int32_t ConvertDecimalToI32(const char* text) {
  if (text == nullptr) return 0;
  // strtoll saturates at its own (wider) range, so clamping it gives the 32-bit saturation.
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<std::int32_t>(value);
}

}  // namespace Orvan::Dedicated
