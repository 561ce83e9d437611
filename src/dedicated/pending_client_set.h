// The clients still logging in, as a set of their objects, with the cap on how many may wait at once
// and the login time-out.
#pragma once

#include <cstdint>

#include "core/text/hash_functors.h"
#include "core/time/time_stamp.h"
#include "network/network_id.h"

namespace Orvan::Dedicated {

class TUserWaitingForLogin;

// Clients waiting for their login at once; the next one is refused with PendingClientListFull.
inline constexpr std::uint32_t kMaxPendingClients = 1000;

class TPendingClientSet {
 public:
  TPendingClientSet() = default;
  // Closes and deletes every waiter still held.
  ~TPendingClientSet();
  TPendingClientSet(const TPendingClientSet&) = delete;
  TPendingClientSet& operator=(const TPendingClientSet&) = delete;

  // False when the set is full.
  bool Add(TUserWaitingForLogin* waiter);
  // Absent waiters are ignored.
  void Remove(TUserWaitingForLogin* waiter);
  // Null when no waiter has the id.
  TUserWaitingForLogin* FindById(const Network::OrvNetId& id) const;
  std::uint32_t GetCount() const { return waiters_.Count(); }
  bool Contains(TUserWaitingForLogin* waiter) const { return waiters_.Find(waiter) != nullptr; }
  // Closes and deletes every waiter, then empties the set.
  void CloseAll();
  // Refuses, through the session, every waiter that has waited longer than the login time-out at
  // `now`.
  void DisconnectTimedOut(TTimeStamp now);

 private:
  TPointerSet<TUserWaitingForLogin> waiters_;
};

}  // namespace Orvan::Dedicated
