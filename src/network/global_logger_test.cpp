#include "network/global_logger.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <fstream>
#include <sstream>
#include <string>

#include "network/network_hooks.h"
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

TEST(SyslogPriority, LevelsZeroToThreeAndEverythingElse) {
  const std::pair<std::int32_t, int> cases[] = {{0, LOG_INFO}, {1, LOG_WARNING}, {2, LOG_ERR}, {3, LOG_CRIT},
                                                {7, LOG_DEBUG}, {-1, LOG_DEBUG}, {4, LOG_DEBUG}};
  for (const auto& [level, priority] : cases) EXPECT_EQ(GetSyslogPriority(level), priority) << level;
}

}  // namespace
}  // namespace Orvan::ServerTools
