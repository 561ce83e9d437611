// Leaderboard views.
#include "network/database/leaderboard_request.h"

#include <curl/curl.h>

#include "core/text/positional_format.h"
#include "network/database/json_tree.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Network {

namespace {

// libcurl's URL escaping.
TOrvString<char> CurlEscape(const TOrvString<char>& text) {
  char* escaped = curl_easy_escape(nullptr, text.c_str(), static_cast<int>(text.GetLength()));
  if (escaped == nullptr) return TOrvString<char>();
  TOrvString<char> result(escaped);
  curl_free(escaped);
  return result;
}

}  // namespace

TDbRequestGetLeaderboard::TDbRequestGetLeaderboard(const TOrvString<char>& databaseUrl,
                                                   const TOrvString<char>& viewName, std::uint32_t limit,
                                                   bool descending)
    : databaseUrl_(databaseUrl), viewName_(viewName), limit_(limit), descending_(descending) {}

TDbRequestGetLeaderboard::TDbRequestGetLeaderboard(const TOrvString<char>& databaseUrl,
                                                   const TOrvString<char>& viewName, std::uint32_t limit,
                                                   bool descending, const TOrvString<char>& startKey)
    : databaseUrl_(databaseUrl), viewName_(viewName), limit_(limit), descending_(descending), startKey_(startKey) {}

TDbRequestGetLeaderboard::~TDbRequestGetLeaderboard() = default;

TOrvString<char> TDbRequestGetLeaderboard::BuildUrl(const TOrvString<char>&) {
  TOrvString<char> url = databaseUrl_ + "_design/LB/_view/" + CurlEscape(viewName_) + "?descending=" +
                         (descending_ ? "true" : "false") + FormatValues("&limit=%1", limit_);
  if (!startKey_.IsEmpty()) url += "&startkey=" + CurlEscape(startKey_);
  return url;
}

void TDbRequestGetLeaderboard::InterpretRequestResult(std::int32_t httpCode, const char* answerText) {
  if (httpCode == 404) {
    Fail(TDbRequestError::NotFound);
    return;
  }
  const TJsonTree tree(answerText);
  if (!ParsedOrFailed(tree, "TDbRequestGetLeaderboard : Error parsing JSON result", *this)) return;
  const yajl_val root = tree.GetRoot();
  bool failed = false;
  if (const yajl_val totalRows = GetJsonMember(root, "total_rows", yajl_t_number); totalRows != nullptr) {
    totalRows_ = static_cast<std::uint64_t>(GetJsonInteger(totalRows));
  } else {
    NetworkLog(kNetworkLogWarning, "TDbRequestGetLeaderboard : missing total_rows key");
    failed = true;
  }
  if (const yajl_val offset = GetJsonMember(root, "offset", yajl_t_number); offset != nullptr) {
    offset_ = static_cast<std::uint64_t>(GetJsonInteger(offset));
  } else {
    NetworkLog(kNetworkLogWarning, "TDbRequestGetLeaderboard : missing offset key");
    failed = true;
  }
  if (const yajl_val rows = GetJsonMember(root, "rows", yajl_t_array); rows != nullptr) {
    for (std::size_t i = 0; i < YAJL_GET_ARRAY(rows)->len; ++i) {
      if (GetJsonMember(YAJL_GET_ARRAY(rows)->values[i], "key", yajl_t_array) == nullptr) {
        NetworkLog(kNetworkLogWarning, "TDbRequestGetLeaderboard : missing key key");
        failed = true;
        break;
      }
    }
  }
  if (failed) Fail(TDbRequestError::Generic);
}

}  // namespace Orvan::Network
