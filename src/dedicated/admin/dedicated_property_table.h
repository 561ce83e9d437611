// The server properties: named text values of the game session (rules, phase timings, player
// limits, status) with the permissions of who may change them. Every change is validated by the
// session, published to the UDP property query unless the property is hidden, logged while the
// property's log flag is set, and handed to the session.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/link/server_property_reporting.h"

namespace Orvan::Dedicated {

class TDedicatedSession;

// Results of SetVariable.
inline constexpr std::int32_t kPropertyChanged = 0;
inline constexpr std::int32_t kPropertyUndeclared = 1;
inline constexpr std::int32_t kPropertyNotChanged = 2;
inline constexpr std::int32_t kPropertyRefused = 3;

class TDedicatedPropertyTable {
 public:
  // The reporting is made here and starts only with StartReporting.
  explicit TDedicatedPropertyTable(TDedicatedSession* session) : session_(session) {}
  // Deletes every value, then the reporting.
  ~TDedicatedPropertyTable();
  TDedicatedPropertyTable(const TDedicatedPropertyTable&) = delete;
  TDedicatedPropertyTable& operator=(const TDedicatedPropertyTable&) = delete;

  // Takes ownership of the value, logs the declaration and publishes it unless it is hidden. Names
  // are declared once; a name declared again gets the new value and the old one is deleted.
  void DeclareVariable(const TOrvString<char>& name, TDedicatedPropertyValue* value);
  TDedicatedPropertyValue* GetVariable(const char* name) const;
  bool HasVariable(const char* name) const { return GetVariable(name) != nullptr; }
  // The value text, empty for an undeclared name.
  TOrvString<char> GetValue(const char* name) const;
  // Clears the log flag of a declared property.
  void DisableLogging(const char* name);

  // Validation first (so forced values are checked too), then, for a published property, whether
  // the query answer can carry the new value, then the permissions and the change, then the session
  // is told and the change logged. One of the kProperty* results; a refusal is logged as
  // "Variable <name> not set to "<value>" (reason : ...)".
  std::int32_t SetVariable(const TOrvString<char>& name, const TOrvString<char>& value, bool anyClient, bool host,
                           bool admin, bool force);
  // The session's validation of a value, with the refusal logged ("reason : invalid value"): for
  // values that reach the table by another road, as the player limit's.
  bool AcceptValue(const TOrvString<char>& name, const TOrvString<char>& value);

  // Opens or closes the UDP property query (the match-making link's edges).
  bool StartReporting() { return reporting_.StartListening(); }
  bool StopReporting() { return reporting_.StopListening(); }
  TServerPropertyReporting& GetReporting() { return reporting_; }

  std::uint32_t GetCount() const { return properties_.Count(); }
  // In declaration order.
  const TStringToPointerMap<TDedicatedPropertyValue>& GetProperties() const { return properties_; }

 private:
  // Whether the query answer can carry the new value; a refusal is logged.
  bool AcceptPublication(const TOrvString<char>& name, const TOrvString<char>& value);

  TStringToPointerMap<TDedicatedPropertyValue> properties_;
  TDedicatedSession* session_;
  TServerPropertyReporting reporting_;
};

}  // namespace Orvan::Dedicated
