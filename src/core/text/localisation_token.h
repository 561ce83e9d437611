// The key of a localised text: a name of at most ten characters packed six bits a character into
// one 64-bit number, so that keys compare and hash as integers. Here: the value, its text, and the
// token built from a text.
#pragma once

#include <cstdint>
#include <limits>
#include <iosfwd>

#include "core/text/engine_string.h"

namespace Orvan {

class TLocalisationToken {
 public:
  // Holds the text of any token, its NUL included ("RESERVED!" and ten characters both fit).
  static constexpr std::uint32_t kTextCapacity = 11;

  // Most characters a token holds: 10 six-bit digits use 60 bits, the top 4 stay 0.
  static constexpr std::uint32_t kMaxLength = 10;

  constexpr TLocalisationToken() = default;
  // The token of at most `length` characters of `text`, stopping early at a NUL; each character of
  // "0-9", "A-Z", "_", "a-z" is one digit, the first most significant. A null or empty text, or a
  // length below 1, gives 0. A character outside that set among the first ten, or an eleventh
  // character, gives 0 and an engine warning that quotes the text (at most `length` characters);
  // nothing throws.
  TLocalisationToken(const char* text, std::int32_t length);
  explicit TLocalisationToken(const char* text);
  static constexpr TLocalisationToken FromValue(std::uint64_t value) {
    TLocalisationToken token;
    token.value_ = value;
    return token;
  }

  constexpr std::uint64_t GetValue() const { return value_; }
  friend constexpr bool operator==(TLocalisationToken a, TLocalisationToken b) = default;

  // Writes the text and a NUL into `buffer` (kTextCapacity bytes) and returns its length: the
  // six-bit digits, most significant first, in "-0-9A-Z_a-z". A token with any of its top four bits
  // set writes "RESERVED!", the token 0 "INVALID!"; both return 0.
  std::uint32_t ToText(char* buffer) const;
  TOrvString<char> ToString() const;

 private:
  std::uint64_t value_ = 0;
};

// The text between double quotes.
std::ostream& operator<<(std::ostream& stream, TLocalisationToken token);

}  // namespace Orvan
