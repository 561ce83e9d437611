// Helpers of the database layer's tests: a listener and a request that record what reaches them in
// one shared log, an accesser that the test answers by hand, and batches run to their end through
// a real accesser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/containers/engine_vector.h"
#include "network/database/couchdb_database_accesser.h"
#include "network/database/database_accesser.h"
#include "network/database/operation_on_database.h"
#include "network/operations/answer_limit.h"
#include "network/operations/operation_with_time_out.h"
#include "support/curl_pump.h"

namespace OrvTest {

using TEventLog = std::vector<std::string>;

// Logs "error <code>" and "terminated"; runs the test's reaction after logging.
class TRecordingListener final : public Orvan::Network::IRequestDatabaseListener {
 public:
  explicit TRecordingListener(TEventLog* log) : log_(log) {}
  void OnRequestDatabaseError(std::uint32_t errorCode) override {
    log_->push_back("error " + std::to_string(errorCode));
    if (onError) onError(errorCode);
  }
  void OnRequestDatabaseTerminated() override {
    log_->push_back("terminated");
    ++terminations;
    if (onTerminated) onTerminated();
  }

  std::function<void(std::uint32_t)> onError;
  std::function<void()> onTerminated;
  int terminations = 0;

 private:
  TEventLog* log_;
};

// A request for base URL + path that logs "<name> <status> <answer>" when answered and
// "<name> without database" when there is none; `answer` then decides what it does (nothing: a
// success; fails Generic when not set for the no-database case).
class TRecordingRequest final : public Orvan::Network::IGenericDbStruct {
 public:
  TRecordingRequest(std::string name, std::string path, TEventLog* log)
      : name_(std::move(name)), path_(std::move(path)), log_(log) {}

  Orvan::TOrvString<char> BuildUrl(const Orvan::TOrvString<char>& base) override { return base + path_.c_str(); }
  void InterpretRequestResult(std::int32_t httpCode, const char* answerText) override {
    log_->push_back(name_ + " " + std::to_string(httpCode) + " " + answerText);
    if (answer) answer(*this);
  }
  void AnswerWithoutDatabase() override {
    log_->push_back(name_ + " without database");
    if (answer) {
      answer(*this);
    } else {
      IGenericDbStruct::AnswerWithoutDatabase();
    }
  }

  std::size_t GetAnswerLimit() const override { return answerLimit; }

  std::function<void(TRecordingRequest&)> answer;
  std::size_t answerLimit = Orvan::Network::kMaxAnswerBytes;

 private:
  std::string name_;
  std::string path_;
  TEventLog* log_;
};

// Holds queued requests until the test answers them, one at a time, as a real accesser would.
class TManualAccesser final : public Orvan::Network::TDatabaseAccesser {
 public:
  void QueueRequest(Orvan::Network::TOperationOnDatabase* owner, Orvan::Network::IGenericDbStruct* request) override {
    request->SetOwner(owner);
    queue.push_back(request);
  }
  void CancelRequestsOf(Orvan::Network::TOperationOnDatabase* owner) override {
    std::erase_if(queue, [owner](Orvan::Network::IGenericDbStruct* request) {
      if (request->GetOwner() != owner) return false;
      request->MarkReleased();
      return true;
    });
  }
  void Perform() override {}

  // Lets go of the first request, hands it `answer`, then goes on with its owner.
  void AnswerFirst(const std::function<void(Orvan::Network::IGenericDbStruct&)>& answer) {
    Orvan::Network::IGenericDbStruct* request = queue.front();
    queue.erase(queue.begin());
    request->MarkReleased();
    Orvan::Network::TOperationOnDatabase* owner = request->GetOwner();
    answer(*request);
    owner->RunNextRequest();
  }

  std::vector<Orvan::Network::IGenericDbStruct*> queue;
};

// Hands a request one answer as an accesser would, outside any transfer, and returns what its
// listener heard ("error <code>" lines).
class TAnswerProbe {
 public:
  TEventLog Interpret(Orvan::Network::IGenericDbStruct& request, std::int32_t status, const char* text) {
    log_.clear();
    request.SetOwner(&owner_);
    request.InterpretRequestResult(status, text);
    return log_;
  }
  TEventLog AnswerWithoutDatabase(Orvan::Network::IGenericDbStruct& request) {
    log_.clear();
    request.SetOwner(&owner_);
    request.AnswerWithoutDatabase();
    return log_;
  }

 private:
  Orvan::Network::TOperationWithTimeOutManager operations_;
  TManualAccesser accesser_;
  TEventLog log_;
  TRecordingListener listener_{&log_};
  // Never launched: it only passes the errors on.
  Orvan::Network::TOperationOnDatabase owner_{&operations_, &accesser_, &listener_};
};

// Runs requests as one batch through the accesser until the listener hears of its end; false when
// it did not end within the time-out. The log gets the listener's events.
inline bool RunBatch(Orvan::Network::TOperationWithTimeOutManager& operations,
                     Orvan::Network::TCouchDBDatabaseAccesser& accesser,
                     const std::vector<Orvan::Network::IGenericDbStruct*>& requests, TEventLog& log,
                     THttpEndpointPeer* peer = nullptr, int timeoutMilliseconds = 20000) {
  TRecordingListener listener(&log);
  auto* operation = new Orvan::Network::TOperationOnDatabase(&operations, &accesser, &listener);
  for (Orvan::Network::IGenericDbStruct* request : requests) operation->AddRequest(request);
  if (operation->Launch() == -1) return false;
  return PumpUntil(
      accesser.GetMultiHandle(), [&] { accesser.Perform(); }, [&] { return listener.terminations == 1; }, peer,
      timeoutMilliseconds);
}

}  // namespace OrvTest
