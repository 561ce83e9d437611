// GUIDs: 128-bit identifiers of engine objects and assets, held as four 32-bit words, compared,
// ordered, hashed and read from their braced text or from four hex words.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan {

class TGuid {
 public:
  // The null GUID.
  constexpr TGuid() = default;
  constexpr TGuid(std::uint32_t word0, std::uint32_t word1, std::uint32_t word2, std::uint32_t word3)
      : w0(word0), w1(word1), w2(word2), w3(word3) {}

  friend constexpr bool operator==(const TGuid& a, const TGuid& b) = default;
  // w0, then w1, w2, w3, as unsigned numbers.
  friend bool operator<(const TGuid& a, const TGuid& b);
  std::uint32_t GetHash() const { return w0 ^ w1 ^ w2 ^ w3; }

  // Reads "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits of either case; what follows the '}'
  // is not read). The bytes keep the order of their digit pairs in the text, so the words are those
  // bytes in little-endian order. False, with this GUID unchanged, for any other text.
  bool FromString(const char* text);
  // Reads "%x:%x:%x:%x" into the four words; the empty text gives the null GUID. Throws EException
  // "Wrong GUID Format" for a text longer than 35 characters or with fewer than four numbers (the
  // words read by then are kept).
  void FromWordsText(const TOrvString<char>& text);

  std::uint32_t w0 = 0;
  std::uint32_t w1 = 0;
  std::uint32_t w2 = 0;
  std::uint32_t w3 = 0;
};

}  // namespace Orvan
