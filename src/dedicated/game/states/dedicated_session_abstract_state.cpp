// The phases' shared rule: a phase is over once every player asked for another one.
#include "dedicated/game/states/dedicated_session_abstract_state.h"

#include "dedicated/clients/dedicated_user.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/session/dedicated_session.h"

namespace Orvan::Dedicated {

TDedicatedSession* TDedicatedSessionAbstractState::GetSession() const { return manager_->GetSession(); }

bool TDedicatedSessionAbstractState::AreUsersReady() {
  const TVector<TDedicatedUser*>& clients = GetSession()->GetClients();
  // An empty game is never done: its phases run until their countdown ends.
  if (clients.IsEmpty()) return false;
  const std::uint32_t stateId = GetStateId();
  for (const TDedicatedUser* client : clients) {
    if (!client->IsSpectator() && client->GetRequestState() == stateId) return false;
  }
  return true;
}

}  // namespace Orvan::Dedicated
