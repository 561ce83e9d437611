// An admitted client of the game session: its connection and identity, its player variables
// (published to every client), the state it asks for, its ping, its statistics requests and its
// action buffer, and the one way out, Disconnect.
#pragma once

#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "core/containers/open_hash_map.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "core/time/time_stamp.h"
#include "dedicated/clients/client_disconnect_reason.h"
#include "dedicated/clients/client_rate_limit.h"
#include "dedicated/clients/operation_kill_connection_with_user.h"
#include "network/packets/network_id.h"

namespace Orvan::Network {
class TBufferEventSocket;
}  // namespace Orvan::Network

namespace Orvan::Dedicated {

class TDedicatedPropertyValue;
class TDedicatedSession;
class TDedicatedUserStatsManager;
class TUserActionBuffer;
class TUserStatisticsDocuments;

// The player variables by name; the map owns the values.
using TUserVariableMap = TOpenHashMap<TKeyValueEntry<TOrvString<char>, TDedicatedPropertyValue*>, TStringHash,
                                      TStringEqual, default_allocator<unsigned char>>;

// A ping not measured (yet), or not answered in its cycle.
inline constexpr std::uint32_t kPingNotMeasured = 9999;
// A user's connection is closed by libevent after this long without a read or a write.
inline constexpr std::int32_t kUserConnectionTimeOutSeconds = 150;
// What the server holds queued for one client beyond the kernel's socket buffer: a client that lets
// more pile up, because it reads too slowly or not at all, is cut off (ConnectionLost) before the
// server's memory grows with it.
inline constexpr std::size_t kClientSendQueueLimit = 4 * 1024 * 1024;
// A client's chat lines are logged and relayed at most 5 a second, in bursts of 10; the rest are
// dropped (one log line a second at most says how many), so that chat cannot fill the chat log or
// the other players' connections.
inline constexpr double kChatLinesPerSecond = 5.0;
inline constexpr double kChatLineBurst = 10.0;
// A client's requests that the server writes a line for (state requests on their channel, and
// admin and variable commands) are carried out at most 5 a second, in bursts of 10, which leave an
// honest client's few requests of a phase untouched; the rest are dropped unread (one log line a
// second at most says how many), so that no client can fill the log or flood the others with
// variable changes.
inline constexpr double kRequestsPerSecond = 5.0;
inline constexpr double kRequestBurst = 10.0;
// The player number of a user that was given none.
inline constexpr std::int32_t kNoPlayerNumber = -1;

class TDedicatedUser : public IConnectionKillTarget {
 public:
  // The connection may be null (in-process tests feed packets another way). Creates the statistics
  // manager and the action buffer; the variables come with RegisterUserVariables.
  TDedicatedUser(std::uint32_t userSessionId, const Network::OrvNetId& networkId, TDedicatedSession* session,
                 Network::TBufferEventSocket* connection, const sockaddr_storage& address);
  // Deletes the variables, the statistics manager and the action buffer; closes the connection if
  // it is still there.
  ~TDedicatedUser() override;
  TDedicatedUser(const TDedicatedUser&) = delete;
  TDedicatedUser& operator=(const TDedicatedUser&) = delete;

  // The game's own part, in this order.
  virtual void InitFromStatistics(const TUserStatisticsDocuments& statistics) = 0;
  virtual void UpdateTeamName(const TUserStatisticsDocuments& teamDocuments) = 0;
  // The base part stores the network id in decimal into PlayerUserId when it exists (no log, no
  // publication); the game's part declares its variables first, then calls this.
  virtual void RegisterUserVariables();

  // ---- Player variables.
  // Names are declared once; the user owns the value.
  void DeclareUserVariable(const TOrvString<char>& name, TDedicatedPropertyValue* value);
  TDedicatedPropertyValue* GetUserVariable(const TOrvString<char>& name) const;
  // Changes the variable when it exists and its value accepts the text with these rights: logs
  // "Client <id> variable <name> set to "<value>"" and, once published, has the session send it.
  // True when the value changed.
  bool SetUserVariable(const TOrvString<char>& name, const TOrvString<char>& value, bool anyClient, bool host,
                       bool admin, bool force);
  const TUserVariableMap& GetUserVariables() const { return variables_; }
  void SetPublished(bool published) { published_ = published; }
  bool IsPublished() const { return published_; }

  // ---- The phase machine's view.
  void SetRequestState(std::uint32_t stateId);
  std::uint32_t GetRequestState() const { return requestState_; }

  // ---- Connection.
  bool IsConnected() const;
  // Unregisters, closes and deletes the connection; nothing when there is none.
  void CloseConnection();
  // The only way out: logs, cancels the statistics, leaves the session, then closes at once
  // (ConnectionLost, UserDiconnectRequest: the user is deleted here) or hands the user to a kill of
  // its connection, which deletes it once the last packet is out.
  void Disconnect(ClientDisconnectReason reason);

  // The kill's view of a user.
  Network::OrvNetId GetKillTargetId() const override { return networkId_; }
  Network::TBufferEventSocket* GetKillTargetConnection() const override { return connection_; }
  void CloseKillTarget() override { CloseConnection(); }

  // ---- Limits.
  // Whether a chat line at `now` is within the rate; one that is not is counted as dropped.
  bool AdmitChatLine(TTimeStamp now);
  // Whether a state request or command at `now` is within the rate; one that is not is counted as
  // dropped.
  bool AdmitRequest(TTimeStamp now);
  // Logs how many chat lines and requests were dropped in a second that has ended by `now`; with
  // `last`, also in the second still under way (the user is leaving).
  void ReportDrops(TTimeStamp now, bool last = false);
  // Bytes queued for the client that its connection has not sent yet.
  std::size_t GetQueuedSize() const;

  // ---- Ping.
  // The id of the ping about to be sent, pending from now on.
  std::uint32_t NextPingId();
  void ResetPing();
  // Measures the round trip when a ping is pending and the id is the last one sent.
  void OnPingAnswer(std::uint32_t pingId, TTimeStamp sentTime);
  std::uint32_t GetPing() const { return ping_; }
  std::uint32_t GetPingId() const { return pingId_; }
  bool IsPingPending() const { return pingPending_; }

  // ---- Identity and the session's fields.
  std::uint32_t GetUserSessionId() const { return userSessionId_; }
  const Network::OrvNetId& GetNetworkId() const { return networkId_; }
  Network::TBufferEventSocket* GetConnection() const { return connection_; }
  const sockaddr_storage& GetAddress() const { return address_; }
  // The peer as the log lines print it.
  TOrvString<char> GetAddressText() const;
  TDedicatedSession* GetSession() const { return session_; }
  bool IsHost() const { return host_; }
  void SetHost(bool host) { host_ = host; }
  bool IsSpectator() const { return spectator_; }
  void SetSpectator(bool spectator) { spectator_ = spectator; }
  const TOrvString<char>& GetVersion() const { return version_; }
  void SetVersion(const TOrvString<char>& version) { version_ = version; }
  std::int32_t GetPlayerNumber() const { return playerNumber_; }
  void SetPlayerNumber(std::int32_t number) { playerNumber_ = number; }
  std::uint32_t GetLastReportedTick() const { return lastReportedTick_; }
  void SetLastReportedTick(std::uint32_t tick) { lastReportedTick_ = tick; }
  std::uint32_t GetStreamingPosition() const { return streamingPosition_; }
  void SetStreamingPosition(std::uint32_t position) { streamingPosition_ = position; }
  TDedicatedUserStatsManager* GetStatsManager() const { return statsManager_; }
  TUserActionBuffer* GetActionBuffer() const { return actionBuffer_; }
  // The length of a frame whose body has not all arrived.
  std::uint16_t& PendingFrameLength() { return pendingFrameLength_; }

 private:
  // "chat lines" or "requests".
  void LogDrops(std::uint32_t count, const char* what) const;

  TUserVariableMap variables_;
  TDedicatedUserStatsManager* statsManager_ = nullptr;
  bool published_ = false;
  bool host_ = false;
  bool spectator_ = false;
  std::uint32_t userSessionId_;
  std::int32_t playerNumber_ = kNoPlayerNumber;
  Network::OrvNetId networkId_;
  Network::TBufferEventSocket* connection_;
  sockaddr_storage address_;
  TDedicatedSession* session_;
  TOrvString<char> version_;
  std::uint32_t requestState_ = 0;
  TUserActionBuffer* actionBuffer_ = nullptr;
  std::uint32_t lastReportedTick_ = 0;
  std::uint32_t streamingPosition_ = 0;
  std::uint32_t pingId_ = 0;
  std::uint32_t ping_ = kPingNotMeasured;
  bool pingPending_ = false;
  std::uint16_t pendingFrameLength_ = 0;
  TClientRateLimit chatRate_{kChatLinesPerSecond, kChatLineBurst};
  TClientRateLimit requestRate_{kRequestsPerSecond, kRequestBurst};
};

// Builds a user of this game: constructed, its variables declared, filled from the statistics,
// then published. The caller owns it.
TDedicatedUser* CreateStrivexDedicatedUser(std::uint32_t userSessionId, const Network::OrvNetId& networkId,
                                           TDedicatedSession* session, Network::TBufferEventSocket* connection,
                                           const sockaddr_storage& address,
                                           const TUserStatisticsDocuments& statistics);

}  // namespace Orvan::Dedicated
