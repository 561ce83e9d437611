// The twenty-nine token tables: instantiation, start-up and shutdown.
#include "core/tokens/token_tables.h"

namespace Orvan {

template class TInternedTokenTable<TTokenTableTag<1>, std::uint16_t, TokenTableRules::kSensitive>;
template class TInternedTokenTable<TTokenTableTag<2>, std::uint32_t, TokenTableRules::kSensitive>;
template class TInternedTokenTable<TTokenTableTag<3>, std::uint16_t, TokenTableRules::kSensitive>;
template class TInternedTokenTable<TTokenTableTag<4>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<5>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<6>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<7>, std::uint16_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<8>, std::uint16_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<9>, std::uint16_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<10>, std::uint16_t, TokenTableRules::kSensitive>;
template class TInternedTokenTable<TTokenTableTag<11>, std::uint32_t, TokenTableRules::kSensitive>;
template class TInternedTokenTable<TTokenTableTag<12>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<13>, std::uint16_t, TokenTableRules::kSensitive>;
template class TInternedTokenTable<TTokenTableTag<14>, std::uint16_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<15>, std::uint16_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<16>, std::uint32_t, TokenTableRules::kSensitive>;
template class TInternedTokenTable<TTokenTableTag<17>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<18>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<19>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<20>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<21>, std::uint16_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<22>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<23>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<24>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<25>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<26>, std::uint16_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<27>, std::uint16_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<28>, std::uint32_t, TokenTableRules::kInsensitive>;
template class TInternedTokenTable<TTokenTableTag<29>, std::uint32_t, TokenTableRules::kInsensitive>;

void InitInternedTokenTables() {
  TAllTokenTables::ForEach([]<typename TTable>() { TTable::Create(); });
}

void DestroyAllInternedTokenTables() noexcept {
  TAllTokenTables::ForEach([]<typename TTable>() { TTable::Shutdown(); });
}

}  // namespace Orvan
