#include <gtest/gtest.h>

#include <string>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "support/dedicated_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

using OrvTest::TDedicatedTest;

class SessionFilesTest : public TDedicatedTest {
 protected:
  std::string Value(const char* name) const { return session_.GetPropertyTable()->GetValue(name).c_str(); }

  TStrivexDedicatedSession session_{24};
};

TEST_F(SessionFilesTest, NbMaxPlayerFromVariablesIniStartsWithinTheLimit) {
  const struct {
    const char* text;
    const char* started;
  } cases[] = {{"0", "64"}, {"100", "64"}, {"abc", "64"}, {"64", "64"}, {"1", "1"}, {"12", "12"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    WriteFile("variables.ini", std::string("NbMaxPlayer=") + c.text + "\n");
    TStrivexDedicatedSession session(24);
    session.Initialize();
    EXPECT_EQ(std::string(session.GetPropertyTable()->GetValue("NbMaxPlayer").c_str()), c.started);
    EXPECT_EQ(std::to_string(session.GetPlayerLimit()), c.started);
  }
}

TEST_F(SessionFilesTest, VariablesIniOverridesValidatesAndSkipsUnknownKeys) {
  WriteFile("variables.ini",
            "ServerName=My Server\n"
            "[any section]\n"
            "LoadingTimeMax=59\n"
            "NoSuchSetting=1\n"
            "InitMoney=5000\n"
            "NbPlayer=7\n");
  session_.Initialize();
  EXPECT_EQ(Value("ServerName"), "My Server");
  EXPECT_EQ(Value("InitMoney"), "5000");
  EXPECT_EQ(Value("LoadingTimeMax"), "120");
  EXPECT_EQ(Value("NbPlayer"), "0");  // a count read from a file is reset by the start-up
  EXPECT_TRUE(Logged("Variable ServerName set to \"My Server\""));
  EXPECT_TRUE(Logged("Variable LoadingTimeMax not set to \"59\" (reason : invalid value)"));
  EXPECT_TRUE(Logged("Unknown variable NoSuchSetting will be ingored"));
  EXPECT_EQ(LevelOf("Unknown variable NoSuchSetting will be ingored"), 1);
  EXPECT_TRUE(Logged("Variable NbPlayer set to \"0\""));
}

TEST_F(SessionFilesTest, NoFilesLeaveTheDefaults) {
  session_.Initialize();
  EXPECT_EQ(Value("LoadingTimeMax"), "120");
  EXPECT_TRUE(session_.GetAdmins().IsEmpty());
  EXPECT_FALSE(session_.HasAdminRight(Network::OrvNetId::FromValue(5), 'l'));
  EXPECT_FALSE(session_.HasHost());
  EXPECT_TRUE(session_.IsAdmissionOpen());
}

TEST_F(SessionFilesTest, AdminsIniEntries) {
  WriteFile("admins.ini",
            "0=lks\n"
            "72057594037927936=lks\n"
            "abc=l\n"
            "5=123\n"
            "6=LKS\n"
            "7=xyz\n"
            "[admins]\n"
            "8=l k-s\n"
            "72057594037927935=u\n");
  session_.Initialize();
  EXPECT_TRUE(Logged("Failed to decode admin user id : 0"));
  EXPECT_TRUE(Logged("Failed to decode admin user id : abc"));
  EXPECT_TRUE(Logged("Failed to add admin user id : 72057594037927936 since it is not a valid user id"));
  EXPECT_TRUE(Logged("Admin with user id 5 will be ingored since no rights have been granted"));
  EXPECT_EQ(LevelOf("Admin with user id 5 will be ingored since no rights have been granted"), 1);
  EXPECT_TRUE(Logged("Admin with user id 6 will be ingored since no rights have been granted"));
  EXPECT_TRUE(Logged("Adding admin with user id : 7"));
  EXPECT_TRUE(Logged("Adding admin with user id : 8"));
  EXPECT_TRUE(Logged("Adding admin with user id : 72057594037927935"));
  EXPECT_EQ(session_.GetAdmins().Count(), 3u);

  const struct {
    std::uint64_t id;
    char letter;
    bool granted;
  } rights[] = {
      {7, 'x', true},
      {7, 'l', false},
      {8, 'l', true},
      {8, 'k', true},
      {8, 's', true},
      {8, 'b', false},
      {8, 'L', false},
      {8, '-', false},
      {5, 'l', false},
      {6, 'l', false},
      {72057594037927935ull, 'u', true},
  };
  for (const auto& r : rights) {
    SCOPED_TRACE(std::to_string(r.id) + r.letter);
    EXPECT_EQ(session_.HasAdminRight(Network::OrvNetId::FromValue(r.id), r.letter), r.granted);
  }
}

TEST(AdminRightsTest, Parse) {
  TAdminRights rights;
  EXPECT_FALSE(rights.Parse(""));
  EXPECT_FALSE(rights.Parse(nullptr));
  EXPECT_FALSE(rights.Parse("ABC 123{`"));
  EXPECT_FALSE(rights.Has('a'));
  EXPECT_TRUE(rights.Parse("az"));
  EXPECT_TRUE(rights.Has('a'));
  EXPECT_TRUE(rights.Has('z'));
  EXPECT_FALSE(rights.Has('b'));
  EXPECT_FALSE(rights.Has('{'));
  EXPECT_FALSE(rights.Has('\0'));
}

// The forced version outlives "variables.ini": the switch wins, and the task keeps the game version
// of the match-making server from replacing it.
TEST_F(SessionFilesTest, ForcedGameVersionWinsOverVariablesIni) {
  WriteFile("variables.ini", "Version=2.0\n");
  OrvTest::TTaskSettings settings;
  settings.forcedVersion = "1.5";
  TMainServerTask* task = OrvTest::CreateTask(settings, &session_);
  EXPECT_TRUE(task->IsVersionLocked());
  session_.Initialize();
  EXPECT_EQ(Value("Version"), "1.5");
  EXPECT_TRUE(Logged("Variable Version set to \"2.0\""));
  EXPECT_TRUE(Logged("Variable Version set to \"1.5\""));
}

TEST_F(SessionFilesTest, SlaveModeClosesAdmissionAndHasAHost) {
  OrvTest::TTaskSettings settings;
  settings.slave = true;
  OrvTest::CreateTask(settings, &session_);
  session_.Initialize();
  EXPECT_FALSE(session_.IsAdmissionOpen());
  EXPECT_TRUE(session_.HasHost());
  EXPECT_EQ(Value("WithHost"), "1");
}

TEST_F(SessionFilesTest, WithHostFromVariablesIni) {
  WriteFile("variables.ini", "WithHost=1\nPassword=pw\n");
  session_.Initialize();
  EXPECT_TRUE(session_.HasHost());
  EXPECT_EQ(Value("NeedPassword"), "1");
}

}  // namespace
}  // namespace Orvan::Dedicated
