// The server's "+" switches: the settings they fill, their defaults, and the scan and validation
// that decide whether the program runs, as one function of the arguments alone.
#pragma once

#include <cstdint>

namespace Orvan::Dedicated {

// An unconfigured server never talks beyond the machine: the match-making server and the
// game-result endpoint default to the loopback address.
inline constexpr const char* kDefaultMatchMakingAddress = "127.0.0.1";
inline constexpr const char* kDefaultGameReportingUrl = "https://127.0.0.1:10281/recorddedicatedgame";
inline constexpr std::uint32_t kDefaultGameId = 24;
// A game id of all ones names no game.
inline constexpr std::uint32_t kInvalidGameId = 0xFFFFFFFFu;
// Client ports up to this one are refused.
inline constexpr std::uint16_t kHighestRefusedPort = 1024;

inline constexpr const char* kUsageText =
    "Bad arguments (Usage : ./DedicatedServer +port XXXX [+ip XX.XX.XX.XX +force_game_version XXXX])";
inline constexpr const char* kBadPortText = "Bad arguments (value of port must me > 1024)";

// Texts point into the argument vector (or at the defaults) and live as long as it does.
struct TCommandLineSettings {
  std::uint16_t port = 0;  // host order; the parsed value's low 16 bits
  const char* ownAddress = "";
  const char* matchMakingAddress = kDefaultMatchMakingAddress;
  const char* matchMakingPort = "";
  std::uint32_t gameId = kDefaultGameId;
  const char* forcedGameVersion = nullptr;
  const char* couchDbOverride = nullptr;
  bool allowAllGameVersions = true;
  bool slave = false;
  const char* rconPassword = "";
  const char* rconPort = "";
  const char* chatLogFile = nullptr;
  const char* gameReportingUrl = kDefaultGameReportingUrl;
  const char* login = "";
  const char* key = "";
};

enum class ECommandLineVerdict { kRun, kUsage, kBadPort };

// Scans the arguments from index 1: words without '+' and unknown names are skipped, a
// value-taking switch takes the next argument whatever it holds (and is skipped as the last
// argument), a later switch overrides an earlier one. Then validates: an empty match-making
// address or the invalid game id give kUsage, else a port of 1024 or less gives kBadPort.
ECommandLineVerdict ParseCommandLine(int argc, const char* const* argv, TCommandLineSettings& settings);

// The standard-error line of a refusing verdict (without its newline); null for kRun.
const char* GetCommandLineVerdictText(ECommandLineVerdict verdict);

}  // namespace Orvan::Dedicated
