// The session's side of the admitted clients' protocol: the reading loop that dispatches their
// packets by channel.
#include "dedicated/dedicated_session.h"

namespace Orvan::Dedicated {

bool TDedicatedSession::OnClientPacket(TDedicatedUser* /*user*/) { return true; }

void TDedicatedSession::OnClientNetworkError(TDedicatedUser* /*user*/, const TOrvString<char>& /*eventText*/) {}

}  // namespace Orvan::Dedicated
