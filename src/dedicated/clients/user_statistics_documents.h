// A player's statistics as admission and the user's statistics requests hand them over: per
// document number (0 the general document, the game id the game's own), the document's fields.
#pragma once

#include <cstdint>

#include "core/containers/open_hash_map.h"
#include "core/text/hash_functors.h"
#include "network/database/statistics_request.h"

namespace Orvan::Dedicated {

using TUserStatisticsDocumentMap =
    TOpenHashMap<TKeyValueEntry<std::uint32_t, Network::TDocumentFieldMap>, TIntegerHash,
                 TWordEqual, default_allocator<unsigned char>>;

class TUserStatisticsDocuments {
 public:
  // The fields of a document; an absent number reads as an empty document, entered on first use.
  Network::TDocumentFieldMap& FindOrInsert(std::uint32_t documentNumber);
  // The text of a field, empty when the document or the field is absent (nothing entered).
  TOrvString<char> GetField(std::uint32_t documentNumber, const char* name) const;
  // Moves the request's fields in under its document number; a repeated number keeps the last.
  void TakeFrom(std::uint32_t documentNumber, Network::TDocumentFieldMap&& fields);
  std::uint32_t GetCount() const;

  TUserStatisticsDocumentMap& GetMap() { return documents_; }
  const TUserStatisticsDocumentMap& GetMap() const { return documents_; }

 private:
  TUserStatisticsDocumentMap documents_;
};

}  // namespace Orvan::Dedicated
