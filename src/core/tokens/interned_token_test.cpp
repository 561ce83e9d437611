// Token values and text operations under both case rules: text, copy, equality and ordering.
#include "core/tokens/interned_token.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/token_test_tables.h"

namespace {

using Orvan::ETokenCaseRule;
using Orvan::TTokenText;

template <typename TTable>
class InternedTokenTest : public ::testing::Test {
 protected:
  using TToken = Orvan::TInternedToken<TTable>;
  static constexpr bool kSensitive = TTable::kCaseRule == ETokenCaseRule::kCaseSensitive;
  OrvTest::TScopedTokenTable<TTable> table_;
};

using TTableVariants = ::testing::Types<OrvTest::TTestTable16Sensitive, OrvTest::TTestTable32Sensitive,
                                        OrvTest::TTestTable16Insensitive, OrvTest::TTestTable32Insensitive>;
TYPED_TEST_SUITE(InternedTokenTest, TTableVariants);

TYPED_TEST(InternedTokenTest, ValuesCompareAndSwapByIdAlone) {
  using TToken = typename TestFixture::TToken;
  static_assert(sizeof(TToken) == sizeof(typename TToken::TId));
  constexpr TToken empty;
  EXPECT_EQ(empty.GetId(), 0u);
  EXPECT_TRUE(empty.IsEmpty());
  TToken a("alpha");
  TToken b("beta");
  const TToken alsoA("alpha");
  EXPECT_EQ(a, alsoA);
  EXPECT_NE(a, b);
  EXPECT_FALSE(a.IsEmpty());
  a.Swap(b);
  EXPECT_STREQ(a.c_str(), "beta");
  EXPECT_STREQ(b.c_str(), "alpha");
  EXPECT_EQ(TToken::FromId(b.GetId()), alsoA);
  EXPECT_EQ(TToken(Orvan::TTokenRange{"alphabet", "alphabet" + 5}), alsoA);
  EXPECT_EQ(TToken(TTokenText("alpha")), alsoA);
  EXPECT_EQ(alsoA.GetTextSlot(), TToken::GetEntry(alsoA.GetId()));
  EXPECT_EQ(alsoA.c_str(), alsoA.GetTextSlot()->c_str());
  EXPECT_EQ(TToken::GetCount(), 3u);
  EXPECT_EQ(TToken::GetMap(), TypeParam::GetMap());
  EXPECT_EQ(TToken::GetPages(), TypeParam::GetPages());
  EXPECT_EQ(TToken::GetMutex(), TypeParam::GetMutex());
}

TYPED_TEST(InternedTokenTest, EmptyTokenReadsEmptyAndOrdersFirst) {
  using TToken = typename TestFixture::TToken;
  const TToken empty;
  const TToken otherEmpty("");
  const TToken text("a");
  EXPECT_STREQ(empty.c_str(), "");
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(empty.CopyText(buffer), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(buffer[1], 'x');
  EXPECT_TRUE(empty == static_cast<const char*>(nullptr));
  EXPECT_TRUE(empty == "");
  EXPECT_TRUE(empty == TTokenText());
  EXPECT_FALSE(empty != "");
  EXPECT_FALSE(empty == "a");
  EXPECT_FALSE(empty.Compare(otherEmpty));
  EXPECT_FALSE(otherEmpty.Compare(empty));
  EXPECT_TRUE(empty.Compare(text));
  EXPECT_FALSE(text.Compare(empty));
  // A null text counts as "" against a non-empty token too.
  EXPECT_FALSE(text == static_cast<const char*>(nullptr));
  EXPECT_TRUE(text != static_cast<const char*>(nullptr));
}

TYPED_TEST(InternedTokenTest, EqualityFollowsTheCaseRule) {
  using TToken = typename TestFixture::TToken;
  struct TCase {
    const char* token;
    const char* other;
    bool sensitive;
    bool insensitive;
  };
  const TCase cases[] = {
      {"Foo", "Foo", true, true},
      {"Foo", "FOO", false, true},
      {"Foo", "fOO", false, true},
      {"abc", "ab", false, false},    // a prefix of the token's text
      {"abc", "abcd", false, false},  // continues it
      {"abc", "", false, false},
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false, false},
      {"\xC3\xA9t\xC3\xA9", "\xC3\xA9T\xC3\xA9", false, true},
  };
  for (const TCase& c : cases) {
    const TToken token(c.token);
    const bool expected = this->kSensitive ? c.sensitive : c.insensitive;
    EXPECT_EQ(token == c.other, expected) << c.token << " / " << c.other;
    EXPECT_EQ(token != c.other, !expected) << c.token << " / " << c.other;
    const TTokenText string(c.other);
    EXPECT_EQ(token == string, expected) << c.token << " / string " << c.other;
    EXPECT_EQ(token != string, !expected) << c.token << " / string " << c.other;
  }
}

TYPED_TEST(InternedTokenTest, CompareOrdersTextsUnderTheCaseRule) {
  using TToken = typename TestFixture::TToken;
  struct TCase {
    const char* a;
    const char* b;
    bool sensitiveLess;
    bool insensitiveLess;
  };
  const TCase cases[] = {
      {"ab", "abc", true, true},
      {"abc", "ab", false, false},
      {"abc", "ABD", false, true},
      {"ABD", "abc", true, false},
      // '_' (0x5F) sorts between the upper-case and lower-case letters.
      {"_x", "Bx", false, true},
      {"Bx", "_x", true, false},
      {"abc", "abd", true, true},
      {"\x7F", "\xC3\xA9", true, true},  // bytes compare unsigned
  };
  for (const TCase& c : cases) {
    const TToken a(c.a);
    const TToken b(c.b);
    EXPECT_EQ(a.Compare(b), this->kSensitive ? c.sensitiveLess : c.insensitiveLess) << c.a << " < " << c.b;
  }
  // Never before itself, nor before another object holding the same id.
  const TToken a("same");
  const TToken alsoA("same");
  EXPECT_FALSE(a.Compare(a));
  EXPECT_FALSE(a.Compare(alsoA));
  EXPECT_FALSE(alsoA.Compare(a));
}

TYPED_TEST(InternedTokenTest, CopyTextWritesTheTextAndItsNul) {
  using TToken = typename TestFixture::TToken;
  const TToken token("DataDir");
  char buffer[16];
  std::memset(buffer, 'x', sizeof buffer);
  ASSERT_EQ(token.CopyText(buffer), 7u);
  EXPECT_EQ(std::memcmp(buffer, "DataDir\0", 8), 0);
  EXPECT_EQ(buffer[8], 'x');
  // A caller goes on at the returned length, over the NUL.
  const std::uint32_t length = token.CopyText(buffer);
  std::memcpy(buffer + length, ":/", 3);
  EXPECT_STREQ(buffer, "DataDir:/");
}

}  // namespace
