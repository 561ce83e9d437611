// The constructors of the phases, for the phases that hand over to one another and for the
// session's first phase, without each of them knowing the other's class.
#pragma once

#include "dedicated/states/dedicated_session_abstract_state.h"

namespace Orvan::Dedicated {

// Both return a new phase for the manager; the caller owns it.
TDedicatedSessionAbstractState* CreateMatchMakingPhase(TDedicatedSessionStateManager* manager);
TDedicatedSessionAbstractState* CreateLoadingPhase(TDedicatedSessionStateManager* manager);

}  // namespace Orvan::Dedicated
