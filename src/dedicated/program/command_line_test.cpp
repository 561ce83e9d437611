#include "dedicated/program/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dedicated/admin/legacy_number_conversion.h"

namespace Orvan::Dedicated {
namespace {

struct TScanCase {
  const char* name;
  std::vector<std::string> arguments;  // after the program name
  ECommandLineVerdict verdict;
  std::uint16_t port;
  std::uint32_t gameId;
  std::string login;
  std::string key;
  bool slave;
};

TCommandLineSettings Scan(const std::vector<std::string>& arguments, ECommandLineVerdict& verdict) {
  static std::vector<std::string> storage;  // the settings point into the arguments
  storage = arguments;
  storage.insert(storage.begin(), "./DedicatedServer");
  std::vector<const char*> argv;
  for (const std::string& argument : storage) argv.push_back(argument.c_str());
  TCommandLineSettings settings;
  verdict = ParseCommandLine(static_cast<int>(argv.size()), argv.data(), settings);
  return settings;
}

TEST(CommandLineTest, ScanAndValidation) {
  const ECommandLineVerdict run = ECommandLineVerdict::kRun;
  const ECommandLineVerdict usage = ECommandLineVerdict::kUsage;
  const ECommandLineVerdict badPort = ECommandLineVerdict::kBadPort;
  const TScanCase cases[] = {
      {"no arguments", {}, badPort, 0, 24, "", "", false},
      {"port 1024 refused", {"+port", "1024"}, badPort, 1024, 24, "", "", false},
      {"port 1025 taken", {"+port", "1025"}, run, 1025, 24, "", "", false},
      {"66561 keeps its low 16 bits", {"+port", "66561"}, run, 1025, 24, "", "", false},
      {"huge port saturates to 65535", {"+port", "99999999999"}, run, 65535, 24, "", "", false},
      {"game id of all ones", {"+port", "2000", "+game_id", "4294967295"}, usage, 2000, 4294967295u, "", "", false},
      {"game id above 32 bits saturates",
       {"+port", "2000", "+game_id", "4294967296"},
       usage,
       2000,
       4294967295u,
       "",
       "",
       false},
      {"game id -1 wraps to all ones", {"+port", "2000", "+game_id", "-1"}, usage, 2000, 4294967295u, "", "", false},
      {"game id last keeps 24", {"+port", "2000", "+game_id"}, run, 2000, 24, "", "", false},
      {"empty match-making address", {"+ip_mms", "", "+port", "2000"}, usage, 2000, 24, "", "", false},
      {"usage wins over the port", {"+ip_mms", ""}, usage, 0, 24, "", "", false},
      {"flag consumes nothing", {"+mms_slave", "+port", "3000"}, run, 3000, 24, "", "", false},
      {"words and unknown switches ignored",
       {"port", "5", "+unknown", "+port", "3000", "x"},
       run,
       3000,
       24,
       "",
       "",
       false},
      {"names are case-sensitive", {"+PORT", "3000"}, badPort, 0, 24, "", "", false},
      {"a value may begin with '+'", {"+port", "3000", "+login", "+key", "plain"}, run, 3000, 24, "+key", "", false},
      {"later switch overrides",
       {"+port", "3000", "+port", "4000", "+login", "a", "+login", "b"},
       run,
       4000,
       24,
       "b",
       "",
       false},
      {"login and key", {"+port", "3000", "+login", "ab", "+key", "c"}, run, 3000, 24, "ab", "c", false},
      {"game id parsed", {"+port", "3000", "+game_id", "7"}, run, 3000, 7, "", "", false},
  };
  for (const TScanCase& c : cases) {
    SCOPED_TRACE(c.name);
    ECommandLineVerdict verdict;
    const TCommandLineSettings settings = Scan(c.arguments, verdict);
    EXPECT_EQ(verdict, c.verdict);
    EXPECT_EQ(settings.port, c.port);
    EXPECT_EQ(settings.gameId, c.gameId);
    EXPECT_EQ(std::string(settings.login), c.login);
    EXPECT_EQ(std::string(settings.key), c.key);
  }
}

TEST(CommandLineTest, DefaultsAndEverySwitch) {
  ECommandLineVerdict verdict;
  TCommandLineSettings settings = Scan({"+port", "2000"}, verdict);
  EXPECT_EQ(std::string(settings.matchMakingAddress), "127.0.0.1");
  EXPECT_EQ(std::string(settings.gameReportingUrl), "https://127.0.0.1:10281/recorddedicatedgame");
  EXPECT_EQ(std::string(settings.matchMakingPort), "");
  EXPECT_EQ(settings.forcedGameVersion, nullptr);
  EXPECT_EQ(settings.couchDbOverride, nullptr);
  EXPECT_EQ(settings.chatLogFile, nullptr);
  EXPECT_TRUE(settings.allowAllGameVersions);
  EXPECT_FALSE(settings.slave);

  settings = Scan({"+port",
                   "2000",
                   "+ip",
                   "1.2.3.4",
                   "+ip_mms",
                   "mms.test",
                   "+port_mms",
                   "27000",
                   "+force_game_version",
                   "1.5",
                   "+override_couchdb_server",
                   "http://db/",
                   "+allow_all_game_version",
                   "+mms_slave",
                   "+rcon_password",
                   "pw",
                   "+rcon_port",
                   "3001",
                   "+chat_log_file",
                   "chat.txt",
                   "+game_reporting",
                   "https://r/recorddedicatedgame"},
                  verdict);
  EXPECT_EQ(verdict, ECommandLineVerdict::kRun);
  EXPECT_EQ(std::string(settings.ownAddress), "1.2.3.4");
  EXPECT_EQ(std::string(settings.matchMakingAddress), "mms.test");
  EXPECT_EQ(std::string(settings.matchMakingPort), "27000");
  EXPECT_EQ(std::string(settings.forcedGameVersion), "1.5");
  EXPECT_EQ(std::string(settings.couchDbOverride), "http://db/");
  EXPECT_TRUE(settings.allowAllGameVersions);
  EXPECT_TRUE(settings.slave);
  EXPECT_EQ(std::string(settings.rconPassword), "pw");
  EXPECT_EQ(std::string(settings.rconPort), "3001");
  EXPECT_EQ(std::string(settings.chatLogFile), "chat.txt");
  EXPECT_EQ(std::string(settings.gameReportingUrl), "https://r/recorddedicatedgame");
}

TEST(CommandLineTest, VerdictTexts) {
  EXPECT_STREQ(GetCommandLineVerdictText(ECommandLineVerdict::kUsage),
               "Bad arguments (Usage : ./DedicatedServer +port XXXX [+ip XX.XX.XX.XX +force_game_version XXXX])");
  EXPECT_STREQ(GetCommandLineVerdictText(ECommandLineVerdict::kBadPort),
               "Bad arguments (value of port must me > 1024)");
  EXPECT_EQ(GetCommandLineVerdictText(ECommandLineVerdict::kRun), nullptr);
}

TEST(LegacyNumberConversionTest, ThirtyTwoBitResults) {
  const struct {
    const char* text;
    std::uint32_t asUnsigned;
    std::int32_t asSigned;
  } cases[] = {
      {"0", 0, 0},
      {"42", 42, 42},
      {"  +7", 7, 7},
      {"12abc", 12, 12},
      {"abc", 0, 0},
      {"", 0, 0},
      {"4294967295", 4294967295u, 2147483647},
      {"4294967296", 4294967295u, 2147483647},
      {"99999999999", 4294967295u, 2147483647},
      {"99999999999999999999999", 4294967295u, 2147483647},
      {"-1", 4294967295u, -1},
      {"-4294967295", 1u, -2147483647 - 1},
      {"-4294967296", 4294967295u, -2147483647 - 1},
      {"2147483648", 2147483648u, 2147483647},
      {"-2147483649", 2147483647u, -2147483647 - 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ConvertDecimalToU32(c.text), c.asUnsigned);
    EXPECT_EQ(ConvertDecimalToI32(c.text), c.asSigned);
  }
  EXPECT_EQ(ConvertDecimalToU32(nullptr), 0u);
  EXPECT_EQ(ConvertDecimalToI32(nullptr), 0);
  // The ports of the console and the match-making server keep the saturated value's low 16 bits.
  EXPECT_EQ(static_cast<std::uint16_t>(ConvertDecimalToI32("99999999999")), 65535);
}

}  // namespace
}  // namespace Orvan::Dedicated
