// The clients still logging in, as a set of their objects, with the caps on how many may wait at
// once (identified, and apart from them unidentified), the bound and the rates per source address,
// the one pending connection per player id with its validation request, and the login time-outs.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <map>
#include <unordered_map>

#include "core/text/hash_functors.h"
#include "core/time/time_stamp.h"
#include "dedicated/clients/connection_log_limiter.h"
#include "dedicated/clients/source_rate_limits.h"
#include "network/packets/network_id.h"
#include "network/sockets/token_bucket.h"

namespace Orvan::Dedicated {

class TUserWaitingForLogin;

// Identified clients waiting for their login at once; the next connection is refused with
// PendingClientListFull.
inline constexpr std::uint32_t kMaxPendingClients = 1000;
// Connections that have not identified themselves yet, from all sources together. A new one finding
// them all taken closes the oldest: a real client identifies within milliseconds of its connect, so
// it is never the oldest, and silent connections from many addresses cannot lock players out.
inline constexpr std::uint32_t kMaxUnidentifiedClients = 256;
// Connections from one source address that may wait unidentified at once; further ones are closed
// at accept.
inline constexpr std::uint32_t kMaxUnidentifiedPerSource = 8;
// Validation requests whose client left before the verdict came, kept so that the verdict cannot
// reach another connection with the same id; the oldest is forgotten beyond this many, and each
// after the login time-out.
inline constexpr std::uint32_t kMaxOrphanedValidationRequests = 1000;

// Why a connection was closed at accept, or to make room, as the summary lines name it.
inline constexpr const char* kRefusedForUnidentifiedLimit = "unidentified connections limit";
inline constexpr const char* kRefusedForConnectionRate = "connection rate";
inline constexpr const char* kClosedAsOldestUnidentified = "oldest unidentified closed";

class TPendingClientSet {
 public:
  TPendingClientSet() = default;
  // Closes and deletes every waiter still held.
  ~TPendingClientSet();
  TPendingClientSet(const TPendingClientSet&) = delete;
  TPendingClientSet& operator=(const TPendingClientSet&) = delete;

  // False when the identified waiters are at their cap, or the waiter is unidentified and the
  // unidentified ones are at theirs. An unidentified waiter counts against its source address.
  bool Add(TUserWaitingForLogin* waiter);
  // Absent waiters are ignored. A waiter that leaves with its validation request unanswered keeps
  // its id taken until the verdict comes.
  void Remove(TUserWaitingForLogin* waiter);
  // The waiter's connect packet was taken (its id set): it holds a player slot and its id from
  // now on, and no longer counts against its source.
  void MarkIdentified(TUserWaitingForLogin* waiter);
  // The waiter's validation request went to the match-making server at `now`.
  void NoteValidationRequest(TUserWaitingForLogin* waiter, TTimeStamp now);
  // Whether the id is held by a waiter, or by a validation request still unanswered.
  bool IsIdTaken(const Network::OrvNetId& id) const;
  // The waiter a verdict on the id answers: the one whose request is unanswered, or null when
  // there is none (or its client has left); the request counts as answered from here on.
  TUserWaitingForLogin* TakeVerdict(const Network::OrvNetId& id);
  // Whether a connection from the address may wait here at `now`: false when its source already
  // has as many unidentified connections as it may, or opens connections faster than it may; each
  // refusal is written about within the log shares, else counted.
  bool TakesConnectionFrom(const sockaddr_storage& address, TTimeStamp now);
  // Whether one more identification from the address's source may be forwarded at `now`.
  bool TakeIdentification(const sockaddr_storage& address, TTimeStamp now) {
    return rates_.TakeIdentification(address, now);
  }
  // The unidentified waiters of the address's source, and of all sources.
  std::uint32_t GetUnidentifiedCount(const sockaddr_storage& address);
  std::uint32_t GetUnidentifiedCount() const { return unidentified_; }
  // The unidentified waiter that arrived first; null when there is none.
  TUserWaitingForLogin* GetOldestUnidentified() const;
  // Null when no waiter has the id.
  TUserWaitingForLogin* FindById(const Network::OrvNetId& id) const;
  std::uint32_t GetCount() const { return waiters_.Count(); }
  // The waiters holding a player slot.
  std::uint32_t GetIdentifiedCount() const { return waiters_.Count() - unidentified_; }
  bool Contains(TUserWaitingForLogin* waiter) const { return waiters_.Find(waiter) != nullptr; }
  // The shares of lines about connections that never became clients.
  TConnectionLogLimiter& GetLog() { return log_; }
  // Closes and deletes every waiter, then empties the set; the unanswered requests are forgotten
  // (their verdicts cannot come any more).
  void CloseAll();
  // Refuses, through the session, every waiter that has waited longer than its time-out at `now`:
  // the identification time-out while unidentified, else the login time-out.
  void DisconnectTimedOut(TTimeStamp now);

 private:
  struct TSourceWaiters {
    std::uint32_t unidentified = 0;
  };
  // An identified waiter's id, or an unanswered request's whose waiter has left (waiter null).
  struct TIdClaim {
    TUserWaitingForLogin* waiter = nullptr;
    TTimeStamp requestSentAt = 0;
    bool requestUnanswered = false;
  };
  // Takes an unidentified waiter off its source's count and out of the age order.
  void Uncount(TUserWaitingForLogin* waiter);
  // The left waiters' requests sent before `sentBefore`; with none given, the oldest one.
  void ForgetOrphans(TTimeStamp sentBefore);

  TPointerSet<TUserWaitingForLogin> waiters_;
  // Every unidentified waiter comes from one source, so their cap bounds the sources.
  Network::TPerSourceTable<TSourceWaiters> sources_{kMaxUnidentifiedClients};
  std::uint32_t unidentified_ = 0;
  // The unidentified waiters by arrival order, oldest first.
  std::map<std::uint64_t, TUserWaitingForLogin*> unidentifiedByAge_;
  std::uint64_t nextArrivalOrder_ = 0;
  // By id value: the identified waiters, and the requests of left ones still unanswered.
  std::unordered_map<std::uint64_t, TIdClaim> claims_;
  std::uint32_t orphans_ = 0;
  TSourceRateLimits rates_;
  TConnectionLogLimiter log_;
};

}  // namespace Orvan::Dedicated
