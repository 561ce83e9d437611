// The server property table.
#include "dedicated/admin/dedicated_property_table.h"

#include "dedicated/session/dedicated_session.h"
#include "network/logging/control_character_escape.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

const char kQuote[] = "\"";

// The numbers the server itself keeps current while it runs, each up to 10 digits: the room the
// reply keeps free is theirs, so their changes are never refused for length.
constexpr const char* kServerCounters[] = {"NbPlayer", "Seed", "TimeLeft", "GameState"};

bool IsServerCounter(const TOrvString<char>& name) {
  for (const char* counter : kServerCounters) {
    if (name == counter) return true;
  }
  return false;
}

void LogRefusal(const TOrvString<char>& name, const TOrvString<char>& value, const char* reason) {
  Network::NetworkLog(Network::kNetworkLogWarning, "Variable " + Network::EscapeControlCharacters(name) + " not set to " + kQuote +
                                                       Network::EscapeControlCharacters(value) + kQuote +
                                                       " (reason : " + reason + ")");
}

}  // namespace

TDedicatedPropertyTable::~TDedicatedPropertyTable() {
  for (auto& entry : properties_) delete entry.value;
  properties_.Clear();
}

void TDedicatedPropertyTable::DeclareVariable(const TOrvString<char>& name, TDedicatedPropertyValue* value) {
  TKeyValueEntry<TOrvString<char>, TDedicatedPropertyValue*>* entry;
  if (properties_.FindOrInsert(name, &entry)) {
    ::new (static_cast<void*>(entry)) TKeyValueEntry<TOrvString<char>, TDedicatedPropertyValue*>{name, value};
  } else if (entry->value != value) {
    delete entry->value;
    entry->value = value;
  }
  Network::NetworkLog(Network::kNetworkLogInformation, "Variable " + name + " set to " + value->GetValue());
  if (!value->IsHidden()) reporting_.SetProperty(name, value->GetValue());
}

TDedicatedPropertyValue* TDedicatedPropertyTable::GetVariable(const char* name) const {
  const auto* entry = properties_.Find(name != nullptr ? name : "");
  return entry != nullptr ? entry->value : nullptr;
}

TOrvString<char> TDedicatedPropertyTable::GetValue(const char* name) const {
  const TDedicatedPropertyValue* value = GetVariable(name);
  return value != nullptr ? value->GetValue() : TOrvString<char>();
}

void TDedicatedPropertyTable::DisableLogging(const char* name) {
  if (TDedicatedPropertyValue* value = GetVariable(name)) value->SetLogged(false);
}

bool TDedicatedPropertyTable::AcceptValue(const TOrvString<char>& name, const TOrvString<char>& value) {
  if (session_->ValidatePropertyValue(name, value)) return true;
  LogRefusal(name, value, "invalid value");
  return false;
}

bool TDedicatedPropertyTable::AcceptPublication(const TOrvString<char>& name, const TOrvString<char>& value) {
  const std::uint32_t reserve = IsServerCounter(name) ? 0 : kPropertyReplyReserve;
  switch (reporting_.CheckProperty(name, value, reserve)) {
    case EPropertyPublication::kPublishable:
      return true;
    case EPropertyPublication::kNotPrintableAscii:
      LogRefusal(name, value, "the property query carries printable ASCII only");
      return false;
    case EPropertyPublication::kTooLong:
      LogRefusal(name, value, "too long for the property query answer");
      return false;
  }
  return false;
}

std::int32_t TDedicatedPropertyTable::SetVariable(const TOrvString<char>& name, const TOrvString<char>& value,
                                                  bool anyClient, bool host, bool admin, bool force) {
  TDedicatedPropertyValue* property = GetVariable(name.c_str());
  if (property == nullptr) return kPropertyUndeclared;
  if (!AcceptValue(name, value)) return kPropertyRefused;
  // A published value that the query answer could not carry is refused rather than kept out of the
  // answer, so the clients and the query always show the same value. Only a change the caller may
  // make is checked: one it may not make stays silent, as ever.
  if (!property->IsHidden() && property->IsChangeAllowed(anyClient, host, admin, force) &&
      !(property->GetValue() == value) && !AcceptPublication(name, value)) {
    return kPropertyRefused;
  }
  if (!property->SetValue(value, anyClient, host, admin, force)) return kPropertyNotChanged;
  if (!property->IsHidden()) reporting_.SetProperty(name, value);
  session_->OnPropertyChanged(name, value);
  if (property->IsLogged()) {
    Network::NetworkLog(Network::kNetworkLogInformation, "Variable " + Network::EscapeControlCharacters(name) + " set to " + kQuote +
                                                             Network::EscapeControlCharacters(value) + kQuote);
  }
  return kPropertyChanged;
}

}  // namespace Orvan::Dedicated
