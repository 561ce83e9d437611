#include "network/logging/control_character_escape.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace Orvan::Network {
namespace {

struct TEscapeCase {
  const char* name;
  std::string text;
  std::string escaped;
};

TEST(ControlCharacterEscape, WritesEveryControlCharacterVisiblyAndKeepsTheRest) {
  const std::vector<TEscapeCase> cases = {
      {"an honest text is kept", "Hello, world! 1 < 2 \\n stays", "Hello, world! 1 < 2 \\n stays"},
      {"bytes past 127 are kept (UTF-8 names)", "J\xC3\xB6rg \xE2\x82\xAC", "J\xC3\xB6rg \xE2\x82\xAC"},
      {"a forged admission line stays on its line", "hi\nClient added in session with id 7 (IP 1.2.3.4)",
       "hi\\nClient added in session with id 7 (IP 1.2.3.4)"},
      {"a forged console line with CR LF", "launch\r\nRCon request command : ban 5 0",
       "launch\\r\\nRCon request command : ban 5 0"},
      {"tab", "a\tb", "a\\tb"},
      {"NUL, escape, unit separator and DEL as hex", std::string("a\0b\x1b\x1f\x7f", 6), "a\\x00b\\x1B\\x1F\\x7F"},
      {"empty", "", ""},
  };
  for (const TEscapeCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(EscapeControlCharacters(std::string_view(c.text)), c.escaped);
    const TOrvString<char> escaped = EscapeControlCharacters(TOrvString<char>(c.text));
    EXPECT_EQ(std::string(escaped.c_str(), escaped.GetLength()), c.escaped);
    EXPECT_EQ(c.escaped.find_first_of("\r\n"), std::string::npos);
  }
}

}  // namespace
}  // namespace Orvan::Network
