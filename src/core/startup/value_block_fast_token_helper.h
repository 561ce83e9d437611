// Pre-interned value-block field names: one singleton holding the tokens of the field names that
// value blocks look up most, so that their ids are fixed once, in list order.
#pragma once

#include <cstdint>

#include "core/singletons/singleton.h"
#include "core/tokens/token_tables.h"

namespace Orvan {

class TValueBlockFastTokenHelper : public Meta::TSingleton<TValueBlockFastTokenHelper, false> {
 public:
  // The number of pre-interned names.
  static constexpr std::uint32_t kTokenCount = 36;
  static const char* const kNames[kTokenCount];

  // Registers the singleton, then interns the names in list order. The tokens stay in their table
  // after the helper is destroyed; the destructor only unregisters.
  TValueBlockFastTokenHelper();

  TToken2 GetToken(std::uint32_t index) const { return tokens_[index]; }

 private:
  TToken2 tokens_[kTokenCount];
};

}  // namespace Orvan
