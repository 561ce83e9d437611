// Text operations of the token types, one body per case rule.
#include "core/tokens/interned_token.h"

#include <cstring>

namespace Orvan::TokenDetail {

std::uint32_t CopyText(const TTokenText& text, char* buffer) noexcept {
  const std::uint32_t length = text.GetLength();
  std::memcpy(buffer, text.c_str(), std::size_t{length} + 1);
  return length;
}

bool TextLess(const TTokenText& a, const TTokenText& b, ETokenCaseRule rule) noexcept {
  if (rule == ETokenCaseRule::kCaseSensitive) return a < b;
  // The null handle reads as a static "" of length 0.
  const char* aText = a.c_str();
  const char* bText = b.c_str();
  return StringLessNoCase(aText, aText + a.GetLength(), bText, bText + b.GetLength());
}

bool TextEquals(const TTokenText& text, const char* other, ETokenCaseRule rule) noexcept {
  if (rule == ETokenCaseRule::kCaseSensitive) return text == other;
  if (other == nullptr) return text.GetLength() == 0;
  // Lengths first: most unequal texts never reach the character comparison.
  const std::uint32_t length = text.GetLength();
  if (std::strlen(other) != length) return false;
  return StringEqualNoCaseN(text.c_str(), other, length);
}

bool TextEquals(const TTokenText& text, const TTokenText& other, ETokenCaseRule rule) noexcept {
  return rule == ETokenCaseRule::kCaseSensitive ? text == other : text.EqualsNoCase(other);
}

}  // namespace Orvan::TokenDetail
