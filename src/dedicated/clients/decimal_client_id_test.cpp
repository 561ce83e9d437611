// Ids written by people are decimal digits and nothing else: what strtoull would forgive (blanks,
// signs, hexadecimal, trailing text, overflow) names no id.
#include "dedicated/clients/decimal_client_id.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Orvan::Dedicated {
namespace {

TEST(DecimalClientIdTest, OnlyDigitsNameAnId) {
  struct Case {
    const char* text;
    bool valid;
    std::uint64_t value;
  };
  const std::vector<Case> cases = {
      {"12", true, 12},
      {"0012", true, 12},
      {"0", true, 0},
      {"18374686479671623679", true, 18374686479671623679ull},
      // A top byte of all ones names no id; one more than all ones overflows.
      {"18446744073709551614", false, 0},
      {"18446744073709551615", false, 0},
      {"18446744073709551616", false, 0},
      {"99999999999999999999999", false, 0},
      {"", false, 0},
      {" 12", false, 0},
      {"12 ", false, 0},
      {"+12", false, 0},
      {"-12", false, 0},
      {"0x0c", false, 0},
      {"12a", false, 0},
      {"1.5", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("\"") + c.text + "\"");
    const Network::OrvNetId id = ParseDecimalId(c.text);
    EXPECT_EQ(id.IsValid(), c.valid);
    if (c.valid) {
      EXPECT_EQ(id.GetValue(), c.value);
    }
  }
  // The text's own length counts, not a NUL after it.
  EXPECT_EQ(ParseDecimalId(std::string_view("123", 2)).GetValue(), 12u);
}

}  // namespace
}  // namespace Orvan::Dedicated
