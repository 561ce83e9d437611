// Rate limits for what outside peers may make the server do: a token bucket on the engine's
// monotonic clock, and a bounded table of per-source state keyed by the peer's source key.
#pragma once

#include <cstdint>

#include "core/containers/open_hash_map.h"
#include "core/memory/thread_local_heap.h"
#include "core/text/hash_functors.h"
#include "core/time/time_stamp.h"
#include "network/sockets/source_key.h"

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

// Per-source state with a fixed bound on the number of sources, so a flood from many addresses
// cannot grow it without limit. When the table is full, a new source first takes the room of every
// entry whose state `canForget` says is back to that of a new source, else that of the entry used
// least recently: a table filled by many addresses still counts the newest, and the sources it
// forgets are those that have been quiet the longest.
template <typename TValue>
class TPerSourceTable {
 public:
  explicit TPerSourceTable(std::uint32_t maxSources) noexcept : maxSources_(maxSources) {}

  // Looks the source up without counting it as a use.
  TValue* Find(std::uint32_t source) noexcept {
    TEntry* entry = map_.Find(source);
    return entry == nullptr ? nullptr : &entry->value.value;
  }

  // The source's state, added as `initial` when absent; either way it is now the one used last.
  // Never null: a full table makes room as above.
  template <typename TCanForget>
  TValue* FindOrAdd(std::uint32_t source, const TValue& initial, TCanForget canForget) {
    if (TEntry* entry = map_.Find(source)) {
      entry->value.lastUse = ++uses_;
      return &entry->value.value;
    }
    if (map_.Count() >= maxSources_) {
      RemoveIf(canForget);
      if (map_.Count() >= maxSources_) RemoveLeastRecentlyUsed();
    }
    return &map_.InsertNew(source, TUsed{initial, ++uses_})->value.value;
  }

  void Remove(std::uint32_t source) noexcept { map_.Erase(source); }

  // Erasing moves the last entry into the hole, so the walk goes from the end.
  template <typename TPredicate>
  void RemoveIf(TPredicate predicate) {
    for (std::uint32_t i = map_.Count(); i-- > 0;) {
      TEntry& entry = map_.Entries()[i];
      if (predicate(entry.value.value)) map_.Erase(std::uint32_t{entry.key});
    }
  }

  std::uint32_t GetCount() const noexcept { return map_.Count(); }

 private:
  struct TUsed {
    TValue value;
    // The table's use count when the source was last added or found by FindOrAdd.
    std::uint64_t lastUse;
  };
  using TEntry = TKeyValueEntry<std::uint32_t, TUsed>;

  // A walk of the whole table, done only when it is full of sources still counting.
  void RemoveLeastRecentlyUsed() noexcept {
    const TEntry* oldest = nullptr;
    for (const TEntry& entry : map_) {
      if (oldest == nullptr || entry.value.lastUse < oldest->value.lastUse) oldest = &entry;
    }
    if (oldest != nullptr) map_.Erase(std::uint32_t{oldest->key});
  }

  TOpenHashMap<TEntry, TIntegerHash, TWordEqual, thread_local_allocator<unsigned char>> map_;
  std::uint32_t maxSources_;
  std::uint64_t uses_ = 0;
};

}  // namespace Orvan::Network
