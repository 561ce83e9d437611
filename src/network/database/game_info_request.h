// Following the game database's changes feed: a long poll that answers when documents change, with
// the sequence to poll from next and the changed documents' text members.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/containers/open_hash_map.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "network/database/database_accesser.h"
#include "network/database/statistics_request.h"

namespace Orvan::Network {

// Document id to its members (name to text).
using TGameDocumentMap = TOpenHashMap<TKeyValueEntry<TOrvString<char>, TDocumentFieldMap>, TStringHash, TStringEqual,
                                      default_allocator<unsigned char>>;

class TDbRequestGetGameInfo : public IGenericDbStruct {
 public:
  // The database sends a heartbeat this often while it holds the answer.
  static constexpr std::uint32_t kHeartbeatMilliseconds = 60000;

  explicit TDbRequestGetGameInfo(std::uint32_t lastSequence);
  ~TDbRequestGetGameInfo() override;

  TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) override;
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override;
  // One game-information document: kMaxDocumentAnswerBytes.
  std::size_t GetAnswerLimit() const override;

  std::uint32_t GetLastSequence() const { return lastSequence_; }
  const TGameDocumentMap& GetDocuments() const { return documents_; }

 private:
  std::uint32_t lastSequence_;
  TGameDocumentMap documents_;
};

}  // namespace Orvan::Network
