// The phases the session's machine moves through, made without their classes in sight: the
// match-making phase starts a game with the loading phase, and the debriefing phase goes back to
// match making.
#pragma once

#include "dedicated/states/dedicated_session_abstract_state.h"

namespace Orvan::Dedicated {

class TDedicatedSessionStateManager;

// A new loading phase for `manager`; the caller owns it.
TDedicatedSessionAbstractState* CreateLoadingPhase(TDedicatedSessionStateManager* manager);
// A new match-making phase for `manager`; the caller owns it.
TDedicatedSessionAbstractState* CreateMatchMakingPhase(TDedicatedSessionStateManager* manager);

}  // namespace Orvan::Dedicated
