// The engine's twenty-nine interned token tables, one per kind of text, numbered in the order in
// which start-up creates them. Each has its id width and case rule; four kinds are named by what
// they hold, the others by number. Core start-up creates them all, core shutdown destroys them all.
#pragma once

#include <cstdint>

#include "core/tokens/interned_token.h"
#include "core/tokens/interned_token_table.h"

namespace Orvan {

// Makes each table a type of its own.
template <std::uint32_t kNumber>
struct TTokenTableTag {};

namespace TokenTableRules {
inline constexpr ETokenCaseRule kSensitive = ETokenCaseRule::kCaseSensitive;
inline constexpr ETokenCaseRule kInsensitive = ETokenCaseRule::kCaseInsensitive;
}  // namespace TokenTableRules

using TTokenTable1 = TInternedTokenTable<TTokenTableTag<1>, std::uint16_t, TokenTableRules::kSensitive>;
// value-block field names
using TTokenTable2 = TInternedTokenTable<TTokenTableTag<2>, std::uint32_t, TokenTableRules::kSensitive>;
using TTokenTable3 = TInternedTokenTable<TTokenTableTag<3>, std::uint16_t, TokenTableRules::kSensitive>;
using TTokenTable4 = TInternedTokenTable<TTokenTableTag<4>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable5 = TInternedTokenTable<TTokenTableTag<5>, std::uint32_t, TokenTableRules::kInsensitive>;
// material parameter names
using TTokenTable6 = TInternedTokenTable<TTokenTableTag<6>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable7 = TInternedTokenTable<TTokenTableTag<7>, std::uint16_t, TokenTableRules::kInsensitive>;
// mounting-point names
using TTokenTable8 = TInternedTokenTable<TTokenTableTag<8>, std::uint16_t, TokenTableRules::kInsensitive>;
// model part names
using TTokenTable9 = TInternedTokenTable<TTokenTableTag<9>, std::uint16_t, TokenTableRules::kInsensitive>;
using TTokenTable10 = TInternedTokenTable<TTokenTableTag<10>, std::uint16_t, TokenTableRules::kSensitive>;
using TTokenTable11 = TInternedTokenTable<TTokenTableTag<11>, std::uint32_t, TokenTableRules::kSensitive>;
using TTokenTable12 = TInternedTokenTable<TTokenTableTag<12>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable13 = TInternedTokenTable<TTokenTableTag<13>, std::uint16_t, TokenTableRules::kSensitive>;
using TTokenTable14 = TInternedTokenTable<TTokenTableTag<14>, std::uint16_t, TokenTableRules::kInsensitive>;
using TTokenTable15 = TInternedTokenTable<TTokenTableTag<15>, std::uint16_t, TokenTableRules::kInsensitive>;
using TTokenTable16 = TInternedTokenTable<TTokenTableTag<16>, std::uint32_t, TokenTableRules::kSensitive>;
using TTokenTable17 = TInternedTokenTable<TTokenTableTag<17>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable18 = TInternedTokenTable<TTokenTableTag<18>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable19 = TInternedTokenTable<TTokenTableTag<19>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable20 = TInternedTokenTable<TTokenTableTag<20>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable21 = TInternedTokenTable<TTokenTableTag<21>, std::uint16_t, TokenTableRules::kInsensitive>;
using TTokenTable22 = TInternedTokenTable<TTokenTableTag<22>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable23 = TInternedTokenTable<TTokenTableTag<23>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable24 = TInternedTokenTable<TTokenTableTag<24>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable25 = TInternedTokenTable<TTokenTableTag<25>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable26 = TInternedTokenTable<TTokenTableTag<26>, std::uint16_t, TokenTableRules::kInsensitive>;
using TTokenTable27 = TInternedTokenTable<TTokenTableTag<27>, std::uint16_t, TokenTableRules::kInsensitive>;
using TTokenTable28 = TInternedTokenTable<TTokenTableTag<28>, std::uint32_t, TokenTableRules::kInsensitive>;
using TTokenTable29 = TInternedTokenTable<TTokenTableTag<29>, std::uint32_t, TokenTableRules::kInsensitive>;

using TToken1 = TInternedToken<TTokenTable1>;
using TToken2 = TInternedToken<TTokenTable2>;
using TToken3 = TInternedToken<TTokenTable3>;
using TToken4 = TInternedToken<TTokenTable4>;
using TToken5 = TInternedToken<TTokenTable5>;
using TToken6 = TInternedToken<TTokenTable6>;
using TToken7 = TInternedToken<TTokenTable7>;
using TToken8 = TInternedToken<TTokenTable8>;
using TToken9 = TInternedToken<TTokenTable9>;
using TToken10 = TInternedToken<TTokenTable10>;
using TToken11 = TInternedToken<TTokenTable11>;
using TToken12 = TInternedToken<TTokenTable12>;
using TToken13 = TInternedToken<TTokenTable13>;
using TToken14 = TInternedToken<TTokenTable14>;
using TToken15 = TInternedToken<TTokenTable15>;
using TToken16 = TInternedToken<TTokenTable16>;
using TToken17 = TInternedToken<TTokenTable17>;
using TToken18 = TInternedToken<TTokenTable18>;
using TToken19 = TInternedToken<TTokenTable19>;
using TToken20 = TInternedToken<TTokenTable20>;
using TToken21 = TInternedToken<TTokenTable21>;
using TToken22 = TInternedToken<TTokenTable22>;
using TToken23 = TInternedToken<TTokenTable23>;
using TToken24 = TInternedToken<TTokenTable24>;
using TToken25 = TInternedToken<TTokenTable25>;
using TToken26 = TInternedToken<TTokenTable26>;
using TToken27 = TInternedToken<TTokenTable27>;
using TToken28 = TInternedToken<TTokenTable28>;
using TToken29 = TInternedToken<TTokenTable29>;

using TValueBlockFieldNameToken = TToken2;
using TMaterialParameterNameToken = TToken6;
using TMountingPointToken = TToken8;
using TModelPartNameToken = TToken9;

// A list of table types, walked in order.
template <typename... TTables>
struct TTokenTableList {
  static constexpr std::uint32_t kCount = sizeof...(TTables);
  // Calls visit.template operator()<TTable>() for each table, first to last.
  template <typename TVisit>
  static void ForEach(TVisit&& visit) {
    (visit.template operator()<TTables>(), ...);
  }
};

// The twenty-nine in creation order.
using TAllTokenTables = TTokenTableList<TTokenTable1, TTokenTable2, TTokenTable3, TTokenTable4, TTokenTable5,
                                       TTokenTable6, TTokenTable7, TTokenTable8, TTokenTable9, TTokenTable10,
                                       TTokenTable11, TTokenTable12, TTokenTable13, TTokenTable14,
                                       TTokenTable15, TTokenTable16, TTokenTable17, TTokenTable18,
                                       TTokenTable19, TTokenTable20, TTokenTable21, TTokenTable22,
                                       TTokenTable23, TTokenTable24, TTokenTable25, TTokenTable26,
                                       TTokenTable27, TTokenTable28, TTokenTable29>;

// Creates tables 1 to 29 in order, each holding only the empty text as id 0. Run once on the main
// thread at core start-up, after the singleton registry. std::bad_alloc leaves the tables made so
// far live (and the one being made with the parts it had stored).
void InitInternedTokenTables();
// Shuts down tables 1 to 29 in the same order. Takes no lock; a table never created or already
// destroyed is skipped, so a second call does nothing.
void DestroyAllInternedTokenTables() noexcept;

extern template class TInternedTokenTable<TTokenTableTag<1>, std::uint16_t, TokenTableRules::kSensitive>;
extern template class TInternedTokenTable<TTokenTableTag<2>, std::uint32_t, TokenTableRules::kSensitive>;
extern template class TInternedTokenTable<TTokenTableTag<3>, std::uint16_t, TokenTableRules::kSensitive>;
extern template class TInternedTokenTable<TTokenTableTag<4>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<5>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<6>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<7>, std::uint16_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<8>, std::uint16_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<9>, std::uint16_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<10>, std::uint16_t, TokenTableRules::kSensitive>;
extern template class TInternedTokenTable<TTokenTableTag<11>, std::uint32_t, TokenTableRules::kSensitive>;
extern template class TInternedTokenTable<TTokenTableTag<12>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<13>, std::uint16_t, TokenTableRules::kSensitive>;
extern template class TInternedTokenTable<TTokenTableTag<14>, std::uint16_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<15>, std::uint16_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<16>, std::uint32_t, TokenTableRules::kSensitive>;
extern template class TInternedTokenTable<TTokenTableTag<17>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<18>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<19>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<20>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<21>, std::uint16_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<22>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<23>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<24>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<25>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<26>, std::uint16_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<27>, std::uint16_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<28>, std::uint32_t, TokenTableRules::kInsensitive>;
extern template class TInternedTokenTable<TTokenTableTag<29>, std::uint32_t, TokenTableRules::kInsensitive>;

}  // namespace Orvan
