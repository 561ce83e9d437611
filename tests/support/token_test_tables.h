// Token tables of the tests' own, so tests can create, fill and shut down tables without touching
// the engine's twenty-nine: the four variants (16/32-bit ids x case rule) and a 32-bit table
// reserving only two page pointers, whose page-pointer array grows at id 2048.
#pragma once

#include <cstdint>

#include "core/tokens/interned_token.h"
#include "core/tokens/interned_token_table.h"

namespace OrvTest {

template <std::uint32_t kNumber>
struct TTestTokenTableTag {};

using TTestTable16Sensitive =
    Orvan::TInternedTokenTable<TTestTokenTableTag<1>, std::uint16_t, Orvan::ETokenCaseRule::kCaseSensitive>;
using TTestTable32Sensitive =
    Orvan::TInternedTokenTable<TTestTokenTableTag<2>, std::uint32_t, Orvan::ETokenCaseRule::kCaseSensitive>;
using TTestTable16Insensitive =
    Orvan::TInternedTokenTable<TTestTokenTableTag<3>, std::uint16_t, Orvan::ETokenCaseRule::kCaseInsensitive>;
using TTestTable32Insensitive =
    Orvan::TInternedTokenTable<TTestTokenTableTag<4>, std::uint32_t, Orvan::ETokenCaseRule::kCaseInsensitive>;
using TTestTableTwoPages =
    Orvan::TInternedTokenTable<TTestTokenTableTag<5>, std::uint32_t, Orvan::ETokenCaseRule::kCaseInsensitive, 2>;

// Creates a table for the scope of a test and shuts it down afterwards.
template <typename TTable>
class TScopedTokenTable {
 public:
  TScopedTokenTable() { TTable::Create(); }
  ~TScopedTokenTable() { TTable::Shutdown(); }
  TScopedTokenTable(const TScopedTokenTable&) = delete;
  TScopedTokenTable& operator=(const TScopedTokenTable&) = delete;
};

}  // namespace OrvTest
