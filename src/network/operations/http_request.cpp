// HTTP requests and the libcurl multi-handle manager that runs them.
#include "network/operations/http_request.h"

#include "network/logging/network_hooks.h"
#include "network/operations/answer_limit.h"

namespace Orvan::Network {

THttpRequest::THttpRequest(TOperationWithTimeOutManager* operationManager, TCurlRequestManager* requestManager)
    : TOperationWithTimeOut(operationManager, kTimeOutMilliseconds), requestManager_(requestManager) {}

THttpRequest::~THttpRequest() = default;

std::size_t THttpRequest::WriteCallback(char* data, std::size_t size, std::size_t count, void* request) {
  return static_cast<THttpRequest*>(request)->AppendToAnswer(data, size * count);
}

std::size_t THttpRequest::AppendToAnswer(const char* data, std::size_t length) {
  return AppendWithinAnswerLimit(answer_, data, length, "THttpRequest::AppendToAnswer()", url_) ? length : 0;
}

TOrvString<char> THttpRequest::GetTransferErrorText() const {
  return errorText_[0] != '\0' ? TOrvString<char>(errorText_) : TOrvString<char>(curl_easy_strerror(transferResult_));
}

bool THttpRequest::OnOperationLaunched() {
  requestManager_->Enqueue(this);
  return true;
}

void THttpRequest::OnOperationTerminated() {
  VirtualOnOperationTerminated();
  requestManager_->Release(this);
}

void THttpRequest::OnOperationTimeout() {
  VirtualOnOperationTimeout();
  requestManager_->Release(this);
}

void THttpRequest::OnOperationKilled() {
  VirtualOnOperationKilled();
  requestManager_->Release(this);
}

TCurlRequestManager::TCurlRequestManager() {
  multi_ = curl_multi_init();
  if (multi_ == nullptr) {
    NetworkLog(kNetworkLogWarning,
               "Couldn't initialize CURL. The error code has been lost, debug the curl_global_init call in main to "
               "retrieve it.");
    return;
  }
  for (std::uint32_t i = 0; i < kHandlePoolSize; ++i) {
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
      NetworkLog(kNetworkLogWarning, "Couldn't get CURL handle.");
      return;
    }
    freeHandles_.push_front(easy);
  }
}

TCurlRequestManager::~TCurlRequestManager() {
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
  for (CURL* easy : freeHandles_) curl_easy_cleanup(easy);
}

void TCurlRequestManager::Enqueue(THttpRequest* request) {
  if (multi_ != nullptr && request->easy_ == nullptr) queue_.PushBack(request);
}

void TCurlRequestManager::StartQueued() {
  if (multi_ == nullptr) return;
  while (!freeHandles_.empty() && !queue_.IsEmpty()) {
    THttpRequest* request = queue_[0];
    CURL* easy = freeHandles_.front();
    request->easy_ = easy;
    request->errorText_[0] = '\0';
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, request->errorText_);
    GetTimeStamp(request->transferStart_);
    if (request->PrepareRequest() && curl_multi_add_handle(multi_, easy) == CURLM_OK) {
      TActiveMap::TEntryType* entry;
      if (active_.FindOrInsert(easy, &entry)) {
        ::new (static_cast<void*>(entry)) TActiveMap::TEntryType{easy, request};
      } else {
        entry->value = request;
      }
      queue_.EraseAt(0);
      freeHandles_.pop_front();
    } else {
      // Refused: the handle stays in the pool and the request ends (Release takes it out of the
      // queue), so it cannot stop the ones behind it.
      request->easy_ = nullptr;
      curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
      request->TerminateOperation();
    }
  }
}

void TCurlRequestManager::Perform() {
  if (multi_ == nullptr) return;
  if (!active_.IsEmpty()) {
    int running = 0;
    curl_multi_perform(multi_, &running);
    if (static_cast<std::uint32_t>(running) < active_.Count()) {
      int left = 0;
      while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
        if (message->msg != CURLMSG_DONE) continue;
        CURL* easy = message->easy_handle;
        TActiveMap::TEntryType* entry = active_.Find(easy);
        if (entry == nullptr) continue;
        THttpRequest* request = entry->value;
        long code = 0;
        if (curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &code) == CURLE_OK) request->responseCode_ = code;
        request->transferResult_ = message->data.result;
        request->TerminateOperation();
      }
    }
  }
  StartQueued();
}

void TCurlRequestManager::Release(THttpRequest* request) {
  if (multi_ == nullptr) return;
  for (std::uint32_t i = 0; i < queue_.GetSize(); ++i) {
    if (queue_[i] == request) {
      // Erased in place, so the requests behind it keep their turn.
      queue_.EraseAt(i);
      break;
    }
  }
  CURL* easy = request->easy_;
  if (easy == nullptr) return;
  curl_multi_remove_handle(multi_, easy);
  // The pooled handle must not write into a request that is about to go.
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, static_cast<char*>(nullptr));
  freeHandles_.push_front(easy);
  request->easy_ = nullptr;
  if (TActiveMap::TEntryType* entry = active_.Find(easy); entry != nullptr && entry->value == request) {
    active_.Erase(easy);
  }
}

}  // namespace Orvan::Network
