#include "core/text/hex_text.h"

#include <gtest/gtest.h>

#include <string>

namespace Orvan {
namespace {

TEST(HexTextTest, DigitValuesOfEveryByte) {
  const std::string digits = "0123456789abcdefABCDEF";
  for (int byte = 0; byte < 256; ++byte) {
    SCOPED_TRACE(byte);
    const char c = static_cast<char>(byte);
    const std::size_t at = digits.find(c);
    const std::uint8_t expected =
        at == std::string::npos ? kNotHexDigit : static_cast<std::uint8_t>(at < 16 ? at : at - 6);
    EXPECT_EQ(HexDigitValue(c), expected);
  }
  const std::uint8_t bytes[] = {0x00, 0x9F, 0xFA};
  char out[7] = "######";
  EXPECT_EQ(WriteHexBytes(out, bytes, 3), out + 6);
  EXPECT_STREQ(out, "009ffa");
}

}  // namespace
}  // namespace Orvan
