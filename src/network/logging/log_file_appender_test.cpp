#include "network/logging/log_file_appender.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/temporary_folder.h"

namespace Orvan::ServerTools {
namespace {

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

TEST(LogFileAppender, CreatesTheFileAndStampsEachLineWithTheSeconds) {
  OrvTest::TTemporaryFolder folder;
  const std::string path = folder.Path("chat.txt");
  TLogFileAppender appender(TOrvString<char>(path.c_str()), 0);
  const long long before = static_cast<long long>(std::time(nullptr));
  appender.Append("player_1: hello");
  appender.Append(TOrvString<char>("player_2: hi"));
  const long long after = static_cast<long long>(std::time(nullptr));
  const std::vector<std::string> lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 2u);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    ASSERT_EQ(lines[i][0], '[');
    const std::size_t close = lines[i].find("] ");
    ASSERT_NE(close, std::string::npos);
    const long long stamp = std::stoll(lines[i].substr(1, close - 1));
    EXPECT_GE(stamp, before);
    EXPECT_LE(stamp, after);
    EXPECT_EQ(lines[i].substr(close + 2), i == 0 ? "player_1: hello" : "player_2: hi");
  }
}

TEST(LogFileAppender, WithoutStampsAppendsTheTextAlone) {
  OrvTest::TTemporaryFolder folder;
  const std::string path = folder.Path("chat.txt");
  {
    std::ofstream existing(path);
    existing << "kept\n";
  }
  TLogFileAppender appender(TOrvString<char>(path.c_str()), 1);
  appender.Append("line");
  EXPECT_EQ(ReadLines(path), (std::vector<std::string>{"kept", "line"}));
}

TEST(LogFileAppender, AFileThatCannotBeOpenedTakesNothing) {
  OrvTest::TTemporaryFolder folder;
  TLogFileAppender appender(TOrvString<char>(folder.Path("no/such/folder/chat.txt").c_str()), 0);
  appender.Append("lost");
  EXPECT_TRUE(ReadLines(folder.Path("no/such/folder/chat.txt")).empty());
}

}  // namespace
}  // namespace Orvan::ServerTools
