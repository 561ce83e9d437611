// The rights of one admin user: one flag per letter 'a' to 'z', each letter opening an admin
// command ('l' launch, 'p' setpvar, 's' setsvar, 'k' kick, 'b' ban, 'u' unban; the others open
// nothing but are kept).
#pragma once

#include <cstdint>

#include "core/containers/open_hash_map.h"
#include "core/memory/thread_local_heap.h"
#include "core/text/hash_functors.h"
#include "network/packets/network_id.h"

namespace Orvan::Dedicated {

class TAdminRights {
 public:
  // One flag per lower-case letter, and one more that no letter sets.
  static constexpr std::uint32_t kFlagCount = 27;

  // Sets the flag of every character 'a' to 'z' in the text and skips the others; true when at
  // least one flag was set. A null text sets nothing.
  bool Parse(const char* text);
  // False for a character outside 'a' to 'z'.
  bool Has(char letter) const;

 private:
  bool flags_[kFlagCount] = {};
};

// Admin user ids to their rights, on the session thread's heap.
using TAdminMap = TOpenHashMap<TKeyValueEntry<Network::OrvNetId, TAdminRights>, Network::TNetIdHash, TWordEqual,
                               thread_local_allocator<unsigned char>>;

}  // namespace Orvan::Dedicated
