// The game database's changes feed.
#include "network/database/game_info_request.h"

#include <cstring>
#include <new>
#include <utility>

#include "core/text/positional_format.h"
#include "network/database/json_tree.h"
#include "network/logging/network_hooks.h"
#include "network/operations/answer_limit.h"

namespace Orvan::Network {

TDbRequestGetGameInfo::TDbRequestGetGameInfo(std::uint32_t lastSequence) : lastSequence_(lastSequence) {}

TDbRequestGetGameInfo::~TDbRequestGetGameInfo() = default;

TOrvString<char> TDbRequestGetGameInfo::BuildUrl(const TOrvString<char>& accesserBaseUrl) {
  return accesserBaseUrl + FormatValues("gamedb/_changes?feed=longpoll&include_docs=true&heartbeat=%1&since=%2",
                                        kHeartbeatMilliseconds, lastSequence_);
}

std::size_t TDbRequestGetGameInfo::GetAnswerLimit() const { return kMaxDocumentAnswerBytes; }

void TDbRequestGetGameInfo::InterpretRequestResult(std::int32_t httpCode, const char* answerText) {
  if (httpCode < 200 || httpCode > 299) {
    NetworkLog(kNetworkLogWarning,
               FormatValues("TDbRequestGetGameInfo::InterpretRequestResult() error : request failed with httpCode : %1",
                            httpCode));
    Fail(TDbRequestError::Generic);
    return;
  }
  const TJsonTree tree(answerText);
  if (!ParsedOrFailed(tree, "TDbRequestGetGameInfo : Error parsing JSON result :", *this)) return;
  const yajl_val root = tree.GetRoot();
  bool failed = false;
  std::uint32_t newLastSequence = 0;
  if (const yajl_val lastSequence = GetJsonMember(root, "last_seq", yajl_t_number); lastSequence != nullptr) {
    newLastSequence = static_cast<std::uint32_t>(GetJsonInteger(lastSequence));
  } else {
    NetworkLog(kNetworkLogWarning, "TDbRequestGetGameInfo : missing last_seq key");
    failed = true;
  }
  const yajl_val results = GetJsonMember(root, "results", yajl_t_array);
  if (results == nullptr) {
    NetworkLog(kNetworkLogWarning, "TDbRequestGetGameInfo : failed to parse rows");
    lastSequence_ = newLastSequence;
    Fail(TDbRequestError::Generic);
    return;
  }
  for (std::size_t i = 0; i < YAJL_GET_ARRAY(results)->len; ++i) {
    const yajl_val result = YAJL_GET_ARRAY(results)->values[i];
    if (GetJsonMember(result, "deleted", yajl_t_true) != nullptr) continue;
    const yajl_val document = GetJsonMember(result, "doc", yajl_t_object);
    if (document == nullptr) {
      NetworkLog(kNetworkLogWarning, "TDbRequestGetGameInfo : missing key \"doc\"");
      failed = true;
      continue;
    }
    TOrvString<char> id;
    TDocumentFieldMap members;
    for (std::size_t m = 0; m < YAJL_GET_OBJECT(document)->len; ++m) {
      const char* name = YAJL_GET_OBJECT(document)->keys[m];
      const yajl_val value = YAJL_GET_OBJECT(document)->values[m];
      if (!YAJL_IS_STRING(value)) continue;
      if (std::strcmp(name, "_id") == 0) {
        id = YAJL_GET_STRING(value);
      } else if (name[0] != '_') {
        SetDocumentField(members, name, YAJL_GET_STRING(value));
      }
    }
    TGameDocumentMap::TEntryType* entry;
    if (documents_.FindOrInsert(id, &entry)) {
      ::new (static_cast<void*>(entry)) TGameDocumentMap::TEntryType{id, std::move(members)};
    } else {
      entry->value.~TDocumentFieldMap();
      ::new (static_cast<void*>(&entry->value)) TDocumentFieldMap(std::move(members));
    }
  }
  lastSequence_ = newLastSequence;
  if (failed) Fail(TDbRequestError::Generic);
}

}  // namespace Orvan::Network
