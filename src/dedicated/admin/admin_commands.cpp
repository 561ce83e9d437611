// The admin commands of this game's session: the remote console's lines, answered with one reply
// each, and the command lines of in-game clients, carried out by their rights and never answered.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/admin/legacy_number_conversion.h"
#include "dedicated/clients/decimal_client_id.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/console/console_interfaces.h"
#include "network/logging/control_character_escape.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Dedicated {

namespace {

const char kOk[] = "Ok.";
const char kInvalidCommand[] = "Invalid command.";
const char kNoPlayer[] = "No player connected and ready to play";
const char kSetPlayerVariableUsage[] = "Not enough parameters : setpvar USER_ID VARIABLE_NAME VARIABLE_VALUE";
const char kSetServerVariableUsage[] = "Not enough parameters : setsvar VARIABLE_NAME VARIABLE_VALUE";
const char kKickUsage[] = "Not enough parameters : kick CLIENT_ID";
const char kBanUsage[] = "Not enough parameters : ban CLIENT_ID DELAY_IN_HOUR";
const char kUnbanUsage[] = "Not enough parameters : unban CLIENT_ID";

// The rights letters of the commands.
constexpr char kRightLaunch = 'l';
constexpr char kRightSetPlayerVariable = 'p';
constexpr char kRightSetServerVariable = 's';
constexpr char kRightKick = 'k';
constexpr char kRightBan = 'b';
constexpr char kRightUnban = 'u';

void LogInformation(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }
void LogWarning(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogWarning, text); }

TOrvString<char> Text(std::string_view view) {
  return TOrvString<char>(view.data(), static_cast<std::uint32_t>(view.size()));
}

bool StartsWith(std::string_view line, std::string_view prefix) { return line.substr(0, prefix.size()) == prefix; }

// The text before the first blank, and the text after it (empty when there is no blank).
struct TWords {
  std::string_view first;
  std::string_view rest;
};

TWords SplitFirstWord(std::string_view text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return {text, {}};
  return {text.substr(0, blank), text.substr(blank + 1)};
}

// The pieces between blanks; blanks in a row separate once.
std::vector<std::string_view> Tokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t blank = text.find(' ', start);
    if (blank == std::string_view::npos) blank = text.size();
    if (blank > start) tokens.push_back(text.substr(start, blank - start));
    start = blank + 1;
  }
  return tokens;
}

// The hours of a ban: decimal digits only, so that a typo ("one", "-1") is refused rather than read
// as 0, a ban forever. Hours beyond 64 bits saturate, which bans forever too.
bool ParseHours(std::string_view token, std::uint64_t& hours) {
  if (!IsDecimalDigits(token)) return false;
  hours = std::strtoull(std::string(token).c_str(), nullptr, 10);
  return true;
}

bool IsClientId(const Network::OrvNetId& id) { return id.IsValid() && id.IsClientId(); }

// setpvar USER_ID VARIABLE_NAME VARIABLE_VALUE, the value being the rest of the line.
struct TPlayerVariableCommand {
  Network::OrvNetId target;
  std::string_view name;
  std::string_view value;
};

bool ParsePlayerVariableCommand(const TDedicatedSession& session, std::string_view line,
                                TPlayerVariableCommand& command) {
  const TWords words = SplitFirstWord(line);
  if (words.first != "setpvar" || words.rest.empty()) return false;
  const TWords target = SplitFirstWord(words.rest);
  command.target = session.FindClientId(Text(target.first));
  if (!IsClientId(command.target) || target.rest.empty()) return false;
  const TWords variable = SplitFirstWord(target.rest);
  command.name = variable.first;
  command.value = variable.rest;
  return !command.name.empty() && !command.value.empty();
}

// setsvar VARIABLE_NAME VARIABLE_VALUE, the value being the rest of the line, possibly empty.
struct TServerVariableCommand {
  std::string_view name;
  std::string_view value;
};

bool ParseServerVariableCommand(std::string_view line, TServerVariableCommand& command) {
  const TWords words = SplitFirstWord(line);
  if (words.first != "setsvar" || words.rest.empty()) return false;
  const TWords variable = SplitFirstWord(words.rest);
  command.name = variable.first;
  command.value = variable.rest;
  return true;
}

// NbMaxPlayer goes through the player limit (its value read as the 32-bit server always read it,
// so that a huge number clamps to 64), every other property straight to the table.
void SetServerVariable(TDedicatedSession& session, const TServerVariableCommand& command, bool anyClient, bool host,
                       bool admin) {
  TDedicatedPropertyTable* table = session.GetPropertyTable();
  if (command.name == "NbMaxPlayer") {
    // The text is checked before it is read: a negative or oversized number is refused, not clamped.
    const TOrvString<char> value = Text(command.value);
    if (table != nullptr && !table->AcceptValue("NbMaxPlayer", value)) return;
    session.SetNbMaxPlayer(ConvertDecimalToU32(value.c_str()), anyClient, host, admin, false);
    return;
  }
  if (table != nullptr) table->SetVariable(Text(command.name), Text(command.value), anyClient, host, admin, false);
}

void PostEvent(TDedicatedSession& session, TDedicatedUser* user, std::uint32_t event) {
  TDedicatedSessionStateManager* manager = session.GetStateManager();
  if (manager != nullptr) manager->PostEvent(user, event);
}

bool HasPlayer(const TDedicatedSession& session) {
  for (const TDedicatedUser* client : session.GetClients()) {
    if (!client->IsSpectator()) return true;
  }
  return false;
}

TOrvString<char> PlayerName(const TDedicatedUser* user) {
  const TDedicatedPropertyValue* name = user->GetUserVariable("PlayerName");
  return name != nullptr ? name->GetValue() : TOrvString<char>();
}

// The alliance a user is in, read as a signed number; false when it has no PlayerAlliance.
bool ReadAlliance(const TDedicatedUser* user, std::int32_t& alliance) {
  const TDedicatedPropertyValue* value = user->GetUserVariable("PlayerAlliance");
  if (value == nullptr) return false;
  alliance = ToInteger(value->GetValue());
  return true;
}

enum class TClientCommandOutcome { Accepted, Rejected, Invalid };

// A line holding a NUL byte is refused whole by both interpreters: the words after the NUL would
// be read by some steps (the parsing here) and not by others (the C strings of the property
// table and the log), so no step may see it.
bool HoldsNul(std::string_view line) { return line.find('\0') != std::string_view::npos; }

}  // namespace

bool TStrivexDedicatedSession::ExecuteRConCommand(const TOrvString<char>& commandLine,
                                                  ServerTools::IVirtualConsole* console) {
  LogInformation("RCon request command : " + Network::EscapeControlCharacters(commandLine));
  const std::string_view line(commandLine.c_str(), commandLine.GetLength());
  TOrvString<char> reply = kOk;
  bool done = true;

  if (HoldsNul(line)) {
    reply = kInvalidCommand;
    done = false;
  } else if (line == "launch") {
    if (HasPlayer(*this)) {
      PostEvent(*this, nullptr, kStateEventLaunch);
    } else {
      reply = kNoPlayer;
      done = false;
    }
  } else if (line == "cancel_launch") {
    PostEvent(*this, nullptr, kStateEventCancelLaunch);
  } else if (StartsWith(line, "setpvar")) {
    TPlayerVariableCommand command;
    if (ParsePlayerVariableCommand(*this, line, command)) {
      std::string_view value = command.value;
      if (value.size() > 1 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      // "Ok." also when nobody has that id.
      if (TDedicatedUser* target = FindClientById(command.target)) {
        target->SetUserVariable(Text(command.name), Text(value), false, false, true, false);
      }
    } else {
      reply = kSetPlayerVariableUsage;
      done = false;
    }
  } else if (StartsWith(line, "setsvar")) {
    TServerVariableCommand command;
    if (ParseServerVariableCommand(line, command)) {
      // "Ok." whatever the table answered.
      SetServerVariable(*this, command, false, false, true);
    } else {
      reply = kSetServerVariableUsage;
      done = false;
    }
  } else if (StartsWith(line, "kick")) {
    const std::vector<std::string_view> tokens = Tokens(line);
    if (tokens.size() == 2) {
      const Network::OrvNetId id = FindClientId(Text(tokens[1]));
      TDedicatedUser* user = IsClientId(id) ? FindClientById(id) : nullptr;
      if (user != nullptr) user->Disconnect(ClientDisconnectReason::Kicked);
    } else {
      reply = kKickUsage;
      done = false;
    }
  } else if (StartsWith(line, "ban")) {
    const std::vector<std::string_view> tokens = Tokens(line);
    std::uint64_t hours = 0;
    if (tokens.size() == 3 && ParseHours(tokens[2], hours)) {
      const Network::OrvNetId id = ParseDecimalId(tokens[1]);
      if (IsClientId(id)) BanClient(id, hours);
    } else {
      reply = kBanUsage;
      done = false;
    }
  } else if (StartsWith(line, "unban ")) {
    const std::vector<std::string_view> tokens = Tokens(line);
    if (tokens.size() == 2) {
      const Network::OrvNetId id = ParseDecimalId(tokens[1]);
      if (IsClientId(id)) UnbanClient(id);
    } else {
      reply = kUnbanUsage;
      done = false;
    }
  } else if (StartsWith(line, "display_all_clients")) {
    // One reply however long: the console sends it over as many packets as it takes.
    reply = "Client List :\n";
    if (GetClients().IsEmpty()) reply += "Server is empty !";
    for (const TDedicatedUser* client : GetClients()) {
      reply += client->GetNetworkId().ToString();
      reply += ' ';
      reply += PlayerName(client);
      reply += '\n';
    }
  } else {
    reply = kInvalidCommand;
    done = false;
  }

  if (console != nullptr) console->Print(reply);
  return done;
}

void TStrivexDedicatedSession::ExecuteClientCommand(TDedicatedUser* client, const TOrvString<char>& commandLine) {
  if (client == nullptr) return;
  const Network::OrvNetId clientId = client->GetNetworkId();
  LogInformation("Client " + clientId.ToString() + " request command : " + Network::EscapeControlCharacters(commandLine));
  const std::string_view line(commandLine.c_str(), commandLine.GetLength());
  const bool host = client->IsHost();
  const auto hasRight = [&](char letter) { return HasAdminRight(clientId, letter); };
  TClientCommandOutcome outcome = TClientCommandOutcome::Invalid;

  if (HoldsNul(line)) {
    // Invalid, as a malformed line.
  } else if (line == "launch" || line == "cancel_launch") {
    if (host || hasRight(kRightLaunch)) {
      PostEvent(*this, client, line == "launch" ? kStateEventLaunch : kStateEventCancelLaunch);
      outcome = TClientCommandOutcome::Accepted;
    } else {
      outcome = TClientCommandOutcome::Rejected;
    }
  } else if (StartsWith(line, "setpvar")) {
    TPlayerVariableCommand command;
    if (ParsePlayerVariableCommand(*this, line, command)) {
      TDedicatedUser* target = FindClientById(command.target);
      const bool itself = target == client;
      const bool mayOthers = hasRight(kRightSetPlayerVariable);
      if (target == nullptr || (!host && !mayOthers && !itself)) {
        outcome = TClientCommandOutcome::Rejected;
      } else {
        // The quotes stay: only the console takes them off.
        const TOrvString<char> value = Text(command.value);
        if (command.name != "PlayerAlliance" || CanChangeAlliance(target, value)) {
          target->SetUserVariable(Text(command.name), value, itself, host, mayOthers, false);
        }
        outcome = TClientCommandOutcome::Accepted;
      }
    }
  } else if (StartsWith(line, "setsvar")) {
    TServerVariableCommand command;
    if (ParseServerVariableCommand(line, command)) {
      // The properties' own flags decide; the line counts as carried out whatever they said.
      SetServerVariable(*this, command, true, host, hasRight(kRightSetServerVariable));
      outcome = TClientCommandOutcome::Accepted;
    }
  } else if (StartsWith(line, "kick ")) {
    const std::vector<std::string_view> tokens = Tokens(line);
    const Network::OrvNetId id = tokens.size() >= 2 ? FindClientId(Text(tokens[1])) : Network::OrvNetId();
    if (IsClientId(id)) {
      if (hasRight(kRightKick)) {
        if (TDedicatedUser* user = FindClientById(id)) user->Disconnect(ClientDisconnectReason::Kicked);
        outcome = TClientCommandOutcome::Accepted;
      } else {
        outcome = TClientCommandOutcome::Rejected;
      }
    }
  } else if (StartsWith(line, "ban ")) {
    const std::vector<std::string_view> tokens = Tokens(line);
    std::uint64_t hours = 0;
    const bool wellFormed = tokens.size() == 3 && ParseHours(tokens[2], hours);
    const Network::OrvNetId id = wellFormed ? ParseDecimalId(tokens[1]) : Network::OrvNetId();
    if (IsClientId(id)) {
      if (hasRight(kRightBan)) {
        BanClient(id, hours);
        outcome = TClientCommandOutcome::Accepted;
      } else {
        outcome = TClientCommandOutcome::Rejected;
      }
    }
  } else if (StartsWith(line, "unban ")) {
    const std::vector<std::string_view> tokens = Tokens(line);
    const Network::OrvNetId id = tokens.size() == 2 ? ParseDecimalId(tokens[1]) : Network::OrvNetId();
    if (IsClientId(id)) {
      if (hasRight(kRightUnban)) {
        UnbanClient(id);
        outcome = TClientCommandOutcome::Accepted;
      } else {
        outcome = TClientCommandOutcome::Rejected;
      }
    }
  }

  // The client may be gone by now (a kick or ban of itself): only its id is used from here on.
  if (outcome == TClientCommandOutcome::Rejected) {
    LogWarning("Command received from client " + clientId.ToString() +
               " rejected (reason : not enough right) : " + Network::EscapeControlCharacters(commandLine));
  } else if (outcome == TClientCommandOutcome::Invalid) {
    LogWarning("Invalid command received from client " + clientId.ToString() + " : " + Network::EscapeControlCharacters(commandLine));
  }
}

bool TStrivexDedicatedSession::CanChangeAlliance(const TDedicatedUser* user,
                                                 const TOrvString<char>& newAlliance) const {
  if (user == nullptr) return false;
  const std::int32_t wanted = ToInteger(newAlliance);
  if (wanted != 0 && wanted != 1) return false;
  std::int32_t current = 0;
  if (!ReadAlliance(user, current)) return true;
  if (current == wanted) return false;
  // Outside the two alliances (set by the console, which may set any value): the user may join
  // either, as the balance between the two does not count it.
  if (current != 0 && current != 1) return true;

  std::int64_t members[2] = {0, 0};
  for (const TDedicatedUser* client : GetClients()) {
    std::int32_t alliance = 0;
    if (ReadAlliance(client, alliance) && (alliance == 0 || alliance == 1)) ++members[alliance];
  }
  const std::int64_t from = members[current];
  const std::int64_t to = members[wanted] + 1;
  if (from == 0) return false;

  const TDedicatedPropertyTable* table = GetPropertyTable();
  const TDedicatedPropertyValue* deltaValue = table != nullptr ? table->GetVariable("DeltaMaxTeamSize") : nullptr;
  const std::int64_t delta = deltaValue != nullptr ? ToInteger(deltaValue->GetValue()) : 0;
  if (delta >= 1) {
    const std::int64_t after = std::llabs((from - 1) - to);
    const std::int64_t before = std::llabs(from - (to - 1));
    if (after > delta && after > before) return false;
  }
  const TDedicatedPropertyValue* maxValue = table != nullptr ? table->GetVariable("MaxTeamSize") : nullptr;
  const std::int64_t maxTeamSize = maxValue != nullptr ? ToInteger(maxValue->GetValue()) : 0;
  return maxTeamSize <= 0 || to <= maxTeamSize;
}

}  // namespace Orvan::Dedicated
