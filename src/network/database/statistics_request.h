// The statistics request, the one the game server builds: one statistics document by GET, every
// top-level text or number member of it kept as a name/text pair. Also the naming of statistics
// documents, shared with their upload.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/containers/open_hash_map.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "network/database/database_accesser.h"

namespace Orvan::Network {

// Which statistics document a request names.
enum TStatisticsDocumentKind : std::uint32_t {
  // "<number>_<id>", at "u<name>".
  UserDocument = 0,
  // "<id>", at "t<name>".
  TeamDocument = 1,
  // A name given by the caller; the URL is the base alone.
  PlainDocument = 2,
};

// The document name of kinds 0 and 1 (the id in decimal, kind byte included); empty for others.
TOrvString<char> MakeStatisticsDocumentName(std::uint32_t kind, std::uint32_t documentNumber, std::uint64_t id);
// The path after the base URL: "u" or "t" followed by the name for kinds 0 and 1, else nothing.
TOrvString<char> MakeStatisticsDocumentPath(std::uint32_t kind, const TOrvString<char>& documentName);

using TDocumentFieldMap = TOpenHashMap<TKeyValueEntry<TOrvString<char>, TOrvString<char>>, TStringHash, TStringEqual,
                                       default_allocator<unsigned char>>;

// Stores the text under the name; a repeated name keeps the last text.
void SetDocumentField(TDocumentFieldMap& fields, const TOrvString<char>& name, const TOrvString<char>& text);

class TDbRequestGetStatistics : public IGenericDbStruct {
 public:
  // Kinds 0 and 1 (the server passes an empty override): the document of that number and id.
  TDbRequestGetStatistics(const TOrvString<char>& baseUrlOverride, std::uint32_t documentNumber, std::uint64_t id,
                          std::uint32_t kind);
  // Kind 2: the override is the whole URL.
  TDbRequestGetStatistics(const TOrvString<char>& baseUrlOverride, const TOrvString<char>& documentName);
  ~TDbRequestGetStatistics() override;

  TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) override;
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override;
  // Kind 0 gets a default document, other kinds fail.
  void AnswerWithoutDatabase() override;
  // One statistics document: kMaxDocumentAnswerBytes.
  std::size_t GetAnswerLimit() const override;

  const TDocumentFieldMap& GetDocumentFields() const { return documentFields_; }
  // The text of a field, or null when the document had none.
  const TOrvString<char>* FindField(const char* name) const;
  const TOrvString<char>& GetDocumentName() const { return documentName_; }
  std::uint32_t GetDocumentNumber() const { return documentNumber_; }
  std::uint32_t GetKind() const { return kind_; }

 private:
  TDocumentFieldMap documentFields_;
  std::uint32_t documentNumber_ = 0;
  TOrvString<char> documentName_;
  TOrvString<char> baseUrlOverride_;
  std::uint32_t kind_;
};

}  // namespace Orvan::Network
