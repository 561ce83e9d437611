#include "core/text/string_streamable.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace Orvan {
namespace {

// The four texts an adapter gives, through generous buffers.
struct TRendered {
  std::string narrowStream;
  std::wstring wideStream;
  std::string narrowPrint;
  std::wstring widePrint;
};

TRendered Render(const TStringStreamable& value) {
  TRendered out;
  std::ostringstream narrow;
  value.StreamTo(narrow);
  out.narrowStream = narrow.str();
  std::wostringstream wide;
  value.StreamTo(wide);
  out.wideStream = wide.str();
  char narrowBuffer[256];
  EXPECT_GE(value.PrintTo(narrowBuffer, sizeof(narrowBuffer)), 0);
  out.narrowPrint = narrowBuffer;
  wchar_t wideBuffer[256];
  EXPECT_GE(value.PrintTo(wideBuffer, 256), 0);
  out.widePrint = wideBuffer;
  return out;
}

struct TAdapterCase {
  const char* name;
  std::function<TRendered()> render;
  TRendered expected;
};

const char* const kUtf8EAcute = "\xC3\xA9";
const char* const kStrayContinuation = "a\x80z";
const wchar_t* const kWideWithLoneSurrogate = L"ab\xD800z";

TEST(StringStreamable, EachInstanceWritesItsTextThroughAllFourOperations) {
  const std::vector<TAdapterCase> cases = {
      {"int -5", [] { return Render(TStringStreamableImpl<int>(-5)); }, {"-5", L"-5", "-5", L"-5"}},
      {"const int keeps its sign", [] { return Render(MakeStringStreamable(-2147483647 - 1)); },
       {"-2147483648", L"-2147483648", "-2147483648", L"-2147483648"}},
      {"unsigned int max", [] { return Render(TStringStreamableImpl<unsigned int>(4294967295u)); },
       {"4294967295", L"4294967295", "4294967295", L"4294967295"}},
      {"unsigned long long max", [] { return Render(MakeStringStreamable(18446744073709551615ull)); },
       {"18446744073709551615", L"18446744073709551615", "18446744073709551615", L"18446744073709551615"}},
      {"double 0.1", [] { return Render(MakeStringStreamable(0.1)); }, {"0.1", L"0.1", "0.100000", L"0.100000"}},
      {"double 1e300 is inf in single precision", [] { return Render(MakeStringStreamable(1e300)); },
       {"1e+300", L"1e+300", "inf", L"inf"}},
      {"char const* literal", [] { return Render(MakeStringStreamable("abc")); }, {"abc", L"abc", "abc", L"abc"}},
      {"char const[1]", [] { return Render(MakeStringStreamable("")); }, {"", L"", "", L""}},
      {"char const* with U+00E9", [] { return Render(TStringStreamableImpl<const char*>(kUtf8EAcute)); },
       {"\xC3\xA9", L"\u00E9", "\xC3\xA9", L"\u00E9"}},
      {"char const* malformed is dropped whole in wide output",
       [] { return Render(TStringStreamableImpl<const char*>(kStrayContinuation)); },
       {"a\x80z", L"", "a\x80z", L""}},
      {"char const* const with U+00E9", [] { return Render(MakeStringStreamable(kUtf8EAcute)); },
       {"\xC3\xA9", L"\u00E9", "\xC3\xA9", L"\u00E9"}},
      {"char const* const is cut at a stray continuation byte",
       [] { return Render(MakeStringStreamable(kStrayContinuation)); }, {"a\x80z", L"a", "a\x80z", L"a"}},
      {"const engine string", [] { return Render(MakeStringStreamable(TOrvString<char>("h\xC3\xA9"))); },
       {"h\xC3\xA9", L"h\u00E9", "h\xC3\xA9", L"h\u00E9"}},
      {"const engine string cut at malformed text",
       [] { return Render(MakeStringStreamable(TOrvString<char>(kStrayContinuation))); },
       {"a\x80z", L"a", "a\x80z", L"a"}},
      {"engine string prints directly; malformed wide output is empty",
       [] {
         const TOrvString<char> text(kStrayContinuation);
         return Render(TStringStreamableImpl<TOrvString<char>>(text));
       },
       {"a\x80z", L"", "a\x80z", L""}},
      {"engine string prints UTF-8 directly into wide buffers",
       [] {
         const TOrvString<char> text("\xE2\x82\xAC 5");
         return Render(TStringStreamableImpl<TOrvString<char>>(text));
       },
       {"\xE2\x82\xAC 5", L"\u20AC 5", "\xE2\x82\xAC 5", L"\u20AC 5"}},
      {"null engine string", [] { return Render(MakeStringStreamable(TOrvString<char>())); }, {"", L"", "", L""}},
      {"wide engine string with a character above U+FFFF",
       [] { return Render(MakeStringStreamable(TOrvString<wchar_t>(L"x\xD83D\xDE00"))); },
       {"x\xF0\x9F\x98\x80", L"x\xD83D\xDE00", "x\xF0\x9F\x98\x80", L"x\xD83D\xDE00"}},
      {"wide text is cut at a lone surrogate in narrow output",
       [] { return Render(MakeStringStreamable(kWideWithLoneSurrogate)); },
       {"ab", L"ab\xD800z", "ab", L"ab\xD800z"}},
      {"char", [] { return Render(MakeStringStreamable('q')); }, {"q", L"q", "q", L"q"}},
      {"wchar_t is its decimal code in narrow output", [] { return Render(MakeStringStreamable(L'x')); },
       {"120", L"x", "120", L"x"}},
  };
  for (const TAdapterCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TRendered got = c.render();
    EXPECT_EQ(got.narrowStream, c.expected.narrowStream);
    EXPECT_EQ(got.wideStream, c.expected.wideStream);
    EXPECT_EQ(got.narrowPrint, c.expected.narrowPrint);
    EXPECT_EQ(got.widePrint, c.expected.widePrint);
  }
}

TEST(StringStreamable, NulCharacterStreamsOneNulButPrintsEmpty) {
  const char nul = '\0';
  const auto adapter = MakeStringStreamable(nul);
  std::ostringstream narrow;
  adapter.StreamTo(narrow);
  EXPECT_EQ(narrow.str(), std::string(1, '\0'));
  char buffer[8] = "zzzzzzz";
  EXPECT_EQ(adapter.PrintTo(buffer, 8), 0);
  EXPECT_STREQ(buffer, "");
  wchar_t wide[8] = L"zzzzzzz";
  EXPECT_EQ(adapter.PrintTo(wide, 8), 0);
  EXPECT_STREQ(wide, L"");
}

TEST(StringStreamable, EngineStdStringKeepsEmbeddedNulsOnlyInNarrowStreams) {
  const TEngineStdString<char> text("ab\0cd", 5);
  const auto adapter = MakeStringStreamable(text);
  std::ostringstream narrow;
  adapter.StreamTo(narrow);
  EXPECT_EQ(narrow.str(), std::string("ab\0cd", 5));
  std::wostringstream wide;
  adapter.StreamTo(wide);
  EXPECT_EQ(wide.str(), L"ab");
}

TEST(StringStreamable, NullTextSetsBadbitInItsOwnWidth) {
  const char* const nullText = nullptr;
  std::ostringstream narrow;
  TStringStreamableImpl<const char*>(nullptr).StreamTo(narrow);
  EXPECT_TRUE(narrow.bad());
  std::ostringstream narrow2;
  MakeStringStreamable(nullText).StreamTo(narrow2);
  EXPECT_TRUE(narrow2.bad());
  const wchar_t* const nullWide = nullptr;
  std::wostringstream wide;
  MakeStringStreamable(nullWide).StreamTo(wide);
  EXPECT_TRUE(wide.bad());
  EXPECT_EQ(wide.str(), L"");
}

// Narrow prints report the length they needed; wide prints report failure, both stay terminated.
TEST(StringStreamable, CutPrintsFollowTheirWidthsConvention) {
  const struct {
    const char* name;
    std::function<std::unique_ptr<TStringStreamable>()> make;
    int narrowResult;
  } cases[] = {
      {"direct text", [] { return std::make_unique<TStringStreamableImpl<const char*>>("abcdef"); }, 6},
      {"text through a stream",
       [] {
         static const TOrvString<char> text("abcdef");
         return std::make_unique<TStringStreamableImpl<const TOrvString<char>>>(text);
       },
       6},
      {"number", [] { return std::make_unique<TStringStreamableImpl<const long long>>(-12345); }, 6},
      {"UTF-8 decoded for a wide buffer",
       [] { return std::make_unique<TStringStreamableImpl<const char*>>("\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"); }, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto adapter = c.make();
    char narrow[8];
    std::memset(narrow, 'Z', sizeof(narrow));
    EXPECT_EQ(adapter->PrintTo(narrow, 4), c.narrowResult);
    EXPECT_EQ(narrow[3], '\0');
    EXPECT_EQ(narrow[4], 'Z');
    wchar_t wide[8];
    std::wmemset(wide, L'Z', 8);
    EXPECT_LT(adapter->PrintTo(wide, 4), 0);
    EXPECT_EQ(wide[3], L'\0');
    EXPECT_EQ(wide[4], L'Z');
    EXPECT_EQ(adapter->PrintTo(narrow, 0), c.narrowResult);
  }
}

TEST(StringStreamable, HexFloatStreamWordSelectsHexadecimalText) {
  ASSERT_GE(GetHexFloatStreamFlagIndex(), 0);
  const auto adapter = MakeStringStreamable(1.5);
  std::ostringstream narrow;
  narrow.iword(GetHexFloatStreamFlagIndex()) = 1;
  adapter.StreamTo(narrow);
  EXPECT_EQ(narrow.str(), "0x1.800000p+0");
  std::wostringstream wide;
  wide.iword(GetHexFloatStreamFlagIndex()) = 1;
  adapter.StreamTo(wide);
  EXPECT_EQ(wide.str(), L"0x1.800000p+0");
}

TEST(StringStreamable, EngineOutputStringStreamKeepsItsTextOnTheStringHeap) {
  const std::uint32_t before = GetStringHeap()->GetLiveCount();
  {
    basic_ostringstream<char> stream;
    stream << std::string(100, 'x');
    EXPECT_GT(GetStringHeap()->GetLiveCount(), before);
  }
  EXPECT_EQ(GetStringHeap()->GetLiveCount(), before);
}

}  // namespace
}  // namespace Orvan
