// Defaults of the request and accesser interfaces.
#include "network/database/database_accesser.h"

#include "network/database/operation_on_database.h"
#include "network/logging/network_hooks.h"
#include "network/operations/answer_limit.h"

namespace Orvan::Network {

IGenericDbStruct::~IGenericDbStruct() = default;

std::uint32_t IGenericDbStruct::GetUploadSize() { return 0; }

std::uint32_t IGenericDbStruct::ReadUploadData(void*, std::uint32_t) {
  NetworkLog(kNetworkLogWarning, "ERROR : was asked PUT data to send in HTTP request but got no data to send!");
  return 0;
}

void IGenericDbStruct::AnswerWithoutDatabase() { Fail(TDbRequestError::Generic); }

std::size_t IGenericDbStruct::GetAnswerLimit() const { return kMaxAnswerBytes; }

void IGenericDbStruct::Fail(std::uint32_t errorCode) {
  failed_ = true;
  if (owner_ != nullptr) owner_->ReportError(errorCode);
}

TDatabaseAccesser::~TDatabaseAccesser() = default;

void ReleaseQueuedRequestsOf(TVector<IGenericDbStruct*>& queue, const TOperationOnDatabase* owner) {
  for (std::uint32_t i = 0; i < queue.GetSize();) {
    if (queue[i]->GetOwner() == owner) {
      queue[i]->MarkReleased();
      queue.EraseAt(i);
    } else {
      ++i;
    }
  }
}

void TDatabaseAccesser::Init() {}

TDatabaseRequest::~TDatabaseRequest() = default;

}  // namespace Orvan::Network
