// The accesser without a database.
#include "network/database/empty_database_accesser.h"

#include "network/database/operation_on_database.h"

namespace Orvan::Network {

TEmptyDatabaseAccesser::~TEmptyDatabaseAccesser() = default;

void TEmptyDatabaseAccesser::QueueRequest(TOperationOnDatabase* owner, IGenericDbStruct* request) {
  request->SetOwner(owner);
  queue_.PushBack(request);
}

void TEmptyDatabaseAccesser::CancelRequestsOf(TOperationOnDatabase* owner) { ReleaseQueuedRequestsOf(queue_, owner); }

void TEmptyDatabaseAccesser::Perform() {
  // Requests that the owners queue from here are answered by this same loop.
  while (!queue_.IsEmpty()) {
    IGenericDbStruct* request = queue_[0];
    queue_.EraseAt(0);
    request->MarkReleased();
    // Taken before the answer: the request may be gone once its owner heard of it.
    TOperationOnDatabase* owner = request->GetOwner();
    request->AnswerWithoutDatabase();
    if (owner != nullptr) owner->RunNextRequest();
  }
}

}  // namespace Orvan::Network
