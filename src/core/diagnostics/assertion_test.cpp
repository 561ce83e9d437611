#include "core/diagnostics/assertion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/diagnostics/crash_information.h"
#include "core/diagnostics/debug_output.h"
#include "core/text/text_encoding.h"
#include "core/threads/thread_services.h"
#include "support/debug_output_recorder.h"
#include "support/dialog_recorder.h"

namespace Orvan {
namespace {

// Collects the debug output's lines and the dialogs of one test.
class AssertionReport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (IsDebuggerAttached()) GTEST_SKIP() << "a debugger would get breakpoints instead of dialogs";
    ClearSilencedAssertionLocations();
  }
  void TearDown() override { ClearSilencedAssertionLocations(); }

  OrvTest::TDebugOutputRecorder output_;
  const std::vector<std::string>& lines_ = output_.Lines();
  OrvTest::TDialogRecorder dialogs_;
};

const char kFile[] = "src/game/rules.cpp";
const char kExpression[] = "count <= limit";

TEST_F(AssertionReport, ReportsStackThenTheFailureLineThenShowsTheDialog) {
  ReportAssertionFailure(kFile, 321, kExpression, "too many (\xC3\xA9l\xC3\xA9ments)");
  ASSERT_GE(lines_.size(), 3u);
  // The call stack, an empty line, then the failure line.
  EXPECT_EQ(lines_.back(),
            "src/game/rules.cpp(321): ASSERTION FAILED: (count <= limit): too many (\xC3\xA9l\xC3\xA9ments)\n");
  EXPECT_EQ(lines_[lines_.size() - 2], "\n");
  EXPECT_NE(lines_[0].find("\" line 0 "), std::string::npos) << lines_[0];

  ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
  const OrvTest::TRecordedDialog& dialog = dialogs_.Dialogs()[0];
  EXPECT_EQ(dialog.text, "Assert!\nsrc/game/rules.cpp (321)\ncount <= limit\ntoo many (\xC3\xA9l\xC3\xA9ments)");
  EXPECT_TRUE(OrvTest::IsQuitGameWarning(dialog, kAssertionDialogId));
}

TEST_F(AssertionReport, NullMessageReportsAsNoMessage) {
  ReportAssertionFailure(kFile, 7, kExpression, nullptr);
  ASSERT_FALSE(lines_.empty());
  EXPECT_EQ(lines_.back(), "src/game/rules.cpp(7): ASSERTION FAILED: (count <= limit): (no message)\n");
  ASSERT_EQ(dialogs_.Dialogs().size(), 1u);
  EXPECT_EQ(dialogs_.Dialogs()[0].text, "Assert!\nsrc/game/rules.cpp (7)\ncount <= limit\n(no message)");
}

TEST_F(AssertionReport, SameLocationReportsEveryTime) {
  ReportAssertionFailure(kFile, 9, kExpression, "again");
  ReportAssertionFailure(kFile, 9, kExpression, "again");
  EXPECT_EQ(output_.CountLinesContaining("ASSERTION FAILED"), 2u);
  // The dialog site is suppressed by the first yes.
  EXPECT_EQ(dialogs_.Dialogs().size(), 1u);
}

TEST_F(AssertionReport, SilencedLocationReportsNothing) {
  SilenceAssertionLocation(kFile, 10, kExpression);
  EXPECT_TRUE(IsAssertionLocationSilenced(kFile, 10, kExpression));
  ReportAssertionFailure(kFile, 10, kExpression, "quiet");
  EXPECT_TRUE(lines_.empty());
  EXPECT_TRUE(dialogs_.Dialogs().empty());

  // A location is its texts' addresses and its line, not the texts.
  const std::string sameFileText(kFile);
  EXPECT_FALSE(IsAssertionLocationSilenced(sameFileText.c_str(), 10, kExpression));
  EXPECT_FALSE(IsAssertionLocationSilenced(kFile, 11, kExpression));
  ReportAssertionFailure(sameFileText.c_str(), 10, kExpression, "loud");
  EXPECT_FALSE(lines_.empty());
}

TEST_F(AssertionReport, MinimalistReportGoesOnWithoutADebugger) {
  MinimalistAssertionFailed();
  ASSERT_GE(lines_.size(), 3u);
  EXPECT_EQ(lines_.back(), "MINIMALIST ASSERTION FAILED\n");
  EXPECT_EQ(lines_[lines_.size() - 2], "\n");
  EXPECT_TRUE(dialogs_.Dialogs().empty());
}

TEST(CrashInformation, FormatCrashInfoKeepsTheFirst4095Characters) {
  const std::string information(5000, 'i');
  const std::string whole = "File : a.cpp @ -3\nTest : x\nCrash Infos :\n" + information;
  EXPECT_EQ(FormatCrashInfo("a.cpp", -3, "x", information.c_str()), static_cast<int>(whole.size()));
  EXPECT_EQ(std::string(GetCrashInformation()), whole.substr(0, kCrashInformationBytes - 1));

  const std::string shortText = "File : b.cpp @ 12\nTest : y\nCrash Infos :\nshort";
  EXPECT_EQ(FormatCrashInfo("b.cpp", 12, "y", "short"), static_cast<int>(shortText.size()));
  EXPECT_EQ(std::string(GetCrashInformation()), shortText);
}

}  // namespace
}  // namespace Orvan
