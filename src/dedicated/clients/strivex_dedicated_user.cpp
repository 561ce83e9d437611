// This game's user: its player variables and how the statistics fill them.
#include "dedicated/clients/strivex_dedicated_user.h"

#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/dedicated_user_stats_manager.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/session/dedicated_session.h"

namespace Orvan::Dedicated {

namespace {

// In declaration order, the order in which clients receive them.
constexpr TPropertyDeclaration kUserVariables[] = {
    {"PlayerUserId", "0", false, false, false, false},   {"PlayerIALevel", "-1", false, false, false, false},
    {"PlayerObserver", "0", false, false, false, false}, {"PlayerAlliance", "0", true, false, true, false},
    {"PlayerReady", "1", false, false, false, false},    {"PlayerElo", "0", false, false, false, false},
    {"PlayerLevel", "0", false, false, false, false},    {"PlayerName", "", false, false, true, false},
    {"PlayerTeamName", "", false, false, false, false},  {"PlayerAvatar", "", false, false, false, false},
    {"PlayerDeckName", "", true, false, true, false},    {"PlayerDeckContent", "", true, false, true, false},
};

// The general statistics document; also the number every team request of the statistics manager
// files its answer under.
constexpr std::uint32_t kGeneralDocument = 0;

}  // namespace

void TStrivexDedicatedUser::RegisterUserVariables() {
  for (const TPropertyDeclaration& variable : kUserVariables) {
    DeclareUserVariable(variable.name, new TDedicatedPropertyValue(variable.value, variable.anyClient, variable.host,
                                                                   variable.admin, variable.hidden));
  }
  TDedicatedUser::RegisterUserVariables();
}

void TStrivexDedicatedUser::InitFromStatistics(const TUserStatisticsDocuments& statistics) {
  const auto setForced = [this](const char* name, const TOrvString<char>& value) {
    SetUserVariable(name, value, false, false, false, true);
  };
  // Without a session there is no game document.
  const auto gameField = [&](const char* name) {
    return GetSession() != nullptr ? statistics.GetField(GetSession()->GetGameId(), name) : TOrvString<char>();
  };

  const TOrvString<char> name = statistics.GetField(kGeneralDocument, "@name");
  setForced("PlayerName", name.IsEmpty() ? TOrvString<char>("Player") : name);

  const TOrvString<char> team = gameField("active_team");
  if (!team.IsEmpty()) {
    Network::OrvNetId teamId;
    teamId.FromString(team.c_str(), static_cast<int>(team.GetLength()));
    if (teamId.IsValid() && teamId.IsTeamId()) GetStatsManager()->QueueTeamStatistics(teamId);
  }

  const TOrvString<char> level = gameField("@level");
  setForced("PlayerLevel", level.IsEmpty() ? TOrvString<char>("1") : level);
  const TOrvString<char> elo = gameField("ELO");
  setForced("PlayerElo", elo.IsEmpty() ? TOrvString<char>("1500") : elo);

  const TOrvString<char> avatar = statistics.GetField(kGeneralDocument, "@avatar");
  if (!avatar.IsEmpty()) setForced("PlayerAvatar", avatar);
}

void TStrivexDedicatedUser::UpdateTeamName(const TUserStatisticsDocuments& teamDocuments) {
  const TOrvString<char> name = teamDocuments.GetField(kGeneralDocument, "name");
  if (!name.IsEmpty()) SetUserVariable("PlayerTeamName", name, false, false, false, true);
}

TDedicatedUser* CreateStrivexDedicatedUser(std::uint32_t userSessionId, const Network::OrvNetId& networkId,
                                           TDedicatedSession* session, Network::TBufferEventSocket* connection,
                                           const sockaddr_storage& address,
                                           const TUserStatisticsDocuments& statistics) {
  auto* user = new TStrivexDedicatedUser(userSessionId, networkId, session, connection, address);
  user->RegisterUserVariables();
  user->InitFromStatistics(statistics);
  user->SetPublished(true);
  return user;
}

}  // namespace Orvan::Dedicated
