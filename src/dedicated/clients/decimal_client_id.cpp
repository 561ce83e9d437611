// Decimal ids, digits only, without the C library's leniency.
#include "dedicated/clients/decimal_client_id.h"

#include <cstdint>
#include <limits>

namespace Orvan::Dedicated {

bool IsDecimalDigits(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

Network::OrvNetId ParseDecimalId(std::string_view text) {
  if (!IsDecimalDigits(text)) return Network::OrvNetId();
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (const char c : text) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (kLargest - digit) / 10) return Network::OrvNetId();
    value = value * 10 + digit;
  }
  return Network::OrvNetId::FromValue(value);
}

}  // namespace Orvan::Dedicated
