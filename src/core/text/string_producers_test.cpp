#include "core/text/string_producers.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>

namespace Orvan {
namespace {

using TNarrow = TOrvString<char>;

std::string ProducedText(const TNarrow& text) { return std::string(text.GetData(), text.GetLength()); }

// Sets TZ for the test's life and puts the former value back.
class TTimeZoneScope {
 public:
  explicit TTimeZoneScope(const char* zone) {
    if (const char* former = std::getenv("TZ")) former_ = former, hadFormer_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~TTimeZoneScope() {
    if (hadFormer_) {
      setenv("TZ", former_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string former_;
  bool hadFormer_ = false;
};

TEST(StringProducersTest, PlatformTexts) {
  char expected[256] = {};
  ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
  EXPECT_EQ(ProducedText(GetHostName()), expected);

  errno = ENOENT;
  EXPECT_EQ(ProducedText(GetSystemErrorText()), "No such file or directory");
  errno = EACCES;
  EXPECT_EQ(ProducedText(GetLastSystemErrorText()), "Permission denied");
  errno = 12345;
  EXPECT_EQ(ProducedText(GetSystemErrorText()), "Unknown error 12345");

  const std::string iso = ProducedText(GetLocalTimeIsoText());
  ASSERT_EQ(iso.size(), 23u);
  EXPECT_EQ(iso.substr(19), ".000");
  EXPECT_EQ(iso[10], 'T');
  EXPECT_EQ(ProducedText(MakeSampleFileNameText()).rfind("DataDir:", 0), 0u);
}

TEST(StringProducersTest, LocalTimeStamps) {
  const TTimeZoneScope utc("UTC0");
  EXPECT_EQ(ProducedText(GetLocalTimeStampText(1767225600)), "260101_000000");  // 1 January 2026
  EXPECT_EQ(ProducedText(GetLocalTimeStampText(1772874303)), "260307_090503");
  EXPECT_EQ(ProducedText(GetLocalTimeStampText(1262303999)), "091231_235959");
  EXPECT_EQ(GetLocalTimeStampText().GetLength(), 13u);
}

TEST(StringProducersTest, FilterFileNameCharacters) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {"a:b/c*.txt", "abc.txt"},
      {"\"*/:<>?\\|", ""},
      {"caf\xC3\xA9.ini", "caf.ini"},
      {std::string("a\0b", 3), "ab"},
      {"\x01tab\there", "\x01tab\there"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    TNarrow text(c.text);
    FilterFileNameCharacters(text);
    EXPECT_EQ(ProducedText(text), c.expected);
    EXPECT_EQ(text.IsEmpty(), c.expected.empty());
  }
}

TEST(StringProducersTest, ReplaceInCopy) {
  struct Case {
    const char* text;
    const char* search;
    const char* replacement;
    const char* expected;
  };
  const Case cases[] = {
      {"a.b.c", ".", "\\.", "a\\.b\\.c"},
      {"aa", "a", "aa", "aaaa"},  // inserted text is not searched again
      {"aaa", "aa", "X", "Xa"},
      {"abab", "ab", "", ""},
      {"xaby", "ab", "", "xy"},
      {"start", "st", "ST", "STart"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TNarrow text(c.text);
    const TNarrow result = ReplaceInCopy(text, c.search, c.replacement);
    EXPECT_EQ(ProducedText(result), c.expected);
    EXPECT_EQ(ProducedText(text), c.text);
  }
  const TNarrow text("a.b");
  EXPECT_EQ(ReplaceInCopy(text, "x", "y").GetContent(), text.GetContent());
  EXPECT_EQ(ReplaceInCopy(text, TNarrow(), "y").GetContent(), text.GetContent());

  const TNarrow many(std::string(100000, 'x'));
  const TNarrow replaced = ReplaceInCopy(many, "x", "yz");
  ASSERT_EQ(replaced.GetLength(), 200000u);
  EXPECT_EQ(replaced.GetStdString().find_first_not_of("yz"), std::string::npos);
  EXPECT_EQ(replaced.GetStdString().find("zz"), std::string::npos);
}

TEST(StringProducersTest, WildcardToRegex) {
  EXPECT_EQ(ProducedText(WildcardToRegex("*.ini")), "[^/:\\*\\?\\\"!=|]*\\.INI");
  EXPECT_EQ(ProducedText(WildcardToRegex("(x)$")), "\\(X\\)\\$");
  EXPECT_EQ(ProducedText(WildcardToRegex("a\\b?")), "A\\\\B?");
  EXPECT_TRUE(WildcardToRegex(TNarrow()).IsEmpty());
}

TEST(StringProducersTest, FormatStringGrowsUntilTheTextFits) {
  // 63 characters fit the first 64; 64 need 128; 200 need 256.
  for (const std::size_t length : {0u, 1u, 63u, 64u, 127u, 128u, 200u, 5000u}) {
    SCOPED_TRACE(length);
    const std::string expected(length, 'x');
    TNarrow out("former");
    FormatString(out, "%s", expected.c_str());
    EXPECT_EQ(ProducedText(out), expected);
    EXPECT_EQ(out.IsEmpty(), length == 0);

    const std::wstring wideExpected(length, L'w');
    TOrvString<wchar_t> wide(L"former");
    FormatWideString(wide, L"%ls", wideExpected.c_str());
    EXPECT_EQ(std::wstring(wide.GetData(), wide.GetLength()), wideExpected);
  }
  TNarrow out;
  FormatString(out, "%d-%s-%5.2f", -42, "ab", 3.14159);
  EXPECT_EQ(ProducedText(out), "-42-ab- 3.14");
  TOrvString<wchar_t> wide;
  FormatWideString(wide, L"%d:%ls", 7, L"seven");
  EXPECT_EQ(std::wstring(wide.GetData()), L"7:seven");
}

TEST(StringProducersTest, APrintThatCannotSucceedGivesTheEmptyString) {
  // The process keeps the "C" locale: a non-ASCII byte cannot be converted to a wide character,
  // nor a non-ASCII wide character to a narrow one.
  TOrvString<wchar_t> wide(L"former");
  FormatWideString(wide, L"%s", "caf\xC3\xA9");
  EXPECT_TRUE(wide.IsEmpty());
  TNarrow narrow("former");
  FormatString(narrow, "%ls", L"caf\u00E9");
  EXPECT_TRUE(narrow.IsEmpty());
}

}  // namespace
}  // namespace Orvan
