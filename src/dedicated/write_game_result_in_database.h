// The upload of a finished game's result: one multipart POST of the result document with the
// server's match-making account to the game-reporting URL. It runs on its own, owned by the
// operation manager from its launch; whatever comes of it is only logged and the game goes on.
#pragma once

#include <curl/curl.h>

#include "core/text/engine_string.h"
#include "network/http_request.h"

namespace Orvan::Dedicated {

class TWriteGameResultInDatabase : public Network::THttpRequest {
 public:
  TWriteGameResultInDatabase(Network::TOperationWithTimeOutManager* operationManager,
                             Network::TCurlRequestManager* requestManager, const TOrvString<char>& url,
                             const TOrvString<char>& resultText);
  // Frees the form, which also detaches it from the handle it was last set on.
  ~TWriteGameResultInDatabase() override;

  const TOrvString<char>& GetResultText() const { return resultText_; }
  // Tests shorten the transfer's own limit.
  void SetTransferLimitMilliseconds(long milliseconds) { transferLimitMilliseconds_ = milliseconds; }

 protected:
  // The form's fields "game" (the result text), "login" and "password" (the main task's login and
  // dedicated key); peer and host verification are off, as the endpoint has always been reached
  // without them. Refused without a lent handle or a main task, or when libcurl cannot build the
  // form.
  bool PrepareRequest() override;
  void VirtualOnOperationTerminated() override;
  void VirtualOnOperationTimeout() override;
  void VirtualOnOperationKilled() override;

 private:
  void FreeForm();

  TOrvString<char> resultText_;
  curl_mime* form_ = nullptr;
  // The request's time-out, applied by libcurl: the operation manager's tick, which would time the
  // upload out, is not driven by the main loop, so a stalled endpoint would otherwise hold a handle of
  // the pool for good, and after a few such games no result would go out any more. The upload then
  // ends as a transfer without a response code.
  long transferLimitMilliseconds_ = static_cast<long>(kTimeOutMilliseconds);
};

}  // namespace Orvan::Dedicated
