// Network id parsing and printing.
#include "network/packets/network_id.h"

#include <charconv>
#include <cstdlib>

namespace Orvan::Network {

void OrvNetId::FromAddress(std::uint32_t address, std::uint16_t port) noexcept {
  low_ = address;
  high_ = port;
  SetAddressKind();
}

void OrvNetId::FromString(const char* text, int length) noexcept {
  if (text == nullptr) {
    Invalidate();
    return;
  }
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end - text != length) {
    Invalidate();
    return;
  }
  *this = FromValue(value);
}

TOrvString<char> OrvNetId::ToString() const {
  char text[24];
  const std::to_chars_result printed = std::to_chars(text, text + sizeof(text), GetValue());
  return TOrvString<char>(text, static_cast<std::uint32_t>(printed.ptr - text));
}

}  // namespace Orvan::Network
