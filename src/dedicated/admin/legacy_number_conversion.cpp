// The 32-bit strtoul and strtol conversions.
#include "dedicated/admin/legacy_number_conversion.h"

#include <cctype>
#include <cstdlib>

namespace Orvan::Dedicated {

namespace {

struct TDecimalReading {
  std::uint32_t magnitude = 0;  // saturated at 0xFFFFFFFF
  bool negative = false;
  bool overflow = false;
};

TDecimalReading ReadDecimal(const char* text) {
  TDecimalReading reading;
  if (text == nullptr) return reading;
  while (std::isspace(static_cast<unsigned char>(*text))) ++text;
  if (*text == '+' || *text == '-') reading.negative = *text++ == '-';
  std::uint64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + static_cast<std::uint64_t>(*text - '0');
    if (magnitude > 0xFFFFFFFFull) {
      reading.overflow = true;
      magnitude = 0xFFFFFFFFull;  // keeps the product in range while the digits run on
    }
  }
  reading.magnitude = static_cast<std::uint32_t>(magnitude);
  return reading;
}

}  // namespace

std::uint32_t ConvertDecimalToU32(const char* text) {
  const TDecimalReading reading = ReadDecimal(text);
  if (reading.overflow) return 0xFFFFFFFFu;
  return reading.negative ? 0u - reading.magnitude : reading.magnitude;
}

EDecimalRange GetDecimalRange(const char* text) {
  const TDecimalReading reading = ReadDecimal(text);
  if (reading.overflow) return EDecimalRange::kTooLarge;
  if (reading.negative && reading.magnitude != 0) return EDecimalRange::kNegative;
  return EDecimalRange::kInRange;
}

bool IsDecimalWithin(const char* text, std::uint32_t lowest, std::uint32_t highest) {
  if (GetDecimalRange(text) != EDecimalRange::kInRange) return false;
  const std::uint32_t value = ConvertDecimalToU32(text);
  return value >= lowest && value <= highest;
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
