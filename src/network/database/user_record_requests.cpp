// User-record requests.
#include "network/database/user_record_requests.h"

#include <atomic>
#include <cstring>
#include <string>

#include "core/text/positional_format.h"
#include "network/database/byte_decoding.h"
#include "network/database/couchdb_database_accesser.h"
#include "network/database/json_tree.h"
#include "network/database/upload_body.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Network {

namespace {

// The placeholder record's fixed salt and password digest.
constexpr char kPlaceholderSaltHex[] = "5c1d09e7a4b83f26d0e9b7a1c4f28e63";
constexpr char kPlaceholderDigestHex[] = "9e04b7d2a61c58f3e07d4a92b1c6f85de3a07b49c2d16e8f5a03b7c4";

std::atomic<std::uint64_t> g_placeholderMmsId{0};

void LogMissing(const char* text) { NetworkLog(kNetworkLogWarning, text); }

// Decodes a salt or digest of `n` bytes in the record's form. False only when the text holds fewer
// than `n` bytes: characters after them are ignored.
bool DecodeRecordBytes(const char* text, bool hexForm, std::uint8_t* out, std::uint32_t n) {
  if (hexForm) {
    HexToBytes(text, out, n);
    return std::strlen(text) >= 2 * std::size_t{n};
  }
  // The line break lets the base64 filter end the line.
  const std::string padded = std::string(text) + "==\n";
  return Base64DecodeToBuffer(padded.c_str(), out, n);
}

}  // namespace

// ---- Creating an account

TDbRequestCreateAccount::TDbRequestCreateAccount(const TOrvString<char>& userName, std::uint64_t userNumber,
                                                 const TOrvString<char>& saltText, std::uint8_t saltCount,
                                                 const TOrvString<char>& passwordDigestText)
    : userName_(userName) {
  body_ << "{\n\"mms_id\":" << userNumber << ",\"salt_count\":" << static_cast<unsigned>(saltCount)
        << ",\"passwd\":\"" << passwordDigestText.c_str() << "\",\"salt\":\"" << saltText.c_str() << "\"\n}";
}

TDbRequestCreateAccount::~TDbRequestCreateAccount() = default;

TOrvString<char> TDbRequestCreateAccount::BuildUrl(const TOrvString<char>& accesserBaseUrl) {
  return accesserBaseUrl + "userdb/" + TCouchDBDatabaseAccesser::EscapeUrl(userName_);
}

std::uint32_t TDbRequestCreateAccount::GetUploadSize() { return static_cast<std::uint32_t>(body_.str().size()); }

std::uint32_t TDbRequestCreateAccount::ReadUploadData(void* buffer, std::uint32_t maxBytes) {
  return CopyUploadPart(body_.str(), uploaded_, buffer, maxBytes);
}

void TDbRequestCreateAccount::InterpretRequestResult(std::int32_t httpCode, const char*) {
  if (httpCode >= 200 && httpCode <= 299) return;
  NetworkLog(kNetworkLogWarning,
             FormatValues("TDbRequestCreateAccount::InterpretRequestResult() error : request failed with httpCode : %1",
                          httpCode));
  Fail(TDbRequestError::Generic);
}

// ---- Login information

TDbRequestGetUserLoginInfo::TDbRequestGetUserLoginInfo(const TOrvString<char>& userName)
    : userName_(userName.GetLowerCase()) {}

TDbRequestGetUserLoginInfo::~TDbRequestGetUserLoginInfo() = default;

TOrvString<char> TDbRequestGetUserLoginInfo::BuildUrl(const TOrvString<char>& accesserBaseUrl) {
  return accesserBaseUrl + "userdb/" + TCouchDBDatabaseAccesser::EscapeUrl(userName_);
}

void TDbRequestGetUserLoginInfo::InterpretRequestResult(std::int32_t httpCode, const char* answerText) {
  if (httpCode == 404) {
    Fail(TDbRequestError::NotFound);
    return;
  }
  const TJsonTree tree(answerText);
  if (!ParsedOrFailed(tree, "TDbRequestGetUserLoginInfo : Error parsing JSON result", *this)) return;
  const yajl_val root = tree.GetRoot();
  bool failed = false;
  if (const yajl_val mmsId = GetJsonMember(root, "mms_id", yajl_t_number); mmsId != nullptr) {
    mmsId_ = static_cast<std::uint64_t>(GetJsonInteger(mmsId));
  } else {
    LogMissing("TDbRequestGetUserLoginInfo : missing mms_id key");
    failed = true;
  }
  if (const yajl_val saltCount = GetJsonMember(root, "salt_count", yajl_t_number); saltCount != nullptr) {
    saltCount_ = static_cast<std::uint8_t>(GetJsonInteger(saltCount));
  } else {
    LogMissing("TDbRequestGetUserLoginInfo : missing salt_count key");
    failed = true;
  }
  if (const yajl_val salt = GetJsonMember(root, "salt", yajl_t_string); salt != nullptr) {
    const char* text = YAJL_GET_STRING(salt);
    hexForm_ = std::strlen(text) == kHexSaltLength ? 1 : 0;
    if (!DecodeRecordBytes(text, IsHexForm(), salt_, kSaltSize)) {
      LogMissing("TDbRequestGetUserLoginInfo : salt holds fewer than 16 bytes");
      failed = true;
    }
  } else {
    LogMissing("TDbRequestGetUserLoginInfo : missing salt key");
    failed = true;
  }
  if (const yajl_val passwd = GetJsonMember(root, "passwd", yajl_t_string); passwd != nullptr) {
    if (!DecodeRecordBytes(YAJL_GET_STRING(passwd), IsHexForm(), passwordDigest_, kPasswordDigestSize)) {
      LogMissing("TDbRequestGetUserLoginInfo : passwd holds fewer than 28 bytes");
      failed = true;
    }
  } else {
    LogMissing("TDbRequestGetUserLoginInfo : missing passwd key");
    failed = true;
  }
  if (const yajl_val banEnd = GetJsonMember(root, "ban_end_date", yajl_t_number); banEnd != nullptr) {
    banEndDate_ = static_cast<std::uint64_t>(GetJsonInteger(banEnd));
  }
  const yajl_val key = GetJsonMember(root, "dedicated_key", yajl_t_string);
  dedicatedKey_ = key != nullptr ? YAJL_GET_STRING(key) : "";
  if (failed) Fail(TDbRequestError::Generic);
}

void TDbRequestGetUserLoginInfo::AnswerWithoutDatabase() {
  saltCount_ = 12;
  hexForm_ = 1;
  placeholder_ = 1;
  mmsId_ = NextPlaceholderMmsId();
  HexToBytes(kPlaceholderSaltHex, salt_, kSaltSize);
  HexToBytes(kPlaceholderDigestHex, passwordDigest_, kPasswordDigestSize);
}

bool TDbRequestGetUserLoginInfo::SetPasswordDigestFromHex(const char* text) {
  return HexToBytes(text, passwordDigest_, kPasswordDigestSize);
}

bool TDbRequestGetUserLoginInfo::SetSaltFromHex(const char* text) { return HexToBytes(text, salt_, kSaltSize); }

std::uint64_t TDbRequestGetUserLoginInfo::NextPlaceholderMmsId() { return ++g_placeholderMmsId; }

// ---- Highest user number

TDbRequestGetHighestMmsId::~TDbRequestGetHighestMmsId() = default;

TOrvString<char> TDbRequestGetHighestMmsId::BuildUrl(const TOrvString<char>& accesserBaseUrl) {
  return accesserBaseUrl + "userdb/_design/user/_view/by_mms_id?descending=true&limit=1";
}

void TDbRequestGetHighestMmsId::InterpretRequestResult(std::int32_t httpCode, const char* answerText) {
  if (httpCode == 404) {
    NetworkLog(kNetworkLogWarning, "TDbRequestGetHighestMmsId : resultCode is HttpCodeNotFound");
    Fail(TDbRequestError::NotFound);
    return;
  }
  const TJsonTree tree(answerText);
  if (!ParsedOrFailed(tree, "TDbRequestGetHighestMmsId : Error parsing JSON result", *this)) return;
  const yajl_val totalRows = GetJsonMember(tree.GetRoot(), "total_rows", yajl_t_number);
  if (totalRows == nullptr) {
    LogMissing("TDbRequestGetHighestMmsId : missing total_rows key");
    Fail(TDbRequestError::Generic);
    return;
  }
  if (GetJsonInteger(totalRows) == 0) {
    NetworkLog(kNetworkLogInformation, "TDbRequestGetHighestMmsId : No user in database");
    highestMmsId_ = 0;
    return;
  }
  const yajl_val rows = GetJsonMember(tree.GetRoot(), "rows", yajl_t_array);
  if (rows == nullptr) {
    LogMissing("TDbRequestGetHighestMmsId : failed to parse rows");
    Fail(TDbRequestError::Generic);
    return;
  }
  // Rows left empty despite a count read as a row without its key.
  const yajl_val firstRow = YAJL_GET_ARRAY(rows)->len != 0 ? YAJL_GET_ARRAY(rows)->values[0] : nullptr;
  const yajl_val key = GetJsonMember(firstRow, "key", yajl_t_number);
  if (key == nullptr) {
    LogMissing("TDbRequestGetHighestMmsId : missing key \"key\"");
    Fail(TDbRequestError::Generic);
    return;
  }
  highestMmsId_ = static_cast<std::uint64_t>(GetJsonInteger(key));
}

}  // namespace Orvan::Network
