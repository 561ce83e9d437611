// Database operations: batches of requests with a time-out.
#include "network/database/operation_on_database.h"

#include <string>

#include "network/logging/network_hooks.h"

namespace Orvan::Network {

TOperationOnDatabase::TOperationOnDatabase(TOperationWithTimeOutManager* manager, TDatabaseAccesser* accesser,
                                           IRequestDatabaseListener* listener)
    : TOperationOnDatabase(manager, accesser, listener, kDefaultTimeOutMilliseconds) {}

TOperationOnDatabase::TOperationOnDatabase(TOperationWithTimeOutManager* manager, TDatabaseAccesser* accesser,
                                           IRequestDatabaseListener* listener, double timeOutMilliseconds)
    : TOperationWithTimeOut(manager, timeOutMilliseconds), accesser_(accesser), listener_(listener) {}

TOperationOnDatabase::~TOperationOnDatabase() = default;

void TOperationOnDatabase::AddRequest(IGenericDbStruct* request) { requests_.PushBack(request); }

void TOperationOnDatabase::RunNextRequest() {
  ++currentIndex_;
  if (currentIndex_ >= static_cast<std::int32_t>(requests_.GetSize())) {
    accesser_->CancelRequestsOf(this);
    listener_->OnRequestDatabaseTerminated();
    TerminateOperation();
    return;
  }
  accesser_->QueueRequest(this, requests_[static_cast<std::uint32_t>(currentIndex_)]);
}

void TOperationOnDatabase::ReportError(std::uint32_t errorCode) { listener_->OnRequestDatabaseError(errorCode); }

bool TOperationOnDatabase::OnOperationLaunched() {
  // An empty batch would end, and delete the operation, inside its own launch.
  if (accesser_ == nullptr || requests_.IsEmpty()) {
    NetworkLog(kNetworkLogWarning, accesser_ == nullptr
                                       ? "TOperationOnDatabase::OnOperationLaunched() -> no database accesser"
                                       : "TOperationOnDatabase::OnOperationLaunched() -> no request to run");
    return false;
  }
  RunNextRequest();
  return true;
}

void TOperationOnDatabase::OnOperationTerminated() { accesser_->CancelRequestsOf(this); }

void TOperationOnDatabase::OnOperationTimeout() {
  NetworkLog(kNetworkLogWarning, TOrvString<char>("TOperationOnDatabase::OnOperationTimeout() -> no answer within ") +
                                     TOrvString<char>(std::to_string(static_cast<long long>(GetTimeOut()))) + " ms");
  accesser_->CancelRequestsOf(this);
  listener_->OnRequestDatabaseError(TDbRequestError::TimeOut);
}

void TOperationOnDatabase::OnOperationKilled() { accesser_->CancelRequestsOf(this); }

}  // namespace Orvan::Network
