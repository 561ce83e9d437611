// The ban list: banning and unbanning, and the refresh that merges "banned_clients.ini" into the
// list, drops the expired bans, disconnects the banned clients still there and writes the file back.
// A ban or an unban reaches the file at once, so that a server stopped before its next refresh
// keeps it.
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/decimal_client_id.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/session/dedicated_session.h"
#include "network/files/ini_profile.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

namespace {

// The browse goes on to the end of the file whatever a key holds.
constexpr int kContinueBrowsing = 1;

// Seconds in an hour of ban.
constexpr std::int64_t kSecondsPerHour = 3600;

void LogInformation(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }
// A line for a change of the ban file that failed, with the system's reason (the errno that the
// INI profile functions leave).
void LogFileError(const TOrvString<char>& text, int error) {
  Network::NetworkLog(Network::kNetworkLogError, text + " (reason : " + Network::GetErrorString(error) + ")");
}

std::string Decimal(std::int64_t value) { return std::to_string(value); }

// The client id a key of the ban file names; the invalid id for anything else.
Network::OrvNetId BannedClientOfKey(const char* key) {
  if (key == nullptr) return Network::OrvNetId();
  const Network::OrvNetId id = ParseDecimalId(key);
  return id.IsValid() && id.IsClientId() ? id : Network::OrvNetId();
}

int MergeBan(const char* /*section*/, const char* key, const char* value, void* userData) {
  const Network::OrvNetId id = BannedClientOfKey(key);
  if (!id.IsValid()) return kContinueBrowsing;
  // Not a number reads as 0, a ban forever; a value beyond 63 bits reads as an end long past.
  const auto fileEnd = static_cast<std::int64_t>(value != nullptr ? std::strtoull(value, nullptr, 10) : 0);
  auto& session = *static_cast<TDedicatedSession*>(userData);
  const auto* ban = session.GetBans().Find(id);
  if (ban == nullptr) {
    session.SetBan(id, fileEnd);
  } else if (ban->value != 0) {
    session.SetBan(id, fileEnd == 0 || fileEnd > ban->value ? fileEnd : ban->value);
  }
  return kContinueBrowsing;
}

// One key of the file to remove: where it stands and how it is written there.
struct TBanKey {
  std::string section;
  std::string key;
};

struct TBanKeySearch {
  const std::vector<Network::OrvNetId>* ids;
  std::vector<TBanKey> found;
};

int FindBanKeys(const char* section, const char* key, const char* /*value*/, void* userData) {
  auto& search = *static_cast<TBanKeySearch*>(userData);
  const Network::OrvNetId id = BannedClientOfKey(key);
  if (!id.IsValid()) return kContinueBrowsing;
  for (const Network::OrvNetId& wanted : *search.ids) {
    if (wanted == id) {
      search.found.push_back(TBanKey{section != nullptr ? section : "", key});
      break;
    }
  }
  return kContinueBrowsing;
}

// The changes that remove the keys of these ids from the file: outside any section where the
// refresh writes them, and in whatever section a person put them, as reading takes those too.
void AddBanKeyRemovals(const std::vector<Network::OrvNetId>& ids, std::vector<TBanKey>& keys) {
  if (ids.empty()) return;
  TBanKeySearch search{&ids, {}};
  ServerTools::TIniProfile::IniBrowse(&FindBanKeys, &search, TDedicatedSession::kBannedClientsIniFile);
  for (TBanKey& key : search.found) keys.push_back(std::move(key));
}

// The file rewritten once with the keys removed and the bans set (their texts held here while the
// rewrite reads them): a refresh costs one rewrite however long the list.
using TBanTexts = std::vector<std::pair<std::string, std::string>>;

bool RewriteBanFile(const std::vector<TBanKey>& removals, const TBanTexts& bans) {
  std::vector<ServerTools::TIniChange> changes;
  changes.reserve(removals.size() + bans.size());
  for (const TBanKey& key : removals) changes.push_back({key.section.c_str(), key.key.c_str(), nullptr});
  for (const auto& [key, end] : bans) changes.push_back({nullptr, key.c_str(), end.c_str()});
  return ServerTools::TIniProfile::IniPutStrings(changes.data(), changes.size(),
                                                 TDedicatedSession::kBannedClientsIniFile);
}

}  // namespace

void TDedicatedSession::BanClient(const Network::OrvNetId& clientId, std::uint64_t hours) {
  if (!clientId.IsValid() || !clientId.IsClientId()) return;
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  // An end that 64-bit seconds cannot hold is no end at all: forever, rather than a wrapped end in
  // the past that the next refresh would drop.
  constexpr std::int64_t kLatestEnd = std::numeric_limits<std::int64_t>::max();
  const bool forever = hours == 0 || hours > static_cast<std::uint64_t>(kLatestEnd / kSecondsPerHour) ||
                       static_cast<std::int64_t>(hours) * kSecondsPerHour > kLatestEnd - now;
  std::int64_t end = 0;
  if (forever) {
    LogInformation("Client " + clientId.ToString() + " has been banned forever");
  } else {
    LogInformation("Client " + clientId.ToString() + " has been banned during " + std::to_string(hours) + " hours");
    end = now + static_cast<std::int64_t>(hours) * kSecondsPerHour;
  }
  SetBan(clientId, end);
  MergeBanFile();
  WriteBanFile();
  if (TDedicatedUser* user = FindClientById(clientId))
    user->Disconnect(ClientDisconnectReason::BannedFromDedicatedServer);
}

void TDedicatedSession::UnbanClient(const Network::OrvNetId& clientId) {
  if (!clientId.IsValid() || !clientId.IsClientId()) return;
  LogInformation("Client " + clientId.ToString() + " has been unbanned");
  bans_.Erase(clientId);
  std::vector<TBanKey> removals;
  AddBanKeyRemovals({clientId}, removals);
  if (!RewriteBanFile(removals, {})) {
    const int error = errno;
    LogFileError("Failed to remove client " + clientId.ToString() + " from " + kBannedClientsIniFile, error);
  }
}

void TDedicatedSession::MergeBanFile() { ServerTools::TIniProfile::IniBrowse(&MergeBan, this, kBannedClientsIniFile); }

void TDedicatedSession::WriteBanFile(const std::vector<Network::OrvNetId>& expired) {
  std::vector<TBanKey> removals;
  AddBanKeyRemovals(expired, removals);
  TBanTexts bans;
  bans.reserve(bans_.Count());
  for (const auto& ban : bans_) bans.emplace_back(ban.key.ToString().c_str(), Decimal(ban.value));
  if (!RewriteBanFile(removals, bans)) {
    const int error = errno;
    LogFileError(TOrvString<char>("Failed to write ") + kBannedClientsIniFile, error);
  }
}

void TDedicatedSession::RefreshBanList() {
  LogInformation("Updating clients banned list");
  MergeBanFile();
  const auto now = static_cast<std::int64_t>(std::time(nullptr));

  std::vector<Network::OrvNetId> expired;
  std::vector<Network::OrvNetId> banned;
  for (const auto& ban : bans_) {
    if (ban.value != 0 && now > ban.value) {
      expired.push_back(ban.key);
    } else if (FindClientById(ban.key) != nullptr) {
      banned.push_back(ban.key);
    }
  }
  // Disconnecting changes the clients (and may change the phase), never the ban list: the list is
  // walked first, then each client looked up again.
  for (const Network::OrvNetId& id : banned) {
    if (TDedicatedUser* user = FindClientById(id)) user->Disconnect(ClientDisconnectReason::BannedFromDedicatedServer);
  }

  for (const Network::OrvNetId& id : expired) bans_.Erase(id);
  WriteBanFile(expired);
}

Network::OrvNetId TDedicatedSession::FindClientId(const TOrvString<char>& text) const {
  const std::string_view view(text.c_str(), text.GetLength());
  if (view.empty()) return Network::OrvNetId();
  if (IsDecimalDigits(view)) return ParseDecimalId(view);
  for (const TDedicatedUser* client : clients_) {
    const TDedicatedPropertyValue* name = client->GetUserVariable("PlayerName");
    if (name == nullptr) continue;
    const TOrvString<char>& value = name->GetValue();
    if (std::string_view(value.c_str(), value.GetLength()).find(view) != std::string_view::npos) {
      return client->GetNetworkId();
    }
  }
  return Network::OrvNetId();
}

}  // namespace Orvan::Dedicated
