// A user's statistics requests, one at a time, and the hand-over of their answers.
#include "dedicated/clients/dedicated_user_stats_manager.h"

#include <utility>

#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/program/main_server_task.h"
#include "network/database/operation_on_database.h"
#include "network/database/statistics_request.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

// Every request made here names document number 0; its answer is filed under it.
constexpr std::uint32_t kRequestDocumentNumber = 0;
// Why a request found no database to go to: the database accesser lives only while the link is Ready.
constexpr const char* kNoDatabase = "no statistics database while the match making link is down";

}  // namespace

TDedicatedUserStatsManager::~TDedicatedUserStatsManager() { Cancel(); }

void TDedicatedUserStatsManager::QueueUserStatistics() {
  // A cancelled manager hears no answer: nothing would end a request started now.
  if (cancelled_) return;
  queue_.push_back(new Network::TDbRequestGetStatistics(TOrvString<char>(), kRequestDocumentNumber,
                                                        user_->GetNetworkId().GetValue(), Network::UserDocument));
  StartNext();
}

void TDedicatedUserStatsManager::QueueTeamStatistics(const Network::OrvNetId& teamId) {
  if (cancelled_) return;
  queue_.push_back(new Network::TDbRequestGetStatistics(TOrvString<char>(), kRequestDocumentNumber, teamId.GetValue(),
                                                        Network::TeamDocument));
  StartNext();
}

void TDedicatedUserStatsManager::Cancel() {
  cancelled_ = true;
  if (runningOperation_ != nullptr) {
    Network::TOperationOnDatabase* operation = runningOperation_;
    runningOperation_ = nullptr;
    // The kill takes the request out of the accesser and tells no listener.
    operation->KillOperation();
  }
  EndRunningRequest();
  for (Network::TDbRequestGetStatistics* request : queue_) delete request;
  queue_.clear();
}

void TDedicatedUserStatsManager::EndDatabaseWork(const char* reason) {
  if (runningOperation_ != nullptr) {
    Network::TOperationOnDatabase* operation = runningOperation_;
    runningOperation_ = nullptr;
    // The kill takes the request out of the accesser and tells no listener.
    operation->KillOperation();
  }
  if (runningRequest_ != nullptr) LogNotFetched(*runningRequest_, reason);
  EndRunningRequest();
  for (Network::TDbRequestGetStatistics* request : queue_) {
    LogNotFetched(*request, reason);
    delete request;
  }
  queue_.clear();
}

void TDedicatedUserStatsManager::LogNotFetched(const Network::TDbRequestGetStatistics& request,
                                               const char* reason) const {
  const char* what = request.GetKind() == Network::TeamDocument ? "Team statistics" : "Statistics";
  Network::NetworkLog(Network::kNetworkLogWarning, TOrvString<char>(what) + " of client " +
                                                       user_->GetNetworkId().ToString() + " not fetched (reason : " +
                                                       reason + ")");
}

void TDedicatedUserStatsManager::StartNext() {
  TMainServerTask* task = TMainServerTask::GetInstance();
  while (!cancelled_ && runningRequest_ == nullptr && !queue_.empty()) {
    runningRequest_ = queue_.front();
    queue_.pop_front();
    failed_ = false;
    if (task == nullptr) {
      EndRunningRequest();
      continue;
    }
    if (task->GetDatabaseAccesser() == nullptr) {
      LogNotFetched(*runningRequest_, kNoDatabase);
      EndRunningRequest();
      continue;
    }
    auto* operation = new Network::TOperationOnDatabase(task->GetOperationManager(), task->GetDatabaseAccesser(), this,
                                                        kUserStatisticsTimeOutMilliseconds);
    operation->AddRequest(runningRequest_);
    runningOperation_ = operation;
    // A refused launch has deleted the operation, logged, and left the request to us: it ends here
    // and the next one is tried.
    if (operation->Launch() == -1) EndRunningRequest();
  }
}

void TDedicatedUserStatsManager::OnRequestDatabaseError(std::uint32_t errorCode) {
  failed_ = true;
  // A timed-out operation ends right after this call and no end reaches us: the request is over.
  if (errorCode == Network::TDbRequestError::TimeOut && !cancelled_ && runningRequest_ != nullptr) {
    EndRunningRequest();
    StartNext();
  }
}

void TDedicatedUserStatsManager::OnRequestDatabaseTerminated() {
  if (cancelled_ || runningRequest_ == nullptr) return;
  // The operation ends itself after this call.
  runningOperation_ = nullptr;
  if (!failed_) {
    TUserStatisticsDocuments documents;
    Network::TDocumentFieldMap fields = runningRequest_->GetDocumentFields();
    documents.TakeFrom(runningRequest_->GetDocumentNumber(), std::move(fields));
    if (runningRequest_->GetKind() == Network::TeamDocument) {
      user_->UpdateTeamName(documents);
    } else {
      user_->InitFromStatistics(documents);
    }
  }
  EndRunningRequest();
  StartNext();
}

void TDedicatedUserStatsManager::EndRunningRequest() {
  runningOperation_ = nullptr;
  delete runningRequest_;
  runningRequest_ = nullptr;
}

}  // namespace Orvan::Dedicated
