// The three interfaces between the game server and its document database: a request that knows its
// URL, its upload body and how to read its answer; the accesser that runs requests; the listener
// that hears of each error and of the end of a batch. The server never sees HTTP.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"

namespace Orvan::Network {

class TOperationOnDatabase;

// The codes handed to IRequestDatabaseListener::OnRequestDatabaseError.
struct TDbRequestError {
  enum : std::uint32_t {
    // Transport error, unexpected status, invalid JSON, missing or mistyped key, no database.
    Generic = 0,
    // The operation's time-out passed.
    TimeOut = 1,
    // Status 404, or a pack document without its game list.
    NotFound = 2,
    // Status 409 on a statistics upload.
    Conflict = 3,
  };
};

// One database request. It belongs to whoever created it; accessers and operations only point to it.
class IGenericDbStruct {
 public:
  IGenericDbStruct() = default;
  virtual ~IGenericDbStruct();
  IGenericDbStruct(const IGenericDbStruct&) = delete;
  IGenericDbStruct& operator=(const IGenericDbStruct&) = delete;

  // Bytes to upload; 0 makes the request a GET.
  virtual std::uint32_t GetUploadSize();
  // Copies the next part of the upload body; 0 at its end.
  virtual std::uint32_t ReadUploadData(void* buffer, std::uint32_t maxBytes);
  virtual TOrvString<char> BuildUrl(const TOrvString<char>& accesserBaseUrl) = 0;
  // Reads the answer into the result fields; calls Fail on error.
  virtual void InterpretRequestResult(std::int32_t httpCode, const char* answerText) = 0;
  // The answer when no database is configured.
  virtual void AnswerWithoutDatabase();
  // The largest answer body kept for this request; a longer one fails it. kMaxAnswerBytes unless
  // the request's answer is one small document.
  virtual std::size_t GetAnswerLimit() const;

  void SetOwner(TOperationOnDatabase* owner) { owner_ = owner; }
  TOperationOnDatabase* GetOwner() const { return owner_; }
  void MarkReleased() { released_ = true; }
  bool IsReleased() const { return released_; }
  bool HasFailed() const { return failed_; }
  void ClearFailed() { failed_ = false; }
  // Marks the request failed and hands the code to the owner's listener; each call reaches it.
  void Fail(std::uint32_t errorCode);

 private:
  bool failed_ = false;
  bool released_ = false;
  TOperationOnDatabase* owner_ = nullptr;
};

// The requester of a batch.
//
// A listener never ends its operation from OnRequestDatabaseError: the accesser goes on with the
// operation right after the error. On TDbRequestError::TimeOut it only forgets the operation,
// which deletes itself once the listener returns. From OnRequestDatabaseTerminated it may start
// new operations but not end the one that called it, which ends itself right after.
class IRequestDatabaseListener {
 public:
  virtual void OnRequestDatabaseError(std::uint32_t errorCode) = 0;
  // Every request of the batch was handled; their results and failed flags can be read now.
  virtual void OnRequestDatabaseTerminated() = 0;

 protected:
  ~IRequestDatabaseListener() = default;
};

class TDatabaseAccesser {
 public:
  TDatabaseAccesser() = default;
  virtual ~TDatabaseAccesser();
  TDatabaseAccesser(const TDatabaseAccesser&) = delete;
  TDatabaseAccesser& operator=(const TDatabaseAccesser&) = delete;

  // Records the owner in the request and queues it, first in, first out.
  virtual void QueueRequest(TOperationOnDatabase* owner, IGenericDbStruct* request) = 0;
  // Drops every request of the owner, running or queued, without an answer.
  virtual void CancelRequestsOf(TOperationOnDatabase* owner) = 0;
  // One step of work from the main loop: answers go to their requests, then to their owners.
  virtual void Perform() = 0;
  // Called once by the creator right after construction.
  virtual void Init();
};

// Marks released and removes every request of the owner from a queue; the others keep their order.
void ReleaseQueuedRequestsOf(TVector<IGenericDbStruct*>& queue, const TOperationOnDatabase* owner);

// A queued-request record; no accesser of this system queues them.
class TDatabaseRequest {
 public:
  explicit TDatabaseRequest(std::uintptr_t requester) : requester_(requester) {}
  virtual ~TDatabaseRequest();

  std::uintptr_t GetRequester() const { return requester_; }

 protected:
  std::uintptr_t requester_;
  TOrvString<char> url_;
  TOrvString<char> body_;
};

}  // namespace Orvan::Network
