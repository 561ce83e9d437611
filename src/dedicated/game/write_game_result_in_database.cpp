// The game result upload: its multipart form and the lines it logs when it ends.
#include "dedicated/game/write_game_result_in_database.h"

#include <cstdlib>
#include <string>

#include "dedicated/program/main_server_task.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

// False when libcurl could not add the field (out of memory).
bool AddField(curl_mime* form, const char* name, const TOrvString<char>& content) {
  curl_mimepart* part = curl_mime_addpart(form);
  // The form keeps its own copies of the name and the content.
  return part != nullptr && curl_mime_name(part, name) == CURLE_OK &&
         curl_mime_data(part, content.c_str(), content.GetLength()) == CURLE_OK;
}

// The answers that mean the endpoint took the result.
constexpr long kFirstSuccessCode = 200;
constexpr long kLastSuccessCode = 299;

// The standard OpenSSL variables naming a trust store in place of the system's.
const char kCertificateFileVariable[] = "SSL_CERT_FILE";
const char kCertificateFolderVariable[] = "SSL_CERT_DIR";

// A set, non-empty variable's value, else null.
const char* ReadVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// Verification against the trust store. The handle keeps what an earlier transfer set, so both
// places are set every time: the variables' when either is set, else libcurl's built-in ones.
void SetTrustStore(CURL* easy) {
  const char* file = ReadVariable(kCertificateFileVariable);
  const char* folder = ReadVariable(kCertificateFolderVariable);
  if (file == nullptr && folder == nullptr) {
    char* builtInFile = nullptr;
    char* builtInFolder = nullptr;
    curl_easy_getinfo(easy, CURLINFO_CAINFO, &builtInFile);
    curl_easy_getinfo(easy, CURLINFO_CAPATH, &builtInFolder);
    file = builtInFile;
    folder = builtInFolder;
  }
  curl_easy_setopt(easy, CURLOPT_CAINFO, file);
  curl_easy_setopt(easy, CURLOPT_CAPATH, folder);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
}

}  // namespace

TWriteGameResultInDatabase::TWriteGameResultInDatabase(Network::TOperationWithTimeOutManager* operationManager,
                                                       Network::TCurlRequestManager* requestManager,
                                                       const TOrvString<char>& url,
                                                       const TOrvString<char>& resultText)
    : THttpRequest(operationManager, requestManager), resultText_(resultText) {
  url_ = url;
}

TWriteGameResultInDatabase::~TWriteGameResultInDatabase() { FreeForm(); }

void TWriteGameResultInDatabase::FreeForm() {
  curl_mime_free(form_);
  form_ = nullptr;
}

bool TWriteGameResultInDatabase::PrepareRequest() {
  if (easy_ == nullptr) return false;
  FreeForm();
  const TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr) return false;
  form_ = curl_mime_init(easy_);
  if (form_ == nullptr || !AddField(form_, "game", resultText_) || !AddField(form_, "login", task->GetLogin()) ||
      !AddField(form_, "password", task->GetKey())) {
    FreeForm();
    return false;
  }
  curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &THttpRequest::WriteCallback);
  curl_easy_setopt(easy_, CURLOPT_WRITEDATA, static_cast<THttpRequest*>(this));
  SetTrustStore(easy_);
  curl_easy_setopt(easy_, CURLOPT_MIMEPOST, form_);
  return true;
}

void TWriteGameResultInDatabase::VirtualOnOperationTerminated() {
  Network::NetworkLog(Network::kNetworkLogInformation,
                      "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: " +
                          TOrvString<char>(std::to_string(GetResponseCode())));
  // The result is not sent again: a lost one is worth a warning that names where it went.
  if (GetTransferResult() != CURLE_OK) {
    LogLostResult("VirtualOnOperationTerminated", "failed: " + GetTransferErrorText());
  } else if (GetResponseCode() < kFirstSuccessCode || GetResponseCode() > kLastSuccessCode) {
    LogLostResult("VirtualOnOperationTerminated",
                  "failed: HTTP status " + TOrvString<char>(std::to_string(GetResponseCode())));
  }
}

void TWriteGameResultInDatabase::VirtualOnOperationTimeout() {
  Network::NetworkLog(Network::kNetworkLogInformation, "TWriteGameResultInDatabase::VirtualOnOperationTimeout()");
  LogLostResult("VirtualOnOperationTimeout",
                "failed: no answer within " +
                    TOrvString<char>(std::to_string(static_cast<long>(kTimeOutMilliseconds / 1000))) + " s");
}

void TWriteGameResultInDatabase::VirtualOnOperationKilled() {
  Network::NetworkLog(Network::kNetworkLogInformation, "TWriteGameResultInDatabase::VirtualOnOperationKilled()");
  LogLostResult("VirtualOnOperationKilled", "abandoned");
}

void TWriteGameResultInDatabase::LogLostResult(const char* operation, const TOrvString<char>& what) const {
  Network::NetworkLog(Network::kNetworkLogWarning, TOrvString<char>("TWriteGameResultInDatabase::") + operation +
                                                       "() -> upload to " + GetUrl() + " " + what);
}

}  // namespace Orvan::Dedicated
