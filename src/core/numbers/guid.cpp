// GUID order, and reading GUIDs from text.
#include "core/numbers/guid.h"

#include <cstdio>
#include <cstring>
#include <tuple>

#include "core/diagnostics/engine_exception.h"
#include "core/text/hex_text.h"

namespace Orvan {

namespace {

// The longest text FromWordsText reads: four 8-digit words and three ':'.
constexpr std::uint32_t kLongestWordsText = 35;

}  // namespace

bool operator<(const TGuid& a, const TGuid& b) {
  return std::tie(a.w0, a.w1, a.w2, a.w3) < std::tie(b.w0, b.w1, b.w2, b.w3);
}

bool TGuid::FromString(const char* text) {
  if (text == nullptr || *text != '{') return false;
  const char* p = text + 1;
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) {
    // Stops at the first bad character, the NUL included, so the text is never read past its end.
    const std::uint8_t high = HexDigitValue(p[0]);
    if (high == kNotHexDigit) return false;
    const std::uint8_t low = HexDigitValue(p[1]);
    if (low == kNotHexDigit) return false;
    bytes[i] = static_cast<std::uint8_t>((high << 4) | low);
    p += 2;
    if (i == 3 || i == 5 || i == 7 || i == 9) {
      if (*p != '-') return false;
      ++p;
    }
  }
  if (*p != '}') return false;
  std::uint32_t words[4];
  std::memcpy(words, bytes, sizeof words);
  w0 = words[0];
  w1 = words[1];
  w2 = words[2];
  w3 = words[3];
  return true;
}

void TGuid::FromWordsText(const TOrvString<char>& text) {
  if (text.IsEmpty()) {
    *this = TGuid();
    return;
  }
  if (text.GetLength() > kLongestWordsText ||
      std::sscanf(text.GetData(), "%x:%x:%x:%x", &w0, &w1, &w2, &w3) < 4) {
    throw EException(L"Wrong GUID Format");
  }
}

}  // namespace Orvan
