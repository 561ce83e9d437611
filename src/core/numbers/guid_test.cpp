#include "core/numbers/guid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/diagnostics/engine_exception.h"

namespace Orvan {
namespace {

const TGuid kSentinel(0xA1A1A1A1, 0xB2B2B2B2, 0xC3C3C3C3, 0xD4D4D4D4);

TEST(GuidTest, FromStringReadsTheBracedForm) {
  const std::uint8_t expected[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                     0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  for (const char* text : {"{00112233-4455-6677-8899-AABBCCDDEEFF}", "{00112233-4455-6677-8899-aabbccddeeff}",
                           "{00112233-4455-6677-8899-aAbBcCdDeEfF}", "{00112233-4455-6677-8899-AABBCCDDEEFF} tail"}) {
    SCOPED_TRACE(text);
    TGuid guid = kSentinel;
    ASSERT_TRUE(guid.FromString(text));
    std::uint8_t bytes[16];
    std::memcpy(bytes, &guid.w0, 4);
    std::memcpy(bytes + 4, &guid.w1, 4);
    std::memcpy(bytes + 8, &guid.w2, 4);
    std::memcpy(bytes + 12, &guid.w3, 4);
    EXPECT_EQ(std::memcmp(bytes, expected, 16), 0);
    EXPECT_EQ(guid.w0, 0x33221100u);
  }
}

TEST(GuidTest, FromStringRefusesOtherTextsAndLeavesTheTargetAlone) {
  const char* bad[] = {
      "00112233-4455-6677-8899-AABBCCDDEEFF}",   // no opening brace
      "{00112233-4455-6677-8899-AABBCCDDEEFF",   // no closing brace
      "{00112233-4455-6677-8899-AABBCCDDEEF}",   // a digit short
      "{00112233-4455-6677-8899-AABBCCDDEEFF0}", // a digit too many
      "{0011223-34455-6677-8899-AABBCCDDEEFF}",  // misplaced dash
      "{00112233-44556677-8899-AABBCCDDEEFF}",   // missing dash
      "{00112233_4455-6677-8899-AABBCCDDEEFF}",  // another separator
      "{0011223G-4455-6677-8899-AABBCCDDEEFF}",  // not a hex digit
      "{ 0112233-4455-6677-8899-AABBCCDDEEFF}",
      "{0011",
      "{",
      "",
  };
  for (const char* text : bad) {
    SCOPED_TRACE(text);
    // Each text in a buffer of its own size, so the sanitizer sees a read past its end.
    const std::string copy(text);
    TGuid guid = kSentinel;
    EXPECT_FALSE(guid.FromString(copy.c_str()));
    EXPECT_EQ(guid, kSentinel);
  }
  TGuid guid = kSentinel;
  EXPECT_FALSE(guid.FromString(nullptr));
  EXPECT_EQ(guid, kSentinel);
}

TEST(GuidTest, OrderEqualityAndHash) {
  const TGuid a(1, 2, 3, 4);
  const TGuid b(1, 2, 3, 5);
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
  EXPECT_FALSE(a < TGuid(a));
  EXPECT_TRUE(TGuid(0, 0, 0, 0xFFFFFFFF) < TGuid(0, 0, 1, 0));
  EXPECT_TRUE(TGuid(0x7FFFFFFF, 9, 9, 9) < TGuid(0x80000000, 0, 0, 0));  // unsigned
  EXPECT_NE(a, b);
  EXPECT_EQ(a, TGuid(1, 2, 3, 4));
  EXPECT_EQ(TGuid().GetHash(), 0u);
  EXPECT_EQ(TGuid(0xF0, 0x0F, 0x100, 0x1).GetHash(), 0x1FEu);
}

TEST(GuidTest, FromWordsText) {
  struct Case {
    const char* text;
    TGuid expected;
  };
  const Case good[] = {
      {"1:2:3:4", TGuid(1, 2, 3, 4)},
      {"ffffffff:0:A:b", TGuid(0xFFFFFFFF, 0, 10, 11)},
      {"00000001:00000002:00000003:00000004", TGuid(1, 2, 3, 4)},  // 35 characters
      {"", TGuid()},
  };
  for (const Case& c : good) {
    SCOPED_TRACE(c.text);
    TGuid guid = kSentinel;
    guid.FromWordsText(TOrvString<char>(c.text));
    EXPECT_EQ(guid, c.expected);
  }
  for (const char* text : {"1:2:3", "x", "1-2-3-4", "00000001:00000002:00000003:000000004"}) {
    SCOPED_TRACE(text);
    TGuid guid;
    try {
      guid.FromWordsText(TOrvString<char>(text));
      ADD_FAILURE() << "no exception";
    } catch (const EException& failure) {
      EXPECT_STREQ(failure.what(), "Wrong GUID Format");
    }
  }
}

}  // namespace
}  // namespace Orvan
