// The pending-client set: insertion with its cap, look-up by id, the login time-out.
#include "dedicated/pending_client_set.h"

#include "core/containers/engine_vector.h"
#include "dedicated/dedicated_session.h"
#include "dedicated/main_server_task.h"
#include "dedicated/user_waiting_for_login.h"
#include "network/network_hooks.h"

namespace Orvan::Dedicated {

TPendingClientSet::~TPendingClientSet() { CloseAll(); }

bool TPendingClientSet::Add(TUserWaitingForLogin* waiter) {
  if (waiters_.Count() >= kMaxPendingClients) return false;
  TUserWaitingForLogin** entry = nullptr;
  if (waiters_.FindOrInsert(waiter, &entry)) *entry = waiter;
  return true;
}

void TPendingClientSet::Remove(TUserWaitingForLogin* waiter) { waiters_.Erase(waiter); }

TUserWaitingForLogin* TPendingClientSet::FindById(const Network::OrvNetId& id) const {
  for (TUserWaitingForLogin* waiter : waiters_) {
    if (waiter->GetClientId() == id) return waiter;
  }
  return nullptr;
}

void TPendingClientSet::CloseAll() {
  // Taken out first: closing may reach code that looks at the set.
  TVector<TUserWaitingForLogin*> waiters;
  for (TUserWaitingForLogin* waiter : waiters_) waiters.PushBack(waiter);
  waiters_.Clear();
  for (TUserWaitingForLogin* waiter : waiters) {
    waiter->Close();
    delete waiter;
  }
}

void TPendingClientSet::DisconnectTimedOut(TTimeStamp now) {
  // Rejection takes waiters out of the set: walk a copy.
  TVector<TUserWaitingForLogin*> expired;
  for (TUserWaitingForLogin* waiter : waiters_) {
    if (GetElapsedSeconds(waiter->GetArrivalTime(), now) > kLoginTimeOutSeconds) expired.PushBack(waiter);
  }
  if (expired.IsEmpty()) return;
  TMainServerTask* task = TMainServerTask::GetInstance();
  TDedicatedSession* session = task != nullptr ? task->GetSession() : nullptr;
  for (TUserWaitingForLogin* waiter : expired) {
    Network::NetworkLog(Network::kNetworkLogInformation, "Client with IP " + waiter->GetAddressText() +
                                                             " has taken too much time to login. Disconnecting.");
    if (session != nullptr) {
      session->RejectPendingClient(waiter, ClientDisconnectReason::TimeOut, true);
    } else {
      waiters_.Erase(waiter);
      waiter->Close();
      delete waiter;
    }
  }
}

}  // namespace Orvan::Dedicated
