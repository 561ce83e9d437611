// The session's configuration files: "variables.ini" overrides the server properties and
// "admins.ini" lists the admin user ids with their rights letters. Every key is taken whatever
// section it stands in; a missing file reads as empty.
#include <cstdlib>
#include <new>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/session/dedicated_session.h"
#include "network/files/ini_profile.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

// The browse goes on to the end of the file whatever a key holds.
constexpr int kContinueBrowsing = 1;

int ApplyVariable(const char* /*section*/, const char* key, const char* value, void* userData) {
  TDedicatedPropertyTable* table = static_cast<TDedicatedSession*>(userData)->GetPropertyTable();
  if (table->HasVariable(key)) {
    table->SetVariable(key, value, false, false, false, true);
  } else {
    Network::NetworkLog(Network::kNetworkLogWarning, TOrvString<char>("Unknown variable ") + key + " will be ingored");
  }
  return kContinueBrowsing;
}

int AddAdmin(const char* /*section*/, const char* key, const char* value, void* userData) {
  TAdminMap& admins = *static_cast<TAdminMap*>(userData);
  const unsigned long long number = std::strtoull(key, nullptr, 10);
  if (number == 0) {
    Network::NetworkLog(Network::kNetworkLogError, TOrvString<char>("Failed to decode admin user id : ") + key);
    return kContinueBrowsing;
  }
  const Network::OrvNetId id = Network::OrvNetId::FromValue(number);
  if (!id.IsClientId()) {
    Network::NetworkLog(Network::kNetworkLogError,
                        TOrvString<char>("Failed to add admin user id : ") + key + " since it is not a valid user id");
    return kContinueBrowsing;
  }
  TAdminRights rights;
  if (!rights.Parse(value)) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Admin with user id " + id.ToString() + " will be ingored since no rights have been granted");
    return kContinueBrowsing;
  }
  TKeyValueEntry<Network::OrvNetId, TAdminRights>* entry;
  if (admins.FindOrInsert(id, &entry))
    ::new (static_cast<void*>(entry)) TKeyValueEntry<Network::OrvNetId, TAdminRights>{id, {}};
  entry->value = rights;
  Network::NetworkLog(Network::kNetworkLogInformation, TOrvString<char>("Adding admin with user id : ") + key);
  return kContinueBrowsing;
}

}  // namespace

void TDedicatedSession::LoadVariablesIni() {
  if (propertyTable_ == nullptr) return;
  ServerTools::TIniProfile::IniBrowse(&ApplyVariable, this, kVariablesIniFile);
}

void TDedicatedSession::LoadAdminsIni() { ServerTools::TIniProfile::IniBrowse(&AddAdmin, &admins_, kAdminsIniFile); }

bool TDedicatedSession::HasAdminRight(const Network::OrvNetId& userId, char letter) const {
  if (admins_.IsEmpty()) return false;
  const auto* entry = admins_.Find(userId);
  return entry != nullptr && entry->value.Has(letter);
}

}  // namespace Orvan::Dedicated
