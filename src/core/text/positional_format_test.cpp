#include "core/text/positional_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <iomanip>
#include <memory>
#include <string>
#include <vector>

#include "core/diagnostics/engine_exception.h"
#include "core/text/text_encoding.h"
#include "support/dialog_recorder.h"

namespace Orvan {
namespace {

enum class EVariant { kNarrowString, kWideString, kNarrowBuffer, kWideBuffer };

const char* VariantName(EVariant variant) {
  switch (variant) {
    case EVariant::kNarrowString:
      return "NarrowString";
    case EVariant::kWideString:
      return "WideString";
    case EVariant::kNarrowBuffer:
      return "NarrowBuffer";
    case EVariant::kWideBuffer:
      return "WideBuffer";
  }
  return "?";
}

bool IsBuffer(EVariant variant) { return variant == EVariant::kNarrowBuffer || variant == EVariant::kWideBuffer; }

// Text arguments as adapters that live as long as the holder.
class TArguments {
 public:
  explicit TArguments(const std::vector<std::string>& texts) : texts_(texts) {
    for (const std::string& text : texts_) {
      adapters_.push_back(std::make_unique<TStringStreamableImpl<const char*>>(text.c_str()));
    }
    for (const auto& adapter : adapters_) pointers_.push_back(adapter.get());
  }
  const TStringStreamable* const* Get() const { return pointers_.data(); }
  std::uint32_t Count() const { return static_cast<std::uint32_t>(pointers_.size()); }

 private:
  std::vector<std::string> texts_;
  std::vector<std::unique_ptr<TStringStreamable>> adapters_;
  std::vector<const TStringStreamable*> pointers_;
};

// Sentinel units after the capacity show that nothing is written past it.
constexpr std::uint32_t kSentinelUnits = 8;

struct TBufferResult {
  std::string text;  // UTF-8 of what the buffer holds up to its terminator
  std::uint32_t result;
  bool sentinelIntact;
};

TBufferResult FormatNarrowBuffer(std::uint32_t capacity, const std::string& format, const TArguments& arguments) {
  std::vector<char> buffer(capacity + kSentinelUnits, '#');
  const std::uint32_t result = Format(buffer.data(), capacity, format.c_str(), arguments.Get(), arguments.Count());
  bool intact = true;
  for (std::uint32_t i = capacity; i < buffer.size(); ++i) intact = intact && buffer[i] == '#';
  return {capacity == 0 ? std::string() : std::string(buffer.data()), result, intact};
}

TBufferResult FormatWideBuffer(std::uint32_t capacity, const std::string& format, const TArguments& arguments) {
  std::vector<wchar_t> buffer(capacity + kSentinelUnits, L'#');
  const std::wstring wideFormat = Utf8ToWide(format);
  const std::uint32_t result = Format(buffer.data(), capacity, wideFormat.c_str(), arguments.Get(), arguments.Count());
  bool intact = true;
  for (std::uint32_t i = capacity; i < buffer.size(); ++i) intact = intact && buffer[i] == L'#';
  return {capacity == 0 ? std::string() : WideToUtf8(buffer.data()), result, intact};
}

// The output of a variant as UTF-8 (buffers are large enough for every grammar case).
std::string FormatWith(EVariant variant, const std::string& format, const TArguments& arguments) {
  switch (variant) {
    case EVariant::kNarrowString:
      return Format(format.c_str(), arguments.Get(), arguments.Count()).c_str();
    case EVariant::kWideString:
      return WideToUtf8(Format(Utf8ToWide(format).c_str(), arguments.Get(), arguments.Count()).c_str());
    case EVariant::kNarrowBuffer: {
      const TBufferResult result = FormatNarrowBuffer(256, format, arguments);
      EXPECT_EQ(result.result, result.text.size());
      return result.text;
    }
    case EVariant::kWideBuffer: {
      const TBufferResult result = FormatWideBuffer(256, format, arguments);
      EXPECT_EQ(result.result, Utf8ToWide(result.text).size());
      return result.text;
    }
  }
  return {};
}

enum class EFormatWarning { kBadPlaceholder, kMissingArgument };

struct TExpectedWarning {
  EFormatWarning kind;
  std::string text;      // the dialog's text
  std::string wideText;  // when the wide variants show another text ("" = the same)
};

struct TGrammarCase {
  const char* name;
  std::string format;
  std::vector<std::string> arguments;
  std::string expected;
  std::vector<TExpectedWarning> warnings;
};

std::string BadPlaceholderText(const std::string& unit, const std::string& rest) {
  return "%" + unit + " ne peut pas \xC3\xAAtre pars\xC3\xA9 par la fonction Format de la chaine \"" + rest + "\"";
}

std::string MissingArgumentText(const std::string& rest) {
  return "Pas assez de param\xC3\xA8tre lors de l'appel \xC3\xA0 Format\nchaine : " + rest;
}

std::uint32_t WarningSite(EFormatWarning kind, EVariant variant) {
  if (kind == EFormatWarning::kBadPlaceholder) {
    return IsBuffer(variant) ? kBadPlaceholderBufferDialogId : kBadPlaceholderStringDialogId;
  }
  return IsBuffer(variant) ? kMissingArgumentBufferDialogId : kMissingArgumentStringDialogId;
}

const std::vector<TGrammarCase>& GrammarCases() {
  static const std::vector<TGrammarCase> cases = {
      {"argument between literals", "a%1b", {"x"}, "axb", {}},
      {"repeated placeholder", "%1%1", {"x"}, "xx", {}},
      {"no placeholder", "plain text, no placeholder", {"x"}, "plain text, no placeholder", {}},
      {"unused arguments", "%2", {"x", "y", "z"}, "y", {}},
      {"ninth argument", "<%9>", {"1", "2", "3", "4", "5", "6", "7", "8", "nine"}, "<nine>", {}},
      {"percent", "%%", {}, "%", {}},
      {"escaped placeholder", "%%1", {"x"}, "%1", {}},
      {"trailing percent dropped", "100%", {}, "100", {}},
      {"one digit only", "%10", {"x"}, "x0", {}},
      {"empty format", "", {"x"}, "", {}},
      {"UTF-8 literals pass through", "\xC3\xA9t\xC3\xA9 %1", {"\xE2\x82\xAC"}, "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC", {}},
      // The dialog formats narrow text, where a wide unit shows as its decimal code.
      {"bad placeholder",
       "%abc",
       {},
       "%abc",
       {{EFormatWarning::kBadPlaceholder, BadPlaceholderText("a", "bc"), BadPlaceholderText("97", "bc")}}},
      {"missing argument", "a%2b", {"x"}, "ab", {{EFormatWarning::kMissingArgument, MissingArgumentText("b"), ""}}},
      {"no arguments at all", "%1", {}, "", {{EFormatWarning::kMissingArgument, MissingArgumentText(""), ""}}},
      // Narrow text sees a lead byte after '%'; wide text sees U+00E9, shown as its decimal code.
      {"non-ASCII after percent",
       "x%\xC3\xA9y",
       {},
       "x%\xC3\xA9y",
       {{EFormatWarning::kBadPlaceholder, BadPlaceholderText("\xC3", "\xA9y"), BadPlaceholderText("233", "y")}}},
  };
  return cases;
}

class PositionalFormat : public ::testing::TestWithParam<EVariant> {
 protected:
  OrvTest::TDialogRecorder dialogs_;
};

TEST_P(PositionalFormat, GrammarCases) {
  const EVariant variant = GetParam();
  for (const TGrammarCase& c : GrammarCases()) {
    SCOPED_TRACE(c.name);
    dialogs_.Clear();
    ResetSuppressedDialogsForTests();
    const TArguments arguments(c.arguments);
    EXPECT_EQ(FormatWith(variant, c.format, arguments), c.expected);
    ASSERT_EQ(dialogs_.Dialogs().size(), c.warnings.size());
    for (std::size_t i = 0; i < c.warnings.size(); ++i) {
      const OrvTest::TRecordedDialog& dialog = dialogs_.Dialogs()[i];
      const TExpectedWarning& warning = c.warnings[i];
      const bool wide = variant == EVariant::kWideString || variant == EVariant::kWideBuffer;
      EXPECT_EQ(dialog.text, wide && !warning.wideText.empty() ? warning.wideText : warning.text);
      EXPECT_TRUE(OrvTest::IsQuitGameWarning(dialog, WarningSite(warning.kind, variant)));
      EXPECT_FALSE(dialog.callStack.empty());
    }
  }
}

// The headless back end answers yes, which suppresses the site: its later warnings show nothing,
// while formatting itself goes on the same.
TEST_P(PositionalFormat, SuppressedWarningSiteShowsNothing) {
  const TArguments none({});
  EXPECT_EQ(FormatWith(GetParam(), "%q", none), "%q");
  EXPECT_EQ(dialogs_.Dialogs().size(), 1u);
  EXPECT_TRUE(IsDialogSuppressed(0, WarningSite(EFormatWarning::kBadPlaceholder, GetParam())));
  EXPECT_EQ(FormatWith(GetParam(), "%q%r", none), "%q%r");
  EXPECT_EQ(FormatWith(GetParam(), "%2", none), "");  // another site still warns
  ASSERT_EQ(dialogs_.Dialogs().size(), 2u);
  EXPECT_EQ(dialogs_.Dialogs()[1].idHigh, WarningSite(EFormatWarning::kMissingArgument, GetParam()));
}

TEST_P(PositionalFormat, PlaceholderZeroThrows) {
  const TArguments one({"x"});
  for (const char* format : {"%0", "abc%0", "%1%0%1"}) {
    SCOPED_TRACE(format);
    try {
      FormatWith(GetParam(), format, one);
      ADD_FAILURE() << "no exception";
    } catch (const EException& failure) {
      EXPECT_STREQ(failure.what(), "Les formats de cha\xC3\xAEnes vont de 1 \xC3\xA0 9.");
    }
  }
  EXPECT_TRUE(dialogs_.Dialogs().empty());
}

INSTANTIATE_TEST_SUITE_P(Variants, PositionalFormat,
                         ::testing::Values(EVariant::kNarrowString, EVariant::kWideString, EVariant::kNarrowBuffer,
                                           EVariant::kWideBuffer),
                         [](const ::testing::TestParamInfo<EVariant>& info) { return VariantName(info.param); });

struct TCutCase {
  const char* name;
  std::uint32_t capacity;
  std::string format;
  std::vector<std::string> arguments;
  std::string expected;
  std::uint32_t result;
};

const std::vector<TCutCase>& CutCases() {
  static const std::vector<TCutCase> cases = {
      {"cut literal", 4, "abcdef", {}, "abc", 4},
      {"exact fit", 4, "abc", {}, "abc", 3},
      {"capacity 0", 0, "x", {}, "", 0},
      {"capacity 1", 1, "x", {}, "", 1},
      {"empty format", 1, "", {}, "", 0},
      {"argument cut", 6, "ab%1", {"wxyz"}, "abwxy", 6},
      {"argument fits", 7, "ab%1", {"wxyz"}, "abwxyz", 6},
      {"cut before the placeholder", 3, "ab%1", {"x"}, "ab", 3},
      {"cut after an argument", 5, "%1zz", {"abc"}, "abcz", 5},
      {"long argument", 5, "%1z", {"abcdefgh"}, "abcd", 5},
      {"bad placeholder without room for its unit", 3, "a%x", {}, "a%", 2},
      {"bad placeholder with room", 4, "a%x", {}, "a%x", 3},
      {"missing argument writes nothing", 3, "%2ab", {"x"}, "ab", 2},
  };
  return cases;
}

// Runs every cut case through one of the buffer variants.
void ExpectCutCases(TBufferResult (*formatBuffer)(std::uint32_t, const std::string&, const TArguments&)) {
  OrvTest::TDialogRecorder dialogs;
  for (const TCutCase& c : CutCases()) {
    SCOPED_TRACE(c.name);
    const TBufferResult got = formatBuffer(c.capacity, c.format, TArguments(c.arguments));
    EXPECT_EQ(got.text, c.expected);
    EXPECT_EQ(got.result, c.result);
    EXPECT_TRUE(got.sentinelIntact);
  }
}

TEST(PositionalFormatBuffers, CutCasesNarrow) { ExpectCutCases(&FormatNarrowBuffer); }

TEST(PositionalFormatBuffers, CutCasesWide) { ExpectCutCases(&FormatWideBuffer); }

TEST(PositionalFormatBuffers, CapacityZeroWritesNothing) {
  char narrow = '#';
  const TArguments none({});
  EXPECT_EQ(Format(&narrow, 0, "abc", none.Get(), 0), 0u);
  EXPECT_EQ(narrow, '#');
  wchar_t wide = L'#';
  EXPECT_EQ(Format(&wide, 0, L"abc", none.Get(), 0), 0u);
  EXPECT_EQ(wide, L'#');
}

TEST(PositionalFormatStrings, EmptyResultIsTheNullHandle) {
  const TArguments empty({""});
  EXPECT_TRUE(Format("", empty.Get(), 1).IsEmpty());
  EXPECT_TRUE(Format("%1", empty.Get(), 1).IsEmpty());
  EXPECT_TRUE(Format(L"%1", empty.Get(), 1).IsEmpty());
  EXPECT_EQ(Format("%1", empty.Get(), 1).GetContent(), nullptr);
}

TEST(PositionalFormatStrings, ManipulatorIsAppliedBeforeTheFirstUnit) {
  const TStringStreamableImpl<const int> number(255);
  const TStringStreamable* arguments[] = {&number};
  EXPECT_STREQ(Format("%1-%1", arguments, 1, std::hex).c_str(), "ff-ff");
  EXPECT_STREQ(Format(L"%1", arguments, 1, std::hex).c_str(), L"ff");
  EXPECT_STREQ(Format("%1", arguments, 1).c_str(), "255");
}

TEST(PositionalFormatStrings, FormatValuesBuildsTheAdapters) {
  const TOrvString<char> name("pat");
  const char* const where = "here";
  EXPECT_STREQ(FormatValues("player_%1", 42u).c_str(), "player_42");
  EXPECT_STREQ(FormatValues("%1: %2 %3 %4", name, -7, where, "lit").c_str(), "pat: -7 here lit");
  EXPECT_STREQ(FormatValues(L"%2%1", L'x', 1.5).c_str(), L"1.5x");
}

}  // namespace
}  // namespace Orvan
