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

// Shortest warm-up and deployment phases, shortest loading phase, highest income rate (seconds and
// rate steps).
constexpr std::uint32_t kMinimumWarmupSeconds = 10;
constexpr std::uint32_t kMinimumDeploymentSeconds = 10;
constexpr std::uint32_t kMinimumLoadingSeconds = 60;
constexpr std::uint32_t kMaximumIncomeRate = 5;

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
  const std::uint32_t number = ConvertDecimalToU32(value.c_str());
  if (name == "WarmupCountdown") return number >= kMinimumWarmupSeconds;
  if (name == "DeploiementTimeMax") return number >= kMinimumDeploymentSeconds;
  if (name == "LoadingTimeMax") return number >= kMinimumLoadingSeconds;
  if (name == "IncomeRate") return number <= kMaximumIncomeRate;
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
