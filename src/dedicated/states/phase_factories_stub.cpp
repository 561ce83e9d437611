// Until the loading phase exists, match making has nothing to hand over to: the manager ignores a
// null phase, so a launch stays in match making.
#include "dedicated/states/phase_factories.h"

namespace Orvan::Dedicated {

TDedicatedSessionAbstractState* CreateLoadingPhase(TDedicatedSessionStateManager*) { return nullptr; }

}  // namespace Orvan::Dedicated
