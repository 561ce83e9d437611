// Helpers of the server's unit tests: a working folder of its own with the network log captured,
// the main task made from a few settings (the rest defaulted as the command line defaults them),
// and a console that records what it is told.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "dedicated/command_line.h"
#include "dedicated/main_server_task.h"
#include "network/console_interfaces.h"
#include "support/event_loop_test_helpers.h"
#include "support/network_test_helpers.h"
#include "support/temporary_folder.h"

namespace OrvTest {

// A test in a fresh working folder (where the server reads and writes its files), with the
// network log captured and the exit request cleared; the main task, when one was made, goes with it.
class TDedicatedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IgnoreSigpipe();
    Orvan::Dedicated::gExitRequested = 0;
  }
  void TearDown() override {
    Orvan::Dedicated::TMainServerTask::DestroyInstance();
    Orvan::Dedicated::gExitRequested = 0;
  }

  void WriteFile(const std::string& name, const std::string& text) { std::ofstream(folder_.Path(name)) << text; }

  static std::vector<std::string> Lines() { return TCapturedNetworkLog::Texts(); }
  static bool Logged(const std::string& line) {
    const std::vector<std::string> lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // The lines logged from index `from` on.
  static std::vector<std::string> LinesFrom(std::size_t from) {
    const std::vector<std::string> lines = Lines();
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                                    lines.end());
  }
  static int LevelOf(const std::string& line) {
    for (const auto& entry : TCapturedNetworkLog::Lines()) {
      if (entry.text == line) return entry.level;
    }
    return -1;
  }

  TTemporaryFolder folder_;
  TScopedWorkingDirectory workingDirectory_{folder_.Path()};
  TCapturedNetworkLog log_;
};

// The task's settings that tests change; everything else as the command line leaves it.
struct TTaskSettings {
  std::uint32_t gameId = Orvan::Dedicated::kDefaultGameId;
  std::string ownAddress;
  std::uint16_t clientPort = 10000;
  std::string matchMakingAddress = Orvan::Dedicated::kDefaultMatchMakingAddress;
  std::string matchMakingPort;
  const char* forcedVersion = nullptr;
  bool slave = false;
  std::string rconPassword;
  std::string rconPort;
  std::string login = "ab";
  std::string key = "c";
};

// The texts the task keeps pointers to live in the settings: keep them alive with the task.
inline Orvan::Dedicated::TMainServerTask* CreateTask(const TTaskSettings& settings,
                                                     Orvan::Dedicated::TDedicatedSession* session) {
  return Orvan::Dedicated::TMainServerTask::CreateInstance(
      settings.gameId, settings.ownAddress.c_str(), settings.clientPort, settings.matchMakingAddress.c_str(),
      settings.matchMakingPort.c_str(), session, nullptr, settings.forcedVersion, true, settings.slave,
      settings.rconPassword.c_str(), settings.rconPort.c_str(), Orvan::TOrvString<char>(),
      Orvan::Dedicated::kDefaultGameReportingUrl, settings.login.c_str(), settings.key.c_str());
}

class TRecordingConsole final : public Orvan::ServerTools::IVirtualConsole {
 public:
  void Print(const Orvan::TOrvString<char>& text) override { printed.emplace_back(text.c_str()); }
  std::vector<std::string> printed;
};

}  // namespace OrvTest
