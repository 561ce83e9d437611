// The ban list against "banned_clients.ini": the refresh's merge, expiry and rewrite, bans and their
// ends, bans and unbans written at once, unbans that stick, the banned clients still connected, bans
// across a restart, and a file that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/session/dedicated_session.h"
#include "network/files/ini_profile.h"
#include "support/admin_test_server.h"
#include "support/dedicated_test_helpers.h"
#include "support/file_replace_calls.h"

namespace Orvan::Dedicated {
namespace {

using Network::OrvNetId;
using OrvTest::TAdminTestServer;

using TBanList = std::vector<std::pair<std::uint64_t, std::int64_t>>;

std::int64_t Now() { return static_cast<std::int64_t>(std::time(nullptr)); }

// Every key of the ban file as "section|key=value", sorted.
std::vector<std::string> FileEntries() {
  std::vector<std::string> entries;
  ServerTools::TIniProfile::IniBrowse(
      [](const char* section, const char* key, const char* value, void* userData) {
        static_cast<std::vector<std::string>*>(userData)->push_back(std::string(section) + "|" + key + "=" + value);
        return 1;
      },
      &entries, TDedicatedSession::kBannedClientsIniFile);
  std::sort(entries.begin(), entries.end());
  return entries;
}

TBanList Bans(const TDedicatedSession& session) {
  TBanList bans;
  for (const auto& ban : session.GetBans()) bans.emplace_back(ban.key.GetValue(), ban.value);
  std::sort(bans.begin(), bans.end());
  return bans;
}

std::string Entry(const char* section, std::uint64_t id, std::int64_t end) {
  return std::string(section) + "|" + std::to_string(id) + "=" + std::to_string(end);
}

class SessionBansTest : public OrvTest::TDedicatedTest {
 protected:
  void TearDown() override {
    server_.reset();
    TDedicatedTest::TearDown();
  }
  TAdminTestServer& StartServer() {
    server_.reset();
    server_ = std::make_unique<TAdminTestServer>();
    return *server_;
  }
  void WriteBanFile(const std::string& text) { WriteFile(TDedicatedSession::kBannedClientsIniFile, text); }

  std::unique_ptr<TAdminTestServer> server_;
};

TEST_F(SessionBansTest, RefreshMergesExpiresAndRewrites) {
  const std::int64_t now = Now();
  const std::int64_t inOneHour = now + 3600;
  const std::int64_t inTwoHours = now + 7200;
  const std::int64_t past = now - 10;
  const std::string one = std::to_string(inOneHour);
  const std::string two = std::to_string(inTwoHours);
  struct Case {
    const char* what;
    std::string file;
    TBanList memory;
    TBanList expectedMemory;
    std::vector<std::string> expectedFile;
  };
  const std::vector<Case> cases = {
      {"the later end in memory wins",
       "5=" + one + "\n",
       {{5, inTwoHours}},
       {{5, inTwoHours}},
       {Entry("", 5, inTwoHours)}},
      {"the later end in the file wins",
       "5=" + two + "\n",
       {{5, inOneHour}},
       {{5, inTwoHours}},
       {Entry("", 5, inTwoHours)}},
      {"forever in the file wins", "5=0\n", {{5, inTwoHours}}, {{5, 0}}, {Entry("", 5, 0)}},
      {"forever in memory wins", "5=" + two + "\n", {{5, 0}}, {{5, 0}}, {Entry("", 5, 0)}},
      {"a ban only in memory is written", "", {{5, inOneHour}}, {{5, inOneHour}}, {Entry("", 5, inOneHour)}},
      {"an expired ban leaves the file and the list",
       "5=" + std::to_string(past) + "\n6=0\n",
       {},
       {{6, 0}},
       {Entry("", 6, 0)}},
      {"an expired ban only in memory goes", "", {{5, past}}, {}, {}},
      {"sections are read; the refresh writes outside any",
       "[old]\n7=" + one + "\n",
       {},
       {{7, inOneHour}},
       {Entry("", 7, inOneHour), Entry("old", 7, inOneHour)}},
      {"an expired ban in a section leaves it", "[old]\n7=" + std::to_string(past) + "\n", {}, {}, {}},
      // A team id, a sign, trailing text: no client id, skipped and left as they are. A value that
      // is no number is a ban forever.
      {"keys that are not client ids",
       "72057594037927941=0\n+8=0\n8x=0\n9=abc\n",
       {},
       {{9, 0}},
       {"|+8=0", "|72057594037927941=0", "|8x=0", Entry("", 9, 0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server_.reset();
    std::remove(folder_.Path(TDedicatedSession::kBannedClientsIniFile).c_str());
    if (!c.file.empty()) WriteBanFile(c.file);
    TAdminTestServer& server = StartServer();
    // Starting refreshed once already; the bans in memory come after, as from commands.
    for (const auto& [id, end] : c.memory) server.Session().SetBan(OrvNetId::FromValue(id), end);
    const std::size_t from = Lines().size();
    server.Session().RefreshBanList();
    EXPECT_EQ(LinesFrom(from).front(), "Updating clients banned list");
    EXPECT_EQ(Bans(server.Session()), c.expectedMemory);
    std::vector<std::string> expectedFile = c.expectedFile;
    std::sort(expectedFile.begin(), expectedFile.end());
    EXPECT_EQ(FileEntries(), expectedFile);
  }
}

TEST_F(SessionBansTest, BanEnds) {
  TAdminTestServer& server = StartServer();
  constexpr std::uint64_t kLargest = std::numeric_limits<std::uint64_t>::max();
  struct Case {
    std::uint64_t id;
    std::uint64_t hours;
    bool forever;
    const char* line;
  };
  const std::vector<Case> cases = {
      {1, 0, true, "Client 1 has been banned forever"},
      {2, 2, false, "Client 2 has been banned during 2 hours"},
      // Past 2038: ends are 64-bit seconds.
      {3, 1000000, false, "Client 3 has been banned during 1000000 hours"},
      // Ends 64-bit seconds cannot hold are forever, not wrapped into the past.
      {4, 2562047788015215, true, "Client 4 has been banned forever"},
      {5, std::uint64_t{1} << 62, true, "Client 5 has been banned forever"},
      {6, kLargest, true, "Client 6 has been banned forever"},
      // The largest client id prints unsigned.
      {0x00FFFFFFFFFFFFFF, 0, true, "Client 72057594037927935 has been banned forever"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const std::int64_t before = Now();
    server.Session().BanClient(OrvNetId::FromValue(c.id), c.hours);
    const std::int64_t after = Now();
    EXPECT_TRUE(Logged(c.line));
    const auto* ban = server.Session().GetBans().Find(OrvNetId::FromValue(c.id));
    ASSERT_NE(ban, nullptr);
    if (c.forever) {
      EXPECT_EQ(ban->value, 0);
    } else {
      const auto seconds = static_cast<std::int64_t>(c.hours) * 3600;
      EXPECT_GE(ban->value, before + seconds);
      EXPECT_LE(ban->value, after + seconds);
    }
  }
  // Only clients are banned.
  OrvNetId team = OrvNetId::FromValue(7);
  team.SetTeamKind();
  const std::size_t from = Lines().size();
  server.Session().BanClient(team, 1);
  EXPECT_EQ(server.Session().GetBans().Find(team), nullptr);
  EXPECT_TRUE(LinesFrom(from).empty());

  // Every ban is in the file at once, a ban forever as "0"; every ban survives the refresh.
  const std::vector<std::string> entries = FileEntries();
  EXPECT_EQ(entries.size(), 7u);
  EXPECT_NE(std::find(entries.begin(), entries.end(), Entry("", 1, 0)), entries.end());
  EXPECT_NE(std::find(entries.begin(), entries.end(), Entry("", 6, 0)), entries.end());
  server.Session().RefreshBanList();
  EXPECT_EQ(FileEntries(), entries);
  EXPECT_EQ(server.Session().GetBans().Count(), 7u);
}

// An unban takes the id out of the file too, wherever it stands, so the next refresh does not bring
// the ban back.
TEST_F(SessionBansTest, UnbanSticks) {
  WriteBanFile("5=0\n6=0\n[old]\n5=0\n");
  TAdminTestServer& server = StartServer();
  ASSERT_EQ(Bans(server.Session()), (TBanList{{5, 0}, {6, 0}}));
  server.Session().UnbanClient(OrvNetId::FromValue(5));
  EXPECT_TRUE(Logged("Client 5 has been unbanned"));
  EXPECT_EQ(Bans(server.Session()), (TBanList{{6, 0}}));
  EXPECT_EQ(FileEntries(), (std::vector<std::string>{Entry("", 6, 0)}));
  server.Session().RefreshBanList();
  EXPECT_EQ(Bans(server.Session()), (TBanList{{6, 0}}));

  // A ban that only the file still holds goes as well.
  WriteBanFile("7=0\n");
  server.Session().UnbanClient(OrvNetId::FromValue(7));
  EXPECT_TRUE(FileEntries().empty());
  server.Session().RefreshBanList();
  EXPECT_EQ(Bans(server.Session()), (TBanList{{6, 0}}));
}

// Re-entering match making refreshes the list: a banned client still connected gets reason 24 and
// goes; the others stay.
TEST_F(SessionBansTest, RefreshDisconnectsBannedClients) {
  TAdminTestServer& server = StartServer();
  ASSERT_NE(server.Admit(40, "banned", false, true), nullptr);
  ASSERT_NE(server.Admit(41, "kept", false, true), nullptr);
  WriteBanFile("40=0\n");
  server.Session().GetStateManager()->ChangeState(server.Session().CreateInitialState());
  EXPECT_TRUE(Logged("Disconnecting client 40 with IP 127.0.0.1:5000 (reason : BannedFromDedicatedServer)"));
  EXPECT_EQ(server.ReceiveLastPacketReason(40), 24);
  EXPECT_EQ(server.Find(40), nullptr);
  EXPECT_NE(server.Find(41), nullptr);
}

// A ban or an unban reaches the file at once, through the refresh's merge: the file after each
// command of an operator.
TEST_F(SessionBansTest, BansAndUnbansReachTheFileAtOnce) {
  const std::int64_t inTwoHours = Now() + 7200;
  WriteBanFile("[old]\n7=" + std::to_string(inTwoHours) + "\n");
  TAdminTestServer& server = StartServer();
  TDedicatedSession& session = server.Session();
  struct Step {
    const char* what;
    std::function<void()> command;
    std::vector<std::string> file;
  };
  const std::vector<Step> steps = {
      {"a ban forever", [&] { session.BanClient(OrvNetId::FromValue(5), 0); },
       {Entry("", 5, 0), Entry("", 7, inTwoHours), Entry("old", 7, inTwoHours)}},
      // The file's later end wins, as at a refresh.
      {"a shorter ban of a client banned in the file", [&] { session.BanClient(OrvNetId::FromValue(7), 1); },
       {Entry("", 5, 0), Entry("", 7, inTwoHours), Entry("old", 7, inTwoHours)}},
      {"an unban of a key in two sections", [&] { session.UnbanClient(OrvNetId::FromValue(7)); }, {Entry("", 5, 0)}},
      {"the last unban", [&] { session.UnbanClient(OrvNetId::FromValue(5)); }, {}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.command();
    std::vector<std::string> expected = step.file;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FileEntries(), expected);
  }
  EXPECT_TRUE(Bans(session).empty());
}

// However long the list, a refresh, a ban or an unban rewrites the file once: rewriting it once per
// entry froze the server for seconds with tens of thousands of bans.
TEST_F(SessionBansTest, TheFileIsRewrittenOnceWhateverTheLengthOfTheList) {
  constexpr std::uint64_t kBans = 2000;
  const std::int64_t later = Now() + 7200;
  // Client 3's ban ended long ago: gone at the refresh, from both sections.
  std::string file = "3=1\n";
  for (std::uint64_t id = 10; id < 10 + kBans; ++id) file += std::to_string(id) + "=" + std::to_string(later) + "\n";
  // Written once the server has started, as a person edits it: the start's own refresh has run.
  TAdminTestServer& server = StartServer();
  TDedicatedSession& session = server.Session();
  WriteBanFile(file + "[old]\n3=1\n");
  struct Step {
    const char* what;
    std::function<void()> command;
    std::size_t rewrites;
    std::size_t entries;
  };
  const std::vector<Step> steps = {
      {"a refresh", [&] { session.RefreshBanList(); }, 1, kBans},
      {"a ban", [&] { session.BanClient(OrvNetId::FromValue(5), 0); }, 1, kBans + 1},
      {"an unban", [&] { session.UnbanClient(OrvNetId::FromValue(10)); }, 1, kBans},
      {"a refresh that changes nothing", [&] { session.RefreshBanList(); }, 0, kBans},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    OrvTest::TRecordedFileReplace calls;
    step.command();
    const auto renames = std::count_if(calls.Calls().begin(), calls.Calls().end(),
                                       [](const std::string& call) { return call.rfind("rename ", 0) == 0; });
    EXPECT_EQ(static_cast<std::size_t>(renames), step.rewrites);
    EXPECT_EQ(FileEntries().size(), step.entries);
  }
  EXPECT_EQ(Bans(session).size(), kBans);
}

// A ban outlives a restart that comes before the session is back in match making, and so does an
// unban.
TEST_F(SessionBansTest, BansAndUnbansOutliveARestartAtOnce) {
  {
    TAdminTestServer& server = StartServer();
    server.Session().BanClient(OrvNetId::FromValue(50), 0);
    server.Session().GetStateManager()->ChangeState(server.Session().CreateInitialState());
    server.Session().BanClient(OrvNetId::FromValue(51), 0);
    server.Session().BanClient(OrvNetId::FromValue(52), 0);
    server.Session().UnbanClient(OrvNetId::FromValue(50));
  }
  TAdminTestServer& restarted = StartServer();
  EXPECT_EQ(Bans(restarted.Session()), (TBanList{{51, 0}, {52, 0}}));
}

// A ban file that cannot be written is logged at level 2 with the key, the file and the system's
// reason; the list in memory still holds the change.
TEST_F(SessionBansTest, AFileThatCannotBeWrittenIsLogged) {
  struct Case {
    const char* what;
    const char* folder;  // made where a file should be
    std::function<void(TDedicatedSession&)> command;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"the ban file is a folder", TDedicatedSession::kBannedClientsIniFile,
       [](TDedicatedSession& session) { session.BanClient(OrvNetId::FromValue(5), 0); },
       "Failed to write banned_clients.ini (reason : Is a directory)"},
      {"the temporary copy of a ban cannot be made", "banned_clients.in~",
       [](TDedicatedSession& session) { session.BanClient(OrvNetId::FromValue(6), 0); },
       "Failed to write banned_clients.ini (reason : Is a directory)"},
      {"the temporary copy of an unban cannot be made", "banned_clients.in~",
       [](TDedicatedSession& session) { session.UnbanClient(OrvNetId::FromValue(4)); },
       "Failed to remove client 4 from banned_clients.ini (reason : Is a directory)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server_.reset();
    std::filesystem::remove_all(folder_.Path(TDedicatedSession::kBannedClientsIniFile));
    std::filesystem::remove_all(folder_.Path("banned_clients.in~"));
    WriteBanFile("4=0\n");
    TAdminTestServer& server = StartServer();
    std::filesystem::remove_all(folder_.Path(c.folder));
    std::filesystem::create_directory(folder_.Path(c.folder));
    c.command(server.Session());
    EXPECT_TRUE(Logged(c.line));
    EXPECT_EQ(LevelOf(c.line), 2);
  }
}

}  // namespace
}  // namespace Orvan::Dedicated
