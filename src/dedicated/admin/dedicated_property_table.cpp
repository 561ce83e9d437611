// The server property table.
#include "dedicated/admin/dedicated_property_table.h"

#include "dedicated/session/dedicated_session.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

const char kQuote[] = "\"";

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

std::int32_t TDedicatedPropertyTable::SetVariable(const TOrvString<char>& name, const TOrvString<char>& value,
                                                  bool anyClient, bool host, bool admin, bool force) {
  TDedicatedPropertyValue* property = GetVariable(name.c_str());
  if (property == nullptr) return kPropertyUndeclared;
  if (!session_->ValidatePropertyValue(name, value)) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Variable " + name + " not set to " + kQuote + value + kQuote + " (reason : invalid value)");
    return kPropertyRefused;
  }
  if (!property->SetValue(value, anyClient, host, admin, force)) return kPropertyNotChanged;
  if (!property->IsHidden()) reporting_.SetProperty(name, value);
  session_->OnPropertyChanged(name, value);
  if (property->IsLogged()) {
    Network::NetworkLog(Network::kNetworkLogInformation, "Variable " + name + " set to " + kQuote + value + kQuote);
  }
  return kPropertyChanged;
}

}  // namespace Orvan::Dedicated
