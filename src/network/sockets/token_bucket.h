// Rate limits for what outside peers may make the server do: a token bucket on the engine's
// monotonic clock, and a bounded table of per-source state keyed by the peer's address.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "core/containers/open_hash_map.h"
#include "core/memory/thread_local_heap.h"
#include "core/text/hash_functors.h"
#include "core/time/time_stamp.h"

namespace Orvan::Network {

// `rate` tokens a second, at most `burst` kept; a new bucket is full. Time is passed in, so tests
// step it and callers read the clock once for many buckets.
class TTokenBucket {
 public:
  TTokenBucket(double ratePerSecond, double burst) noexcept;

  // Takes one token when a whole one is there.
  bool TryTake(TTimeStamp now) noexcept;
  // The tokens there would be at `now`.
  double GetTokens(TTimeStamp now) const noexcept;
  // True once the bucket has refilled to its burst: its state says nothing more than a new one's.
  bool IsFull(TTimeStamp now) const noexcept { return GetTokens(now) >= burst_; }

 private:
  double rate_;
  double burst_;
  double tokens_;
  TTimeStamp last_ = 0;
  bool started_ = false;
};

// The key of a peer address in per-source tables: the IPv4 address as it sits in the socket
// address (network order); an IPv6 address folded to 32 bits; 0 for other families.
std::uint32_t GetSourceKey(const sockaddr* address) noexcept;

// Per-source state with a fixed bound on the number of sources, so a flood from many addresses
// cannot grow it without limit. A source is added only when there is room, after the table has
// forgotten every entry whose state `canForget` says is back to that of a new source.
template <typename TValue>
class TPerSourceTable {
 public:
  explicit TPerSourceTable(std::uint32_t maxSources) noexcept : maxSources_(maxSources) {}

  TValue* Find(std::uint32_t source) noexcept {
    TEntry* entry = map_.Find(source);
    return entry == nullptr ? nullptr : &entry->value;
  }

  // The source's state, added as `initial` when absent; null when the table is full of sources
  // that cannot be forgotten yet.
  template <typename TCanForget>
  TValue* FindOrAdd(std::uint32_t source, const TValue& initial, TCanForget canForget) {
    if (TValue* value = Find(source)) return value;
    if (map_.Count() >= maxSources_) {
      RemoveIf(canForget);
      if (map_.Count() >= maxSources_) return nullptr;
    }
    return &map_.InsertNew(source, initial)->value;
  }

  void Remove(std::uint32_t source) noexcept { map_.Erase(source); }

  // Erasing moves the last entry into the hole, so the walk goes from the end.
  template <typename TPredicate>
  void RemoveIf(TPredicate predicate) {
    for (std::uint32_t i = map_.Count(); i-- > 0;) {
      TEntry& entry = map_.Entries()[i];
      if (predicate(entry.value)) map_.Erase(std::uint32_t{entry.key});
    }
  }

  std::uint32_t GetCount() const noexcept { return map_.Count(); }

 private:
  using TEntry = TKeyValueEntry<std::uint32_t, TValue>;
  TOpenHashMap<TEntry, TIntegerHash, TWordEqual, thread_local_allocator<unsigned char>> map_;
  std::uint32_t maxSources_;
};

}  // namespace Orvan::Network
