#include "network/logging/global_logger.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "network/logging/network_hooks.h"
#include "support/manual_clock.h"
#include "support/temporary_folder.h"

namespace Orvan::ServerTools {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Every test works on its own log file in its own folder and leaves no logger behind.
class GlobalLoggerTest : public ::testing::Test {
 protected:
  void TearDown() override { TGlobalLogger::DestroyInstance(); }
  OrvTest::TTemporaryFolder folder_;
};

TEST_F(GlobalLoggerTest, EachLineGoesToTheFileAndToStandardOutput) {
  ASSERT_FALSE(folder_.Path().empty());
  const std::string path = folder_.Path("serverlog.txt");
  TGlobalLogger::CreateInstance(true);
  TGlobalLogger::GetInstance()->OpenLogFile(path.c_str());
  ::testing::internal::CaptureStdout();
  Log(kLogInformation, "first line");
  LogError("second line");
  LogEventLibraryMessage(3, "third line");
  const std::string printed = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(printed, "first line\nsecond line\nthird line\n");
  EXPECT_EQ(ReadFile(path), "first line\nsecond line\nthird line\n");
}

TEST_F(GlobalLoggerTest, OpeningTheFileAgainEmptiesIt) {
  const std::string path = folder_.Path("serverlog.txt");
  TGlobalLogger::CreateInstance(true);
  ::testing::internal::CaptureStdout();
  TGlobalLogger::GetInstance()->OpenLogFile(path.c_str());
  Log(kLogInformation, "run one");
  TGlobalLogger::DestroyInstance();
  TGlobalLogger::CreateInstance(true);
  TGlobalLogger::GetInstance()->OpenLogFile(path.c_str());
  Log(kLogInformation, "run two");
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(ReadFile(path), "run two\n");
}

TEST_F(GlobalLoggerTest, NothingIsLoggedWithoutAnInstance) {
  EXPECT_EQ(TGlobalLogger::GetInstance(), nullptr);
  ::testing::internal::CaptureStdout();
  Log(kLogError, "dropped");
  LogError("dropped too");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  TGlobalLogger::CreateInstance(true);
  TGlobalLogger* first = TGlobalLogger::GetInstance();
  TGlobalLogger::CreateInstance(false);
  EXPECT_EQ(TGlobalLogger::GetInstance(), first);
  EXPECT_TRUE(first->IsConsoleMode());
  TGlobalLogger::DestroyInstance();
  EXPECT_EQ(TGlobalLogger::GetInstance(), nullptr);
}

TEST_F(GlobalLoggerTest, AFileThatCannotBeOpenedLosesOnlyTheFileLines) {
  TGlobalLogger::CreateInstance(true);
  TGlobalLogger::GetInstance()->OpenLogFile(folder_.Path("missing/serverlog.txt").c_str());
  ::testing::internal::CaptureStdout();
  Log(kLogWarning, "still printed");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "still printed\n");
}

TEST_F(GlobalLoggerTest, TheNetworkLogHookReachesTheFile) {
  const std::string path = folder_.Path("serverlog.txt");
  TGlobalLogger::CreateInstance(true);
  TGlobalLogger::GetInstance()->OpenLogFile(path.c_str());
  const Network::TNetworkLogHook previous = Network::GetNetworkHooks().log;
  Network::SetNetworkLogHandler(&Log);
  ::testing::internal::CaptureStdout();
  Network::NetworkLog(Network::kNetworkLogError, "Server Error : Users won't be able to connect to MMS");
  ::testing::internal::GetCapturedStdout();
  Network::SetNetworkLogHandler(previous);
  EXPECT_EQ(ReadFile(path), "Server Error : Users won't be able to connect to MMS\n");
}

// A line, `times` times in a row at `ms` after the start; a null text is a pass of the main loop
// (FlushRepeatedLogLines) there, and "close" the logger's end.
struct TLogStep {
  double ms;
  const char* text;
  int times;
};

// `times` lines of this text, one after the other, in the output.
struct TLogRun {
  std::string text;
  int times;
};

struct TRepeatCase {
  const char* name;
  std::vector<TLogStep> steps;
  std::vector<TLogRun> written;
};

std::string Runs(const std::vector<TLogRun>& runs) {
  std::string text;
  for (const TLogRun& run : runs) {
    for (int i = 0; i < run.times; ++i) text += run.text + "\n";
  }
  return text;
}

TEST_F(GlobalLoggerTest, ALineRepeatedMoreThan100TimesInASecondIsWrittenOnceWithACount) {
  const std::vector<TRepeatCase> cases = {
      {"100 kept, the rest counted until the second ends",
       {{0, "a", 100}, {500, "a", 150}, {999, nullptr, 0}, {1000, nullptr, 0}, {1001, nullptr, 0}},
       {{"a", 100}, {"a (repeated 150 times)", 1}}},
      {"the next line of the text brings the count first",
       {{0, "a", 101}, {1500, "a", 1}}, {{"a", 100}, {"a (repeated 1 times)", 1}, {"a", 1}}},
      {"a flood that goes on: a count line a second",
       {{0, "a", 300}, {1000, "a", 300}, {2000, "a", 300}, {3000, nullptr, 0}},
       {{"a", 100}, {"a (repeated 200 times)", 1}, {"a", 100}, {"a (repeated 200 times)", 1}, {"a", 100},
        {"a (repeated 200 times)", 1}}},
      {"different lines are not collapsed together",
       {{0, "a", 60}, {0, "b", 60}, {0, "a", 60}, {0, "b", 60}, {1000, nullptr, 0}},
       {{"a", 60}, {"b", 60}, {"a", 40}, {"b", 40}, {"a (repeated 20 times)", 1}, {"b (repeated 20 times)", 1}}},
      {"exactly 100 in a second need no count", {{0, "a", 100}, {1000, nullptr, 0}, {1000, "a", 1}},
       {{"a", 101}}},
      {"the end of the logger writes what is still counted", {{0, "a", 120}, {10, "close", 0}},
       {{"a", 100}, {"a (repeated 20 times)", 1}}},
  };
  for (const TRepeatCase& c : cases) {
    SCOPED_TRACE(c.name);
    OrvTest::TManualClock clock;
    const std::string path = folder_.Path("serverlog.txt");
    TGlobalLogger::CreateInstance(true);
    TGlobalLogger::GetInstance()->OpenLogFile(path.c_str());
    ::testing::internal::CaptureStdout();
    for (const TLogStep& step : c.steps) {
      OrvTest::TManualClock::Now() = OrvTest::TManualClock::kStart + static_cast<TTimeStamp>(step.ms * 1e6);
      if (step.text == nullptr) {
        FlushRepeatedLogLines();
      } else if (std::string(step.text) == "close") {
        TGlobalLogger::DestroyInstance();
      } else {
        for (int i = 0; i < step.times; ++i) Log(kLogWarning, step.text);
      }
    }
    const std::string printed = ::testing::internal::GetCapturedStdout();
    TGlobalLogger::DestroyInstance();
    EXPECT_EQ(ReadFile(path), Runs(c.written));
    EXPECT_EQ(printed, Runs(c.written));
  }
}

TEST_F(GlobalLoggerTest, PastItsTableOfTextsALineIsWrittenAsItComes) {
  OrvTest::TManualClock clock;
  TGlobalLogger::CreateInstance(true);
  ::testing::internal::CaptureStdout();
  for (std::uint32_t i = 0; i < kLogRepeatTexts; ++i) Log(kLogInformation, ("text " + std::to_string(i)).c_str());
  for (int i = 0; i < 150; ++i) Log(kLogInformation, "one too many");
  // A second later the table has room again: the text is followed and collapsed.
  OrvTest::TManualClock::AdvanceMilliseconds(1000);
  for (int i = 0; i < 150; ++i) Log(kLogInformation, "one too many");
  OrvTest::TManualClock::AdvanceMilliseconds(1000);
  FlushRepeatedLogLines();
  const std::string printed = ::testing::internal::GetCapturedStdout();
  std::string expected;
  for (std::uint32_t i = 0; i < kLogRepeatTexts; ++i) expected += "text " + std::to_string(i) + "\n";
  expected += Runs({{"one too many", 150 + 100}, {"one too many (repeated 50 times)", 1}});
  EXPECT_EQ(printed, expected);
}

TEST(SyslogPriority, LevelsZeroToThreeAndEverythingElse) {
  const std::pair<std::int32_t, int> cases[] = {{0, LOG_INFO}, {1, LOG_WARNING}, {2, LOG_ERR}, {3, LOG_CRIT},
                                                {7, LOG_DEBUG}, {-1, LOG_DEBUG}, {4, LOG_DEBUG}};
  for (const auto& [level, priority] : cases) EXPECT_EQ(GetSyslogPriority(level), priority) << level;
}

}  // namespace
}  // namespace Orvan::ServerTools
