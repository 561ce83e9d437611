// A client between its accept and its admission: it holds the connection while the client
// identifies itself, the match-making server gives its verdict and the player's statistics arrive.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <vector>

#include "core/text/engine_string.h"
#include "core/time/time_stamp.h"
#include "dedicated/clients/operation_kill_connection_with_user.h"
#include "network/database/database_accesser.h"
#include "network/packets/network_id.h"

namespace Orvan::Network {
class TBufferEventSocket;
class TOperationOnDatabase;
}  // namespace Orvan::Network

namespace Orvan::Dedicated {

// The requests of a statistics batch, which stay their creator's: copied before the batch ends,
// deleted once it has.
std::vector<Network::IGenericDbStruct*> CopyRequests(const Network::TOperationOnDatabase& operation);
void DeleteRequests(const std::vector<Network::IGenericDbStruct*>& requests);

// A client still logging in this long after its accept is refused with TimeOut; one that has not
// even identified itself (sent its connect packet) gets far less.
inline constexpr double kLoginTimeOutSeconds = 30.0;
inline constexpr double kIdentificationTimeOutSeconds = 5.0;

enum class PendingClientState : std::int32_t {
  WaitingForIdentification = 0,
  WaitingForVerdict = 1,
  FetchingStatistics = 2,
  Closed = 3,
};

class TUserWaitingForLogin final : public Network::IRequestDatabaseListener, public IConnectionKillTarget {
 public:
  // The connection may be null (tests and fuzz targets feed the packets another way).
  TUserWaitingForLogin(Network::TBufferEventSocket* connection, const sockaddr_storage& address);
  // Closes nothing: callers Close first.
  ~TUserWaitingForLogin() override = default;
  TUserWaitingForLogin(const TUserWaitingForLogin&) = delete;
  TUserWaitingForLogin& operator=(const TUserWaitingForLogin&) = delete;

  void OnRequestDatabaseError(std::uint32_t errorCode) override;
  void OnRequestDatabaseTerminated() override;

  void SetStatsOperation(Network::TOperationOnDatabase* operation) { statsOperation_ = operation; }
  // Forgets the connection without closing it: it was given to the admitted user.
  void ReleaseConnection() { connection_ = nullptr; }
  // Closed for good: the connection closed and deleted, the statistics operation ended.
  void Close();
  // Closed for the client's part only: the statistics operation ended at once, so that late
  // statistics cannot admit a client already refused; the connection is left to the kill.
  void CloseStatistics();

  Network::OrvNetId GetKillTargetId() const override { return clientId_; }
  Network::TBufferEventSocket* GetKillTargetConnection() const override { return connection_; }
  void CloseKillTarget() override { Close(); }
  bool IsKillTargetQuiet() const override { return quiet_; }

  PendingClientState GetState() const { return state_; }
  void SetState(PendingClientState state) { state_ = state; }
  const Network::OrvNetId& GetClientId() const { return clientId_; }
  void SetClientId(const Network::OrvNetId& id) { clientId_ = id; }
  const TOrvString<char>& GetClientVersion() const { return clientVersion_; }
  void SetClientVersion(const TOrvString<char>& version) { clientVersion_ = version; }
  // Identified: its connect packet was taken. Only then does it hold a player slot.
  bool IsIdentified() const { return identified_; }
  void SetIdentified() { identified_ = true; }
  // Quiet: its source, or all sources, had their share of log lines when it was accepted; nothing
  // is written about it until it is admitted, and its end is counted in the summary line.
  bool IsQuiet() const { return quiet_; }
  void SetQuiet(bool quiet) { quiet_ = quiet; }
  // Its refusal closes the connection at once, without the last packet and the wait for the
  // client's close: the connection has failed already, or the client is refused for a flood.
  bool ClosesAtOnce() const { return closeAtOnce_; }
  void SetCloseAtOnce() { closeAtOnce_ = true; }
  // Its place among the unidentified connections by age (the pending set numbers them).
  std::uint64_t GetArrivalOrder() const { return arrivalOrder_; }
  void SetArrivalOrder(std::uint64_t order) { arrivalOrder_ = order; }
  bool GetAskFlag() const { return ask_; }
  void SetAskFlag(bool ask) { ask_ = ask; }
  Network::TBufferEventSocket* GetConnection() const { return connection_; }
  const sockaddr_storage& GetAddress() const { return address_; }
  // The peer as the log lines print it.
  TOrvString<char> GetAddressText() const;
  TTimeStamp GetArrivalTime() const { return arrivalTime_; }
  void SetArrivalTime(TTimeStamp time) { arrivalTime_ = time; }
  Network::TOperationOnDatabase* GetStatsOperation() const { return statsOperation_; }
  bool HasStatsFailed() const { return statsFailed_; }
  // The length of a frame whose body has not all arrived.
  std::uint16_t& PendingFrameLength() { return pendingFrameLength_; }

 private:
  PendingClientState state_ = PendingClientState::WaitingForIdentification;
  Network::OrvNetId clientId_;
  TOrvString<char> clientVersion_;
  Network::TBufferEventSocket* connection_;
  sockaddr_storage address_;
  TTimeStamp arrivalTime_ = 0;
  Network::TOperationOnDatabase* statsOperation_ = nullptr;
  bool statsFailed_ = false;
  bool ask_ = false;
  bool identified_ = false;
  bool quiet_ = false;
  bool closeAtOnce_ = false;
  std::uint64_t arrivalOrder_ = 0;
  std::uint16_t pendingFrameLength_ = 0;
};

}  // namespace Orvan::Dedicated
