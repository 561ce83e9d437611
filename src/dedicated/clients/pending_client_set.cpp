// The pending-client set: insertion with its caps, the unidentified connections per source and by
// age, the rates per source, the ids taken and their validation requests, the login time-outs.
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

constexpr TTimeStamp kOldestOrphanOnly = ~TTimeStamp{0};

}  // namespace

TPendingClientSet::~TPendingClientSet() { CloseAll(); }

bool TPendingClientSet::Add(TUserWaitingForLogin* waiter) {
  if (GetIdentifiedCount() >= kMaxPendingClients) return false;
  if (!waiter->IsIdentified() && unidentified_ >= kMaxUnidentifiedClients) return false;
  TUserWaitingForLogin** entry = nullptr;
  if (!waiters_.FindOrInsert(waiter, &entry)) return true;
  *entry = waiter;
  if (!waiter->IsIdentified()) {
    ++unidentified_;
    waiter->SetArrivalOrder(++nextArrivalOrder_);
    unidentifiedByAge_.emplace(waiter->GetArrivalOrder(), waiter);
    TSourceWaiters* source = sources_.FindOrAdd(SourceOf(waiter), TSourceWaiters{},
                                                [](const TSourceWaiters& other) { return other.unidentified == 0; });
    if (source != nullptr) ++source->unidentified;
  }
  return true;
}

void TPendingClientSet::Remove(TUserWaitingForLogin* waiter) {
  if (!waiters_.Erase(waiter)) return;
  if (!waiter->IsIdentified()) {
    Uncount(waiter);
    return;
  }
  auto claim = claims_.find(waiter->GetClientId().GetValue());
  if (claim == claims_.end() || claim->second.waiter != waiter) return;
  if (!claim->second.requestUnanswered) {
    claims_.erase(claim);
    return;
  }
  // Its verdict may still come: the id stays taken until it has, so that it reaches nobody else.
  claim->second.waiter = nullptr;
  if (++orphans_ > kMaxOrphanedValidationRequests) ForgetOrphans(kOldestOrphanOnly);
}

void TPendingClientSet::ForgetOrphans(TTimeStamp sentBefore) {
  auto oldest = claims_.end();
  for (auto claim = claims_.begin(); claim != claims_.end();) {
    if (claim->second.waiter != nullptr) {
      ++claim;
      continue;
    }
    if (sentBefore != kOldestOrphanOnly && claim->second.requestSentAt < sentBefore) {
      claim = claims_.erase(claim);
      --orphans_;
      continue;
    }
    if (oldest == claims_.end() || claim->second.requestSentAt < oldest->second.requestSentAt) oldest = claim;
    ++claim;
  }
  if (sentBefore == kOldestOrphanOnly && oldest != claims_.end()) {
    claims_.erase(oldest);
    --orphans_;
  }
}

void TPendingClientSet::MarkIdentified(TUserWaitingForLogin* waiter) {
  if (waiter->IsIdentified()) return;
  const bool held = Contains(waiter);
  if (held) Uncount(waiter);
  waiter->SetIdentified();
  if (held && waiter->GetClientId().IsValid()) {
    claims_.insert_or_assign(waiter->GetClientId().GetValue(), TIdClaim{waiter, 0, false});
  }
}

void TPendingClientSet::NoteValidationRequest(TUserWaitingForLogin* waiter, TTimeStamp now) {
  auto claim = claims_.find(waiter->GetClientId().GetValue());
  if (claim == claims_.end() || claim->second.waiter != waiter) return;
  claim->second.requestSentAt = now;
  claim->second.requestUnanswered = true;
}

bool TPendingClientSet::IsIdTaken(const Network::OrvNetId& id) const {
  return id.IsValid() && claims_.find(id.GetValue()) != claims_.end();
}

TUserWaitingForLogin* TPendingClientSet::TakeVerdict(const Network::OrvNetId& id) {
  auto claim = claims_.find(id.GetValue());
  if (claim == claims_.end() || !claim->second.requestUnanswered) return nullptr;
  TUserWaitingForLogin* waiter = claim->second.waiter;
  if (waiter == nullptr) {
    claims_.erase(claim);
    --orphans_;
    return nullptr;
  }
  claim->second.requestUnanswered = false;
  return waiter;
}

void TPendingClientSet::Uncount(TUserWaitingForLogin* waiter) {
  --unidentified_;
  unidentifiedByAge_.erase(waiter->GetArrivalOrder());
  const std::uint32_t key = SourceOf(waiter);
  TSourceWaiters* source = sources_.Find(key);
  if (source == nullptr || source->unidentified == 0) return;
  if (--source->unidentified == 0) sources_.Remove(key);
}

TUserWaitingForLogin* TPendingClientSet::GetOldestUnidentified() const {
  return unidentifiedByAge_.empty() ? nullptr : unidentifiedByAge_.begin()->second;
}

bool TPendingClientSet::TakesConnectionFrom(const sockaddr_storage& address, TTimeStamp now) {
  const TSourceWaiters* source = sources_.Find(Network::GetSourceKey(AsAddress(address)));
  const char* refusal = nullptr;
  TOrvString<char> why;
  if (source != nullptr && source->unidentified >= kMaxUnidentifiedPerSource) {
    refusal = kRefusedForUnidentifiedLimit;
    why = FormatValues("%1 connections from %2 have not identified themselves yet", kMaxUnidentifiedPerSource,
                       Network::SockAddrToHostString(AsAddress(address)));
  } else if (!rates_.TakeConnection(address, now)) {
    refusal = kRefusedForConnectionRate;
    why = FormatValues("%2 opens more than %1 connections a second",
                       static_cast<std::uint32_t>(kConnectionsPerSecondPerSource),
                       Network::SockAddrToHostString(AsAddress(address)));
  }
  if (refusal == nullptr) return true;
  if (log_.TakeLine(address, now)) {
    Network::NetworkLog(Network::kNetworkLogWarning, "Refusing client connection from IP " +
                                                         Network::SockAddrToString(AsAddress(address)) + ": " + why);
  } else {
    log_.CountEnd(address, refusal, now);
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
  unidentifiedByAge_.clear();
  claims_.clear();
  orphans_ = 0;
  for (TUserWaitingForLogin* waiter : waiters) {
    waiter->Close();
    delete waiter;
  }
}

void TPendingClientSet::DisconnectTimedOut(TTimeStamp now) {
  // A verdict later than the login time-out is not waited for any more.
  const auto loginTimeOut = static_cast<TTimeStamp>(kLoginTimeOutSeconds * 1e9);
  if (orphans_ != 0 && now > loginTimeOut) ForgetOrphans(now - loginTimeOut);
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
    if (!waiter->IsQuiet()) {
      Network::NetworkLog(Network::kNetworkLogInformation, "Client with IP " + waiter->GetAddressText() +
                                                               " has taken too much time to login. Disconnecting.");
    }
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
