#include "core/text/localisation_token.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "support/dialog_recorder.h"

namespace Orvan {
namespace {

TEST(LocalisationTokenTest, TextsOfTokens) {
  struct Case {
    std::uint64_t value;
    const char* text;
    std::uint32_t length;
  };
  const Case cases[] = {
      {0, "INVALID!", 0},
      {std::uint64_t{1} << 60, "RESERVED!", 0},
      {~std::uint64_t{0}, "RESERVED!", 0},
      {1, "0", 1},
      {11, "A", 1},
      {716, "AB", 2},
      {64, "0-", 2},  // a digit of value 0 inside the text
      {313203828, "Hello", 5},
      {(std::uint64_t{1} << 60) - 1, "zzzzzzzzzz", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TLocalisationToken token = TLocalisationToken::FromValue(c.value);
    // The documented capacity exactly, so that a longer write is seen by the sanitizer.
    std::array<char, TLocalisationToken::kTextCapacity> buffer;
    EXPECT_EQ(token.ToText(buffer.data()), c.length);
    EXPECT_STREQ(buffer.data(), c.text);
    EXPECT_EQ(token.ToString(), c.text);
    std::ostringstream stream;
    stream << token;
    EXPECT_EQ(stream.str(), std::string("\"") + c.text + "\"");
  }
  EXPECT_EQ(TLocalisationToken().GetValue(), 0u);
  EXPECT_EQ(TLocalisationToken::FromValue(716), TLocalisationToken::FromValue(716));
}

// ---- Tokens built from texts, with their warnings.

enum class EWarning { kNone, kTooLong, kInvalidCharacter };

constexpr std::int32_t kWholeText = -1;  // the one-argument form

TLocalisationToken Build(const char* text, std::int32_t length) {
  return length == kWholeText ? TLocalisationToken(text) : TLocalisationToken(text, length);
}

TEST(LocalisationTokenTest, TokensOfTextsAndTheirWarnings) {
  struct Case {
    const char* text;
    std::int32_t length;
    std::uint64_t value;
    EWarning warning;
    const char* message;
  };
  const Case cases[] = {
      {"A", kWholeText, 11, EWarning::kNone, ""},
      {"AB", kWholeText, 716, EWarning::kNone, ""},
      {"0", kWholeText, 1, EWarning::kNone, ""},
      {"Hello", kWholeText, 313203828, EWarning::kNone, ""},
      {"_9", kWholeText, 37 * 64 + 10, EWarning::kNone, ""},
      {"zzzzzzzzzz", kWholeText, (std::uint64_t{1} << 60) - 1, EWarning::kNone, ""},
      {"ABCDEFGHIJK", kWholeText, 0, EWarning::kTooLong, "Value is too long for a TLocalisationToken: ABCDEFGHIJK"},
      {"ABCDEFGHIJKL", 10, TLocalisationToken("ABCDEFGHIJ").GetValue(), EWarning::kNone, ""},
      {"ABCDEFGHIJKL", 11, 0, EWarning::kTooLong, "Value is too long for a TLocalisationToken: ABCDEFGHIJK"},
      {"AB", 1, 11, EWarning::kNone, ""},
      {"AB", 5, 716, EWarning::kNone, ""},
      {"AB-C", kWholeText, 0, EWarning::kInvalidCharacter,
       "Caract\xC3\xA8re invalide pour la formation d'un TLocalisationToken: - in AB-C"},
      {"AB-C", 3, 0, EWarning::kInvalidCharacter,
       "Caract\xC3\xA8re invalide pour la formation d'un TLocalisationToken: - in AB-"},
      {"AB-C", 2, 716, EWarning::kNone, ""},
      {" A", kWholeText, 0, EWarning::kInvalidCharacter,
       "Caract\xC3\xA8re invalide pour la formation d'un TLocalisationToken:   in  A"},
      // From the eleventh character on only the length counts.
      {"ABCDEFGHIJ-", kWholeText, 0, EWarning::kTooLong, "Value is too long for a TLocalisationToken: ABCDEFGHIJ-"},
      {"", kWholeText, 0, EWarning::kNone, ""},
      {"", 5, 0, EWarning::kNone, ""},
      {"ABC", 0, 0, EWarning::kNone, ""},
      {"ABC", -3, 0, EWarning::kNone, ""},
      {"-", 0, 0, EWarning::kNone, ""},
      {nullptr, kWholeText, 0, EWarning::kNone, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text != nullptr ? c.text : "(null)") + " length " + std::to_string(c.length));
    OrvTest::TDialogRecorder dialogs;
    EXPECT_EQ(Build(c.text, c.length).GetValue(), c.value);
    if (c.warning == EWarning::kNone) {
      EXPECT_TRUE(dialogs.Dialogs().empty());
      continue;
    }
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    const OrvTest::TRecordedDialog& dialog = dialogs.Dialogs()[0];
    EXPECT_TRUE(OrvTest::IsQuitGameWarning(dialog, c.warning == EWarning::kTooLong ? 54 : 87));
    EXPECT_EQ(dialog.text, c.message);
  }
}

// A counted text need not end in a NUL: neither the token nor its warnings read past `length`.
TEST(LocalisationTokenTest, CountedTextWithoutANulIsNeverReadPastItsLength) {
  struct Case {
    std::string characters;
    const char* message;
  };
  const Case cases[] = {
      {"ABCDEFGHIJKL", "Value is too long for a TLocalisationToken: ABCDEFGHIJKL"},
      {"AB-CDE", "Caract\xC3\xA8re invalide pour la formation d'un TLocalisationToken: - in AB-CDE"},
      {"Hello", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.characters);
    // Exactly the characters, on the heap, so the sanitizer sees a read past them.
    const auto text = std::make_unique<char[]>(c.characters.size());
    std::memcpy(text.get(), c.characters.data(), c.characters.size());
    OrvTest::TDialogRecorder dialogs;
    const TLocalisationToken token(text.get(), static_cast<std::int32_t>(c.characters.size()));
    if (c.message == nullptr) {
      EXPECT_EQ(token.GetValue(), 313203828u);
      EXPECT_TRUE(dialogs.Dialogs().empty());
      continue;
    }
    EXPECT_EQ(token.GetValue(), 0u);
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    EXPECT_EQ(dialogs.Dialogs()[0].text, c.message);
  }
}

// A warning answered yes is not shown again, and the token is 0 all the same.
TEST(LocalisationTokenTest, SuppressedWarningStillGivesZero) {
  OrvTest::TDialogRecorder dialogs;
  EXPECT_EQ(TLocalisationToken("A-").GetValue(), 0u);
  EXPECT_EQ(TLocalisationToken("B.").GetValue(), 0u);
  EXPECT_EQ(TLocalisationToken("ABCDEFGHIJKLM").GetValue(), 0u);
  ASSERT_EQ(dialogs.Dialogs().size(), 2u);
  EXPECT_EQ(dialogs.Dialogs()[0].idHigh, 87u);
  EXPECT_EQ(dialogs.Dialogs()[1].idHigh, 54u);
}

}  // namespace
}  // namespace Orvan
