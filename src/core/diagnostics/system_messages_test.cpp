#include "core/diagnostics/system_messages.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/fake_xmessage.h"

namespace Orvan {
namespace {

TEST(SystemMessages, LookupPrefersUsThenFallbackThenEmpty) {
  const struct {
    std::uint32_t id;
    const char* text;
  } cases[] = {
      {0, "Error"},
      {1, "Fatal Error"},
      {2, "Corrupted installation detected. Please verify the game cache integrity or reinstall."},
      {16, "Unable to access graphic device, your hardware or Direct3D configuration is incompatible with this "
           "game.\n\nReason:\n"},
      {18, "Other processus (store client) has crashed. The game will now exit."},  // fallback only
      {3, ""},                                                                        // in no table
      {19, ""},                                                                       // the closing rows
      {25, ""},
  };
  for (const auto& c : cases) EXPECT_STREQ(GetSystemMessageText(c.id), c.text) << c.id;
  EXPECT_EQ(GetFallbackSystemMessageText(3), nullptr);
  EXPECT_EQ(GetFallbackSystemMessageText(25), nullptr);
  EXPECT_STREQ(GetFallbackSystemMessageText(18), GetSystemMessageText(18));
}

TEST(SystemMessages, TablesHoldTheirRowsInLanguageBlocks) {
  std::uint32_t fallbackRows = 0;
  const TSystemMessage* fallback = GetFallbackSystemMessages(&fallbackRows);
  EXPECT_EQ(fallbackRows, 18u);
  EXPECT_EQ(fallback[fallbackRows].id, kSystemMessageClosingId);
  EXPECT_STREQ(fallback[fallbackRows].text, "");

  std::uint32_t localisedRows = 0;
  const TLocalisedSystemMessage* localised = GetLocalisedSystemMessages(&localisedRows);
  EXPECT_EQ(localisedRows, 199u);
  EXPECT_EQ(localised[localisedRows].id, kSystemMessageClosingId);
  EXPECT_STREQ(localised[localisedRows].language, "");

  std::vector<std::string> order;
  std::map<std::string, std::vector<std::uint32_t>> ids;
  for (std::uint32_t i = 0; i < localisedRows; ++i) {
    if (order.empty() || order.back() != localised[i].language) order.push_back(localised[i].language);
    ids[localised[i].language].push_back(localised[i].id);
  }
  EXPECT_EQ(order, (std::vector<std::string>{"US", "FR", "ITA", "GER", "SPA", "POL", "CZ", "RU", "JPN", "HU", "TC",
                                             "KOR"}));
  const std::vector<std::uint32_t> all = {0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  for (const std::string& language : order) {
    if (language != "KOR") {
      EXPECT_EQ(ids[language], all) << language;
    }
  }
  EXPECT_EQ(ids["KOR"], (std::vector<std::uint32_t>{0, 1, 2, 4, 5, 7, 8, 9, 11, 12, 13, 17}));
  // "US" repeats the fallback texts; the captions are translated.
  for (std::uint32_t i = 0; i < 17; ++i) EXPECT_STREQ(localised[i].text, fallback[i].text) << localised[i].id;
  EXPECT_STREQ(localised[17].text, "Erreur");
  EXPECT_STREQ(localised[18].text, "Erreur Fatale");
}

// The message box's command line, as a fake "xmessage" first on PATH records it.
class FakeXmessage : public ::testing::Test {
 protected:
  void ExitWith(int status) { xmessage_.ExitWith(status); }
  void HideXmessage() { xmessage_.HideXmessage(); }
  std::vector<std::string> RecordedArguments() const { return xmessage_.RecordedArguments(); }

  OrvTest::TFakeXmessage xmessage_;
};

TEST_F(FakeXmessage, MessageReachesXmessageAsOneArgumentUnchanged) {
  const TOrvString<char> caption("it's broken");
  const TOrvString<char> text("don't 'quote' me: $HOME `id` \\n \"double\" ''");
  const TOrvString<char> callStack("frame 'one'\nframe two");
  EXPECT_EQ(ShowMessageBox(caption, text, callStack, 1), 0u);
  const std::vector<std::string> arguments = RecordedArguments();
  ASSERT_EQ(arguments.size(), 3u);
  EXPECT_EQ(arguments[0], "-buttons");
  EXPECT_EQ(arguments[1], "ok:1");
  EXPECT_EQ(arguments[2], std::string("--- it's broken\n\ndon't 'quote' me: $HOME `id` \\n \"double\" ''") +
                              "\n\n=== CALLSTACK: ===\nframe 'one'\nframe two");

  ShowMessageBox(TOrvString<char>("c"), TOrvString<char>("t"), TOrvString<char>(), 1);
  EXPECT_EQ(RecordedArguments().back(), "--- c\n\nt");
}

TEST_F(FakeXmessage, ButtonLabelsFollowTheButtonSet) {
  const struct {
    std::uint8_t buttonSet;
    const char* labels;
  } cases[] = {
      {1, "ok:1"},
      {2, "yes:6,no:7"},
      {3, "ok:1,cancel:2"},
      {4, "cancel:2,retry:4,continue:11"},
      {7, "ignore_once:12,ignore_always:13,quit:14"},
      {0x12, "yes:6,no:7"},  // only the low four bits count
  };
  for (const auto& c : cases) {
    ShowMessageBox(TOrvString<char>("c"), TOrvString<char>("t"), TOrvString<char>(), c.buttonSet);
    const std::vector<std::string> arguments = RecordedArguments();
    ASSERT_EQ(arguments.size(), 3u);
    EXPECT_EQ(arguments[1], c.labels) << int{c.buttonSet};
  }
}

TEST_F(FakeXmessage, AnswerIsTheExitStatus) {
  const struct {
    int status;
    std::uint32_t answer;
    std::uint32_t question;
  } cases[] = {{1, 1, 0}, {6, 6, 1}, {7, 7, 2}, {14, 14, 0}, {0, 0, 0}};
  for (const auto& c : cases) {
    ExitWith(c.status);
    EXPECT_EQ(ShowMessageBox(TOrvString<char>("c"), TOrvString<char>("t"), TOrvString<char>(), 7), c.answer);
    EXPECT_EQ(ShowLocalisedQuestionBox(0, 4), c.question) << c.status;
  }
  const std::vector<std::string> arguments = RecordedArguments();
  ASSERT_EQ(arguments.size(), 3u);
  EXPECT_EQ(arguments[1], "yes:6,no:7");
  EXPECT_EQ(arguments[2], std::string("--- Error\n\n") + GetSystemMessageText(4));
}

TEST_F(FakeXmessage, LocalisedMessageBoxShowsBothTextsWithOk) {
  ShowLocalisedMessageBox(1, 2);
  const std::vector<std::string> arguments = RecordedArguments();
  ASSERT_EQ(arguments.size(), 3u);
  EXPECT_EQ(arguments[1], "ok:1");
  EXPECT_EQ(arguments[2],
            "--- Fatal Error\n\nCorrupted installation detected. Please verify the game cache integrity or reinstall.");
}

TEST_F(FakeXmessage, MissingXmessageAnswersTheShellsNotFoundStatus) {
  HideXmessage();
  EXPECT_EQ(ShowMessageBox(TOrvString<char>("c"), TOrvString<char>("t"), TOrvString<char>(), 2), 127u);
  EXPECT_EQ(ShowLocalisedQuestionBox(0, 4), 0u);
}

}  // namespace
}  // namespace Orvan
