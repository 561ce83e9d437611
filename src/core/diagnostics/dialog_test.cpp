#include "core/diagnostics/dialog.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <string>

#include "core/diagnostics/crash_information.h"
#include "support/dialog_recorder.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

TDialogDescriptor Descriptor(std::uint32_t site, std::int32_t buttonSet, std::int32_t callStackRequest = 1) {
  return TDialogDescriptor{0, site, callStackRequest, buttonSet, "Quit game ?", 0};
}

TEST(Dialog, ButtonSetSevenSiteIsSuppressedAfterAYes) {
  OrvTest::TDialogRecorder dialogs;
  const TDialogDescriptor descriptor = Descriptor(7001, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit);
  EXPECT_EQ(OrvDialog(&descriptor, "first", nullptr, 0), kDialogAnswerYes);
  EXPECT_TRUE(IsDialogSuppressed(0, 7001));
  // Suppressed: nothing is formatted, so even a malformed format shows nothing.
  EXPECT_EQ(OrvDialog(&descriptor, "second %0", nullptr, 0), kDialogAnswerYes);
  ASSERT_EQ(dialogs.Dialogs().size(), 1u);
  EXPECT_EQ(dialogs.Dialogs()[0].text, "first");

  // Another id low is another site.
  TDialogDescriptor other = descriptor;
  other.idLow = 1;
  OrvDialog(&other, "other", nullptr, 0);
  EXPECT_EQ(dialogs.Dialogs().size(), 2u);
}

TEST(Dialog, OtherButtonSetsAreNeverSuppressed) {
  OrvTest::TDialogRecorder dialogs;
  for (std::int32_t buttonSet : {kDialogButtonsOk, kDialogButtonsYesNo, kDialogButtonsCancelRetryContinue}) {
    const TDialogDescriptor descriptor = Descriptor(7002, buttonSet);
    EXPECT_EQ(OrvDialog(&descriptor, "again", nullptr, 0), kDialogAnswerYes);
    EXPECT_EQ(OrvDialog(&descriptor, "again", nullptr, 0), kDialogAnswerYes);
    EXPECT_FALSE(IsDialogSuppressed(0, 7002));
  }
  EXPECT_EQ(dialogs.Dialogs().size(), 6u);
}

TEST(Dialog, FormatsNarrowAndWideFormatTexts) {
  OrvTest::TDialogRecorder dialogs;
  const TDialogDescriptor descriptor = Descriptor(7003, kDialogButtonsOk);
  const TStringStreamableImpl<const int> number(-3);
  const TStringStreamableImpl<const char*> word("caf\xC3\xA9");
  const TStringStreamable* arguments[] = {&number, &word};
  OrvDialog(&descriptor, "n=%1 w=%2", arguments, 2);
  OrvDialog(&descriptor, L"\u00E0 %2 %1", arguments, 2);
  ASSERT_EQ(dialogs.Dialogs().size(), 2u);
  EXPECT_EQ(dialogs.Dialogs()[0].text, "n=-3 w=caf\xC3\xA9");
  EXPECT_EQ(dialogs.Dialogs()[1].text, "\xC3\xA0 caf\xC3\xA9 -3");
  EXPECT_EQ(dialogs.Dialogs()[1].caption, "Quit game ?");
}

TEST(Dialog, CallStackIsAttachedWhenAskedOrForButtonSetsFourAndSeven) {
  OrvTest::TDialogRecorder dialogs;
  const struct {
    std::int32_t request;
    std::int32_t buttonSet;
    bool attached;
  } cases[] = {{1, kDialogButtonsOk, true},
               {0, kDialogButtonsOk, false},
               {0, kDialogButtonsYesNo, false},
               {0, kDialogButtonsCancelRetryContinue, true},
               {0, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit, true}};
  std::uint32_t site = 7100;
  for (const auto& c : cases) {
    dialogs.Clear();
    const TDialogDescriptor descriptor = Descriptor(site++, c.buttonSet, c.request);
    OrvDialog(&descriptor, "text", nullptr, 0);
    ASSERT_EQ(dialogs.Dialogs().size(), 1u);
    const std::string& stack = dialogs.Dialogs()[0].callStack;
    EXPECT_EQ(!stack.empty(), c.attached) << c.request << " " << c.buttonSet;
    if (c.attached) {
      EXPECT_NE(stack.find("ShowFormattedDialog"), std::string::npos) << stack;
      EXPECT_EQ(stack.back(), '\n');
    }
  }
}

TEST(Dialog, MalformedFormatShowsAReportQuotingFormatAndArguments) {
  OrvTest::TDialogRecorder dialogs;
  const TDialogDescriptor descriptor = Descriptor(7004, kDialogButtonsOk);
  const TStringStreamableImpl<const char*> quoted("a\"b");
  const TStringStreamableImpl<const int> number(12);
  const TStringStreamable* arguments[] = {&quoted, &number};
  EXPECT_EQ(OrvDialog(&descriptor, "x %1 %0 %2", arguments, 2), kDialogAnswerYes);
  OrvDialog(&descriptor, L"%0", nullptr, 0);
  ASSERT_EQ(dialogs.Dialogs().size(), 2u);
  const std::string head =
      "ATTENTION : la boite de dialogue courante est mal formatt\xC3\xA9" "e. Merci de le notifier aux programmeurs. "
      "\n\nException thrown when formating a message :Les formats de cha\xC3\xAEnes vont de 1 \xC3\xA0 9.\n\n";
  EXPECT_EQ(dialogs.Dialogs()[0].text, head +
                                           "Original message is : \"x %1 %0 %2\"\n"
                                           "with parameters :\n"
                                           "    -\"a\"b\"\n"
                                           "    -\"12\"\n"
                                           "\n\n");
  EXPECT_EQ(dialogs.Dialogs()[1].text, head + "Original message is : \"%0\"\n\n\n");
}

// Sites suppressed from many threads at once: the set is changed under the dialog mutex.
TEST(DialogThreaded, SitesAreSuppressedFromManyThreads) {
  OrvTest::TDialogRecorder dialogs;
  SetDialogObserverForTests(nullptr, nullptr);  // the recorder's vector is not for threads
  constexpr int kThreads = 8;
  constexpr std::uint32_t kSitesPerThread = 100;
  OrvTest::RunOnThreadsTogether(kThreads, [&](int t) {
    for (std::uint32_t i = 0; i < kSitesPerThread; ++i) {
      const TDialogDescriptor descriptor{static_cast<std::uint32_t>(t + 1), i, 0,
                                         kDialogButtonsIgnoreOnceIgnoreAlwaysQuit, "Quit game ?", 0};
      OrvDialog(&descriptor, "threaded", nullptr, 0);
      OrvDialog(&descriptor, "threaded", nullptr, 0);
    }
  });
  std::uint32_t suppressed = 0;
  for (int t = 0; t < kThreads; ++t) {
    for (std::uint32_t i = 0; i < kSitesPerThread; ++i) suppressed += IsDialogSuppressed(t + 1, i) ? 1 : 0;
  }
  EXPECT_EQ(suppressed, kThreads * kSitesPerThread);
}

void WriteCrashInformationAndAbort(int) {
  const char* text = GetCrashInformation();
  const ssize_t ignored = ::write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
  std::signal(SIGABRT, SIG_DFL);
  std::raise(SIGABRT);
}

// Runs in the death test's child: no core file, and the crash information goes to stderr.
void ShowFatalDialog() {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  std::signal(SIGABRT, WriteCrashInformationAndAbort);
  const TStringStreamableImpl<const char*> detail("disk on fire");
  const TStringStreamable* arguments[] = {&detail};
  const TDialogDescriptor descriptor{0, 7005, 1, kDialogButtonsOk, "Fatal caption", 1};
  OrvDialog(&descriptor, "fatal: %1", arguments, 1);
}

TEST(DialogDeathTest, FatalDialogAbortsWithTheCrashInformation) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(ShowFatalDialog(), ::testing::KilledBySignal(SIGABRT), "OrvDialog : Fatal caption.fatal: disk on fire");
}

}  // namespace
}  // namespace Orvan
