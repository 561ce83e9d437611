// The clients still logging in, as a set of their objects, with the cap on how many may wait at once,
// the bound on unidentified connections per source address, and the login time-outs.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "core/text/hash_functors.h"
#include "core/time/time_stamp.h"
#include "network/packets/network_id.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::Dedicated {

class TUserWaitingForLogin;

// Clients waiting for their login at once; the next one is refused with PendingClientListFull.
inline constexpr std::uint32_t kMaxPendingClients = 1000;
// Connections from one source address that may wait unidentified at once; further ones are closed
// at accept.
inline constexpr std::uint32_t kMaxUnidentifiedPerSource = 8;

class TPendingClientSet {
 public:
  TPendingClientSet() = default;
  // Closes and deletes every waiter still held.
  ~TPendingClientSet();
  TPendingClientSet(const TPendingClientSet&) = delete;
  TPendingClientSet& operator=(const TPendingClientSet&) = delete;

  // False when the set is full. An unidentified waiter counts against its source address.
  bool Add(TUserWaitingForLogin* waiter);
  // Absent waiters are ignored.
  void Remove(TUserWaitingForLogin* waiter);
  // The waiter's connect packet was taken: it holds a player slot from now on, and no longer counts
  // against its source.
  void MarkIdentified(TUserWaitingForLogin* waiter);
  // Whether a connection from the address may wait here: false when its source already has as
  // many unidentified connections as it may, with one line for each run of such refusals.
  bool TakesConnectionFrom(const sockaddr_storage& address);
  // The unidentified waiters of the address's source.
  std::uint32_t GetUnidentifiedCount(const sockaddr_storage& address);
  // Null when no waiter has the id.
  TUserWaitingForLogin* FindById(const Network::OrvNetId& id) const;
  std::uint32_t GetCount() const { return waiters_.Count(); }
  // The waiters holding a player slot.
  std::uint32_t GetIdentifiedCount() const { return waiters_.Count() - unidentified_; }
  bool Contains(TUserWaitingForLogin* waiter) const { return waiters_.Find(waiter) != nullptr; }
  // Closes and deletes every waiter, then empties the set.
  void CloseAll();
  // Refuses, through the session, every waiter that has waited longer than its time-out at `now`:
  // the identification time-out while unidentified, else the login time-out.
  void DisconnectTimedOut(TTimeStamp now);

 private:
  struct TSourceWaiters {
    std::uint32_t unidentified = 0;
    // Its connections are being refused, and that was logged.
    bool refusing = false;
  };
  // Takes an unidentified waiter off its source's count.
  void Uncount(TUserWaitingForLogin* waiter);

  TPointerSet<TUserWaitingForLogin> waiters_;
  // Every waiter comes from one source, so the set's cap bounds the sources.
  Network::TPerSourceTable<TSourceWaiters> sources_{kMaxPendingClients};
  std::uint32_t unidentified_ = 0;
};

}  // namespace Orvan::Dedicated
