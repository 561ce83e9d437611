// The upload of a finished game's result: one multipart POST of the result document with the
// server's match-making account to the game-reporting URL. It runs on its own, owned by the
// operation manager from its launch; whatever comes of it is only logged and the game goes on.
#pragma once

#include <curl/curl.h>

#include "core/text/engine_string.h"
#include "network/operations/http_request.h"

namespace Orvan::Dedicated {

class TWriteGameResultInDatabase : public Network::THttpRequest {
 public:
  TWriteGameResultInDatabase(Network::TOperationWithTimeOutManager* operationManager,
                             Network::TCurlRequestManager* requestManager, const TOrvString<char>& url,
                             const TOrvString<char>& resultText);
  // Frees the form, which also detaches it from the handle it was last set on.
  ~TWriteGameResultInDatabase() override;

  const TOrvString<char>& GetResultText() const { return resultText_; }

 protected:
  // The form's fields "game" (the result text), "login" and "password" (the main task's login and
  // dedicated key). The dedicated key goes only to an endpoint whose certificate and host name check
  // out against the system's trust store, or against the one that SSL_CERT_FILE / SSL_CERT_DIR name
  // when either is set (a private CA). Refused without a lent handle or a main task, or when
  // libcurl cannot build the form.
  bool PrepareRequest() override;
  // Log their line at information level; whenever the result did not reach the endpoint (a failed
  // transfer with libcurl's error text, an answer outside 2xx with its status, the time-out, a kill
  // at exit) also a warning with the URL, as the result is not sent again.
  void VirtualOnOperationTerminated() override;
  void VirtualOnOperationTimeout() override;
  void VirtualOnOperationKilled() override;

 private:
  void FreeForm();
  void LogLostResult(const char* operation, const TOrvString<char>& what) const;

  TOrvString<char> resultText_;
  curl_mime* form_ = nullptr;
};

}  // namespace Orvan::Dedicated
