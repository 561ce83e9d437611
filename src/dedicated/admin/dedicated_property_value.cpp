// Changing a property value.
#include "dedicated/admin/dedicated_property_value.h"

namespace Orvan::Dedicated {

bool TDedicatedPropertyValue::SetValue(const TOrvString<char>& newValue, bool callerAnyClient, bool callerHost,
                                       bool callerAdmin, bool force) {
  if (!IsChangeAllowed(callerAnyClient, callerHost, callerAdmin, force)) return false;
  if (value_ == newValue) return false;
  value_ = newValue;
  return true;
}

}  // namespace Orvan::Dedicated
