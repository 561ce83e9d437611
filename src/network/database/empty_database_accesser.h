// The accesser used when no database is configured: every request gets its answer-without-database
// on the next Perform, in queue order.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "network/database/database_accesser.h"

namespace Orvan::Network {

class TEmptyDatabaseAccesser : public TDatabaseAccesser {
 public:
  class TEmptyDBRequest : public TDatabaseRequest {
   public:
    TEmptyDBRequest(std::uintptr_t requester, std::uint32_t value) : TDatabaseRequest(requester), value_(value) {}
    std::uint32_t GetValue() const { return value_; }

   private:
    std::uint32_t value_;
  };

  TEmptyDatabaseAccesser() = default;
  ~TEmptyDatabaseAccesser() override;

  void QueueRequest(TOperationOnDatabase* owner, IGenericDbStruct* request) override;
  void CancelRequestsOf(TOperationOnDatabase* owner) override;
  void Perform() override;

  std::uint32_t GetQueuedCount() const { return queue_.GetSize(); }

 private:
  TVector<IGenericDbStruct*> queue_;
  TVector<TDatabaseRequest*> records_;  // never filled
};

}  // namespace Orvan::Network
