// The escape of outside texts in log lines, shared by the process log and the chat log.
#include "network/logging/control_character_escape.h"

namespace Orvan::Network {

namespace {

bool IsControlCharacter(unsigned char c) { return c < 32 || c == 127; }

}  // namespace

std::string EscapeControlCharacters(std::string_view text) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string escaped;
  escaped.reserve(text.size());
  for (const char character : text) {
    const auto c = static_cast<unsigned char>(character);
    if (!IsControlCharacter(c)) {
      escaped += character;
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\t') {
      escaped += "\\t";
    } else {
      escaped += "\\x";
      escaped += kHexDigits[c >> 4];
      escaped += kHexDigits[c & 15];
    }
  }
  return escaped;
}

TOrvString<char> EscapeControlCharacters(const TOrvString<char>& text) {
  const std::string_view view(text.c_str(), text.GetLength());
  // Most texts hold none: they are returned as they are, without a copy of their characters.
  for (const char c : view) {
    if (IsControlCharacter(static_cast<unsigned char>(c))) return TOrvString<char>(EscapeControlCharacters(view));
  }
  return text;
}

}  // namespace Orvan::Network
