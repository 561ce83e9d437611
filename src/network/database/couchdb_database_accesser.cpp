// The CouchDB accesser over libcurl.
#include "network/database/couchdb_database_accesser.h"

#include <malloc.h>

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "core/text/positional_format.h"
#include "network/database/operation_on_database.h"
#include "network/logging/network_hooks.h"
#include "network/operations/answer_limit.h"

namespace Orvan::Network {

namespace {

// Answers past this size, once freed, are given back to the system: the process heap keeps the
// memory of a freed large block for reuse (glibc raises its threshold for mapping large blocks
// apart after each one freed), so 20 answers of 16 MiB would otherwise stay with the process.
constexpr std::size_t kAnswerTrimBytes = 256u * 1024u;

// Frees the stream's buffer (emptying it would keep its capacity).
void ReleaseAnswer(std::ostringstream& answer, bool& trimDue) {
  const std::streamoff held = answer.tellp();
  if (held > 0 && static_cast<std::size_t>(held) > kAnswerTrimBytes) trimDue = true;
  std::ostringstream().swap(answer);
}

void ReleaseAnswer(std::string& answer) { std::string().swap(answer); }

}  // namespace

TCouchDBDatabaseAccesser::TCouchDBDatabaseAccesser(const TOrvString<char>& baseUrl, std::uint32_t poolSize)
    : baseUrl_(baseUrl), poolSize_(poolSize) {}

TCouchDBDatabaseAccesser::~TCouchDBDatabaseAccesser() {
  while (!busyHandles_.IsEmpty()) {
    curl_multi_remove_handle(multi_, busyHandles_[0]->easy);
    DetachSlot(0);
  }
  for (IGenericDbStruct* request : queue_) request->MarkReleased();
  queue_.Clear();
  for (TCouchDBHandle* slot : freeHandles_) {
    curl_easy_cleanup(slot->easy);
    delete slot;
  }
  freeHandles_.Clear();
  if (multi_ != nullptr) curl_multi_cleanup(multi_);
}

void TCouchDBDatabaseAccesser::Init() {
  if (multi_ != nullptr) return;
  multi_ = curl_multi_init();
  if (multi_ == nullptr) {
    NetworkLog(kNetworkLogWarning, "TCouchDBDatabaseAccesser::Init() -> curl_multi_init failed");
    return;
  }
  for (std::uint32_t i = 0; i < poolSize_; ++i) {
    CURL* easy = curl_easy_init();
    if (easy == nullptr) {
      NetworkLog(kNetworkLogWarning, "TCouchDBDatabaseAccesser::Init() -> curl_easy_init failed");
      return;
    }
    TCouchDBHandle* slot = new TCouchDBHandle;
    slot->easy = easy;
    freeHandles_.PushBack(slot);
  }
}

void TCouchDBDatabaseAccesser::QueueRequest(TOperationOnDatabase* owner, IGenericDbStruct* request) {
  request->SetOwner(owner);
  queue_.PushBack(request);
  StartQueuedRequests();
}

void TCouchDBDatabaseAccesser::StartQueuedRequests() {
  while (!queue_.IsEmpty() && !freeHandles_.IsEmpty()) {
    TCouchDBHandle* slot = freeHandles_[0];
    freeHandles_.EraseAt(0);
    IGenericDbStruct* request = queue_[0];
    queue_.EraseAt(0);
    busyHandles_.PushBack(slot);
    PrepareHandle(slot, baseUrl_, request);
    curl_multi_add_handle(multi_, slot->easy);
  }
}

void TCouchDBDatabaseAccesser::PrepareHandle(TCouchDBHandle* slot, const TOrvString<char>& baseUrl,
                                             IGenericDbStruct* request) {
  slot->answerOverLimit = false;
  slot->answerLimit = request->GetAnswerLimit();
  slot->request = request;
  slot->url = request->BuildUrl(baseUrl);
  CURL* easy = slot->easy;
  curl_easy_setopt(easy, CURLOPT_URL, slot->url.c_str());
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, &ReadCallback);
  curl_easy_setopt(easy, CURLOPT_READDATA, static_cast<void*>(slot));
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &WriteCallback);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(slot));
  const std::uint32_t size = request->GetUploadSize();
  if (size != 0) {
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(size));
  } else {
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 0L);
  }
  // libcurl's own limits, no longer than the operation's time-out, so that a transfer whose peer
  // never answers also ends on libcurl's side. 0 (no owner) leaves libcurl's defaults.
  const TOperationOnDatabase* owner = request->GetOwner();
  const long limit = owner != nullptr ? static_cast<long>(owner->GetTimeOut()) : 0L;
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, limit);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, limit);
}

void TCouchDBDatabaseAccesser::DetachSlot(std::uint32_t busyIndex) {
  TCouchDBHandle* slot = busyHandles_[busyIndex];
  if (slot->request != nullptr) slot->request->MarkReleased();
  slot->request = nullptr;
  ReleaseAnswer(slot->answer, trimDue_);
  busyHandles_.EraseAt(busyIndex);
  freeHandles_.PushBack(slot);
}

void TCouchDBDatabaseAccesser::Perform() {
  if (multi_ == nullptr) return;
  int running = 0;
  curl_multi_perform(multi_, &running);
  if (static_cast<std::uint32_t>(running) == busyHandles_.GetSize()) return;
  for (;;) {
    int left = 0;
    CURLMsg* message = curl_multi_info_read(multi_, &left);
    if (message == nullptr) {
      StartQueuedRequests();
      TrimHeapWhenDue();
      return;
    }
    if (message->msg != CURLMSG_DONE) continue;
    CURL* easy = message->easy_handle;
    std::uint32_t index = 0;
    while (index < busyHandles_.GetSize() && busyHandles_[index]->easy != easy) ++index;
    if (index == busyHandles_.GetSize()) continue;  // not one of ours any more
    TCouchDBHandle* slot = busyHandles_[index];
    IGenericDbStruct* request = slot->request;
    const bool overLimit = slot->answerOverLimit;
    // The answer leaves the slot before the listener hears of it: a request queued meanwhile may
    // take the slot over.
    std::string answer = overLimit ? std::string() : std::move(slot->answer).str();
    DetachSlot(index);
    curl_multi_remove_handle(multi_, easy);
    // Taken before the answer: once the listener has heard of it, the request may be gone.
    TOperationOnDatabase* owner = request->GetOwner();

    long status = 0;
    const CURLcode result = curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    if (result != CURLE_OK) {
      NetworkLog(kNetworkLogWarning, TOrvString<char>("Curl error result returned : ") + curl_easy_strerror(result));
      request->Fail(TDbRequestError::Generic);
    } else if (overLimit) {
      // Cut short, so never interpreted; the cap's line was logged when it was reached.
      request->Fail(TDbRequestError::Generic);
    } else if (status == 404) {
      request->Fail(TDbRequestError::NotFound);
    } else if (status == 200 || status == 201 || status == 409) {
      request->InterpretRequestResult(static_cast<std::int32_t>(status), answer.c_str());
    } else {
      NetworkLog(kNetworkLogWarning, FormatValues("Curl HTTP %1 error", static_cast<long long>(status)));
      request->Fail(TDbRequestError::Generic);
    }
    if (answer.size() > kAnswerTrimBytes) trimDue_ = true;
    ReleaseAnswer(answer);
    if (owner != nullptr) owner->RunNextRequest();
  }
}

void TCouchDBDatabaseAccesser::TrimHeapWhenDue() {
  if (!trimDue_) return;
  trimDue_ = false;
  malloc_trim(0);
}

void TCouchDBDatabaseAccesser::CancelRequestsOf(TOperationOnDatabase* owner) {
  for (std::uint32_t i = 0; i < busyHandles_.GetSize();) {
    TCouchDBHandle* slot = busyHandles_[i];
    if (slot->request != nullptr && slot->request->GetOwner() == owner) {
      curl_multi_remove_handle(multi_, slot->easy);
      DetachSlot(i);
    } else {
      ++i;
    }
  }
  ReleaseQueuedRequestsOf(queue_, owner);
}

std::size_t TCouchDBDatabaseAccesser::ReadCallback(char* buffer, std::size_t size, std::size_t count, void* slot) {
  IGenericDbStruct* request = static_cast<TCouchDBHandle*>(slot)->request;
  if (request == nullptr) return 0;
  const std::size_t room = size * count;
  const std::uint32_t maxBytes = room > std::numeric_limits<std::uint32_t>::max()
                                     ? std::numeric_limits<std::uint32_t>::max()
                                     : static_cast<std::uint32_t>(room);
  return request->ReadUploadData(buffer, maxBytes);
}

std::size_t TCouchDBDatabaseAccesser::WriteCallback(char* data, std::size_t size, std::size_t count, void* slot) {
  auto* handle = static_cast<TCouchDBHandle*>(slot);
  if (!AppendWithinAnswerLimit(handle->answer, data, size * count, "TCouchDBDatabaseAccesser::WriteCallback()",
                               handle->url, handle->answerLimit)) {
    handle->answerOverLimit = true;
    return 0;
  }
  return size * count;
}

TOrvString<char> TCouchDBDatabaseAccesser::EscapeUrl(const TOrvString<char>& text) {
  static const char kUnreserved[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_.~";
  std::string escaped;
  const char* bytes = text.c_str();
  for (std::uint32_t i = 0; i < text.GetLength(); ++i) {
    const char c = bytes[i];
    if (c != '\0' && std::strchr(kUnreserved, c) != nullptr) {
      escaped += c;
    } else {
      char code[4];
      std::snprintf(code, sizeof code, "%%%.2X", static_cast<unsigned>(static_cast<unsigned char>(c)));
      escaped += code;
    }
  }
  return TOrvString<char>(escaped);
}

}  // namespace Orvan::Network
