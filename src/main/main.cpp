// The server's program entry: libcurl and the engine core, the "+" switches, the logger, the game
// session and the main task, the main loop, then the teardown in a fixed order. The exit status
// tells a requested stop from a server that could not start (dedicated/program/exit_status.h).
#include <curl/curl.h>
#include <event2/event.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/startup/engine_core_startup.h"
#include "dedicated/program/command_line.h"
#include "dedicated/program/exit_status.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/program/program_entry.h"
#if ORV_TEST_SEAMS
#include "dedicated/program/test_clock.h"
#endif
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/logging/global_logger.h"
#include "network/logging/network_hooks.h"

namespace {

const char kServerLogFile[] = "serverlog.txt";

}  // namespace

int main(int argc, char** argv) {
  using namespace Orvan;
  curl_global_init(CURL_GLOBAL_SSL);
  InitEngineCore();

  Dedicated::TCommandLineSettings settings;
  const Dedicated::ECommandLineVerdict verdict = Dedicated::ParseCommandLine(argc, argv, settings);
  if (verdict != Dedicated::ECommandLineVerdict::kRun) {
    std::fprintf(stderr, "%s\n", Dedicated::GetCommandLineVerdictText(verdict));
    ShutdownEngineCore();
    curl_global_cleanup();
    return Dedicated::kExitBadArguments;
  }

  event_set_log_callback(&ServerTools::LogEventLibraryMessage);
  event_set_fatal_callback(&Dedicated::OnLibEventFatalError);
  ServerTools::TGlobalLogger::CreateInstance(true);
  if (ServerTools::TGlobalLogger* logger = ServerTools::TGlobalLogger::GetInstance()) {
    Network::SetNetworkLogHandler(&ServerTools::Log);
    logger->OpenLogFile(kServerLogFile);
  }
  Network::SetNetworkAssertHandler(&Dedicated::IgnoreNetworkAssert);
#if ORV_TEST_SEAMS
  if (const std::uint64_t step = Dedicated::InstallTestClockFromEnvironment(); step != 0) {
    Network::NetworkLog(Network::kNetworkLogWarning, "Test clock seam on: each SIGUSR1 moves the clock " +
                                                         TOrvString<char>(std::to_string(step)) + " ms ahead");
  }
#endif

  auto* session = new Dedicated::TStrivexDedicatedSession(settings.gameId);
  Dedicated::TMainServerTask* task = Dedicated::TMainServerTask::CreateInstance(
      settings.gameId, settings.ownAddress, settings.port, settings.matchMakingAddress, settings.matchMakingPort,
      session, settings.couchDbOverride, settings.forcedGameVersion, settings.allowAllGameVersions, settings.slave,
      settings.rconPassword, settings.rconPort, settings.chatLogFile, settings.gameReportingUrl, settings.login,
      settings.key);
  task->Run();
  const Dedicated::EExitStatus status = task->GetExitStatus();

  // The users' connections go while the task's event loop still exists.
  session->Shutdown();
  delete session;
  Dedicated::TMainServerTask::DestroyInstance();
  ServerTools::TGlobalLogger::DestroyInstance();
  ShutdownEngineCore();
  curl_global_cleanup();
  return status;
}
