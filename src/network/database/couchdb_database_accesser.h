// The accesser that runs requests as HTTP GETs and PUTs against a CouchDB server through libcurl's
// multi interface, a fixed pool of transfer slots and a first-in, first-out queue.
#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <sstream>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"
#include "network/database/database_accesser.h"

namespace Orvan::Network {

// One transfer slot: an easy handle reused for every request, and what its transfer collects.
struct TCouchDBHandle {
  CURL* easy = nullptr;
  IGenericDbStruct* request = nullptr;  // null while free
  std::ostringstream answer;
  // The request's answer limit, taken when the transfer starts.
  std::size_t answerLimit = 0;
  // The answer grew past its limit: the transfer was ended and the request fails.
  bool answerOverLimit = false;
  // The easy handle reads the URL from here during the transfer.
  TOrvString<char> url;
};

class TCouchDBDatabaseAccesser : public TDatabaseAccesser {
 public:
  // The pool size the server gives it: at most this many transfers at once.
  static constexpr std::uint32_t kServerPoolSize = 20;

  // `baseUrl` ends with "/": request paths are appended to it.
  TCouchDBDatabaseAccesser(const TOrvString<char>& baseUrl, std::uint32_t poolSize);
  // Releases every running and queued request without deleting it (they belong to their
  // requesters). libcurl's global state is main's to clean up.
  ~TCouchDBDatabaseAccesser() override;

  // Creates the multi handle and the pool, once.
  void Init() override;
  void QueueRequest(TOperationOnDatabase* owner, IGenericDbStruct* request) override;
  void CancelRequestsOf(TOperationOnDatabase* owner) override;
  void Perform() override;

  // Percent-encoding of a URL component: every byte but A-Z a-z 0-9 - _ . ~ as "%XX".
  static TOrvString<char> EscapeUrl(const TOrvString<char>& text);

  const TOrvString<char>& GetBaseUrl() const { return baseUrl_; }
  CURLM* GetMultiHandle() const { return multi_; }
  std::uint32_t GetFreeHandleCount() const { return freeHandles_.GetSize(); }
  std::uint32_t GetBusyHandleCount() const { return busyHandles_.GetSize(); }
  std::uint32_t GetQueuedCount() const { return queue_.GetSize(); }

 private:
  void StartQueuedRequests();
  // Gives the memory of the large answers freed since the last call back to the system.
  void TrimHeapWhenDue();
  void PrepareHandle(TCouchDBHandle* slot, const TOrvString<char>& baseUrl, IGenericDbStruct* request);
  // Takes the slot's request away, frees what its answer took and moves the slot from busy to free.
  void DetachSlot(std::uint32_t busyIndex);
  static std::size_t ReadCallback(char* buffer, std::size_t size, std::size_t count, void* slot);
  static std::size_t WriteCallback(char* data, std::size_t size, std::size_t count, void* slot);

  TOrvString<char> baseUrl_;
  std::uint32_t poolSize_;
  CURLM* multi_ = nullptr;
  TVector<TCouchDBHandle*> freeHandles_;
  TVector<TCouchDBHandle*> busyHandles_;
  TVector<IGenericDbStruct*> queue_;
  // An answer past kAnswerTrimBytes was freed since the process heap was last trimmed.
  bool trimDue_ = false;
};

}  // namespace Orvan::Network
