// Admin rights letters.
#include "dedicated/admin/admin_rights.h"

namespace Orvan::Dedicated {

bool TAdminRights::Parse(const char* text) {
  if (text == nullptr) return false;
  bool any = false;
  for (; *text != '\0'; ++text) {
    if (*text < 'a' || *text > 'z') continue;
    flags_[*text - 'a'] = true;
    any = true;
  }
  return any;
}

bool TAdminRights::Has(char letter) const {
  if (letter < 'a' || letter > 'z') return false;
  return flags_[letter - 'a'];
}

}  // namespace Orvan::Dedicated
