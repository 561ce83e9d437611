// Localisation tokens: the token of a text with its two warnings, and the text of a token.
#include "core/text/localisation_token.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <ostream>

#include "core/diagnostics/dialog.h"
#include "core/text/string_streamable.h"

namespace Orvan {

namespace {

constexpr char kTokenAlphabet[] = "-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
constexpr std::uint64_t kReservedBits = std::uint64_t{0xF} << 60;

// Dialog sites of the two warnings.
constexpr std::uint32_t kTooLongDialogId = 54;
constexpr std::uint32_t kInvalidCharacterDialogId = 87;

const wchar_t kTooLongMessage[] = L"Value is too long for a TLocalisationToken: %1";
const wchar_t kInvalidCharacterMessage[] = L"Caract\u00E8re invalide pour la formation d'un TLocalisationToken: %1 in %2";

// The six-bit digit of a character, or 0 for a character that has none.
std::uint64_t DigitOf(char character) {
  if (character >= '0' && character <= '9') return static_cast<std::uint64_t>(character - '0') + 1;
  if (character >= 'A' && character <= 'Z') return static_cast<std::uint64_t>(character - 'A') + 11;
  if (character == '_') return 37;
  if (character >= 'a' && character <= 'z') return static_cast<std::uint64_t>(character - 'a') + 38;
  return 0;
}

TDialogDescriptor WarningDescriptor(std::uint32_t site) {
  return TDialogDescriptor{0, site, 1, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit, kQuitGameCaption, 0};
}

// The text as the warnings quote it: from its start, at most `length` characters, so a counted text
// without a NUL is never read past its end.
TOrvString<char> QuotedText(const char* text, std::int32_t length) {
  return TOrvString<char>(text, static_cast<std::uint32_t>(strnlen(text, static_cast<std::size_t>(length))));
}

void ReportTooLong(const char* text, std::int32_t length) {
  const TOrvString<char> quoted = QuotedText(text, length);
  const TStringStreamableImpl<const TOrvString<char>> textArgument(quoted);
  const TStringStreamable* arguments[] = {&textArgument};
  const TDialogDescriptor descriptor = WarningDescriptor(kTooLongDialogId);
  OrvDialog(&descriptor, kTooLongMessage, arguments, 1);
}

void ReportInvalidCharacter(char character, const char* text, std::int32_t length) {
  const char offending[2] = {character, '\0'};
  const TOrvString<char> quoted = QuotedText(text, length);
  const TStringStreamableImpl<const char[2]> characterArgument(offending);
  const TStringStreamableImpl<const TOrvString<char>> textArgument(quoted);
  const TStringStreamable* arguments[] = {&characterArgument, &textArgument};
  const TDialogDescriptor descriptor = WarningDescriptor(kInvalidCharacterDialogId);
  OrvDialog(&descriptor, kInvalidCharacterMessage, arguments, 2);
}

}  // namespace

TLocalisationToken::TLocalisationToken(const char* text, std::int32_t length) {
  if (text == nullptr || length < 1 || text[0] == '\0') return;
  std::uint64_t value = 0;
  for (std::int32_t i = 0;;) {
    const std::uint64_t digit = DigitOf(text[i]);
    if (digit == 0) {
      ReportInvalidCharacter(text[i], text, length);
      return;
    }
    value = value << 6 | digit;
    ++i;
    if (i == length || text[i] == '\0') break;
    if (i == static_cast<std::int32_t>(kMaxLength)) {
      ReportTooLong(text, length);
      return;
    }
  }
  value_ = value;
}

TLocalisationToken::TLocalisationToken(const char* text)
    : TLocalisationToken(text, std::numeric_limits<std::int32_t>::max()) {}

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
