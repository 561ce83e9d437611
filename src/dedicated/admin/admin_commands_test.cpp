// The admin commands in process: the console's lines and replies, the clients' commands by their
// rights and the host role, and the alliance change rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "support/admin_test_server.h"
#include "support/dedicated_test_helpers.h"

namespace Orvan::Dedicated {
namespace {

using Network::OrvNetId;
using OrvTest::TAdminTestServer;

using TLines = std::vector<std::string>;

bool Has(const TLines& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

std::string Disconnected(std::uint64_t id, const char* reason) {
  return "Disconnecting client " + std::to_string(id) + " with IP 127.0.0.1:5000 (reason : " + reason + ")";
}

// Whether some client was disconnected, whoever it was.
bool AnyDisconnected(const TLines& lines) {
  return std::any_of(lines.begin(), lines.end(),
                     [](const std::string& line) { return line.rfind("Disconnecting client ", 0) == 0; });
}

struct TClient {
  std::uint64_t id;
  const char* name;
  bool spectator;
};

class AdminCommandsTest : public OrvTest::TDedicatedTest {
 protected:
  void TearDown() override {
    server_.reset();
    TDedicatedTest::TearDown();
  }
  // A server of its own: without the bans an earlier one wrote to the working folder's ban file.
  TAdminTestServer& StartServer(const std::vector<TClient>& clients = {}) {
    server_.reset();
    std::remove(folder_.Path(TDedicatedSession::kBannedClientsIniFile).c_str());
    server_ = std::make_unique<TAdminTestServer>();
    for (const TClient& client : clients) {
      EXPECT_NE(server_->Admit(client.id, client.name, client.spectator), nullptr);
    }
    return *server_;
  }

  std::unique_ptr<TAdminTestServer> server_;
};

const std::vector<TClient> kPlayers = {{12, "alice", false}, {13, "bobby", false}, {14, "bob", false}};
const std::vector<TClient> kSpectators = {{12, "alice", true}, {13, "bobby", true}};

// Each line on a server of its own, with the clients given: the reply, and what the line did.
TEST_F(AdminCommandsTest, ConsoleLinesAndReplies) {
  using TCheck = std::function<void(TAdminTestServer&, const TLines&)>;
  struct Case {
    std::vector<TClient> clients;
    std::function<void(TAdminTestServer&)> before;
    std::string line;
    std::string reply;
    TCheck check;
  };
  const TCheck launched = [](TAdminTestServer&, const TLines& lines) { EXPECT_TRUE(Has(lines, "Launch game")); };
  const TCheck notLaunched = [](TAdminTestServer&, const TLines& lines) { EXPECT_FALSE(Has(lines, "Launch game")); };
  const TCheck nobodyGone = [](TAdminTestServer& server, const TLines& lines) {
    EXPECT_FALSE(AnyDisconnected(lines));
    EXPECT_EQ(server.Session().GetAdmittedClientCount(), 3u);
  };
  const TCheck noBan = [](TAdminTestServer& server, const TLines&) {
    EXPECT_TRUE(server.Session().GetBans().IsEmpty());
  };
  const auto maxPlayers = [](const char* value) {
    return TCheck(
        [value](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Property("NbMaxPlayer"), value); });
  };
  const auto banned = [](std::uint64_t id, std::int64_t end) {
    return [id, end](TAdminTestServer& server) { server.Session().SetBan(OrvNetId::FromValue(id), end); };
  };
  const char kSetpvarUsage[] = "Not enough parameters : setpvar USER_ID VARIABLE_NAME VARIABLE_VALUE";
  const char kSetsvarUsage[] = "Not enough parameters : setsvar VARIABLE_NAME VARIABLE_VALUE";
  const char kKickUsage[] = "Not enough parameters : kick CLIENT_ID";
  const char kBanUsage[] = "Not enough parameters : ban CLIENT_ID DELAY_IN_HOUR";
  const char kUnbanUsage[] = "Not enough parameters : unban CLIENT_ID";
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));

  const std::vector<Case> cases = {
      {{}, nullptr, "launch", "No player connected and ready to play", notLaunched},
      {kSpectators, nullptr, "launch", "No player connected and ready to play", notLaunched},
      {kPlayers, nullptr, "launch", "Ok.", launched},
      {kPlayers, nullptr, "launch ", "Invalid command.", notLaunched},
      {kPlayers, nullptr, "cancel_launch", "Ok.",
       [](TAdminTestServer&, const TLines& lines) { EXPECT_TRUE(Has(lines, "Canceling launch game")); }},
      // Blanks in a row separate once: two tokens.
      {kPlayers, nullptr, "kick  12", "Ok.",
       [](TAdminTestServer& server, const TLines& lines) {
         EXPECT_TRUE(Has(lines, Disconnected(12, "Kicked")));
         EXPECT_EQ(server.Find(12), nullptr);
       }},
      {kPlayers, nullptr, "kick 12 13", kKickUsage, nobodyGone},
      {kPlayers, nullptr, "kick", kKickUsage, nobodyGone},
      // A name: the first client, in order of admission, whose name holds it.
      {kPlayers, nullptr, "kick bob", "Ok.",
       [](TAdminTestServer& server, const TLines& lines) {
         EXPECT_TRUE(Has(lines, Disconnected(13, "Kicked")));
         EXPECT_NE(server.Find(14), nullptr);
       }},
      {kPlayers, nullptr, "kick 99", "Ok.", nobodyGone},
      {kPlayers, nullptr, "kick nobody", "Ok.", nobodyGone},
      // A ban takes digits only: no names, no signs.
      {kPlayers, nullptr, "ban bob 2", "Ok.", noBan},
      {kPlayers, nullptr, "ban +12 2", "Ok.", noBan},
      {kPlayers, nullptr, "ban 12", kBanUsage, noBan},
      // Hours are decimal digits: a word or a sign is a usage error, not a ban forever.
      {kPlayers, nullptr, "ban 12 one", kBanUsage, noBan},
      {kPlayers, nullptr, "ban 12 -1", kBanUsage, noBan},
      {kPlayers, nullptr, "ban 12 +2", kBanUsage, noBan},
      {kPlayers, nullptr, "ban 12 2h", kBanUsage, noBan},
      {kPlayers, nullptr, "ban 12 0", "Ok.",
       [](TAdminTestServer& server, const TLines& lines) {
         const auto* ban = server.Session().GetBans().Find(OrvNetId::FromValue(12));
         ASSERT_NE(ban, nullptr);
         EXPECT_EQ(ban->value, 0);
         EXPECT_TRUE(Has(lines, "Client 12 has been banned forever"));
       }},
      {kPlayers, nullptr, "ban 12 2", "Ok.",
       [now](TAdminTestServer& server, const TLines& lines) {
         const auto* ban = server.Session().GetBans().Find(OrvNetId::FromValue(12));
         ASSERT_NE(ban, nullptr);
         EXPECT_GE(ban->value, now + 7200);
         EXPECT_LE(ban->value, static_cast<std::int64_t>(std::time(nullptr)) + 7200);
         EXPECT_TRUE(Has(lines, "Client 12 has been banned during 2 hours"));
         EXPECT_TRUE(Has(lines, Disconnected(12, "BannedFromDedicatedServer")));
       }},
      {kPlayers, nullptr, "setpvar 12 PlayerName \"A B\"", "Ok.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Variable(12, "PlayerName"), "A B"); }},
      // One quote is no pair of quotes.
      {kPlayers, nullptr, "setpvar 12 PlayerName \"", "Ok.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Variable(12, "PlayerName"), "\""); }},
      {kPlayers, nullptr, "setpvar bobby PlayerName Robert", "Ok.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Variable(13, "PlayerName"), "Robert"); }},
      {kPlayers, nullptr, "setpvar 99 PlayerName x", "Ok.", nullptr},
      {kPlayers, nullptr, "setpvar 12 PlayerName", kSetpvarUsage,
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Variable(12, "PlayerName"), "alice"); }},
      {kPlayers, nullptr, "setpvar nobody PlayerName x", kSetpvarUsage, nullptr},
      {kPlayers, nullptr, "setpvar", kSetpvarUsage, nullptr},
      {{}, nullptr, "setsvar NbMaxPlayer 100", "Ok.", maxPlayers("64")},
      // Beyond 32 bits, or negative, the number is refused rather than clamped.
      {{},
       nullptr,
       "setsvar NbMaxPlayer 4294967298",
       "Ok.",
       [](TAdminTestServer& server, const TLines& lines) {
         EXPECT_EQ(server.Property("NbMaxPlayer"), "20");
         EXPECT_TRUE(Has(lines, "Variable NbMaxPlayer not set to \"4294967298\" (reason : invalid value)"));
       }},
      {{}, nullptr, "setsvar NbMaxPlayer 0", "Ok.", maxPlayers("64")},
      {{}, nullptr, "setsvar NbMaxPlayer 8", "Ok.", maxPlayers("8")},
      {{}, nullptr, "setsvar", kSetsvarUsage, maxPlayers("20")},
      {{}, nullptr, "setsvar ", kSetsvarUsage, maxPlayers("20")},
      {{},
       [](TAdminTestServer& server) { server.SetProperty("Password", "secret"); },
       "setsvar Password",
       "Ok.",
       [](TAdminTestServer& server, const TLines&) {
         EXPECT_EQ(server.Property("Password"), "");
         EXPECT_EQ(server.Property("NeedPassword"), "0");
       }},
      {{},
       [](TAdminTestServer& server) { server.SetProperty("Password", "secret"); },
       "setsvar Password ",
       "Ok.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Property("Password"), ""); }},
      {{},
       nullptr,
       "setsvar ServerName My Own Server",
       "Ok.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Property("ServerName"), "My Own Server"); }},
      // The table refuses what the console may not change; the reply is the same.
      {{},
       nullptr,
       "setsvar NbPlayer 5",
       "Ok.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Property("NbPlayer"), "0"); }},
      {{},
       nullptr,
       "setsvar LoadingTimeMax 59",
       "Ok.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Property("LoadingTimeMax"), "120"); }},
      {{}, nullptr, "display_all_clients", "Client List :\nServer is empty !", nullptr},
      {kPlayers, nullptr, "display_all_clients", "Client List :\n12 alice\n13 bobby\n14 bob\n", nullptr},
      {{},
       banned(12, 0),
       "unban 12",
       "Ok.",
       [](TAdminTestServer& server, const TLines& lines) {
         EXPECT_TRUE(server.Session().GetBans().IsEmpty());
         EXPECT_TRUE(Has(lines, "Client 12 has been unbanned"));
       }},
      {{},
       banned(12, 0),
       "unban",
       "Invalid command.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Session().GetBans().Count(), 1u); }},
      {{},
       banned(12, 0),
       "unban 12 13",
       kUnbanUsage,
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Session().GetBans().Count(), 1u); }},
      {{},
       banned(12, 0),
       "unban -12",
       "Ok.",
       [](TAdminTestServer& server, const TLines&) { EXPECT_EQ(server.Session().GetBans().Count(), 1u); }},
      {{}, nullptr, "Launch", "Invalid command.", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("line \"" + c.line + "\"");
    TAdminTestServer& server = StartServer(c.clients);
    if (c.before) c.before(server);
    const std::size_t from = Lines().size();
    OrvTest::TRecordingConsole console;
    server.Session().ExecuteRConCommand(c.line.c_str(), &console);
    const TLines lines = LinesFrom(from);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "RCon request command : " + c.line);
    EXPECT_EQ(console.printed, std::vector<std::string>{c.reply});
    if (c.check) c.check(server, lines);
  }
}

// A line holding a NUL byte is refused by both interpreters, whatever its words: compared up to the
// NUL, "setsvar NbMaxPlayer<NUL>x 5" once set the published NbMaxPlayer without the player limit.
// The log lines show the NUL as a backslash and a zero.
TEST_F(AdminCommandsTest, LinesHoldingANulByteAreRefused) {
  WriteFile("admins.ini", "22=lpskbu\n");
  const std::string nul(1, '\0');
  const std::vector<std::string> lines = {
      "setsvar NbMaxPlayer" + nul + "x 5",
      "setsvar NbMaxPlayer 5" + nul,
      "setsvar ServerName a" + nul + "b",
      "setpvar 12 PlayerName a" + nul + "b",
      "kick 12" + nul,
      "ban 12 1" + nul,
      "launch" + nul,
      nul,
  };
  // The log writes a NUL as any other control byte.
  const auto shown = [](std::string line) {
    for (std::size_t at = 0; (at = line.find('\0', at)) != std::string::npos; at += 4) line.replace(at, 1, "\\x00");
    return line;
  };
  for (const std::string& line : lines) {
    SCOPED_TRACE("line \"" + shown(line) + "\"");
    TAdminTestServer& server = StartServer({{12, "alice", false}, {22, "admin", false}});
    const TOrvString<char> text(line.data(), static_cast<std::uint32_t>(line.size()));
    std::size_t from = Lines().size();
    OrvTest::TRecordingConsole console;
    EXPECT_FALSE(server.Session().ExecuteRConCommand(text, &console));
    EXPECT_EQ(console.printed, std::vector<std::string>{"Invalid command."});
    EXPECT_EQ(LinesFrom(from).front(), "RCon request command : " + shown(line));

    from = Lines().size();
    server.Session().ExecuteClientCommand(server.Find(22), text);
    const TLines clientLines = LinesFrom(from);
    ASSERT_FALSE(clientLines.empty());
    EXPECT_EQ(clientLines.front(), "Client 22 request command : " + shown(line));
    EXPECT_TRUE(Has(clientLines, "Invalid command received from client 22 : " + shown(line)));

    // Nothing was carried out by either.
    EXPECT_FALSE(AnyDisconnected(clientLines));
    EXPECT_NE(server.Find(12), nullptr);
    EXPECT_TRUE(server.Session().GetBans().IsEmpty());
    EXPECT_EQ(server.Property("NbMaxPlayer"), "20");
    EXPECT_EQ(server.Session().GetPlayerLimit(), 20u);
    EXPECT_EQ(server.Property("ServerName"), "Default Server Name");
    EXPECT_EQ(server.Variable(12, "PlayerName"), "alice");
    EXPECT_FALSE(Has(clientLines, "Launch game"));
  }
}

// The numbers the session reads from its properties, through "variables.ini" and through the
// console alike: a negative or oversized number is refused with its line (the default stays), the
// player and time properties are held to what a game can use, and a text without digits counts as
// 0. Values that once stalled the session for good: NbMinPlayer -1 (no game ever launched) and a
// WarmupCountdown of 20 digits.
TEST_F(AdminCommandsTest, PropertyNumbersThroughVariablesIniAndTheConsole) {
  struct TCase {
    const char* name;
    const char* value;
    const char* after;  // null: refused, the default stays
  };
  const TCase cases[] = {
      {"NbMinPlayer", "-1", nullptr},
      {"NbMinPlayer", "65", nullptr},
      {"NbMinPlayer", "4294967295", nullptr},
      {"NbMinPlayer", "64", "64"},
      {"NbMinPlayer", "0", "0"},
      {"NbMinPlayer", "none", "none"},  // counts as 0
      {"WarmupCountdown", "-1", nullptr},
      {"WarmupCountdown", "99999999999999999999", nullptr},
      {"WarmupCountdown", "86400", "86400"},
      {"WarmupCountdown", "86401", nullptr},
      {"WarmupCountdown", "ten", nullptr},  // 0: below the shortest warm-up
      {"DeploiementTimeMax", "-10", nullptr},
      {"DeploiementTimeMax", "86400", "86400"},
      {"LoadingTimeMax", "86401", nullptr},
      {"LoadingTimeMax", "60", "60"},
      {"DebriefingTimeMax", "0", "0"},
      {"DebriefingTimeMax", "-1", nullptr},
      {"DebriefingTimeMax", "100000", nullptr},
      {"TimeLimit", "0", "0"},
      {"TimeLimit", "86400", "86400"},
      {"TimeLimit", "4294967295", "4294967295"},
      {"TimeLimit", "86401", nullptr},
      {"TimeLimit", "4294967296", nullptr},
      {"TimeLimit", "-1", nullptr},
      {"IncomeRate", "-1", nullptr},
      {"IncomeRate", "0", "0"},
      {"NbMaxPlayer", "-1", nullptr},
      {"NbMaxPlayer", "99999999999", nullptr},
      {"NbMaxPlayer", "100", "64"},
      {"NbMaxPlayer", "7", "7"},
      // Only the numbers the session reads are checked: the constraints are signed, -1 for none.
      {"NationConstraint", "-2", "-2"},
  };
  const std::map<std::string, std::string> kDefaults = {
      {"NbMinPlayer", "10"},      {"WarmupCountdown", "120"}, {"DeploiementTimeMax", "120"},
      {"LoadingTimeMax", "120"},  {"DebriefingTimeMax", "30"}, {"TimeLimit", "1200"},
      {"IncomeRate", "3"},        {"NbMaxPlayer", "20"},      {"NationConstraint", "-1"}};
  for (const TCase& c : cases) {
    for (const bool console : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + "=" + c.value + (console ? " from the console" : " in variables.ini"));
      WriteFile("variables.ini", console ? "" : std::string(c.name) + "=" + c.value + "\n");
      const std::size_t from = Lines().size();
      TAdminTestServer& server = StartServer();
      if (console) {
        OrvTest::TRecordingConsole reply;
        server.Session().ExecuteRConCommand((std::string("setsvar ") + c.name + " " + c.value).c_str(), &reply);
        EXPECT_EQ(reply.printed, std::vector<std::string>{"Ok."});
      }
      const std::string refusal = std::string("Variable ") + c.name + " not set to \"" + c.value +
                                  "\" (reason : invalid value)";
      EXPECT_EQ(Has(LinesFrom(from), refusal), c.after == nullptr);
      EXPECT_EQ(server.Property(c.name), c.after != nullptr ? c.after : kDefaults.at(c.name));
    }
  }
}

// The list goes out as one reply, however long: the console cuts it into packets.
TEST_F(AdminCommandsTest, ClientListLongerThanAConsolePacket) {
  TAdminTestServer& server = StartServer();
  server.Session().SetNbMaxPlayer(64, false, false, false, true);
  std::string expected = "Client List :\n";
  const std::string name(80, 'n');
  for (std::uint64_t id = 1; id <= 64; ++id) {
    ASSERT_NE(server.Admit(id, name.c_str()), nullptr);
    expected += std::to_string(id) + " " + name + "\n";
  }
  ASSERT_GT(expected.size(), 4094u);
  OrvTest::TRecordingConsole console;
  server.Session().ExecuteRConCommand("display_all_clients", &console);
  EXPECT_EQ(console.printed, std::vector<std::string>{expected});
}

// One server, one line after the other, from clients with rights from "admins.ini" or the host role:
// what each line did, and whether it was accepted, rejected or invalid.
TEST_F(AdminCommandsTest, ClientCommandsByRightsAndHost) {
  WriteFile("variables.ini", "WithHost=1\nNbMinPlayer=50\n");
  WriteFile("admins.ini", "20=l\n21=p\n22=s\n23=k\n[more]\n24=b\n25=u\n26=xyz\n");
  TAdminTestServer& server = StartServer();
  // 10 is the host; 30 to 34 hold no right.
  for (const std::uint64_t id : {10, 20, 21, 22, 23, 24, 25, 26, 30, 31, 32, 33, 34}) {
    ASSERT_NE(server.Admit(id, ("p" + std::to_string(id)).c_str()), nullptr);
  }
  ASSERT_TRUE(server.Find(10)->IsHost());

  enum Outcome { kAccepted, kRejected, kInvalid };
  using TCheck = std::function<void(const TLines&)>;
  struct Step {
    std::uint64_t sender;
    std::string line;
    Outcome outcome;
    TCheck check;
  };
  const auto logged = [](const char* line) {
    return TCheck([line](const TLines& lines) { EXPECT_TRUE(Has(lines, line)); });
  };
  const auto notLogged = [](const char* line) {
    return TCheck([line](const TLines& lines) { EXPECT_FALSE(Has(lines, line)); });
  };
  const auto variable = [&server](std::uint64_t id, const char* name, const char* value) {
    return TCheck([&server, id, name, value](const TLines&) { EXPECT_EQ(server.Variable(id, name), value); });
  };
  const auto property = [&server](const char* name, const char* value) {
    return TCheck([&server, name, value](const TLines&) { EXPECT_EQ(server.Property(name), value); });
  };
  const auto gone = [&server](std::uint64_t id, const char* reason) {
    return TCheck([&server, id, reason](const TLines& lines) {
      EXPECT_TRUE(Has(lines, Disconnected(id, reason)));
      EXPECT_EQ(server.Find(id), nullptr);
    });
  };
  const TCheck nobodyGone = [](const TLines& lines) { EXPECT_FALSE(AnyDisconnected(lines)); };
  const auto ban = [&server](std::uint64_t id, bool present) {
    return TCheck([&server, id, present](const TLines&) {
      EXPECT_EQ(server.Session().GetBans().Find(OrvNetId::FromValue(id)) != nullptr, present);
    });
  };

  const std::vector<Step> steps = {
      {30, "launch", kRejected, notLogged("Launch game")},
      {26, "launch", kRejected, notLogged("Launch game")},
      {10, "launch", kAccepted, logged("Launch game")},
      {30, "cancel_launch", kRejected, notLogged("Canceling launch game")},
      {20, "cancel_launch", kAccepted, logged("Canceling launch game")},
      {20, "launch", kAccepted, logged("Launch game")},
      {20, "launch ", kInvalid, notLogged("Launch game")},
      // setpvar: oneself by the variable's own flag; another only as host or with 'p'.
      {30, "setpvar 30 PlayerDeckName mine", kAccepted, variable(30, "PlayerDeckName", "mine")},
      {30, "setpvar 31 PlayerDeckName mine", kRejected, variable(31, "PlayerDeckName", "")},
      {30, "setpvar 30 PlayerName me", kAccepted, variable(30, "PlayerName", "p30")},
      {21, "setpvar 31 PlayerName \"x y\"", kAccepted, variable(31, "PlayerName", "\"x y\"")},
      {21, "setpvar 31 PlayerDeckName theirs", kAccepted, variable(31, "PlayerDeckName", "theirs")},
      // The host may address another client, but no player variable opens to the host role.
      {10, "setpvar 32 PlayerDeckName hosts", kAccepted, variable(32, "PlayerDeckName", "")},
      {30, "setpvar 99 PlayerDeckName x", kRejected, nullptr},
      {30, "setpvar 30 PlayerDeckName", kInvalid, nullptr},
      {30, "setpvar nobody PlayerDeckName x", kInvalid, nullptr},
      // setsvar: accepted either way; the properties' flags decide.
      {30, "setsvar ServerName theirs", kAccepted, property("ServerName", "Default Server Name")},
      {30, "setsvar NbMaxPlayer 2", kAccepted,
       [&](const TLines& lines) {
         EXPECT_EQ(server.Property("NbMaxPlayer"), "20");
         nobodyGone(lines);
       }},
      {22, "setsvar ServerName admins", kAccepted, property("ServerName", "admins")},
      {10, "setsvar ServerName hosts", kAccepted, property("ServerName", "hosts")},
      {10, "setsvar WarmupCountdown 30", kAccepted, property("WarmupCountdown", "120")},
      {22, "setsvar WarmupCountdown 30", kAccepted, property("WarmupCountdown", "30")},
      {30, "setsvar", kInvalid, nullptr},
      // kick
      {30, "kick 31", kRejected, nobodyGone},
      {10, "kick 31", kRejected, nobodyGone},
      {26, "kick 31", kRejected, nobodyGone},
      {30, "kick", kInvalid, nobodyGone},
      {23, "kick nobody", kInvalid, nobodyGone},
      {23, "kick 99", kAccepted, nobodyGone},
      {23, "kick 31 and more", kAccepted, gone(31, "Kicked")},
      {23, "kick p32", kAccepted, gone(32, "Kicked")},
      // ban
      {30, "ban 33 1", kRejected, ban(33, false)},
      {24, "ban 33", kInvalid, ban(33, false)},
      {24, "ban p33 1", kInvalid, ban(33, false)},
      {24, "ban +33 1", kInvalid, ban(33, false)},
      {24, "ban 33 one", kInvalid, ban(33, false)},
      {24, "ban 33 -1", kInvalid, ban(33, false)},
      {24, "ban 33 1", kAccepted,
       [&](const TLines& lines) {
         ban(33, true)(lines);
         gone(33, "BannedFromDedicatedServer")(lines);
       }},
      // unban
      {30, "unban 33", kRejected, ban(33, true)},
      {25, "unban", kInvalid, ban(33, true)},
      {25, "unban 33 1", kInvalid, ban(33, true)},
      {25, "unban 33", kAccepted, ban(33, false)},
      // A client may kick itself; the log line still names it.
      {23, "kick 23", kAccepted, gone(23, "Kicked")},
      {30, "hello", kInvalid, nullptr},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE("client " + std::to_string(step.sender) + " \"" + step.line + "\"");
    TDedicatedUser* sender = server.Find(step.sender);
    ASSERT_NE(sender, nullptr);
    const std::size_t from = Lines().size();
    server.Session().ExecuteClientCommand(sender, step.line.c_str());
    const TLines lines = LinesFrom(from);
    const std::string id = std::to_string(step.sender);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Client " + id + " request command : " + step.line);
    const std::string rejected =
        "Command received from client " + id + " rejected (reason : not enough right) : " + step.line;
    const std::string invalid = "Invalid command received from client " + id + " : " + step.line;
    EXPECT_EQ(Has(lines, rejected), step.outcome == kRejected);
    EXPECT_EQ(Has(lines, invalid), step.outcome == kInvalid);
    if (step.check) step.check(lines);
  }
}

// Moves between the two alliances keep them within DeltaMaxTeamSize of each other, unless the move
// narrows the gap, and within MaxTeamSize.
TEST_F(AdminCommandsTest, AllianceChanges) {
  TAdminTestServer& server = StartServer();
  // Alliance 0: ids 1 to 3; alliance 1: ids 4 to 8; then 9 in alliance 3 and 10 in -1.
  const std::vector<std::pair<std::uint64_t, const char*>> members = {
      {1, "0"}, {2, "0"}, {3, "0"}, {4, "1"}, {5, "1"}, {6, "1"}, {7, "1"}, {8, "1"}, {9, "3"}, {10, "-1"}};
  for (const auto& [id, alliance] : members) {
    TDedicatedUser* user = server.Admit(id);
    ASSERT_NE(user, nullptr);
    user->SetUserVariable("PlayerAlliance", alliance, false, false, false, true);
  }
  struct Case {
    const char* delta;
    const char* maxTeamSize;
    std::uint64_t user;
    const char* alliance;
    bool allowed;
  };
  const std::vector<Case> cases = {
      // Three against five, one of the three moving: 2 against 6, a gap of 4 where there was 2.
      {"1", "10", 1, "1", false},
      {"10", "10", 1, "1", true},
      {"3", "10", 1, "1", false},
      {"4", "10", 1, "1", true},
      // No bound below 1.
      {"0", "10", 1, "1", true},
      {"-5", "10", 1, "1", true},
      // The sixth member of a team of at most five.
      {"10", "5", 1, "1", false},
      {"10", "6", 1, "1", true},
      {"10", "0", 1, "1", true},
      // Narrowing the gap is always fine, even beyond the bound.
      {"1", "10", 4, "0", true},
      {"10", "10", 1, "0", false},
      {"10", "10", 1, "2", false},
      {"10", "10", 1, "-1", false},
      {"10", "10", 1, "x", false},
      // Outside the two alliances: free to join either.
      {"1", "1", 9, "0", true},
      {"1", "1", 10, "1", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("delta ") + c.delta + ", max " + c.maxTeamSize + ", client " + std::to_string(c.user) +
                 " to " + c.alliance);
    server.SetProperty("DeltaMaxTeamSize", c.delta);
    server.SetProperty("MaxTeamSize", c.maxTeamSize);
    EXPECT_EQ(server.Session().CanChangeAlliance(server.Find(c.user), c.alliance), c.allowed);
  }

  // Through the client's own setpvar: a refusal is accepted as a command and changes nothing.
  server.SetProperty("DeltaMaxTeamSize", "1");
  server.SetProperty("MaxTeamSize", "10");
  server.Session().ExecuteClientCommand(server.Find(1), "setpvar 1 PlayerAlliance 1");
  EXPECT_EQ(server.Variable(1, "PlayerAlliance"), "0");
  EXPECT_FALSE(Logged("Invalid command received from client 1 : setpvar 1 PlayerAlliance 1"));
  server.SetProperty("DeltaMaxTeamSize", "10");
  server.Session().ExecuteClientCommand(server.Find(1), "setpvar 1 PlayerAlliance 1");
  EXPECT_EQ(server.Variable(1, "PlayerAlliance"), "1");
}

}  // namespace
}  // namespace Orvan::Dedicated
