// A player's statistics documents by number.
#include "dedicated/clients/user_statistics_documents.h"

#include <utility>

namespace Orvan::Dedicated {

Network::TDocumentFieldMap& TUserStatisticsDocuments::FindOrInsert(std::uint32_t documentNumber) {
  TUserStatisticsDocumentMap::TEntryType* entry;
  if (documents_.FindOrInsert(documentNumber, &entry)) {
    ::new (static_cast<void*>(entry)) TUserStatisticsDocumentMap::TEntryType{documentNumber, {}};
  }
  return entry->value;
}

TOrvString<char> TUserStatisticsDocuments::GetField(std::uint32_t documentNumber, const char* name) const {
  const TUserStatisticsDocumentMap::TEntryType* document = documents_.Find(documentNumber);
  if (document == nullptr || name == nullptr) return TOrvString<char>();
  const Network::TDocumentFieldMap::TEntryType* field = document->value.Find(name);
  return field != nullptr ? field->value : TOrvString<char>();
}

void TUserStatisticsDocuments::TakeFrom(std::uint32_t documentNumber, Network::TDocumentFieldMap&& fields) {
  FindOrInsert(documentNumber) = std::move(fields);
}

std::uint32_t TUserStatisticsDocuments::GetCount() const { return documents_.Count(); }

}  // namespace Orvan::Dedicated
