// A user's statistics requests to the statistics database, run one at a time: the team document
// when the player's statistics name an active team. Answers go back to the user.
#pragma once

#include <cstdint>
#include <deque>

#include "network/database/database_accesser.h"
#include "network/packets/network_id.h"

namespace Orvan::Network {
class TDbRequestGetStatistics;
class TOperationOnDatabase;
}  // namespace Orvan::Network

namespace Orvan::Dedicated {

class TDedicatedUser;

// How long one statistics request of an admitted user may take.
inline constexpr double kUserStatisticsTimeOutMilliseconds = 30000.0;

class TDedicatedUserStatsManager final : public Network::IRequestDatabaseListener {
 public:
  explicit TDedicatedUserStatsManager(TDedicatedUser* user) : user_(user) {}
  // Frees the queue; cancels what runs.
  ~TDedicatedUserStatsManager();
  TDedicatedUserStatsManager(const TDedicatedUserStatsManager&) = delete;
  TDedicatedUserStatsManager& operator=(const TDedicatedUserStatsManager&) = delete;

  // The user's own document (kind 0), then the next request starts.
  void QueueUserStatistics();
  // A team's document (kind 1), then the next request starts.
  void QueueTeamStatistics(const Network::OrvNetId& teamId);
  // From here on answers are ignored: the running operation is killed and forgotten, the running
  // request and every queued one deleted. A second call finds nothing to end.
  void Cancel();
  // The statistics database went with the match-making link: the running request and every queued
  // one end here, each with one line naming what was not fetched and why (`reason`). Unlike Cancel,
  // requests queued later are still taken: without a database each fails at once with its line.
  void EndDatabaseWork(const char* reason);

  void OnRequestDatabaseError(std::uint32_t errorCode) override;
  void OnRequestDatabaseTerminated() override;

  bool IsCancelled() const { return cancelled_; }
  bool IsRunning() const { return runningRequest_ != nullptr; }
  std::uint32_t GetQueuedCount() const { return static_cast<std::uint32_t>(queue_.size()); }

 private:
  void StartNext();
  // The line of a request that was not fetched.
  void LogNotFetched(const Network::TDbRequestGetStatistics& request, const char* reason) const;
  // Deletes the running request and forgets the operation.
  void EndRunningRequest();

  TDedicatedUser* user_;
  bool cancelled_ = false;
  Network::TOperationOnDatabase* runningOperation_ = nullptr;
  Network::TDbRequestGetStatistics* runningRequest_ = nullptr;
  bool failed_ = false;
  std::deque<Network::TDbRequestGetStatistics*> queue_;
};

}  // namespace Orvan::Dedicated
