// Until the match-making phase joins the machine, the debriefing phase has no phase to hand over:
// the manager ignores a null phase, so the debriefing stays until then.
#include "dedicated/states/phase_factories.h"

namespace Orvan::Dedicated {

TDedicatedSessionAbstractState* CreateMatchMakingPhase(TDedicatedSessionStateManager*) { return nullptr; }

}  // namespace Orvan::Dedicated
