#include "core/text/localisation_token.h"

#include <gtest/gtest.h>

#include <array>
#include <sstream>

namespace Orvan {
namespace {

TEST(LocalisationTokenTest, TextsOfTokens) {
  struct Case {
    std::uint64_t value;
    const char* text;
    std::uint32_t length;
  };
  const Case cases[] = {
      {0, "INVALID!", 0},
      {std::uint64_t{1} << 60, "RESERVED!", 0},
      {~std::uint64_t{0}, "RESERVED!", 0},
      {1, "0", 1},
      {11, "A", 1},
      {716, "AB", 2},
      {64, "0-", 2},  // a digit of value 0 inside the text
      {313203828, "Hello", 5},
      {(std::uint64_t{1} << 60) - 1, "zzzzzzzzzz", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TLocalisationToken token = TLocalisationToken::FromValue(c.value);
    // The documented capacity exactly, so that a longer write is seen by the sanitizer.
    std::array<char, TLocalisationToken::kTextCapacity> buffer;
    EXPECT_EQ(token.ToText(buffer.data()), c.length);
    EXPECT_STREQ(buffer.data(), c.text);
    EXPECT_EQ(token.ToString(), c.text);
    std::ostringstream stream;
    stream << token;
    EXPECT_EQ(stream.str(), std::string("\"") + c.text + "\"");
  }
  EXPECT_EQ(TLocalisationToken().GetValue(), 0u);
  EXPECT_EQ(TLocalisationToken::FromValue(716), TLocalisationToken::FromValue(716));
}

}  // namespace
}  // namespace Orvan
