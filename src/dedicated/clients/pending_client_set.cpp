// The pending-client set: insertion with its cap, the unidentified connections per source, look-up
// by id, the login time-outs.
#include "dedicated/clients/pending_client_set.h"

#include "core/containers/engine_vector.h"
#include "core/text/positional_format.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Dedicated {

namespace {

const sockaddr* AsAddress(const sockaddr_storage& address) { return reinterpret_cast<const sockaddr*>(&address); }

std::uint32_t SourceOf(const TUserWaitingForLogin* waiter) {
  return Network::GetSourceKey(AsAddress(waiter->GetAddress()));
}

}  // namespace

TPendingClientSet::~TPendingClientSet() { CloseAll(); }

bool TPendingClientSet::Add(TUserWaitingForLogin* waiter) {
  if (waiters_.Count() >= kMaxPendingClients) return false;
  TUserWaitingForLogin** entry = nullptr;
  if (!waiters_.FindOrInsert(waiter, &entry)) return true;
  *entry = waiter;
  if (!waiter->IsIdentified()) {
    ++unidentified_;
    TSourceWaiters* source = sources_.FindOrAdd(SourceOf(waiter), TSourceWaiters{},
                                                [](const TSourceWaiters& other) { return other.unidentified == 0; });
    if (source != nullptr) ++source->unidentified;
  }
  return true;
}

void TPendingClientSet::Remove(TUserWaitingForLogin* waiter) {
  if (waiters_.Erase(waiter) && !waiter->IsIdentified()) Uncount(waiter);
}

void TPendingClientSet::MarkIdentified(TUserWaitingForLogin* waiter) {
  if (waiter->IsIdentified()) return;
  if (Contains(waiter)) Uncount(waiter);
  waiter->SetIdentified();
}

void TPendingClientSet::Uncount(TUserWaitingForLogin* waiter) {
  --unidentified_;
  const std::uint32_t key = SourceOf(waiter);
  TSourceWaiters* source = sources_.Find(key);
  if (source == nullptr || source->unidentified == 0) return;
  if (--source->unidentified == 0) {
    sources_.Remove(key);
  } else if (source->unidentified < kMaxUnidentifiedPerSource) {
    source->refusing = false;
  }
}

bool TPendingClientSet::TakesConnectionFrom(const sockaddr_storage& address) {
  TSourceWaiters* source = sources_.Find(Network::GetSourceKey(AsAddress(address)));
  if (source == nullptr || source->unidentified < kMaxUnidentifiedPerSource) return true;
  if (!source->refusing) {
    source->refusing = true;
    Network::NetworkLog(Network::kNetworkLogWarning,
                        FormatValues("Refusing client connection from IP %1: %2 connections from %3 have not "
                                     "identified themselves yet (further ones from there are closed without a line "
                                     "until one of them identifies or leaves)",
                                     Network::SockAddrToString(AsAddress(address)), kMaxUnidentifiedPerSource,
                                     Network::SockAddrToHostString(AsAddress(address))));
  }
  return false;
}

std::uint32_t TPendingClientSet::GetUnidentifiedCount(const sockaddr_storage& address) {
  const TSourceWaiters* source = sources_.Find(Network::GetSourceKey(AsAddress(address)));
  return source != nullptr ? source->unidentified : 0;
}

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
  sources_.RemoveIf([](const TSourceWaiters&) { return true; });
  unidentified_ = 0;
  for (TUserWaitingForLogin* waiter : waiters) {
    waiter->Close();
    delete waiter;
  }
}

void TPendingClientSet::DisconnectTimedOut(TTimeStamp now) {
  // Rejection takes waiters out of the set: walk a copy.
  TVector<TUserWaitingForLogin*> expired;
  for (TUserWaitingForLogin* waiter : waiters_) {
    const double limit = waiter->IsIdentified() ? kLoginTimeOutSeconds : kIdentificationTimeOutSeconds;
    if (GetElapsedSeconds(waiter->GetArrivalTime(), now) > limit) expired.PushBack(waiter);
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
      Remove(waiter);
      waiter->Close();
      delete waiter;
    }
  }
}

}  // namespace Orvan::Dedicated
