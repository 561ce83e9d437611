#include "core/text/text_hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using namespace Orvan;

struct NarrowHashCase {
  std::string text;
  std::uint32_t djb2;    // masked, case-sensitive
  std::uint32_t noCase;  // masked, folded
};

// Values worked out by hand from the definitions (djb2: 5381, h * 33 + unit).
TEST(TextHashTest, NarrowHashesOfKnownTexts) {
  const std::vector<NarrowHashCase> cases = {
      {"", 0, 0},
      {"a", 177670, 177670},
      {"A", 177638, 177670},
      {"abc", 193485963, 193485963},
      {"ABC", 193450027, 193485963},
      {"hello world", 894552257, 894552257},
      {"abcdefghijkl", 1552855315, 1552855315},  // unmasked 3700338963: the top bit goes
      // Bytes above 0x7F: the case-sensitive hash adds 200, the folded one the signed -56.
      {"\xC8", 177773, 177517},
  };
  for (const NarrowHashCase& c : cases) {
    const char* first = c.text.data();
    const char* last = first + c.text.size();
    EXPECT_EQ(HashRangeDjb2(first, last), c.djb2) << c.text;
    EXPECT_EQ(HashStringDjb2(c.text.c_str()), c.djb2) << c.text;
    EXPECT_EQ(HashStdStringDjb2(c.text), c.djb2) << c.text;
    EXPECT_EQ(HashRangeNoCase(first, last), c.noCase) << c.text;
    EXPECT_EQ(HashStringNoCase(c.text.c_str()), c.noCase) << c.text;
    EXPECT_EQ(HashStdStringNoCase(c.text), c.noCase) << c.text;
  }
}

TEST(TextHashTest, UnmaskedHashesStartAt5381AndKeepTheTopBit) {
  const char* empty = "";
  EXPECT_EQ(HashDjb2(empty, empty), 5381u);
  EXPECT_EQ(HashRangeNoCaseUnmasked(empty, empty), 5381u);

  const char key[] = "abcdefghijkl";
  EXPECT_EQ(HashDjb2(key, key + 12), 3700338963u);
  EXPECT_EQ(HashDjb2Key12(key), 3700338963u);
  const char upper[] = "ABCDEFGHIJKL";
  EXPECT_EQ(HashRangeNoCaseUnmasked(upper, upper + 12), 3700338963u);
}

struct WideHashCase {
  std::wstring text;
  std::uint32_t rawDjb2;  // djb2 over the little-endian bytes, masked
  std::uint32_t fnv1;     // FNV-1 over the characters, masked
  std::uint32_t noCase;   // FNV-1 over the folded characters, masked
};

TEST(TextHashTest, WideHashesOfKnownTexts) {
  const std::vector<WideHashCase> cases = {
      {L"", 0, 0, 0},
      {L"a", 2089959494, 84696446, 84696446},  // bytes 0x61 0 0 0; FNV-1 0x050C5D7E
      {L"A", 2088809510, 84696414, 84696446},
      {L"Hello", 880314489, 925285703, 922382695},
      // Only A-Z fold: U+00C9 stays apart from U+00E9, and so does a unit above 0xFFFF.
      {L"\u00C9", 2093696942, 84696534, 84696534},
      {std::wstring(1, static_cast<wchar_t>(0x10041)), 2088809543, 84761950, 84761950},
  };
  for (const WideHashCase& c : cases) {
    const wchar_t* first = c.text.data();
    const wchar_t* last = first + c.text.size();
    EXPECT_EQ(HashWideStringDjb2(c.text.c_str()), c.rawDjb2);
    EXPECT_EQ(HashWideRangeDjb2(first, last), c.rawDjb2);
    EXPECT_EQ(HashWideStdStringFnv1(c.text), c.fnv1);
    EXPECT_EQ(HashWideStdStringNoCase(c.text), c.noCase);
    EXPECT_EQ(HashWideRangeNoCase(first, last), c.noCase);
    EXPECT_EQ(HashWideStringNoCase(c.text.c_str()), c.noCase);
  }
}

TEST(TextHashTest, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(FoldAsciiLower('A'), 'a');
  EXPECT_EQ(FoldAsciiLower('Z'), 'z');
  for (char c : {'@', '[', 'a', 'z', '0', '\0', '\xC8', '\xFF'}) EXPECT_EQ(FoldAsciiLower(c), c) << int(c);
  EXPECT_EQ(FoldAsciiLower(L'M'), L'm');
  for (wchar_t c : {L'@', L'[', L'\u00C9', static_cast<wchar_t>(0x141), static_cast<wchar_t>(-1)}) {
    EXPECT_EQ(FoldAsciiLower(c), c) << static_cast<long>(c);
  }
}

TEST(TextCompareTest, EqualityOverAtMostNCharacters) {
  EXPECT_TRUE(StringEqualNoCaseN("File", "FILE", 4));
  EXPECT_FALSE(StringEqualN("File", "FILE", 4));
  EXPECT_TRUE(StringEqualN("Files", "Filed", 4));
  EXPECT_FALSE(StringEqualN("Files", "Filed", 5));
  EXPECT_FALSE(StringEqualNoCaseN("File", "FILES", 5));
  EXPECT_TRUE(StringEqualNoCaseN(L"File", L"FILE", 4));
  EXPECT_FALSE(StringEqualN(L"File", L"FILE", 4));
  EXPECT_TRUE(StringEqualN(L"Files", L"Filed", 4));

  const char* text = "same";
  const wchar_t* wide = L"same";
  EXPECT_TRUE(StringEqualN(text, text, 1000));
  EXPECT_TRUE(StringEqualNoCaseN(text, text, 0));
  EXPECT_TRUE(StringEqualN(wide, wide, 1000));
  EXPECT_TRUE(StringEqualNoCaseN(wide, wide, 1000));
}

struct LessCase {
  const char* a;
  const char* b;
  bool less;
  bool lessNoCase;
};

TEST(TextCompareTest, RangeOrders) {
  const std::vector<LessCase> cases = {
      {"abc", "ABD", false, true}, {"ABD", "abc", true, false}, {"ab", "AB", false, false},
      {"AB", "ab", true, false},   {"ab", "abc", true, true},   {"abc", "ab", false, false},
      {"", "a", true, true},       {"", "", false, false},      {"abd", "abc", false, false},
  };
  for (const LessCase& c : cases) {
    const std::size_t la = std::strlen(c.a);
    const std::size_t lb = std::strlen(c.b);
    EXPECT_EQ(StringLess(c.a, c.a + la, c.b, c.b + lb), c.less) << c.a << " < " << c.b;
    EXPECT_EQ(StringLessNoCase(c.a, c.a + la, c.b, c.b + lb), c.lessNoCase) << c.a << " < " << c.b;

    const std::wstring wa(c.a, c.a + la);
    const std::wstring wb(c.b, c.b + lb);
    EXPECT_EQ(StringLess(wa.data(), wa.data() + la, wb.data(), wb.data() + lb), c.less) << c.a << " < " << c.b;
    EXPECT_EQ(StringLessNoCase(wa.data(), wa.data() + la, wb.data(), wb.data() + lb), c.lessNoCase)
        << c.a << " < " << c.b;
  }
}

TEST(TextCompareTest, RangesWithinOneText) {
  // Ranges need not end at a NUL: a prefix of the very same text sorts first, the same range
  // is not less than itself.
  const char* text = "abcd";
  EXPECT_TRUE(StringLess(text, text + 2, text, text + 3));
  EXPECT_FALSE(StringLess(text, text + 3, text, text + 2));
  EXPECT_FALSE(StringLess(text, text + 3, text, text + 3));
  EXPECT_FALSE(StringLessNoCase(text, text + 3, text, text + 3));
  const wchar_t* wide = L"abcd";
  EXPECT_TRUE(StringLessNoCase(wide, wide + 2, wide, wide + 3));
  EXPECT_FALSE(StringLess(wide + 1, wide + 3, wide + 1, wide + 3));
}

}  // namespace
