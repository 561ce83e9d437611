// Fuzz target of the readers of the server's configuration files. Input: the contents of
// "variables.ini", "admins.ini", "banned_clients.ini" and "login.ini", in this order, a NUL between
// two; a file whose part is left out is absent. Each input starts a server of its own over them as
// main starts it: the task reads "login.ini", the session "variables.ini" and "admins.ini", and
// entering match making merges the ban file into the ban list and writes it back.
// Checked: the login and the key are the last "login" and "dedicated_key" keys of "login.ini" (names
// matched exactly, in any section); the file adds no property, and every property holds a value
// the session accepts, NbMaxPlayer the player limit within 1 to 64; every admin is a client with a
// right; every ban is a client's, running or forever, and stands under its id outside any section
// of the file; a second refresh changes neither the list nor the file.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/files/ini_profile.h"
#include "network/logging/network_hooks.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"
#include "support/in_process_server.h"

namespace {

using namespace Orvan;
using Orvan::Dedicated::TDedicatedSession;
using Orvan::Dedicated::TStrivexDedicatedSession;
using OrvTest::FuzzCheck;

void DropLog(int, const char*) {}

constexpr const char* kFileNames[] = {Dedicated::kVariablesIniFile, Dedicated::kAdminsIniFile,
                                      TDedicatedSession::kBannedClientsIniFile, Dedicated::kLoginIniFile};

// The number of properties this game's session declares, without any file.
std::uint32_t DeclaredPropertyCount() {
  static const std::uint32_t count = [] {
    OrvTest::TInProcessServer bare({});
    return bare.Session().GetPropertyTable()->GetCount();
  }();
  return count;
}

struct TLoginModel {
  std::string login;
  std::string key;
};

int ReadLoginModel(const char* /*section*/, const char* key, const char* value, void* userData) {
  auto& model = *static_cast<TLoginModel*>(userData);
  if (std::strcmp(key, "login") == 0) model.login = value;
  if (std::strcmp(key, "dedicated_key") == 0) model.key = value;
  return 1;
}

void CheckLogin(const Dedicated::TMainServerTask& task, bool fileGiven) {
  TLoginModel model;
  if (fileGiven) ServerTools::TIniProfile::IniBrowse(&ReadLoginModel, &model, Dedicated::kLoginIniFile);
  FuzzCheck(model.login == task.GetLogin().c_str(), "the login is the file's last login key");
  FuzzCheck(model.key == task.GetKey().c_str(), "the key is the file's last dedicated_key key");
}

void CheckProperties(TStrivexDedicatedSession& session, std::uint32_t declared) {
  Dedicated::TDedicatedPropertyTable* table = session.GetPropertyTable();
  FuzzCheck(table->GetCount() == declared, "the file declares no property");
  for (const auto& property : table->GetProperties()) {
    FuzzCheck(session.ValidatePropertyValue(property.key, property.value->GetValue()),
              "every property holds a value the session accepts");
  }
  const std::uint32_t limit = session.GetPlayerLimit();
  FuzzCheck(limit >= 1 && limit <= Dedicated::kMaxPlayerLimit, "the player limit stays within 1 to 64");
  FuzzCheck(table->GetValue("NbMaxPlayer") == TOrvString<char>(std::to_string(limit).c_str()),
            "NbMaxPlayer publishes the player limit");
}

void CheckAdmins(const TDedicatedSession& session) {
  for (const auto& admin : session.GetAdmins()) {
    FuzzCheck(admin.key.IsValid() && admin.key.IsClientId() && admin.key.GetValue() != 0, "every admin is a client");
    bool any = false;
    for (char letter = 'a'; letter <= 'z'; ++letter) any = any || session.HasAdminRight(admin.key, letter);
    FuzzCheck(any, "every admin holds a right");
  }
}

using TBanList = std::vector<std::pair<std::uint64_t, std::int64_t>>;

TBanList Bans(const TDedicatedSession& session) {
  TBanList bans;
  for (const auto& ban : session.GetBans()) bans.emplace_back(ban.key.GetValue(), ban.value);
  return bans;
}

void CheckBans(TStrivexDedicatedSession& session, const OrvTest::TInProcessServer& server) {
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  for (const auto& ban : session.GetBans()) {
    FuzzCheck(ban.key.IsValid() && ban.key.IsClientId(), "only clients are banned");
    FuzzCheck(ban.value == 0 || ban.value >= now, "no ban that ended is kept");
    char end[32];
    ServerTools::TIniProfile::IniGetString(nullptr, ban.key.ToString().c_str(), "", end, sizeof(end),
                                           TDedicatedSession::kBannedClientsIniFile);
    FuzzCheck(std::to_string(ban.value) == end, "the ban file holds every ban's end outside any section");
  }
  const TBanList before = Bans(session);
  const std::string file = server.ReadFile(TDedicatedSession::kBannedClientsIniFile);
  session.RefreshBanList();
  FuzzCheck(Bans(session) == before, "a second refresh keeps the ban list");
  FuzzCheck(server.ReadFile(TDedicatedSession::kBannedClientsIniFile) == file, "a second refresh keeps the file");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  Network::SetNetworkLogHandler(&DropLog);

  OrvTest::TInProcessServer::TFiles files;
  std::size_t at = 0;
  for (const char* name : kFileNames) {
    if (at > size) break;
    const auto* begin = reinterpret_cast<const char*>(data) + at;
    const auto* nul = static_cast<const char*>(std::memchr(begin, 0, size - at));
    const std::size_t length = nul != nullptr ? static_cast<std::size_t>(nul - begin) : size - at;
    files.emplace_back(name, std::string(begin, length));
    at += length + 1;
  }
  // Counted on a server of its own, before this input's.
  const std::uint32_t declared = DeclaredPropertyCount();

  OrvTest::TInProcessServer server(files);
  TStrivexDedicatedSession& session = server.Session();
  CheckLogin(server.Task(), files.size() == std::size(kFileNames));
  CheckProperties(session, declared);
  CheckAdmins(session);
  CheckBans(session, server);
  return 0;
}
