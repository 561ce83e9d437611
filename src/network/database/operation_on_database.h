// A time-limited batch of database requests, run one after another through an accesser; its
// listener hears of each error and of the end of the batch. The requests stay their creator's.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "network/database/database_accesser.h"
#include "network/operations/operation_with_time_out.h"

namespace Orvan::Network {

class TOperationOnDatabase : public TOperationWithTimeOut {
 public:
  // The time-out of the constructor without one.
  static constexpr double kDefaultTimeOutMilliseconds = 60000.0;

  TOperationOnDatabase(TOperationWithTimeOutManager* manager, TDatabaseAccesser* accesser,
                       IRequestDatabaseListener* listener);
  TOperationOnDatabase(TOperationWithTimeOutManager* manager, TDatabaseAccesser* accesser,
                       IRequestDatabaseListener* listener, double timeOutMilliseconds);
  ~TOperationOnDatabase() override;

  // Before the launch. A launch without requests or without an accesser is refused.
  void AddRequest(IGenericDbStruct* request);
  // Called by the accesser after each request was answered or failed; after the last one it tells
  // the listener and ends the operation, which is then gone.
  void RunNextRequest();
  void ReportError(std::uint32_t errorCode);
  const TVector<IGenericDbStruct*>& GetRequests() const { return requests_; }
  std::int32_t GetCurrentIndex() const { return currentIndex_; }

 protected:
  bool OnOperationLaunched() override;
  void OnOperationTerminated() override;
  void OnOperationTimeout() override;
  void OnOperationKilled() override;
  void OnOperationUpdate() override {}

 private:
  TVector<IGenericDbStruct*> requests_;
  std::int32_t currentIndex_ = -1;
  TDatabaseAccesser* accesser_;
  IRequestDatabaseListener* listener_;
};

}  // namespace Orvan::Network
