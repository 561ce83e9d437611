// The server's single main task: it owns every network object of the process (framers, event loop,
// operation manager, rate-limit group, DNS base, remote console, chat log, HTTP manager) and the
// match-making link, and drives the whole server from one single-threaded loop. There is one
// instance, reached through GetInstance by the event callbacks and the session.
#pragma once

#include <event2/bufferevent.h>
#include <event2/dns.h>
#include <event2/util.h>
#include <signal.h>

#include <cstdint>

#include "core/text/engine_string.h"
#include "core/time/time_stamp.h"
#include "dedicated/link/match_making_link_state.h"
#include "dedicated/program/exit_status.h"
#include "network/console/console_interfaces.h"
#include "network/packets/network_id.h"
#include "network/sockets/listen_acceptor.h"

namespace Orvan::Network {
class IStreamInterface;
class TBufferEventSocket;
class TCurlRequestManager;
class TDatabaseAccesser;
class TNativeSocket;
class TOperationWithTimeOutManager;
class TPacketHelperBase;
class TRateLimitGroup;
class TSocketInterfaceManagerForLibEvent;
struct TMmsValidatePlayerAnswer;
struct TMmsValidatePlayerMessage;
}  // namespace Orvan::Network

namespace Orvan::ServerTools {
class RConServer;
class TConsoleCommandRegistry;
class TLogFileAppender;
}  // namespace Orvan::ServerTools

namespace Orvan::Dedicated {

class TDedicatedSession;

// The account file read when neither a login nor a key is given.
inline constexpr const char* kLoginIniFile = "login.ini";
// The match-making port when "port_mms" is absent or empty.
inline constexpr const char* kDefaultMatchMakingPort = "27017";
// Both framers hold one frame of at most this many bytes.
inline constexpr std::uint32_t kFramerBufferSize = 4096;
// One pass of the loop at most: the event-loop slice, whatever the link's state.
inline constexpr std::uint32_t kLoopStepMilliseconds = 25;
// A new connection attempt starts when the last one began more than this long ago.
inline constexpr double kReconnectSeconds = 20.0;
// Longest stays in Connecting (no TCP connection yet) and in Connected (no answer to the init).
inline constexpr double kConnectingTimeOutSeconds = 10.0;
inline constexpr double kConnectedTimeOutSeconds = 30.0;
// The rate-limit group lets clients use the link at will: a gigabyte a second, read and write.
inline constexpr std::size_t kRateLimitBytesPerTick = 0x40000000;

// The match-making channels.
inline constexpr std::uint8_t kMmsInitChannel = 225;
inline constexpr std::uint8_t kMmsValidatePlayerChannel = 226;
inline constexpr std::uint8_t kMmsKeepAliveChannel = 227;
inline constexpr std::uint8_t kMmsGameInfoChannel = 228;
inline constexpr std::uint8_t kMmsSlaveChannel = 229;
// A Ready link on which nothing was sent for longer than this gets a keep-alive; what the
// match-making server sends does not count.
inline constexpr double kKeepAliveMilliseconds = 120000.0;
// Connections the statistics database accesser keeps open.
inline constexpr std::uint32_t kDatabaseConnectionPoolSize = 20;

// The name of an init answer's result code as the log prints it; "Unknown" for codes without one.
const char* GetMatchMakingInitResultName(std::uint8_t code);

// The exit request written by the signal handler and read once per loop pass.
extern volatile sig_atomic_t gExitRequested;

class TMainServerTask final : public ServerTools::IConsoleCommand {
 public:
  // Constructs the one task, stores it as the instance, then reads "login.ini" when neither a
  // login nor a key is given. The texts of the match-making address and port are not copied: they
  // must live as long as the task.
  static TMainServerTask* CreateInstance(std::uint32_t gameId, const char* ownAddress, std::uint16_t clientPort,
                                         const char* matchMakingAddress, const char* matchMakingPort,
                                         TDedicatedSession* session, const char* couchDbOverride,
                                         const char* forcedVersion, bool allowAllGameVersions, bool slave,
                                         const TOrvString<char>& rconPassword, const TOrvString<char>& rconPort,
                                         const TOrvString<char>& chatLogFile, const TOrvString<char>& gameReportingUrl,
                                         const TOrvString<char>& login, const TOrvString<char>& key);
  // Clears the session pointer, destroys the instance; nothing without one.
  static void DestroyInstance();
  static TMainServerTask* GetInstance() { return instance_; }

  // The main loop; returns when the server is to stop. When it could not start (no login or key,
  // the client port unavailable), it returns at once with that logged and GetExitStatus telling it.
  void Run();
  // What the process exits with once Run has returned.
  EExitStatus GetExitStatus() const { return exitStatus_; }
  // One pass; false when an exit was requested or a connection attempt could not start. Every pass,
  // whatever the link's state, runs the event loop for one slice, the database accesser's and the
  // HTTP manager's steps, the operation manager's tick (which ends operations by their time-out),
  // the console's update and the session's update: games, admitted players and the console go on
  // while the link is down. What needs the link waits for Ready: the client port is watched, the
  // keep-alive sent and the database accesser present only then. A pass that began NotConnected
  // ends with a connection attempt when the last one began more than 20 s ago.
  bool Tick();
  // The event loop's slice for this pass: kLoopStepMilliseconds, or less when a game tick falls due
  // sooner (the same pass's session update then runs it).
  std::uint32_t GetEventSliceMilliseconds(TTimeStamp now) const;
  // Where the loop ends after a first exit request: the session can exit (no game runs) and no
  // result upload is in flight (each ends by its own time-out at the latest).
  bool IsReadyToExit() const;
  // The own address ("ip") as a numeric IPv4 address for the init message; 0 when it is empty or
  // not one.
  void ResolveServerAddress();

  // The console commands go to the session.
  bool ExecuteCommand(const TOrvString<char>& commandLine, ServerTools::IVirtualConsole* console) override;

  void SetLogin(const TOrvString<char>& login) { login_ = login; }
  void SetKey(const TOrvString<char>& key) { dedicatedKey_ = key; }
  void ClearSession() { session_ = nullptr; }
  // The handler of SIGTERM and SIGINT: any other signal number is ignored.
  static void OnExitSignal(int signalNumber);

  // ---- The client listener.
  // Listens for game clients on the client port (TCP, any IPv4 address), replacing a listener
  // already open; false, logged, when it cannot.
  bool OpenClientSocket();
  void CloseClientSocket();
  // Once per loop pass: the listen socket is watched only while the link is Ready (connections wait
  // in the backlog meanwhile) and no accept pause runs at `now`.
  void UpdateClientListener(TTimeStamp now);
  // Accepts every waiting connection and hands it to the session, while the link is Ready. A source
  // with as many unidentified connections as it may have gets its new ones closed at once.
  void OnNewClient();
  static void OnListenSocketReadable(evutil_socket_t descriptor, short events, void* argument);
  Network::TNativeSocket* GetClientListenSocket() const { return clientListenSocket_; }
  const Network::TListenAcceptor& GetClientAcceptor() const { return clientAcceptor_; }

  // ---- The match-making link.
  // Starts one attempt: Connecting from here on, whatever follows. False when it cannot start.
  bool ConnectToMatchMakingServer();
  // Drops the link when Connecting or Connected has lasted too long.
  void CheckMatchMakingTimeOuts();
  // The TCP connection is up: Connected, the init message sent.
  void OnMatchMakingConnected();
  // The drop before Ready: logged, NotConnected, the socket deleted.
  void DropMatchMakingConnection();
  // The quiet drop: the socket closed (deleted by the next attempt), NotConnected; from Ready the
  // session is told and the database accesser, its work ended first, deleted.
  void CloseMatchMakingLink();
  // Sends the keep-alive when the link is Ready and nothing was sent for too long; else true.
  bool SendMatchMakingKeepAlive();
  bool IsMatchMakingLinkReady() const { return linkState_ == MatchMakingLinkState::Ready; }
  bool SendClientValidationRequest(const Network::TMmsValidatePlayerMessage& message);
  // One frame of the channel byte and the message by its layout. A message that does not fit the
  // framer's buffer is logged and not sent.
  template <typename TMessage>
  bool SendMatchMakingPacket(Network::TPacketHelperBase* helper, Network::IStreamInterface* socket,
                             std::uint8_t channel, const TMessage& message);

  // ---- The match-making messages.
  // One frame while Connected: the init answer. False when the frame was not a usable answer.
  bool OnMatchMakingInitAnswer();
  // Link-up after a Success answer with usable game information: Ready, the session told, the
  // database accesser made.
  bool OnMatchMakingLinkValidated(const Network::OrvNetId& address);
  // Every complete frame waiting on a Ready link.
  void OnMatchMakingPacket();
  // The game information JSON: StatsURL (required) and, unless the version is locked, gameVersion.
  bool ApplyGameInfo(const TOrvString<char>& json);
  void ForwardClientValidation(const Network::TMmsValidatePlayerAnswer& answer);

  // The players' chat, to the chat log file when one was given.
  void WriteChatLog(const TOrvString<char>& line);

  // The link socket's callbacks; they work on the instance, never on their arguments.
  static void OnMatchMakingConnectEvent(bufferevent* bufferEvent, short events, void* userData);
  static void OnMatchMakingInitEvent(bufferevent* bufferEvent, short events, void* userData);
  static void OnMatchMakingLinkEvent(bufferevent* bufferEvent, short events, void* userData);
  static void OnMatchMakingInitAnswerCallback(bufferevent* bufferEvent, void* userData);
  static void OnMatchMakingPacketCallback(bufferevent* bufferEvent, void* userData);

  // Tests and fuzz targets: the link's reception and sends go through `stream` (owned by the
  // caller, no link socket) from the state given, as if a connection had just reached it.
  void AttachMatchMakingStream(Network::IStreamInterface* stream, MatchMakingLinkState state);
  // Tests and fuzz targets: slave mode without a new task.
  void SetSlaveForTests(bool slave) { slave_ = slave; }

  MatchMakingLinkState GetLinkState() const { return linkState_; }
  TTimeStamp GetLastConnectionAttempt() const { return lastConnectionAttempt_; }
  TTimeStamp GetLinkStateEntryTime() const { return linkStateEntryTime_; }
  Network::TBufferEventSocket* GetMatchMakingSocket() const { return matchMakingSocket_; }
  // What the link reads and writes: the link socket, or a stream attached by a test.
  Network::IStreamInterface* GetMatchMakingStream() const { return matchMakingStream_; }
  Network::TDatabaseAccesser* GetDatabaseAccesser() const { return databaseAccesser_; }
  const TOrvString<char>& GetStatsUrl() const { return statsUrl_; }
  Network::TPacketHelperBase* GetMatchMakingFramer() const { return matchMakingFramer_; }
  Network::TPacketHelperBase* GetClientFramer() const { return clientFramer_; }
  Network::TSocketInterfaceManagerForLibEvent* GetSocketManager() const { return socketManager_; }
  Network::TOperationWithTimeOutManager* GetOperationManager() const { return operationManager_; }
  Network::TCurlRequestManager* GetHttpManager() const { return httpManager_; }
  Network::TRateLimitGroup* GetRateLimitGroup() const { return rateLimitGroup_; }
  ServerTools::TConsoleCommandRegistry* GetConsoleRegistry() const { return consoleRegistry_; }
  ServerTools::RConServer* GetConsoleServer() const { return consoleServer_; }
  ServerTools::TLogFileAppender* GetChatLog() const { return chatLog_; }
  TDedicatedSession* GetSession() const { return session_; }
  const TOrvString<char>& GetLogin() const { return login_; }
  const TOrvString<char>& GetKey() const { return dedicatedKey_; }
  const TOrvString<char>& GetForcedVersion() const { return forcedVersion_; }
  const TOrvString<char>& GetGameReportingUrl() const { return gameReportingUrl_; }
  const TOrvString<char>& GetCouchDbOverride() const { return couchDbOverride_; }
  std::uint16_t GetMatchMakingPort() const { return matchMakingPort_; }
  std::uint32_t GetResolvedAddress() const { return resolvedAddress_; }
  std::uint16_t GetClientPort() const { return clientPort_; }
  std::uint32_t GetGameId() const { return gameId_; }
  bool IsSlave() const { return slave_; }
  bool IsVersionLocked() const { return versionLocked_; }
  bool AreAllGameVersionsAllowed() const { return allowAllGameVersions_; }

 private:
  TMainServerTask(std::uint32_t gameId, const char* ownAddress, std::uint16_t clientPort,
                  const char* matchMakingAddress, const char* matchMakingPort, TDedicatedSession* session,
                  const char* couchDbOverride, const char* forcedVersion, bool allowAllGameVersions, bool slave,
                  const TOrvString<char>& rconPassword, const TOrvString<char>& rconPort,
                  const TOrvString<char>& chatLogFile, const TOrvString<char>& gameReportingUrl,
                  const TOrvString<char>& login, const TOrvString<char>& key);
  ~TMainServerTask();

  void ReadLoginFile();
#if ORV_TEST_SEAMS
  // Test seam: the line that tells a test its clock step was applied, with what still runs.
  void LogTestClockStep(std::uint64_t milliseconds) const;
#endif
  // The line of a failed accept on the client port.
  static TOrvString<char> ClientAcceptFailureLine(int error);
  // Closes and deletes the link socket, when there is one.
  void DeleteMatchMakingSocket();

  static inline TMainServerTask* instance_ = nullptr;

  evdns_base* dnsBase_ = nullptr;
  Network::TNativeSocket* clientListenSocket_ = nullptr;
  Network::TListenAcceptor clientAcceptor_;
  Network::TBufferEventSocket* matchMakingSocket_ = nullptr;
  Network::IStreamInterface* matchMakingStream_ = nullptr;
  const char* matchMakingAddress_;
  std::uint16_t matchMakingPort_ = 0;  // host order
  TOrvString<char> ownAddress_;
  std::uint32_t resolvedAddress_ = 0;  // network order, as a sockaddr_in holds it
  std::uint16_t clientPort_ = 0;       // network order
  std::uint32_t gameId_;
  bool slave_;
  bool versionLocked_ = false;
  bool allowAllGameVersions_;
  TOrvString<char> login_;
  TOrvString<char> dedicatedKey_;
  Network::TDatabaseAccesser* databaseAccesser_ = nullptr;
  MatchMakingLinkState linkState_ = MatchMakingLinkState::NotConnected;
  TTimeStamp lastConnectionAttempt_ = 0;
  TTimeStamp linkStateEntryTime_ = 0;
  // The length of a frame whose body has not all arrived; per connection, 0 on a new one.
  std::uint16_t pendingFrameLength_ = 0;
  Network::TPacketHelperBase* matchMakingFramer_ = nullptr;
  TDedicatedSession* session_ = nullptr;
  Network::TRateLimitGroup* rateLimitGroup_ = nullptr;
  TOrvString<char> statsUrl_;
  TOrvString<char> couchDbOverride_;
  Network::TPacketHelperBase* clientFramer_ = nullptr;
  Network::TSocketInterfaceManagerForLibEvent* socketManager_ = nullptr;
  Network::TOperationWithTimeOutManager* operationManager_ = nullptr;
  ServerTools::TConsoleCommandRegistry* consoleRegistry_ = nullptr;
  TOrvString<char> rconPassword_;
  TOrvString<char> rconPort_;
  ServerTools::RConServer* consoleServer_ = nullptr;
  ServerTools::TLogFileAppender* chatLog_ = nullptr;
  Network::TCurlRequestManager* httpManager_ = nullptr;
  TOrvString<char> gameReportingUrl_;
  TOrvString<char> forcedVersion_;
  EExitStatus exitStatus_ = kExitStopped;
  // "login.ini" was read, and said itself what it lacked.
  bool loginFileRead_ = false;
};

}  // namespace Orvan::Dedicated
