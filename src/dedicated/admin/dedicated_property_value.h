// One server property or player variable: a text value with the permissions that decide who may
// change it, a log flag and a hidden flag that keeps it out of every publication.
#pragma once

#include "core/text/engine_string.h"

namespace Orvan::Dedicated {

// A property or player variable as a game declares it: its name, default text and flags.
struct TPropertyDeclaration {
  const char* name;
  const char* value;
  bool anyClient;
  bool host;
  bool admin;
  bool hidden;
};

class TDedicatedPropertyValue {
 public:
  // The log flag starts set.
  TDedicatedPropertyValue(const TOrvString<char>& value, bool anyClient, bool host, bool admin, bool hidden)
      : value_(value), anyClient_(anyClient), host_(host), admin_(admin), hidden_(hidden) {}

  // Whether a caller with these permissions may change the value: force always may, otherwise a
  // permission the caller holds must be one the value carries.
  bool IsChangeAllowed(bool callerAnyClient, bool callerHost, bool callerAdmin, bool force) const {
    return force || (callerAnyClient && anyClient_) || (callerHost && host_) || (callerAdmin && admin_);
  }
  // True exactly when the change is allowed and the text differs, so the value was replaced.
  bool SetValue(const TOrvString<char>& newValue, bool callerAnyClient, bool callerHost, bool callerAdmin, bool force);

  const TOrvString<char>& GetValue() const { return value_; }
  bool IsAnyClientAllowed() const { return anyClient_; }
  bool IsHostAllowed() const { return host_; }
  bool IsAdminAllowed() const { return admin_; }
  bool IsHidden() const { return hidden_; }
  bool IsLogged() const { return logged_; }
  void SetLogged(bool logged) { logged_ = logged; }

 private:
  TOrvString<char> value_;
  bool anyClient_;
  bool host_;
  bool admin_;
  bool logged_ = true;
  bool hidden_;
};

}  // namespace Orvan::Dedicated
