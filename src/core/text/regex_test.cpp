#include "core/text/regex.h"

#include <gtest/gtest.h>

#include <pcre.h>

#include <optional>
#include <string>
#include <vector>

#include "support/process_allocator_seam.h"

namespace Orvan {
namespace {

// PCRE's count of the holders of a compiled pattern.
int HolderCount(const TRegex& regex) { return pcre_refcount(regex.GetPattern(), 0); }

struct TCaptureText {
  bool matched;
  std::string text;
  bool operator==(const TCaptureText&) const = default;
};

std::vector<TCaptureText> CapturesOf(const TVector<TRegexCapture>& captures) {
  std::vector<TCaptureText> texts;
  for (const TRegexCapture& capture : captures) {
    texts.push_back({capture.matched == 1, capture.matched == 1 ? capture.text.c_str() : ""});
  }
  return texts;
}

TEST(RegexTest, CompileHoldsAFreshPatternOrNothing) {
  TRegex regex;
  EXPECT_FALSE(regex.HasPattern());
  EXPECT_EQ(regex.Compile("a+b", 0), 1);
  EXPECT_TRUE(regex.HasPattern());
  EXPECT_EQ(regex.Compile("(", 0), PCRE_ERROR_NULL);
  EXPECT_FALSE(regex.HasPattern());
  EXPECT_EQ(regex.Compile(nullptr, 0), PCRE_ERROR_NULL);
  EXPECT_FALSE(TRegex("[a", 0).HasPattern());
}

TEST(RegexTest, CaseModeIgnoresCaseOnlyForOne) {
  EXPECT_TRUE(TRegex("abc", kRegexIgnoreCase).Matches("xABCx"));
  EXPECT_FALSE(TRegex("abc", kRegexMatchCase).Matches("xABCx"));
  EXPECT_FALSE(TRegex("abc", static_cast<ERegexCase>(2)).Matches("xABCx"));
  EXPECT_TRUE(TRegex("abc", PCRE_CASELESS).Matches("ABC"));
  TRegex regex;
  EXPECT_EQ(regex.Compile("^b", kRegexIgnoreCase), 1);
  EXPECT_TRUE(regex.Matches("Bx"));
  EXPECT_FALSE(regex.Matches("aB"));
}

TEST(RegexTest, CopiesShareOnePatternWhichTheLastHolderFreesOnce) {
  std::optional<TRegex> first;
  std::optional<TRegex> second;
  std::optional<TRegex> third;
  OrvTest::InstallSeam();
  first.emplace("(ab)+c", 0);
  const int allocated = OrvTest::g_seam.allocations;
  second.emplace(*first);
  third.emplace();
  *third = *second;
  *third = *third;
  const int holders = HolderCount(*third);
  first.reset();
  second.reset();
  const int releasedWhileHeld = OrvTest::g_seam.releases;
  third.reset();
  OrvTest::RestoreSeam();

  EXPECT_GE(allocated, 1);
  EXPECT_EQ(OrvTest::g_seam.allocations, allocated) << "copies compile nothing";
  EXPECT_EQ(holders, 3);
  EXPECT_EQ(releasedWhileHeld, 0);
  EXPECT_EQ(OrvTest::g_seam.releases, allocated);
}

TEST(RegexTest, AssignmentLetsGoOfTheOwnPattern) {
  TRegex a("a", 0);
  TRegex b("b", 0);
  TRegex keep(a);
  a = b;
  EXPECT_EQ(HolderCount(b), 2);
  EXPECT_EQ(HolderCount(keep), 1);
  EXPECT_TRUE(a.Matches("b"));
  TRegex none;
  a = none;
  EXPECT_FALSE(a.HasPattern());
  EXPECT_EQ(HolderCount(b), 1);
}

TEST(RegexTest, MatchAppendsTheGroupsUpToTheLastThatTookPart) {
  struct TCase {
    const char* pattern;
    const char* text;
    bool matches;
    std::vector<TCaptureText> captures;
  };
  const TCase cases[] = {
      {"(a)(x)?(b)", "ab", true, {{true, "a"}, {false, ""}, {true, "b"}}},
      {"(a)(x)?", "a", true, {{true, "a"}}},  // a trailing unset group is not reported
      {"a(b*)c", "xacy", true, {{true, ""}}},
      {"ab", "xaby", true, {}},
      {"(q)", "ab", false, {}},
      // More groups than the offsets hold: groups 1 to 9 are reported.
      {"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)",
       "abcdefghijk",
       true,
       {{true, "a"}, {true, "b"}, {true, "c"}, {true, "d"}, {true, "e"}, {true, "f"}, {true, "g"}, {true, "h"},
        {true, "i"}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.pattern);
    const TRegex regex(c.pattern, 0);
    TVector<TRegexCapture> captures;
    captures.PushBack(TRegexCapture{1, TOrvString<char>("earlier")});
    EXPECT_EQ(regex.Match(c.text, captures), c.matches);
    EXPECT_EQ(regex.Matches(c.text), c.matches);
    std::vector<TCaptureText> expected = {{true, "earlier"}};
    expected.insert(expected.end(), c.captures.begin(), c.captures.end());
    EXPECT_EQ(CapturesOf(captures), expected);
  }
}

TEST(RegexTest, ReplaceAllReplacesEveryMatchOfEachRest) {
  struct TCase {
    const char* pattern;
    const char* replacement;
    const char* text;
    const char* expected;
  };
  const TCase cases[] = {
      {"b", "X", "abcb", "aXcX"},
      {"^a", "", "aab", "b"},  // each rest starts with 'a' again until the 'b'
      {"x*", "X", "abc", "XaXbXcX"},
      {"x*", "X", "axx", "XaXX"},
      {"x*", "-", "", "-"},
      {"a", "", "aaa", ""},
      {"a|b", "--", "cab", "c----"},
      {"(b)", "$1\\1", "abc", "a$1\\1c"},  // the replacement has no group references
      {"bc$", "Z", "abcbc", "abcZ"},
      {"b+", "[]", "abbbcb", "a[]c[]"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " in " + c.text);
    TOrvString<char> text(c.text);
    TRegex(c.pattern, 0).ReplaceAll(text, c.replacement);
    EXPECT_STREQ(text.c_str(), c.expected);
    EXPECT_EQ(text.IsEmpty(), *c.expected == '\0');
  }
}

TEST(RegexTest, NoMatchOrNoPatternLeavesTheTextAndTheListAlone) {
  const TOrvString<char> original("abc");
  TOrvString<char> text = original;
  TRegex("z", 0).ReplaceAll(text, "X");
  EXPECT_EQ(text.GetContent(), original.GetContent());

  const TRegex failed("(", 0);
  failed.ReplaceAll(text, "X");
  EXPECT_EQ(text.GetContent(), original.GetContent());
  EXPECT_FALSE(failed.Matches("abc"));
  TVector<TRegexCapture> captures;
  EXPECT_FALSE(failed.Match("(", captures));
  EXPECT_EQ(captures.GetSize(), 0u);

  EXPECT_FALSE(TRegex("a", 0).Matches(nullptr));
  EXPECT_FALSE(TRegex("a", 0).Match(nullptr, captures));
  TOrvString<char> empty;
  TRegex("a", 0).ReplaceAll(empty, "X");
  EXPECT_TRUE(empty.IsEmpty());
}

TEST(RegexTest, CapturesGrowWithTheirTexts) {
  const TRegex regex("(\\w+)-(\\w+)", 0);
  TVector<TRegexCapture> captures;
  for (int i = 0; i < 20; ++i) {
    const std::string text = "left" + std::to_string(i) + "-right";
    ASSERT_TRUE(regex.Match(text.c_str(), captures));
  }
  ASSERT_EQ(captures.GetSize(), 40u);
  EXPECT_STREQ(captures[0].text.c_str(), "left0");
  EXPECT_STREQ(captures[38].text.c_str(), "left19");
  EXPECT_STREQ(captures[39].text.c_str(), "right");
}

}  // namespace
}  // namespace Orvan
