// Reading one statistics document.
#include "network/database/statistics_request.h"

#include <new>

#include "core/text/positional_format.h"
#include "network/database/json_tree.h"
#include "network/logging/network_hooks.h"
#include "network/operations/answer_limit.h"

namespace Orvan::Network {

TOrvString<char> MakeStatisticsDocumentName(std::uint32_t kind, std::uint32_t documentNumber, std::uint64_t id) {
  if (kind == UserDocument) return FormatValues("%1_%2", documentNumber, id);
  if (kind == TeamDocument) return FormatValues("%1", id);
  return TOrvString<char>();
}

TOrvString<char> MakeStatisticsDocumentPath(std::uint32_t kind, const TOrvString<char>& documentName) {
  if (kind == UserDocument) return FormatValues("u%1", documentName);
  if (kind == TeamDocument) return FormatValues("t%1", documentName);
  return TOrvString<char>();
}

void SetDocumentField(TDocumentFieldMap& fields, const TOrvString<char>& name, const TOrvString<char>& text) {
  TDocumentFieldMap::TEntryType* entry;
  if (fields.FindOrInsert(name, &entry)) ::new (static_cast<void*>(entry)) TDocumentFieldMap::TEntryType{name, {}};
  entry->value = text;
}

TDbRequestGetStatistics::TDbRequestGetStatistics(const TOrvString<char>& baseUrlOverride,
                                                 std::uint32_t documentNumber, std::uint64_t id, std::uint32_t kind)
    : documentNumber_(documentNumber),
      documentName_(MakeStatisticsDocumentName(kind, documentNumber, id)),
      baseUrlOverride_(baseUrlOverride),
      kind_(kind) {}

TDbRequestGetStatistics::TDbRequestGetStatistics(const TOrvString<char>& baseUrlOverride,
                                                 const TOrvString<char>& documentName)
    : documentName_(documentName), baseUrlOverride_(baseUrlOverride), kind_(PlainDocument) {}

TDbRequestGetStatistics::~TDbRequestGetStatistics() = default;

TOrvString<char> TDbRequestGetStatistics::BuildUrl(const TOrvString<char>& accesserBaseUrl) {
  const TOrvString<char>& base = baseUrlOverride_.IsEmpty() ? accesserBaseUrl : baseUrlOverride_;
  return base + MakeStatisticsDocumentPath(kind_, documentName_);
}

void TDbRequestGetStatistics::InterpretRequestResult(std::int32_t httpCode, const char* answerText) {
  if (httpCode == 404) {
    Fail(TDbRequestError::NotFound);
    return;
  }
  const TJsonTree tree(answerText);
  if (!ParsedOrFailed(tree, "TDbRequestGetStatistics : Error parsing JSON result", *this)) return;
  const yajl_val root = tree.GetRoot();
  if (!YAJL_IS_OBJECT(root)) {
    NetworkLog(kNetworkLogWarning, "TDbRequestGetStatistics : type error on root JSON object");
    Fail(TDbRequestError::Generic);
    return;
  }
  for (std::size_t i = 0; i < YAJL_GET_OBJECT(root)->len; ++i) {
    const yajl_val value = YAJL_GET_OBJECT(root)->values[i];
    const char* text = YAJL_IS_STRING(value)   ? YAJL_GET_STRING(value)
                       : YAJL_IS_NUMBER(value) ? YAJL_GET_NUMBER(value)
                                               : nullptr;
    if (text != nullptr) SetDocumentField(documentFields_, YAJL_GET_OBJECT(root)->keys[i], text);
  }
}

std::size_t TDbRequestGetStatistics::GetAnswerLimit() const { return kMaxDocumentAnswerBytes; }

void TDbRequestGetStatistics::AnswerWithoutDatabase() {
  if (kind_ != UserDocument) {
    Fail(TDbRequestError::Generic);
    return;
  }
  SetDocumentField(documentFields_, "@name", "u" + documentName_);
  SetDocumentField(documentFields_, "_id", "0");
}

const TOrvString<char>* TDbRequestGetStatistics::FindField(const char* name) const {
  const TDocumentFieldMap::TEntryType* entry = documentFields_.Find(name);
  return entry != nullptr ? &entry->value : nullptr;
}

}  // namespace Orvan::Network
