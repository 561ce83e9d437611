// This game's session: property table, validation, first phase, users and alliances.
#include "dedicated/session/strivex_dedicated_session.h"

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/legacy_number_conversion.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/game/states/phase_factories.h"

namespace Orvan::Dedicated {

namespace {

// In declaration order. No property may be changed by any client; Password alone is hidden.
constexpr TPropertyDeclaration kServerProperties[] = {
    {"NbMaxPlayer", "20", false, true, true, false},
    {"NbPlayer", "0", false, false, false, false},
    {"Seed", "1", false, false, false, false},
    {"Private", "0", false, true, true, false},
    {"ServerName", "Default Server Name", false, true, true, false},
    {"WithHost", "0", false, false, false, false},
    {"ServerProtocol", "0.0", false, false, false, false},
    {"TimeLeft", "0", false, false, false, false},
    {"Version", "0", false, false, false, false},
    {"GameState", "0", false, false, false, false},
    {"Password", "", false, false, true, true},
    {"NeedPassword", "0", false, false, false, false},
    {"GameType", "0", false, true, true, false},
    {"Map", "Northmoor_Plains_10v10", false, true, true, false},
    {"InitMoney", "4000", false, true, true, false},
    {"TimeLimit", "1200", false, true, true, false},
    {"ScoreLimit", "4000", false, true, true, false},
    {"NbIA", "0", false, true, true, false},
    {"VictoryCond", "1", false, true, true, false},
    {"IncomeRate", "3", false, true, true, false},
    {"WarmupCountdown", "120", false, false, true, false},
    {"DeploiementTimeMax", "120", false, false, true, false},
    {"DebriefingTimeMax", "30", false, false, true, false},
    {"LoadingTimeMax", "120", false, false, true, false},
    {"NbMinPlayer", "10", false, false, true, false},
    {"DeltaMaxTeamSize", "10", false, false, false, false},
    {"MaxTeamSize", "10", false, false, false, false},
    {"NationConstraint", "-1", false, true, true, false},
    {"ThematicConstraint", "-1", false, true, true, false},
    {"DateConstraint", "-1", false, true, true, false},
};

// The longest a phase may be given, in seconds: a day. A larger count (or one that wrapped from a
// negative number) would hold the session in that phase for good.
constexpr std::uint32_t kLongestPhaseSeconds = 24 * 60 * 60;

// The properties the session reads as unsigned numbers, with the values it can use. The phases'
// shortest times are the warm-up's and deployment's 10 s and the loading's 60 s; a debriefing
// shorter than 10 s lasts 10 s, and a TimeLimit of 0 or of all ones (4294967295, as configuration
// files in use write it) means a battle without a time limit. The player limit is clamped to 1..64
// where it is applied, so only its reading is checked here. A text without digits reads as 0; a
// negative number or one beyond 32 bits is refused.
struct TNumberBounds {
  const char* name;
  std::uint32_t lowest;
  std::uint32_t highest;
};
constexpr TNumberBounds kNumberProperties[] = {
    {"NbMaxPlayer", 0, 0xFFFFFFFFu},
    // No more players than the limit can hold can ever launch a game.
    {"NbMinPlayer", 0, kMaxPlayerLimit},
    {"WarmupCountdown", 10, kLongestPhaseSeconds},
    {"DeploiementTimeMax", 10, kLongestPhaseSeconds},
    {"LoadingTimeMax", 60, kLongestPhaseSeconds},
    {"DebriefingTimeMax", 0, kLongestPhaseSeconds},
    {"TimeLimit", 0, kLongestPhaseSeconds},
    {"IncomeRate", 0, 5},
};

}  // namespace

void TStrivexDedicatedSession::RegisterServerProperties() {
  TDedicatedPropertyTable* table = GetPropertyTable();
  if (table == nullptr) return;
  for (const TPropertyDeclaration& property : kServerProperties) {
    table->DeclareVariable(property.name, new TDedicatedPropertyValue(property.value, property.anyClient, property.host,
                                                                      property.admin, property.hidden));
  }
}

bool TStrivexDedicatedSession::ValidatePropertyValue(const TOrvString<char>& name, const TOrvString<char>& value) {
  if (name == "TimeLimit" && IsDecimalWithin(value.c_str(), kNoTimeLimit, kNoTimeLimit)) return true;
  for (const TNumberBounds& bounds : kNumberProperties) {
    if (name == bounds.name) return IsDecimalWithin(value.c_str(), bounds.lowest, bounds.highest);
  }
  return true;
}

// The first phase, and the one a game goes back to when its last player leaves.
TDedicatedSessionAbstractState* TStrivexDedicatedSession::CreateInitialState() {
  return CreateMatchMakingPhase(GetStateManager());
}

TDedicatedUser* TStrivexDedicatedSession::CreateUser(std::uint32_t userSessionId, const Network::OrvNetId& networkId,
                                                     Network::TBufferEventSocket* connection,
                                                     const sockaddr_storage& address,
                                                     const TUserStatisticsDocuments& statistics) {
  return CreateStrivexDedicatedUser(userSessionId, networkId, this, connection, address, statistics);
}

void TStrivexDedicatedSession::AssignAlliance(TDedicatedUser* user) {
  if (user == nullptr) return;
  // Members of alliances 0 and 1 among the others; any other value counts for neither.
  std::uint32_t members[2] = {0, 0};
  for (const TDedicatedUser* client : GetClients()) {
    if (client == user) continue;
    const TDedicatedPropertyValue* alliance = client->GetUserVariable("PlayerAlliance");
    if (alliance == nullptr) continue;
    const std::int32_t number = ToInteger(alliance->GetValue());
    if (number == 0 || number == 1) ++members[number];
  }
  const char* chosen = members[1] < members[0] ? "1" : "0";
  user->SetUserVariable("PlayerAlliance", chosen, false, false, false, true);
}

}  // namespace Orvan::Dedicated
