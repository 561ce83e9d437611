// A client logging in: its connection and statistics batch, and how both end.
#include "dedicated/clients/user_waiting_for_login.h"

#include <vector>

#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/database/operation_on_database.h"
#include "network/database/statistics_request.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/rate_limit_group.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

std::vector<Network::IGenericDbStruct*> CopyRequests(const Network::TOperationOnDatabase& operation) {
  return std::vector<Network::IGenericDbStruct*>(operation.GetRequests().begin(), operation.GetRequests().end());
}

void DeleteRequests(const std::vector<Network::IGenericDbStruct*>& requests) {
  for (Network::IGenericDbStruct* request : requests) delete request;
}

TUserWaitingForLogin::TUserWaitingForLogin(Network::TBufferEventSocket* connection, const sockaddr_storage& address)
    : connection_(connection), address_(address) {
  GetTimeStamp(arrivalTime_);
}

TOrvString<char> TUserWaitingForLogin::GetAddressText() const {
  return Network::SockAddrToString(reinterpret_cast<const sockaddr*>(&address_));
}

void TUserWaitingForLogin::OnRequestDatabaseError(std::uint32_t errorCode) {
  statsFailed_ = true;
  // A timed-out batch ends right after this call and no end reaches the listener: its requests
  // are ours to free now.
  if (errorCode == Network::TDbRequestError::TimeOut && statsOperation_ != nullptr) {
    const std::vector<Network::IGenericDbStruct*> requests = CopyRequests(*statsOperation_);
    statsOperation_ = nullptr;
    DeleteRequests(requests);
  }
}

void TUserWaitingForLogin::OnRequestDatabaseTerminated() {
  if (state_ == PendingClientState::Closed || statsOperation_ == nullptr) return;
  // The operation ends itself after this call.
  const std::vector<Network::IGenericDbStruct*> requests = CopyRequests(*statsOperation_);
  statsOperation_ = nullptr;
  // The batch holds the statistics requests made for the verdict: the general document, then the
  // game's.
  TUserStatisticsDocuments statistics;
  for (Network::IGenericDbStruct* request : requests) {
    const auto* documentRequest = static_cast<const Network::TDbRequestGetStatistics*>(request);
    statistics.TakeFrom(documentRequest->GetDocumentNumber(),
                        Network::TDocumentFieldMap(documentRequest->GetDocumentFields()));
  }
  const bool failed = statsFailed_;
  TMainServerTask* task = TMainServerTask::GetInstance();
  TDedicatedSession* session = task != nullptr ? task->GetSession() : nullptr;
  // The session admits or refuses this client and destroys it either way: only locals from here.
  if (session != nullptr) session->OnPendingClientStats(this, failed, statistics);
  DeleteRequests(requests);
}

void TUserWaitingForLogin::CloseStatistics() {
  state_ = PendingClientState::Closed;
  if (statsOperation_ == nullptr) return;
  Network::TOperationOnDatabase* operation = statsOperation_;
  const std::vector<Network::IGenericDbStruct*> requests = CopyRequests(*operation);
  statsOperation_ = nullptr;
  operation->TerminateOperation();
  DeleteRequests(requests);
}

void TUserWaitingForLogin::Close() {
  state_ = PendingClientState::Closed;
  if (connection_ != nullptr) {
    TMainServerTask* task = TMainServerTask::GetInstance();
    if (task != nullptr && task->GetRateLimitGroup() != nullptr) task->GetRateLimitGroup()->RemoveSocket(connection_);
    connection_->Close();
    delete connection_;
    connection_ = nullptr;
  }
  CloseStatistics();
}

}  // namespace Orvan::Dedicated
