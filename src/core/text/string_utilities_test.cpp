#include "core/text/string_utilities.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <cstring>
#include <cwchar>
#include <stdexcept>
#include <string>
#include <vector>

namespace Orvan {
namespace {

using TNarrow = TOrvString<char>;

TEST(StringUtilitiesTest, PrefixSuffixAndCaseInsensitiveTests) {
  struct Case {
    const char* text;
    const char* affix;
    bool startsWith, startsWithNoCase, endsWith, endsWithNoCase;
  };
  const std::vector<Case> cases = {
      {"ab", "abc", false, false, false, false},
      {"abc", "", true, true, true, true},
      {"", "", true, true, true, true},
      {"File.INI", ".ini", false, false, false, true},
      {"File.INI", "FILE", false, true, false, false},
      {"File.INI", "File.INI", true, true, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text) + " / " + c.affix);
    const std::uint32_t textLength = static_cast<std::uint32_t>(std::strlen(c.text));
    const std::uint32_t affixLength = static_cast<std::uint32_t>(std::strlen(c.affix));
    EXPECT_EQ(StartsWith(c.text, c.affix), c.startsWith);
    EXPECT_EQ(StartsWith(c.text, c.affix, textLength, affixLength), c.startsWith);
    EXPECT_EQ(StartsWithNoCase(c.text, c.affix), c.startsWithNoCase);
    EXPECT_EQ(EndsWith(c.text, c.affix), c.endsWith);
    EXPECT_EQ(EndsWith(c.text, c.text + textLength, c.affix, c.affix + affixLength), c.endsWith);
    EXPECT_EQ(EndsWithNoCase(c.text, c.affix), c.endsWithNoCase);
    // The wide forms follow the same rules.
    const std::wstring wideText(c.text, c.text + textLength);
    const std::wstring wideAffix(c.affix, c.affix + affixLength);
    EXPECT_EQ(StartsWith(wideText.c_str(), wideAffix.c_str()), c.startsWith);
    EXPECT_EQ(StartsWithNoCase(wideText.c_str(), wideAffix.c_str()), c.startsWithNoCase);
    EXPECT_EQ(EndsWith(wideText.c_str(), wideAffix.c_str()), c.endsWith);
    EXPECT_EQ(EndsWithNoCase(wideText.c_str(), wideAffix.c_str()), c.endsWithNoCase);
  }
  EXPECT_TRUE(EqualsNoCase("Key", "kEY"));
  EXPECT_FALSE(EqualsNoCase("Key", "Keys"));
  EXPECT_TRUE(EqualsNoCase(L"Key", L"KEY"));
  EXPECT_TRUE(EqualsNoCase(static_cast<const char*>(nullptr), ""));
  EXPECT_TRUE(CharEqualsNoCase('Q', 'q'));
  EXPECT_FALSE(CharEqualsNoCase('\xC9', '\xE9'));  // only ASCII letters fold
}

TEST(StringUtilitiesTest, StandardStringCuts) {
  const std::string abc = "abc";
  EXPECT_EQ(SubStringFrom(abc, 1), "bc");
  EXPECT_EQ(SubStringFrom(abc, 3), "");
  EXPECT_THROW(SubStringFrom(abc, 4), std::out_of_range);
  EXPECT_EQ(Left(abc, 2), "ab");
  EXPECT_EQ(Left(abc, 9), "abc");
  EXPECT_EQ(Right(abc, 2), "bc");
  EXPECT_EQ(Right(abc, 3), "abc");
  EXPECT_THROW(Right(abc, 5), std::out_of_range);
  EXPECT_EQ(DropLeft(abc, 1), "bc");
  EXPECT_THROW(DropLeft(abc, 5), std::out_of_range);
  EXPECT_EQ(DropRight(abc, 1), "ab");
  EXPECT_EQ(DropRight(abc, 5), "abc");
  EXPECT_EQ(RemoveTrailingBackslash(std::string("a\\\\")), "a\\");
  EXPECT_EQ(RemoveTrailingBackslash(std::string("a/")), "a/");
  EXPECT_EQ(RemoveTrailingBackslash(std::string()), "");

  const TNarrow noSlash("dir");
  EXPECT_EQ(RemoveTrailingBackslash(noSlash).GetContent(), noSlash.GetContent());
  EXPECT_EQ(RemoveTrailingBackslash(TNarrow("dir\\")), "dir");
  EXPECT_TRUE(RemoveTrailingBackslash(TNarrow("\\")).IsEmpty());
}

TEST(StringUtilitiesTest, TrimSpacesAndTabs) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {"\t a b \t", "a b"}, {"   ", ""}, {"", ""}, {"\t", ""}, {"x ", "x"}, {" \nx", "\nx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TNarrow trimmed = TrimSpacesAndTabs(TNarrow(c.text));
    EXPECT_EQ(trimmed, c.expected);
    EXPECT_EQ(trimmed.IsEmpty(), *c.expected == '\0');
  }
  const TNarrow abc("abc");
  EXPECT_EQ(TrimSpacesAndTabs(abc).GetContent(), abc.GetContent());
}

TEST(StringUtilitiesTest, DestroyStringPairReleasesBothStrings) {
  const TNarrow first("first");
  const TNarrow second("second");
  alignas(std::pair<TNarrow, TNarrow>) unsigned char storage[sizeof(std::pair<TNarrow, TNarrow>)];
  auto* pair = ::new (static_cast<void*>(storage)) std::pair<TNarrow, TNarrow>(first, second);
  EXPECT_EQ(first.GetRefCount(), 2);
  EXPECT_EQ(second.GetRefCount(), 2);
  DestroyStringPair(pair);
  EXPECT_EQ(first.GetRefCount(), 1);
  EXPECT_EQ(second.GetRefCount(), 1);
}

TEST(StringUtilitiesTest, SplitAtFirst) {
  struct Case {
    const char* text;
    const char* separator;
    const char* before;
    const char* after;
  };
  const std::vector<Case> cases = {
      {"name=value=x", "=", "name", "value=x"},
      {"name", "=", "name", ""},
      {"a::b", "::", "a", "b"},
      {"=x", "=", "", "x"},
      {"x=", "=", "x", ""},
      {"", "=", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TNarrow before("junk");
    TNarrow after("junk");
    SplitAtFirst(TNarrow(c.text), c.separator, &before, &after);
    EXPECT_EQ(before, c.before);
    EXPECT_EQ(after, c.after);
    before = "junk";
    after = "junk";
    SplitAtFirst(TNarrow(c.text), TNarrow(c.separator), &before, &after);
    EXPECT_EQ(before, c.before);
    EXPECT_EQ(after, c.after);
    std::string stdBefore = "junk";
    std::string stdAfter = "junk";
    SplitAtFirst(std::string(c.text), std::string(c.separator), &stdBefore, &stdAfter);
    EXPECT_EQ(stdBefore, c.before);
    EXPECT_EQ(stdAfter, c.after);
  }
  const TNarrow whole("no separator");
  TNarrow before;
  SplitAtFirst(whole, "=", &before, nullptr);
  EXPECT_EQ(before.GetContent(), whole.GetContent());
  // The outputs may be the text itself.
  TNarrow text("key=value");
  SplitAtFirst(text, "=", &text, nullptr);
  EXPECT_EQ(text, "key");
  TNarrow tail("key=value");
  SplitAtFirst(tail, "=", nullptr, &tail);
  EXPECT_EQ(tail, "value");
}

TEST(StringUtilitiesTest, Tokenize) {
  struct Case {
    const char* text;
    const char* delimiters;
    std::vector<std::string> tokens;
  };
  const std::vector<Case> cases = {
      {"  kick  42 ", " ", {"kick", "42"}},
      {"", " ", {}},
      {"   ", " ", {}},
      {"a,b;;c", ",;", {"a", "b", "c"}},
      {"a b", "", {"a b"}},
      {"say hello, world", " ", {"say", "hello,", "world"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TVector<TNarrow> engine = Tokenize(TNarrow(c.text), c.delimiters);
    const TVector<std::string> standard = Tokenize(std::string(c.text), c.delimiters);
    ASSERT_EQ(engine.GetSize(), c.tokens.size());
    ASSERT_EQ(standard.GetSize(), c.tokens.size());
    for (std::uint32_t i = 0; i < engine.GetSize(); ++i) {
      EXPECT_EQ(engine[i], c.tokens[i].c_str());
      EXPECT_EQ(standard[i], c.tokens[i]);
    }
  }
}

TEST(StringUtilitiesTest, IdentifiersAndDecimals) {
  // Both entries: the one for constant texts and the one for writable buffers.
  const struct {
    const wchar_t* text;
    bool valid;
  } identifiers[] = {{L"Key_1", true}, {L"_", true}, {L"9lives", true}, {L"Key 1", false},
                     {L"Key-1", false}, {L"Key.", false}, {L"", false}};
  for (const auto& c : identifiers) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.text)));
    EXPECT_EQ(IsValidIdentifier(c.text), c.valid);
    std::wstring writable(c.text);
    EXPECT_EQ(IsValidIdentifier(writable.data()), c.valid);
  }
  EXPECT_FALSE(IsValidIdentifier(static_cast<const wchar_t*>(nullptr)));
  EXPECT_FALSE(IsValidIdentifier(static_cast<wchar_t*>(nullptr)));

  struct Case {
    const char* text;
    std::uint32_t length;
    std::int32_t value;
  };
  const std::vector<Case> cases = {
      {"-12", 3, -12}, {"12", 1, 1}, {"1a", 2, 59}, {"-", 1, 0}, {"7", 0, 0}, {"4294967295", 10, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseDecimal(c.text, c.length), c.value);
  }
  EXPECT_EQ(ParseDecimal(nullptr, 4), 0);
}

// The forwarders answer what the platform's functions answer, for the same arguments.
TEST(StringUtilitiesTest, PlatformTextForwarders) {
  const struct {
    const char* a;
    const char* b;
    std::size_t count;
  } cases[] = {{"abc", "abc", 3}, {"abc", "abd", 3}, {"abd", "abc", 3}, {"abc", "abd", 2}, {"ABC", "abd", 3},
               {"abc", "ab", 5},  {"", "a", 1},      {"a", "", 1},      {"Key", "kEY", 0}, {"Key", "kEZ", 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b + " / " + std::to_string(c.count));
    const std::wstring a(c.a, c.a + std::strlen(c.a));
    const std::wstring b(c.b, c.b + std::strlen(c.b));
    EXPECT_EQ(Orvan::strlen(c.a), ::strlen(c.a));
    EXPECT_EQ(Orvan::wcslen(a.c_str()), a.size());
    EXPECT_EQ(Orvan::strncmp(c.a, c.b, c.count), ::strncmp(c.a, c.b, c.count));
    EXPECT_EQ(Orvan::wcsncmp(a.c_str(), b.c_str(), c.count), ::wcsncmp(a.c_str(), b.c_str(), c.count));
    EXPECT_EQ(Orvan::strncasecmp(c.a, c.b, c.count), ::strncasecmp(c.a, c.b, c.count));
    EXPECT_EQ(Orvan::wcsncasecmp(a.c_str(), b.c_str(), c.count), ::wcsncasecmp(a.c_str(), b.c_str(), c.count));
  }
  EXPECT_EQ(Orvan::strncasecmp("ABC", "abd", 2), 0);
  EXPECT_LT(Orvan::strncmp("ABC", "abc", 3), 0);

  char destination[8] = "-------";
  EXPECT_EQ(Orvan::memcpy(destination + 1, "abcd", 3), destination + 1);
  EXPECT_STREQ(destination, "-abc---");
  EXPECT_EQ(Orvan::memcpy(destination, "xyz", 0), destination);
  EXPECT_STREQ(destination, "-abc---");
}

TEST(StringUtilitiesTest, ToStringTwoDecimals) {
  EXPECT_EQ(ToStringTwoDecimals(1.005f), "1.00");
  EXPECT_EQ(ToStringTwoDecimals(-2.5f), "-2.50");
  EXPECT_EQ(ToStringTwoDecimals(3.4e38f).GetLength(), 42u);
}

template <typename CharT>
int Print(CharT* buffer, CharT** end, std::uint32_t capacity, const CharT* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  // Two attempts on one argument list: each takes its own copy.
  int result = VPrintToBuffer(buffer, end, 1, format, arguments);
  if (result == kPrintBufferTooSmall) result = VPrintToBuffer(buffer, end, capacity, format, arguments);
  va_end(arguments);
  return result;
}

TEST(StringUtilitiesTest, VPrintToBufferReportsRoomAndFailure) {
  char buffer[8];
  char* end = nullptr;
  EXPECT_EQ(Print(buffer, &end, 4, "%s", "abcd"), kPrintBufferTooSmall);
  EXPECT_EQ(Print(buffer, &end, 4, "%s%d", "ab", 7), kPrintDone);
  EXPECT_EQ(end, buffer + 3);
  EXPECT_STREQ(buffer, "ab7");

  wchar_t wide[8];
  wchar_t* wideEnd = nullptr;
  EXPECT_EQ(Print(wide, &wideEnd, 4, L"%ls", L"abcd"), kPrintBufferTooSmall);
  EXPECT_EQ(Print(wide, &wideEnd, 4, L"%ls%d", L"ab", 7), kPrintDone);
  EXPECT_EQ(wideEnd, wide + 3);
  EXPECT_EQ(std::wstring(wide), L"ab7");
  // A narrow argument that is no multibyte text in the C locale fails whatever the room.
  EXPECT_EQ(Print(wide, &wideEnd, 8, L"%s", "\xC3\xA9"), kPrintFailed);
}

TEST(StringUtilitiesTest, StreamingCopyAtEveryAlignment) {
  alignas(16) unsigned char source[300];
  for (int i = 0; i < 300; ++i) source[i] = static_cast<unsigned char>(i * 7 + 1);
  alignas(16) unsigned char destination[320];
  for (std::uint32_t destinationOffset : {0u, 3u, 16u}) {
    for (std::uint32_t sourceOffset : {0u, 16u, 1u}) {
      for (std::uint32_t size : {0u, 4u, 60u, 64u, 132u, 257u, 280u}) {
        std::memset(destination, 0xEE, sizeof(destination));
        StreamingCopy(destination + destinationOffset, source + sourceOffset, size);
        ASSERT_EQ(std::memcmp(destination + destinationOffset, source + sourceOffset, size), 0)
            << destinationOffset << " " << sourceOffset << " " << size;
        EXPECT_EQ(destination[destinationOffset + size], 0xEE);
      }
    }
  }
}

}  // namespace
}  // namespace Orvan
