// The switch scan and its validation.
#include "dedicated/program/command_line.h"

#include <cstring>

#include "dedicated/admin/legacy_number_conversion.h"

namespace Orvan::Dedicated {

namespace {

enum class ESwitch {
  kPort,
  kMatchMakingAddress,
  kMatchMakingPort,
  kGameId,
  kForceGameVersion,
  kOverrideCouchDb,
  kAllowAllGameVersion,
  kOwnAddress,
  kSlave,
  kRconPassword,
  kRconPort,
  kChatLogFile,
  kGameReporting,
  kLogin,
  kKey
};

struct TSwitchName {
  const char* name;
  ESwitch which;
  bool takesValue;
};

// In the order the names are compared.
constexpr TSwitchName kSwitches[] = {
    {"port", ESwitch::kPort, true},
    {"ip_mms", ESwitch::kMatchMakingAddress, true},
    {"port_mms", ESwitch::kMatchMakingPort, true},
    {"game_id", ESwitch::kGameId, true},
    {"force_game_version", ESwitch::kForceGameVersion, true},
    {"override_couchdb_server", ESwitch::kOverrideCouchDb, true},
    {"allow_all_game_version", ESwitch::kAllowAllGameVersion, false},
    {"ip", ESwitch::kOwnAddress, true},
    {"mms_slave", ESwitch::kSlave, false},
    {"rcon_password", ESwitch::kRconPassword, true},
    {"rcon_port", ESwitch::kRconPort, true},
    {"chat_log_file", ESwitch::kChatLogFile, true},
    {"game_reporting", ESwitch::kGameReporting, true},
    {"login", ESwitch::kLogin, true},
    {"key", ESwitch::kKey, true},
};

const TSwitchName* FindSwitch(const char* name) {
  for (const TSwitchName& entry : kSwitches) {
    if (std::strcmp(entry.name, name) == 0) return &entry;
  }
  return nullptr;
}

void Apply(ESwitch which, const char* value, TCommandLineSettings& settings) {
  switch (which) {
    case ESwitch::kPort:
      settings.port = static_cast<std::uint16_t>(ConvertDecimalToU32(value));
      break;
    case ESwitch::kMatchMakingAddress:
      settings.matchMakingAddress = value;
      break;
    case ESwitch::kMatchMakingPort:
      settings.matchMakingPort = value;
      break;
    case ESwitch::kGameId:
      settings.gameId = ConvertDecimalToU32(value);
      break;
    case ESwitch::kForceGameVersion:
      settings.forcedGameVersion = value;
      break;
    case ESwitch::kOverrideCouchDb:
      settings.couchDbOverride = value;
      break;
    case ESwitch::kAllowAllGameVersion:
      settings.allowAllGameVersions = true;
      break;
    case ESwitch::kOwnAddress:
      settings.ownAddress = value;
      break;
    case ESwitch::kSlave:
      settings.slave = true;
      break;
    case ESwitch::kRconPassword:
      settings.rconPassword = value;
      break;
    case ESwitch::kRconPort:
      settings.rconPort = value;
      break;
    case ESwitch::kChatLogFile:
      settings.chatLogFile = value;
      break;
    case ESwitch::kGameReporting:
      settings.gameReportingUrl = value;
      break;
    case ESwitch::kLogin:
      settings.login = value;
      break;
    case ESwitch::kKey:
      settings.key = value;
      break;
  }
}

}  // namespace

ECommandLineVerdict ParseCommandLine(int argc, const char* const* argv, TCommandLineSettings& settings) {
  for (int index = 1; index < argc; ++index) {
    const char* argument = argv[index];
    if (argument == nullptr || argument[0] != '+') continue;
    const TSwitchName* entry = FindSwitch(argument + 1);
    if (entry == nullptr) continue;
    if (!entry->takesValue) {
      Apply(entry->which, nullptr, settings);
      continue;
    }
    if (index + 1 >= argc) continue;
    Apply(entry->which, argv[++index], settings);
  }

  if (settings.matchMakingAddress == nullptr || settings.matchMakingAddress[0] == '\0' ||
      settings.gameId == kInvalidGameId) {
    return ECommandLineVerdict::kUsage;
  }
  if (settings.port <= kHighestRefusedPort) return ECommandLineVerdict::kBadPort;
  return ECommandLineVerdict::kRun;
}

const char* GetCommandLineVerdictText(ECommandLineVerdict verdict) {
  switch (verdict) {
    case ECommandLineVerdict::kUsage:
      return kUsageText;
    case ECommandLineVerdict::kBadPort:
      return kBadPortText;
    case ECommandLineVerdict::kRun:
      break;
  }
  return nullptr;
}

}  // namespace Orvan::Dedicated
