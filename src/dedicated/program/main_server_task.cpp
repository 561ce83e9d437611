// The main task's life and its loop: construction and destruction of the network objects, the
// account file, the own address, the loop with its two-stage exit.
#include "dedicated/program/main_server_task.h"

#include <arpa/inet.h>
#include <event2/event.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "dedicated/admin/legacy_number_conversion.h"
#if ORV_TEST_SEAMS
#include "dedicated/program/test_clock.h"
#endif
#include "dedicated/session/dedicated_session.h"
#include "network/console/console_command_registry.h"
#include "network/console/rcon_server.h"
#if ORV_TEST_SEAMS
#include "network/database/couchdb_database_accesser.h"
#endif
#include "network/database/database_accesser.h"
#include "network/files/ini_profile.h"
#include "network/logging/global_logger.h"
#include "network/logging/log_file_appender.h"
#include "network/logging/network_hooks.h"
#include "network/operations/http_request.h"
#include "network/operations/operation_with_time_out.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/native_socket.h"
#include "network/sockets/rate_limit_group.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

volatile sig_atomic_t gExitRequested = 0;

namespace {

// The console commands, all handled by the session through the task.
constexpr const char* kConsoleCommands[] = {"setsvar", "setpvar",      "kick", "ban", "unban", "display_all_clients",
                                            "launch",  "cancel_launch"};

int ReadLoginKey(const char* /*section*/, const char* key, const char* value, void* task) {
  if (std::strcmp(key, "login") == 0) {
    static_cast<TMainServerTask*>(task)->SetLogin(value);
  } else if (std::strcmp(key, "dedicated_key") == 0) {
    static_cast<TMainServerTask*>(task)->SetKey(value);
  }
  return 1;
}

}  // namespace

TMainServerTask* TMainServerTask::CreateInstance(std::uint32_t gameId, const char* ownAddress, std::uint16_t clientPort,
                                                 const char* matchMakingAddress, const char* matchMakingPort,
                                                 TDedicatedSession* session, const char* couchDbOverride,
                                                 const char* forcedVersion, bool allowAllGameVersions, bool slave,
                                                 const TOrvString<char>& rconPassword, const TOrvString<char>& rconPort,
                                                 const TOrvString<char>& chatLogFile,
                                                 const TOrvString<char>& gameReportingUrl,
                                                 const TOrvString<char>& login, const TOrvString<char>& key) {
  instance_ = new TMainServerTask(gameId, ownAddress, clientPort, matchMakingAddress, matchMakingPort, session,
                                  couchDbOverride, forcedVersion, allowAllGameVersions, slave, rconPassword, rconPort,
                                  chatLogFile, gameReportingUrl, login, key);
  instance_->ReadLoginFile();
  return instance_;
}

void TMainServerTask::DestroyInstance() {
  if (instance_ == nullptr) return;
  instance_->ClearSession();
  delete instance_;
  instance_ = nullptr;
}

TMainServerTask::TMainServerTask(std::uint32_t gameId, const char* ownAddress, std::uint16_t clientPort,
                                 const char* matchMakingAddress, const char* matchMakingPort,
                                 TDedicatedSession* session, const char* couchDbOverride, const char* forcedVersion,
                                 bool allowAllGameVersions, bool slave, const TOrvString<char>& rconPassword,
                                 const TOrvString<char>& rconPort, const TOrvString<char>& chatLogFile,
                                 const TOrvString<char>& gameReportingUrl, const TOrvString<char>& login,
                                 const TOrvString<char>& key)
    : clientAcceptor_(&ClientAcceptFailureLine),
      matchMakingAddress_(matchMakingAddress),
      ownAddress_(ownAddress),
      gameId_(gameId),
      slave_(slave),
      allowAllGameVersions_(allowAllGameVersions),
      login_(login),
      dedicatedKey_(key),
      couchDbOverride_(couchDbOverride),
      gameReportingUrl_(gameReportingUrl) {
  const bool portGiven = matchMakingPort != nullptr && matchMakingPort[0] != '\0';
  matchMakingPort_ =
      static_cast<std::uint16_t>(ConvertDecimalToI32(portGiven ? matchMakingPort : kDefaultMatchMakingPort));
  clientPort_ = htons(clientPort);

  matchMakingFramer_ = new Network::TPacketHelperBase(kFramerBufferSize);
  clientFramer_ = new Network::TPacketHelperBase(kFramerBufferSize);
  operationManager_ = new Network::TOperationWithTimeOutManager;
  socketManager_ = new Network::TSocketInterfaceManagerForLibEvent(true);
  rateLimitGroup_ = new Network::TRateLimitGroup;
  const timeval tick{1, 0};
  rateLimitGroup_->SetRateLimit(socketManager_, kRateLimitBytesPerTick, kRateLimitBytesPerTick, &tick);
  if (socketManager_->GetEventBase() != nullptr) {
    dnsBase_ = evdns_base_new(socketManager_->GetEventBase(), EVDNS_BASE_INITIALIZE_NAMESERVERS);
  }

  session_ = session;
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  // The forced version is kept here and applied by the session's start-up, once its properties
  // exist, after "variables.ini" so that the switch wins.
  if (forcedVersion != nullptr) {
    forcedVersion_ = forcedVersion;
    versionLocked_ = true;
  } else if (allowAllGameVersions_) {
    versionLocked_ = true;
  }

  consoleRegistry_ = new ServerTools::TConsoleCommandRegistry;
  rconPassword_ = rconPassword;
  rconPort_ = rconPort;
  if (!rconPassword_.IsEmpty()) consoleRegistry_->SetPassword(rconPassword_);
  for (const char* command : kConsoleCommands) consoleRegistry_->RegisterCommand(command, this);
  if (!rconPort_.IsEmpty() && !rconPassword_.IsEmpty()) {
    consoleServer_ = new ServerTools::RConServer(consoleRegistry_);
    consoleServer_->Listen(socketManager_, static_cast<std::uint16_t>(ConvertDecimalToI32(rconPort_.c_str())));
  } else {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "No rcon port or no rcon password specified, rcon won't be available");
  }
  if (!chatLogFile.IsEmpty()) chatLog_ = new ServerTools::TLogFileAppender(chatLogFile, 0);
  httpManager_ = new Network::TCurlRequestManager;
}

TMainServerTask::~TMainServerTask() {
  // Operations still running (a kill waiting for its client's close, a transfer) end first, while
  // the managers, the rate-limit group and the event base they use are all still there.
  if (operationManager_ != nullptr) operationManager_->CancelAll();
  delete httpManager_;
  delete chatLog_;
  delete databaseAccesser_;
  if (dnsBase_ != nullptr) evdns_base_free(dnsBase_, 1);
  delete consoleServer_;
  delete consoleRegistry_;
  CloseClientSocket();
  DeleteMatchMakingSocket();
  delete matchMakingFramer_;
  delete clientFramer_;
  delete operationManager_;
  delete rateLimitGroup_;
  delete socketManager_;
}

void TMainServerTask::ReadLoginFile() {
  if (!login_.IsEmpty() || !dedicatedKey_.IsEmpty()) return;
  loginFileRead_ = true;
  const auto fail = [](const TOrvString<char>& line) { Network::NetworkLog(Network::kNetworkLogError, line); };
  std::FILE* file = std::fopen(kLoginIniFile, "r");
  if (file == nullptr) {
    const int error = errno;
    if (error == ENOENT) {
      fail("Error : login.ini file doesn't exist !!");
    } else {
      fail("Error : login.ini file can't be read (" + Network::GetErrorString(error) + ")");
    }
    return;
  }
  // A folder opens for reading but reads nothing.
  struct stat status {};
  const bool isFile = ::fstat(::fileno(file), &status) == 0 && S_ISREG(status.st_mode);
  std::fclose(file);
  if (!isFile) {
    fail("Error : login.ini is not a file");
    return;
  }
  if (!ServerTools::TIniProfile::IniBrowse(&ReadLoginKey, this, kLoginIniFile)) {
    fail("Error : login.ini file can't be read (" + Network::GetErrorString(errno) + ")");
    return;
  }
  if (login_.IsEmpty() && dedicatedKey_.IsEmpty()) {
    fail("Error : login.ini gives no login and no dedicated_key");
  } else if (login_.IsEmpty()) {
    fail("Error : login.ini gives no login");
  } else if (dedicatedKey_.IsEmpty()) {
    fail("Error : login.ini gives no dedicated_key");
  }
}

void TMainServerTask::ResolveServerAddress() {
  if (ownAddress_.IsEmpty()) return;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* results = nullptr;
  if (::getaddrinfo(ownAddress_.c_str(), "0", &hints, &results) == 0) {
    for (const addrinfo* result = results; result != nullptr; result = result->ai_next) {
      if (result->ai_family != AF_INET) continue;
      resolvedAddress_ = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
      break;
    }
    ::freeaddrinfo(results);
  }
  if (resolvedAddress_ == 0) {
    Network::NetworkLog(Network::kNetworkLogWarning, "Invalid IP given, default IP will be used");
  }
}

void TMainServerTask::Run() {
  if (login_.IsEmpty() || dedicatedKey_.IsEmpty()) {
    // "login.ini", when it was read, has said what it lacks.
    if (!loginFileRead_) {
      Network::NetworkLog(Network::kNetworkLogCritical,
                          "No login or dedicated key specified, can't connect to match making server");
    }
    exitStatus_ = kExitNoAccount;
    return;
  }
  ResolveServerAddress();
  if (!OpenClientSocket()) {
    exitStatus_ = kExitClientPortUnavailable;
    return;
  }
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGTERM, &OnExitSignal);
  ::signal(SIGINT, &OnExitSignal);
  ::signal(SIGCHLD, SIG_IGN);
  if (session_ != nullptr) session_->Initialize();

  bool exiting = false;
  for (;;) {
    if (!Tick()) {
      gExitRequested = 0;
      if (exiting) {
        Network::NetworkLog(Network::kNetworkLogInformation, "Exiting immediatly.");
        return;
      }
      Network::NetworkLog(Network::kNetworkLogInformation, "Server will exit as soon as possible.");
      exiting = true;
      if (session_ != nullptr) session_->OnExitRequested();
    } else if (!exiting) {
      continue;
    }
    if (IsReadyToExit()) return;
  }
}

bool TMainServerTask::IsReadyToExit() const {
  if (session_ != nullptr && !session_->CanExit()) return false;
  // The result upload is the server's only HTTP transfer.
  return httpManager_ == nullptr || httpManager_->GetActiveCount() + httpManager_->GetQueuedCount() == 0;
}

std::uint32_t TMainServerTask::GetEventSliceMilliseconds(TTimeStamp now) const {
  // While a game is recorded the slice ends when the next tick is due, so the tick runs on time
  // instead of up to a whole slice late (which the players see as uneven ticks). The session ticks
  // once the time is strictly past, hence the millisecond more. A short slice is only worth it
  // because the same pass then updates the session, which runs the tick: every pass does, whatever
  // the link's state, so an overdue tick never makes the loop spin.
  const double toTick = session_ != nullptr ? session_->GetMillisecondsToNextTick(now) : -1.0;
  if (toTick < 0.0 || toTick >= kLoopStepMilliseconds) return kLoopStepMilliseconds;
  return std::min(static_cast<std::uint32_t>(std::ceil(toTick)) + 1, kLoopStepMilliseconds);
}

bool TMainServerTask::Tick() {
#if ORV_TEST_SEAMS
  // Test seam, off unless a test set its variable: the clock moves only between two passes.
  if (const std::uint64_t moved = ApplyTestClockSteps(); moved != 0) LogTestClockStep(moved);
#endif
  // The counts of repeated log lines come out once their second is over, also when the lines stop.
  ServerTools::FlushRepeatedLogLines();
  TTimeStamp now;
  GetTimeStamp(now);
  // A link dropped during this pass is tried again from the next pass on, as the 20 s allow.
  const bool notConnected = linkState_ == MatchMakingLinkState::NotConnected;
  // What the link gates follows its state: the client port is watched only while it is Ready.
  UpdateClientListener(now);
  if (consoleServer_ != nullptr) consoleServer_->Update(now);
  // Whatever the link's state, the sockets of the running game, of the admitted players and of the
  // console are served, and the session goes on: a lost match-making server costs new players
  // their admission, never the players already here their game.
  socketManager_->RunEventLoop(GetEventSliceMilliseconds(now));
  if (databaseAccesser_ != nullptr) databaseAccesser_->Perform();
  if (httpManager_ != nullptr) httpManager_->Perform();
  // After the transfers, so that one that has just finished ends normally rather than by its
  // time-out; before the session, whose update may end operations itself.
  operationManager_->Update();
  CheckMatchMakingTimeOuts();
  SendMatchMakingKeepAlive();
  if (session_ != nullptr) session_->Update();
  // The attempt is the pass's last act: its connection is served from the next pass on.
  if (notConnected && GetElapsedSeconds(lastConnectionAttempt_, now) > kReconnectSeconds) {
    lastConnectionAttempt_ = now;
    if (!ConnectToMatchMakingServer()) return false;
  }
  return gExitRequested == 0;
}

#if ORV_TEST_SEAMS
void TMainServerTask::LogTestClockStep(std::uint64_t milliseconds) const {
  std::string line = "Test clock moved " + std::to_string(milliseconds) + " ms ahead: " +
                     std::to_string(operationManager_->GetRegisteredCount() + operationManager_->GetPendingCount()) +
                     " operations running";
  if (const auto* couchDb = dynamic_cast<const Network::TCouchDBDatabaseAccesser*>(databaseAccesser_)) {
    line += ", database transfers " + std::to_string(couchDb->GetBusyHandleCount()) + " busy " +
            std::to_string(couchDb->GetQueuedCount()) + " queued " + std::to_string(couchDb->GetFreeHandleCount()) +
            " free";
  }
  if (httpManager_ != nullptr) {
    line += ", HTTP transfers " + std::to_string(httpManager_->GetActiveCount()) + " active " +
            std::to_string(httpManager_->GetQueuedCount()) + " queued " +
            std::to_string(httpManager_->GetFreeHandleCount()) + " free";
  }
  Network::NetworkLog(Network::kNetworkLogInformation, line.c_str());
}
#endif

bool TMainServerTask::ExecuteCommand(const TOrvString<char>& commandLine, ServerTools::IVirtualConsole* console) {
  return session_ != nullptr && session_->ExecuteRConCommand(commandLine, console);
}

void TMainServerTask::OnExitSignal(int signalNumber) {
  if (signalNumber == SIGINT || signalNumber == SIGTERM) gExitRequested = 1;
}

}  // namespace Orvan::Dedicated
