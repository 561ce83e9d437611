// This game's user: its twelve player variables, filled from the player's statistics documents,
// and the team name from its team's document.
#pragma once

#include "dedicated/clients/dedicated_user.h"

namespace Orvan::Dedicated {

class TStrivexDedicatedUser final : public TDedicatedUser {
 public:
  using TDedicatedUser::TDedicatedUser;

  void InitFromStatistics(const TUserStatisticsDocuments& statistics) override;
  void UpdateTeamName(const TUserStatisticsDocuments& teamDocuments) override;
  void RegisterUserVariables() override;
};

}  // namespace Orvan::Dedicated
