// Pack documents.
#include "network/database/pack_info_request.h"

#include "network/database/couchdb_database_accesser.h"
#include "network/database/json_tree.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Network {

TDbRequestGetPackInfo::TDbRequestGetPackInfo(const TOrvString<char>& packName)
    : path_("packdb/" + TCouchDBDatabaseAccesser::EscapeUrl(packName)) {}

TDbRequestGetPackInfo::~TDbRequestGetPackInfo() = default;

TOrvString<char> TDbRequestGetPackInfo::BuildUrl(const TOrvString<char>& accesserBaseUrl) {
  return accesserBaseUrl + path_;
}

void TDbRequestGetPackInfo::InterpretRequestResult(std::int32_t httpCode, const char* answerText) {
  if (httpCode == 404) {
    Fail(TDbRequestError::NotFound);
    return;
  }
  const TJsonTree tree(answerText);
  if (!ParsedOrFailed(tree, "TDbRequestGetPackInfo : Error parsing JSON result", *this)) return;
  const yajl_val games = GetJsonMember(tree.GetRoot(), "game_list", yajl_t_array);
  if (games == nullptr) {
    NetworkLog(kNetworkLogWarning, "TDbRequestGetPackInfo : missing game_list key");
    Fail(TDbRequestError::NotFound);
    return;
  }
  // Elements that are not numbers carry no game number and are passed over.
  for (std::size_t i = 0; i < YAJL_GET_ARRAY(games)->len; ++i) {
    const yajl_val game = YAJL_GET_ARRAY(games)->values[i];
    if (YAJL_IS_NUMBER(game)) gameNumbers_.PushBack(static_cast<std::uint32_t>(GetJsonInteger(game)));
  }
}

}  // namespace Orvan::Network
