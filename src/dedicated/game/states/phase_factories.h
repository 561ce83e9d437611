// The phases the session's machine moves through, made without their classes in sight: the
// session starts with the match-making phase, which starts a game with the loading phase, and the
// debriefing phase goes back to match making.
#pragma once

#include "dedicated/game/states/dedicated_session_abstract_state.h"

namespace Orvan::Dedicated {

class TDedicatedSessionStateManager;

// Both return a new phase for `manager`; the caller owns it.
TDedicatedSessionAbstractState* CreateMatchMakingPhase(TDedicatedSessionStateManager* manager);
TDedicatedSessionAbstractState* CreateLoadingPhase(TDedicatedSessionStateManager* manager);

}  // namespace Orvan::Dedicated
