// HTTP transfers as operations with time-out: a request borrows an easy handle from the manager's
// pool while it transfers, and the manager drives libcurl's multi interface from the main loop,
// starting queued requests in arrival order and ending each one when libcurl reports it done.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <sstream>
#include <string>

#include "core/containers/engine_vector.h"
#include "core/containers/open_hash_map.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "network/operations/operation_with_time_out.h"

namespace Orvan::Network {

class TCurlRequestManager;

class THttpRequest : public TOperationWithTimeOut {
 public:
  // Every transfer has two minutes to end.
  static constexpr double kTimeOutMilliseconds = 120000.0;

  THttpRequest(TOperationWithTimeOutManager* operationManager, TCurlRequestManager* requestManager);
  ~THttpRequest() override;

  // For CURLOPT_WRITEFUNCTION with the request as CURLOPT_WRITEDATA: appends the bytes to the answer.
  // An answer that would grow past kMaxAnswerBytes is logged with the URL and ends the transfer as
  // failed (0 is handed back to libcurl).
  static std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* request);
  std::size_t AppendToAnswer(const char* data, std::size_t length);

  CURL* GetEasyHandle() const { return easy_; }
  const TOrvString<char>& GetUrl() const { return url_; }
  std::string GetAnswer() const { return answer_.str(); }
  long GetResponseCode() const { return responseCode_; }
  TTimeStamp GetTransferStart() const { return transferStart_; }
  // libcurl's result of the finished transfer (CURLE_OK until one finished) and its error text:
  // libcurl's own detail when it gave one, else the text of the code.
  CURLcode GetTransferResult() const { return transferResult_; }
  TOrvString<char> GetTransferErrorText() const;

 protected:
  // Sets every option the transfer needs on the lent easy handle (which keeps the options of its
  // last transfer); false gives the request up.
  virtual bool PrepareRequest() = 0;
  virtual void VirtualOnOperationTerminated() = 0;
  virtual void VirtualOnOperationTimeout() = 0;
  virtual void VirtualOnOperationKilled() = 0;

  bool OnOperationLaunched() override;
  void OnOperationTerminated() override;
  void OnOperationTimeout() override;
  void OnOperationKilled() override;
  void OnOperationUpdate() override {}

  CURL* easy_ = nullptr;
  TOrvString<char> url_;
  std::ostringstream answer_;

 private:
  friend class TCurlRequestManager;

  TCurlRequestManager* requestManager_;
  TTimeStamp transferStart_ = 0;
  long responseCode_ = 0;
  CURLcode transferResult_ = CURLE_OK;
  // libcurl's CURLOPT_ERRORBUFFER while the request holds a handle.
  char errorText_[CURL_ERROR_SIZE] = {};
};

class TCurlRequestManager {
 public:
  // At most this many transfers run at once; the others wait in arrival order.
  static constexpr std::uint32_t kHandlePoolSize = 15;

  TCurlRequestManager();
  // Requests still queued or transferring are not ended.
  ~TCurlRequestManager();
  TCurlRequestManager(const TCurlRequestManager&) = delete;
  TCurlRequestManager& operator=(const TCurlRequestManager&) = delete;

  void Enqueue(THttpRequest* request);
  void StartQueued();
  // One step of every transfer, from the main loop.
  void Perform();
  // Takes the request out of the queue or its transfer out of the multi handle.
  void Release(THttpRequest* request);

  CURLM* GetMultiHandle() const { return multi_; }
  std::uint32_t GetFreeHandleCount() const { return static_cast<std::uint32_t>(freeHandles_.size()); }
  std::uint32_t GetActiveCount() const { return active_.Count(); }
  std::uint32_t GetQueuedCount() const { return queue_.GetSize(); }

 private:
  using TActiveMap = TOpenHashMap<TKeyValueEntry<CURL*, THttpRequest*>, TPointerHash, TWordEqual,
                                  default_allocator<unsigned char>>;

  CURLM* multi_ = nullptr;
  std::deque<CURL*> freeHandles_;
  TActiveMap active_;
  TVector<THttpRequest*> queue_;
};

}  // namespace Orvan::Network
