// A user's statistics requests, one at a time.
#include "dedicated/dedicated_user_stats_manager.h"

#include "dedicated/dedicated_user.h"
#include "network/database/statistics_request.h"

namespace Orvan::Dedicated {

TDedicatedUserStatsManager::~TDedicatedUserStatsManager() { Cancel(); }

void TDedicatedUserStatsManager::QueueUserStatistics() {
  if (cancelled_) return;
  queue_.push_back(new Network::TDbRequestGetStatistics(TOrvString<char>(), 0, user_->GetNetworkId().GetValue(),
                                                        Network::UserDocument));
  StartNext();
}

void TDedicatedUserStatsManager::QueueTeamStatistics(const Network::OrvNetId& teamId) {
  if (cancelled_) return;
  queue_.push_back(
      new Network::TDbRequestGetStatistics(TOrvString<char>(), 0, teamId.GetValue(), Network::TeamDocument));
  StartNext();
}

void TDedicatedUserStatsManager::Cancel() {
  cancelled_ = true;
  EndRunningRequest();
  for (Network::TDbRequestGetStatistics* request : queue_) delete request;
  queue_.clear();
}

// The requests wait until the statistics database is reached from here.
void TDedicatedUserStatsManager::StartNext() {}

void TDedicatedUserStatsManager::OnRequestDatabaseError(std::uint32_t /*errorCode*/) { failed_ = true; }

void TDedicatedUserStatsManager::OnRequestDatabaseTerminated() {}

void TDedicatedUserStatsManager::EndRunningRequest() {
  runningOperation_ = nullptr;
  delete runningRequest_;
  runningRequest_ = nullptr;
}

}  // namespace Orvan::Dedicated
