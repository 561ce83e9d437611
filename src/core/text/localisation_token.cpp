// Localisation tokens: the text of a packed token.
#include "core/text/localisation_token.h"

#include <algorithm>
#include <cstring>
#include <ostream>

namespace Orvan {

namespace {

constexpr char kTokenAlphabet[] = "-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
constexpr std::uint64_t kReservedBits = std::uint64_t{0xF} << 60;

}  // namespace

std::uint32_t TLocalisationToken::ToText(char* buffer) const {
  if ((value_ & kReservedBits) != 0) {
    std::strcpy(buffer, "RESERVED!");
    return 0;
  }
  if (value_ == 0) {
    std::strcpy(buffer, "INVALID!");
    return 0;
  }
  std::uint32_t length = 0;
  for (std::uint64_t rest = value_; rest != 0; rest >>= 6) buffer[length++] = kTokenAlphabet[rest & 63];
  std::reverse(buffer, buffer + length);
  buffer[length] = '\0';
  return length;
}

TOrvString<char> TLocalisationToken::ToString() const {
  char buffer[kTextCapacity];
  ToText(buffer);
  return TOrvString<char>(buffer);
}

std::ostream& operator<<(std::ostream& stream, TLocalisationToken token) {
  char buffer[TLocalisationToken::kTextCapacity];
  token.ToText(buffer);
  return stream << '"' << buffer << '"';
}

}  // namespace Orvan
