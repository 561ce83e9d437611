// Fuzz target of the admin commands. Input: lines, a line feed between two; the first byte of a line
// picks who sends the rest by its value modulo 4: 0 the remote console (the text up to a NUL, as
// the console's packets carry it), 1 to 3 the admitted clients 12, 13 and 14. Each input runs on a
// server of its own, started as main starts it, with "WithHost=1" in "variables.ini": client 12 is
// the host, "admins.ini" gives 13 every right and 14 only letters that open nothing. Console lines
// go through the task's command registry, as the console hands them over; client lines to the
// session's client interpreter, while the client is admitted. After each line the game clock moves
// a second and the session takes a step, so a launch counts down and a game may start.
// Checked after each line: the console answered exactly once, with one of its replies, and the
// command counted as done exactly when it said "Ok." or listed the clients, one line each; no ban
// names anything but a client, and no admitted client is banned; the player limit is within 1 to
// 64, published as NbMaxPlayer and not below the number of clients; every property holds a value
// the session accepts; while a player is admitted exactly one player is the host. At the end the
// ban file, written by one more refresh, reads back as the ban list.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/console/console_command_registry.h"
#include "network/database/statistics_request.h"
#include "network/files/ini_profile.h"
#include "network/logging/network_hooks.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"
#include "support/in_process_server.h"
#include "support/manual_clock.h"

namespace {

using namespace Orvan;
using Orvan::Dedicated::TDedicatedUser;
using Orvan::Dedicated::TStrivexDedicatedSession;
using OrvTest::FuzzCheck;

void DropLog(int, const char*) {}

struct TClient {
  std::uint64_t id;
  const char* name;
};
// In admission order: the first is the host.
constexpr TClient kClients[] = {{12, "bob"}, {13, "bobby"}, {14, "alice"}};
const OrvTest::TInProcessServer::TFiles kFiles = {
    {"variables.ini", "WithHost=1\n"},
    {"admins.ini", "[Admins]\n13=lpskbu\n14=xyz\n"},
};

bool IsKnownReply(const std::string& reply) {
  static const char* const kReplies[] = {
      "Ok.",
      "Invalid command.",
      "Unknown command",
      "No player connected and ready to play",
      "Not enough parameters : setpvar USER_ID VARIABLE_NAME VARIABLE_VALUE",
      "Not enough parameters : setsvar VARIABLE_NAME VARIABLE_VALUE",
      "Not enough parameters : kick CLIENT_ID",
      "Not enough parameters : ban CLIENT_ID DELAY_IN_HOUR",
      "Not enough parameters : unban CLIENT_ID",
  };
  return std::any_of(std::begin(kReplies), std::end(kReplies), [&](const char* known) { return reply == known; });
}

constexpr char kClientList[] = "Client List :\n";

void RunConsoleLine(Dedicated::TMainServerTask& task, const Dedicated::TDedicatedSession& session,
                    const std::string& line) {
  OrvTest::TRecordingConsole console;
  const bool done = task.GetConsoleRegistry()->Dispatch(&console, TOrvString<char>(line.c_str()));
  FuzzCheck(console.printed.size() == 1, "the console answers each line once");
  const std::string& reply = console.printed.front();
  const bool list = reply.rfind(kClientList, 0) == 0;
  FuzzCheck(list || IsKnownReply(reply), "the reply is one of the console's");
  FuzzCheck(done == (list || reply == "Ok."), "a line is done exactly when the console says so");
  if (list) {
    const std::size_t lines = static_cast<std::size_t>(std::count(reply.begin(), reply.end(), '\n'));
    const std::uint32_t clients = session.GetAdmittedClientCount();
    FuzzCheck(clients == 0 ? reply == std::string(kClientList) + "Server is empty !" : lines == clients + 1,
              "the list holds one line per client");
  }
}

void CheckSession(TStrivexDedicatedSession& session) {
  for (const auto& ban : session.GetBans()) {
    FuzzCheck(ban.key.IsValid() && ban.key.IsClientId(), "only clients are banned");
    FuzzCheck(session.FindClientById(ban.key) == nullptr, "no banned client stays admitted");
  }
  const std::uint32_t limit = session.GetPlayerLimit();
  FuzzCheck(limit >= 1 && limit <= Dedicated::kMaxPlayerLimit, "the player limit stays within 1 to 64");
  FuzzCheck(session.GetAdmittedClientCount() <= limit, "no more clients than the limit");
  Dedicated::TDedicatedPropertyTable* table = session.GetPropertyTable();
  FuzzCheck(table->GetValue("NbMaxPlayer") == TOrvString<char>(std::to_string(limit).c_str()),
            "NbMaxPlayer publishes the player limit");
  for (const auto& property : table->GetProperties()) {
    FuzzCheck(session.ValidatePropertyValue(property.key, property.value->GetValue()),
              "every property holds a value the session accepts");
  }
  int hosts = 0;
  bool player = false;
  for (const TDedicatedUser* client : session.GetClients()) {
    hosts += client->IsHost() ? 1 : 0;
    player = player || !client->IsSpectator();
  }
  FuzzCheck(hosts == (player ? 1 : 0), "one player is the host while players are admitted");
}

// The file the refresh wrote holds each ban's end under its id, outside any section.
void CheckBanFile(const TStrivexDedicatedSession& session) {
  for (const auto& ban : session.GetBans()) {
    char end[32];
    ServerTools::TIniProfile::IniGetString(nullptr, ban.key.ToString().c_str(), "", end, sizeof(end),
                                           Dedicated::TDedicatedSession::kBannedClientsIniFile);
    FuzzCheck(std::to_string(ban.value) == end, "the ban file holds every ban's end");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  Network::SetNetworkLogHandler(&DropLog);
  // Game time moves a second per line, whatever the machine does.
  static OrvTest::TManualClock clock;

  OrvTest::TInProcessServer server(kFiles);
  TStrivexDedicatedSession& session = server.Session();
  std::vector<TDedicatedUser*> clients;
  for (const TClient& client : kClients) {
    Dedicated::TUserStatisticsDocuments statistics;
    Network::SetDocumentField(statistics.FindOrInsert(0), "@name", client.name);
    clients.push_back(OrvTest::AdmitWithStatistics(session, nullptr, client.id, statistics));
    FuzzCheck(clients.back() != nullptr, "the client is admitted");
  }
  FuzzCheck(clients.front()->IsHost(), "the first client is the host");
  CheckSession(session);

  const std::string input(reinterpret_cast<const char*>(data), size);
  std::size_t at = 0;
  while (at < input.size()) {
    std::size_t end = input.find('\n', at);
    if (end == std::string::npos) end = input.size();
    const std::string line = input.substr(at, end - at);
    at = end + 1;
    if (line.empty()) continue;
    const std::string command = line.substr(1);
    const unsigned sender = static_cast<unsigned char>(line[0]) % 4;
    if (sender == 0) {
      RunConsoleLine(server.Task(), session, command.substr(0, command.find('\0')));
    } else {
      const Network::OrvNetId id = Network::OrvNetId::FromValue(kClients[sender - 1].id);
      if (TDedicatedUser* client = session.FindClientById(id)) {
        session.ExecuteClientCommand(client,
                                     TOrvString<char>(command.data(), static_cast<std::uint32_t>(command.size())));
      }
    }
    CheckSession(session);
    OrvTest::TManualClock::AdvanceMilliseconds(1000.0);
    session.Update();
    CheckSession(session);
  }

  session.RefreshBanList();
  CheckSession(session);
  CheckBanFile(session);
  return 0;
}
