// TOpenHashMap, the engine's one keyed table: one storage block holds the entries densely in
// insertion order followed by an array of 32-bit slot words {tag, entry index}. Probing is linear,
// lookups compare tags before keys, growing rebuilds the slots from the stored tags without hashing,
// and erasing shifts slot words back, so there are no tombstones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "core/memory/global_allocation.h"
#include "core/memory/heap.h"

namespace Orvan {

// Entry of a table with values. A set stores its key alone as the entry.
template <typename TKey, typename TValue>
struct TKeyValueEntry {
  TKey key;
  TValue value;
};

template <typename TEntry>
struct TEntryKeyOf {
  using TKey = TEntry;
  static const TEntry& Get(const TEntry& entry) noexcept { return entry; }
};

template <typename TKey_, typename TValue>
struct TEntryKeyOf<TKeyValueEntry<TKey_, TValue>> {
  using TKey = TKey_;
  static const TKey& Get(const TKeyValueEntry<TKey_, TValue>& entry) noexcept { return entry.key; }
};

// The rehash functor that growth passes: growing never widens the tag, so it is never called.
struct TNullHash {
  template <typename T>
  std::uint32_t operator()(const T&) const noexcept {
    return 0;
  }
};

// Sets n words to 0; n = 0 does nothing.
void ZeroWords(std::uint32_t* words, std::uint32_t n) noexcept;

// Backward-shift deletion of slot `hole` in a slot array of mask + 1 words whose tags sit at bit
// tagShift and whose homes are (tag << homeShift) & mask.
void EraseHashSlot(std::uint32_t* slots, std::uint32_t mask, std::uint32_t tagShift, std::uint32_t homeShift,
                   std::uint32_t hole) noexcept;

namespace OpenHashMapLayout {

// The header keeps k (log2 of the slot count, 0 without storage) in its top 5 bits and the count
// of live entries in the low 27, so a map holds at most 134,217,727 entries.
inline constexpr std::uint32_t kCountBits = 27;
inline constexpr std::uint32_t kCountMask = (1u << kCountBits) - 1;
inline constexpr std::uint32_t kMaxCount = kCountMask;
// Largest entry capacity: the first that holds kMaxCount entries.
inline constexpr std::uint32_t kMaxCapacity = 1u << kCountBits;

// Tags keep at least 18 bits up to k = 15; above, the index takes one more bit per doubling.
inline constexpr std::uint32_t TagShift(std::uint32_t k) noexcept { return k - 1 > 14 ? k - 1 : 14; }
inline constexpr std::uint32_t HomeShift(std::uint32_t k) noexcept {
  const std::uint32_t tagShift = TagShift(k);
  return tagShift + k > 32 ? tagShift + k - 32 : 0;
}
// A tag is never 0, so no slot word of a live entry is 0.
inline constexpr std::uint32_t Tag(std::uint32_t hash, std::uint32_t tagShift) noexcept {
  const std::uint32_t tag = hash & ((1u << (32 - tagShift)) - 1);
  return tag == 0 ? 1 : tag;
}
inline constexpr std::uint32_t Home(std::uint32_t tag, std::uint32_t homeShift, std::uint32_t slotMask) noexcept {
  return (tag << homeShift) & slotMask;
}
inline constexpr std::uint32_t Log2(std::uint32_t powerOfTwo) noexcept {
  return static_cast<std::uint32_t>(__builtin_ctz(powerOfTwo));
}
inline constexpr std::uint32_t CeilPowerOfTwo(std::uint32_t n) noexcept {
  return n <= 1 ? 1 : 1u << (32 - __builtin_clz(n - 1));
}

// Slot words start at the first 4-byte boundary after the entries.
template <typename TEntry>
inline constexpr std::size_t EntryBytes(std::size_t capacity) noexcept {
  return (capacity * sizeof(TEntry) + 3) & ~std::size_t{3};
}
template <typename TEntry>
inline constexpr std::size_t BlockBytes(std::size_t capacity) noexcept {
  return EntryBytes<TEntry>(capacity) + 2 * capacity * sizeof(std::uint32_t);
}

// Everything a probe derives from k, looked up once per call. Shifts by k-dependent amounts are
// kept as multipliers: a multiply is one cheap instruction where a shift by a register is not.
struct TSlotLevel {
  std::uint32_t tagMask;         // the tag's width
  std::uint32_t tagMultiplier;   // 1 << tag shift
  std::uint32_t homeMultiplier;  // 1 << home shift
  std::uint32_t slotMask;
  std::uint32_t indexMask;
  std::uint32_t preTestMask;     // bits k..31 of a slot word
  std::size_t slotOffset;        // bytes of entries before the slot words
};
inline constexpr std::uint32_t kMaxSlotBits = 31;
struct TSlotLevels {
  TSlotLevel levels[kMaxSlotBits + 1];
};
template <typename TEntry>
inline constexpr TSlotLevels kSlotLevels = [] {
  TSlotLevels table{};
  for (std::uint32_t k = 1; k <= kMaxSlotBits; ++k) {
    const std::uint32_t tagShift = TagShift(k);
    const std::uint32_t slotMask = (1u << k) - 1;
    table.levels[k] = {(1u << (32 - tagShift)) - 1, 1u << tagShift, 1u << HomeShift(k), slotMask,
                       (1u << (k - 1)) - 1, ~slotMask, EntryBytes<TEntry>(std::size_t{1} << (k - 1))};
  }
  return table;
}();

template <typename TEntry, std::uint32_t kCapacity>
struct TInlineBlock {
  alignas(alignof(TEntry) > 4 ? alignof(TEntry) : 4) unsigned char bytes[BlockBytes<TEntry>(kCapacity)];
};
template <typename TEntry>
struct TInlineBlock<TEntry, 0> {};

}  // namespace OpenHashMapLayout

// TEntry: the key alone (a set) or TKeyValueEntry<key, value>.
// THash: key -> u32; overloads for other probe types (texts, views) let lookups take them.
// TEqual: (stored key, probe) -> bool, with the same overloads as the hash.
// TAllocator: a stateless engine allocator; the map rebinds it to bytes.
// kInlineCapacity: 0, or the small-buffer form's inline room (entry capacities up to it stay in
// the object and only larger ones take a heap block).
// Entries must move without throwing: relocation during a rehash is construct-from-old then
// destroy-old, and a rehash that fails half-way could not give the old entries back.
template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity = 0>
class TOpenHashMap {
  static_assert(std::is_nothrow_move_constructible_v<TEntry>, "entries are relocated without a way back");
  static_assert(alignof(TEntry) <= kBlockAlignment, "engine blocks are 16-byte aligned");
  static_assert(kInlineCapacity == 0 || (kInlineCapacity & (kInlineCapacity - 1)) == 0,
                "the inline room holds a power-of-two capacity");

 public:
  using TKey = typename TEntryKeyOf<TEntry>::TKey;
  using TEntryType = TEntry;
  using THashType = THash;

  // Applies the map's hash to an entry's key: the rehash functor of a shrinking erase.
  struct TEntryHash {
    std::uint32_t operator()(const TEntry& entry) const noexcept { return THash()(TEntryKeyOf<TEntry>::Get(entry)); }
  };

  TOpenHashMap() noexcept = default;
  TOpenHashMap(const TOpenHashMap& other) : TOpenHashMap() { *this = other; }
  // Takes the other map's entries and layout; the other is left without storage.
  TOpenHashMap(TOpenHashMap&& other) noexcept { TakeFrom(other); }
  ~TOpenHashMap() { Clear(); }

  // A copy has its source's layout: the same iteration order and the same probe positions.
  TOpenHashMap& operator=(const TOpenHashMap& other);
  // Destroys the own entries and takes the other's, which cannot fail: the other is left without
  // storage.
  TOpenHashMap& operator=(TOpenHashMap&& other) noexcept {
    if (this != &other) {
      Clear();
      TakeFrom(other);
    }
    return *this;
  }

  // Maps held by pointer: the map object itself comes from the general heap.
  static TOpenHashMap* Create() { return new (AllocateFromGeneralHeap(sizeof(TOpenHashMap))) TOpenHashMap; }
  static void Destroy(TOpenHashMap* map) noexcept {
    if (map == nullptr) return;
    map->~TOpenHashMap();
    FreeToGeneralHeap(map);
  }

  std::uint32_t Header() const noexcept { return header_; }
  std::uint32_t Count() const noexcept { return header_ & OpenHashMapLayout::kCountMask; }
  bool IsEmpty() const noexcept { return Count() == 0; }
  // log2 of the slot count; 0 when the map owns no storage.
  std::uint32_t SlotBits() const noexcept { return header_ >> OpenHashMapLayout::kCountBits; }
  std::uint32_t Capacity() const noexcept { return SlotBits() == 0 ? 0 : 1u << (SlotBits() - 1); }
  const void* Storage() const noexcept { return storage_; }
  TEntry* Entries() noexcept { return EntriesOf(storage_); }
  const TEntry* Entries() const noexcept { return EntriesOf(storage_); }
  std::uint32_t* SlotWords() noexcept { return SlotsOf(storage_, Capacity()); }
  const std::uint32_t* SlotWords() const noexcept { return SlotsOf(storage_, Capacity()); }

  // Iteration is a walk over the dense entries in index order.
  TEntry* begin() noexcept { return Entries(); }
  TEntry* end() noexcept { return Entries() + Count(); }
  const TEntry* begin() const noexcept { return Entries(); }
  const TEntry* end() const noexcept { return Entries() + Count(); }

  // Raw storage change to n entries (0 or a power of two): entries are neither moved nor
  // destroyed, slot words are not initialised and the count is kept. The new block is taken
  // before the old one is given back, so a failure changes nothing.
  void SetCapacity(std::uint32_t n);

  // Changes the entry capacity to n (0 or a power of two not below the count) keeping every
  // entry at its index. rehash(entry) -> u32 is called only when the tag widens (shrinking from
  // k >= 16). On allocation failure the map is left as it was.
  template <typename TRehash>
  void Rehash(std::uint32_t n, const TRehash& rehash);

  // Grows to the smallest power of two >= n.
  void Reserve(std::uint32_t n) { Rehash(OpenHashMapLayout::CeilPowerOfTwo(n), TNullHash()); }

  // Requires storage. Returns the slot of the entry whose key equals the probe and stores the
  // entry's address, or the first empty slot on the probe's path and stores null.
  template <typename TProbe>
  std::uint32_t FindSlot(const TProbe& probe, std::uint32_t hash, TEntry** entry) {
    const TProbeResult found = Probe(probe, hash);
    *entry = const_cast<TEntry*>(found.entry);
    return found.slot;
  }

  // Lookup: the entry whose key equals the probe, or null.
  template <typename TProbe>
  TEntry* Find(const TProbe& probe) noexcept {
    return const_cast<TEntry*>(static_cast<const TOpenHashMap*>(this)->Find(probe));
  }
  template <typename TProbe>
  const TEntry* Find(const TProbe& probe) const noexcept {
    if (Count() == 0) return nullptr;
    return Probe(probe, THash()(probe)).entry;
  }

  // Stores the entry of the key and returns false, or claims a new raw entry, stores its address
  // and returns true; the caller then constructs the entry in place.
  template <typename TProbe>
  bool FindOrInsert(const TProbe& key, TEntry** entry);

  // For a key known to be absent (no key is compared): claims and returns a raw entry that the
  // caller constructs.
  template <typename TProbe>
  TEntry* AppendEntry(const TProbe& key) {
    const std::uint32_t hash = THash()(key);
    const std::uint32_t slot = PrepareAppend(hash);
    return Commit(slot, hash);
  }

  // AppendEntry with the entry built from the arguments; a construction that throws leaves the
  // map as it was.
  template <typename TProbe>
  TEntry* InsertNew(const TProbe& key)
    requires std::is_same_v<TEntry, TKey>
  {
    return EmplaceNew(THash()(key), key);
  }
  template <typename TProbe, typename TValueArg>
  TEntry* InsertNew(const TProbe& key, TValueArg&& value)
    requires(!std::is_same_v<TEntry, TKey>)
  {
    return EmplaceNew(THash()(key), key, std::forward<TValueArg>(value));
  }

  // Erases the entry named by slot word `slot`; false when that word is empty. The last entry
  // takes the erased entry's index. With handBack, the erased entry is exchanged with *handBack
  // first, so the caller receives it. An erase that leaves the map less than half full halves it
  // (never below capacity 1); when that block cannot be had the map keeps its larger one.
  bool EraseAt(std::uint32_t slot, TEntry* handBack = nullptr);

  // Erase by key: false when absent.
  template <typename TProbe>
  bool Erase(const TProbe& key) {
    if (Count() == 0) return false;
    const TProbeResult found = Probe(key, THash()(key));
    return found.entry != nullptr && EraseAt(found.slot);
  }

  // Empties the map and keeps its storage; only for entries that need no destruction.
  void RemoveAll() noexcept
    requires std::is_trivially_destructible_v<TEntry>
  {
    if (Count() == 0) return;
    ZeroWords(SlotWords(), 1u << SlotBits());
    header_ &= ~OpenHashMapLayout::kCountMask;
  }

  // Destroys the entries in index order and gives the storage back.
  void Clear() noexcept {
    DestroyEntries();
    ReleaseBlock(storage_, Capacity());
    header_ = 0;
    storage_ = nullptr;
  }

 protected:
  // Takes the other's entries and layout into this map, which owns no storage.
  void TakeFrom(TOpenHashMap& other) noexcept {
    header_ = other.header_;
    storage_ = other.storage_;
    if (IsInlineCapacity(Capacity())) {
      storage_ = InlineBytes();
      RelocateEntries(other.EntriesOf(other.storage_), EntriesOf(storage_), Count());
      std::memcpy(SlotsOf(storage_, Capacity()), other.SlotWords(), 2 * Capacity() * sizeof(std::uint32_t));
    }
    other.header_ = 0;
    other.storage_ = nullptr;
  }

  using TByteAllocator = typename std::allocator_traits<TAllocator>::template rebind_alloc<unsigned char>;

  static constexpr bool IsInlineCapacity(std::uint32_t capacity) noexcept {
    return capacity != 0 && capacity <= kInlineCapacity;
  }
  static TEntry* EntriesOf(void* block) noexcept { return static_cast<TEntry*>(block); }
  static const TEntry* EntriesOf(const void* block) noexcept { return static_cast<const TEntry*>(block); }
  static std::uint32_t* SlotsOf(void* block, std::uint32_t capacity) noexcept {
    return reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(block) +
                                            OpenHashMapLayout::EntryBytes<TEntry>(capacity));
  }
  static const std::uint32_t* SlotsOf(const void* block, std::uint32_t capacity) noexcept {
    return reinterpret_cast<const std::uint32_t*>(static_cast<const unsigned char*>(block) +
                                                  OpenHashMapLayout::EntryBytes<TEntry>(capacity));
  }
  unsigned char* InlineBytes() noexcept {
    if constexpr (kInlineCapacity == 0) {
      return nullptr;
    } else {
      return inline_.bytes;
    }
  }

  unsigned char* AllocateBlock(std::uint32_t capacity) {
    if (IsInlineCapacity(capacity)) return InlineBytes();
    return TByteAllocator().allocate(OpenHashMapLayout::BlockBytes<TEntry>(capacity));
  }
  static void ReleaseBlock(unsigned char* block, std::uint32_t capacity) noexcept {
    if (block == nullptr || capacity <= kInlineCapacity) return;
    TByteAllocator().deallocate(block, OpenHashMapLayout::BlockBytes<TEntry>(capacity));
  }
  static void CheckCapacity(std::uint32_t capacity) {
    if (capacity > OpenHashMapLayout::kMaxCapacity) ThrowBadAlloc();
  }

  static void RelocateEntries(TEntry* from, TEntry* to, std::uint32_t count) noexcept {
    if constexpr (std::is_trivially_copyable_v<TEntry>) {
      if (count != 0) std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), count * sizeof(TEntry));
    } else {
      for (std::uint32_t i = 0; i < count; ++i) RelocateEntry(from + i, to + i);
    }
  }
  static void RelocateEntry(TEntry* from, TEntry* to) noexcept {
    ::new (static_cast<void*>(to)) TEntry(std::move(*from));
    from->~TEntry();
  }
  void DestroyEntries() noexcept {
    if constexpr (!std::is_trivially_destructible_v<TEntry>) {
      TEntry* entries = Entries();
      const std::uint32_t count = Count();
      for (std::uint32_t i = 0; i < count; ++i) entries[i].~TEntry();
    }
    header_ &= ~OpenHashMapLayout::kCountMask;
  }

  // The slot FindSlot answers, and the entry found there or null.
  struct TProbeResult {
    std::uint32_t slot;
    const TEntry* entry;
  };
  template <typename TProbe>
  [[gnu::always_inline]] inline TProbeResult Probe(const TProbe& probe, std::uint32_t hash) const;
  std::uint32_t FirstEmptySlot(std::uint32_t hash) const noexcept;
  // Makes room for one more entry (growing when full) and returns the slot it will take.
  std::uint32_t PrepareAppend(std::uint32_t hash);
  // Writes the slot word of entry [count] and counts it.
  TEntry* Commit(std::uint32_t slot, std::uint32_t hash) noexcept {
    const std::uint32_t tagShift = OpenHashMapLayout::TagShift(SlotBits());
    const std::uint32_t count = Count();
    SlotWords()[slot] = (OpenHashMapLayout::Tag(hash, tagShift) << tagShift) | count;
    ++header_;
    return Entries() + count;
  }
  template <typename... TArgs>
  TEntry* EmplaceNew(std::uint32_t hash, TArgs&&... args) {
    const std::uint32_t slot = PrepareAppend(hash);
    ::new (static_cast<void*>(Entries() + Count())) TEntry{std::forward<TArgs>(args)...};
    return Commit(slot, hash);
  }
  static void CheckRoomForOneMore(std::uint32_t count) {
    if (count >= OpenHashMapLayout::kMaxCount) ThrowBadAlloc();
  }

  std::uint32_t header_ = 0;
  unsigned char* storage_ = nullptr;
  [[no_unique_address]] OpenHashMapLayout::TInlineBlock<TEntry, kInlineCapacity> inline_;
};

// The small-buffer form: capacities up to 4 live inside the object.
template <typename TEntry, typename THash, typename TEqual, typename TAllocator>
using TSmallOpenHashMap = TOpenHashMap<TEntry, THash, TEqual, TAllocator, 4>;

// ---- Implementation

template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity>
template <typename TProbe>
inline typename TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::TProbeResult
TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::Probe(const TProbe& probe, std::uint32_t hash) const {
  using namespace OpenHashMapLayout;
  const TSlotLevel& level = kSlotLevels<TEntry>.levels[SlotBits()];
  std::uint32_t tag = hash & level.tagMask;
  if (tag == 0) tag = 1;
  // Bits k..31 of a word: the whole tag up to k = 14; above, the tag's lowest bit shares bit k - 1
  // with the index and is left to the key comparison. An empty word ends the path either way.
  const std::uint32_t preTestValue = (tag * level.tagMultiplier) & level.preTestMask;
  const auto* slots = reinterpret_cast<const std::uint32_t*>(storage_ + level.slotOffset);
  const TEntry* entries = Entries();
  // Indices in pointer width: no widening on every step.
  const std::size_t slotMask = level.slotMask;
  const std::size_t indexMask = level.indexMask;
  std::size_t i = (tag * level.homeMultiplier) & level.slotMask;
  for (;;) {
    const std::uint32_t word = slots[i];
    if (word == 0) return {static_cast<std::uint32_t>(i), nullptr};
    if ((word & level.preTestMask) == preTestValue) {
      const TEntry* candidate = entries + (word & indexMask);
      if (TEqual()(TEntryKeyOf<TEntry>::Get(*candidate), probe)) return {static_cast<std::uint32_t>(i), candidate};
    }
    i = (i + 1) & slotMask;
  }
}

template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity>
std::uint32_t TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::FirstEmptySlot(
    std::uint32_t hash) const noexcept {
  const OpenHashMapLayout::TSlotLevel& level = OpenHashMapLayout::kSlotLevels<TEntry>.levels[SlotBits()];
  std::uint32_t tag = hash & level.tagMask;
  if (tag == 0) tag = 1;
  const auto* slots = reinterpret_cast<const std::uint32_t*>(storage_ + level.slotOffset);
  std::uint32_t i = (tag * level.homeMultiplier) & level.slotMask;
  while (slots[i] != 0) i = (i + 1) & level.slotMask;
  return i;
}

template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity>
std::uint32_t TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::PrepareAppend(std::uint32_t hash) {
  const std::uint32_t count = Count();
  CheckRoomForOneMore(count);
  if (count == Capacity()) Reserve(count + 1);
  return FirstEmptySlot(hash);
}

template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity>
template <typename TProbe>
bool TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::FindOrInsert(const TProbe& key,
                                                                                    TEntry** entry) {
  const std::uint32_t hash = THash()(key);
  std::uint32_t slot = 0;
  if (SlotBits() != 0) {
    const TProbeResult found = Probe(key, hash);
    if (found.entry != nullptr) {
      *entry = const_cast<TEntry*>(found.entry);
      return false;
    }
    slot = found.slot;
  }
  const std::uint32_t count = Count();
  CheckRoomForOneMore(count);
  if (count == Capacity()) {
    Reserve(count + 1);
    slot = FirstEmptySlot(hash);
  }
  *entry = Commit(slot, hash);
  return true;
}

template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity>
void TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::SetCapacity(std::uint32_t n) {
  const std::uint32_t oldCapacity = Capacity();
  if (n == oldCapacity) return;
  CheckCapacity(n);
  unsigned char* block = n == 0 ? nullptr : AllocateBlock(n);
  if (block != storage_) ReleaseBlock(storage_, oldCapacity);
  storage_ = block;
  const std::uint32_t k = n == 0 ? 0 : OpenHashMapLayout::Log2(n) + 1;
  header_ = (k << OpenHashMapLayout::kCountBits) | Count();
}

template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity>
template <typename TRehash>
void TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::Rehash(std::uint32_t n,
                                                                              const TRehash& rehash) {
  using namespace OpenHashMapLayout;
  const std::uint32_t oldCapacity = Capacity();
  if (n == oldCapacity) return;
  if (n == 0 || storage_ == nullptr) {
    SetCapacity(n);
    ZeroWords(SlotWords(), 2 * n);
    return;
  }
  CheckCapacity(n);
  const std::uint32_t count = Count();
  const std::uint32_t oldK = SlotBits();
  unsigned char* oldBlock = storage_;
  // Taking the new block first keeps the old entries safe when it cannot be had.
  unsigned char* newBlock = AllocateBlock(n);
  // Between two inline capacities the layouts share the inline block: park the old one aside.
  TInlineBlock<TEntry, kInlineCapacity> parked;
  bool oldParked = false;
  if constexpr (kInlineCapacity != 0) {
    if (newBlock == oldBlock) {
      RelocateEntries(EntriesOf(oldBlock), EntriesOf(parked.bytes), count);
      std::memcpy(SlotsOf(parked.bytes, oldCapacity), SlotsOf(oldBlock, oldCapacity),
                  2 * oldCapacity * sizeof(std::uint32_t));
      oldBlock = parked.bytes;
      oldParked = true;
    }
  }

  const std::uint32_t newK = Log2(n) + 1;
  std::uint32_t* newSlots = SlotsOf(newBlock, n);
  ZeroWords(newSlots, 2 * n);
  TEntry* newEntries = EntriesOf(newBlock);
  RelocateEntries(EntriesOf(oldBlock), newEntries, count);

  const std::uint32_t* oldSlots = SlotsOf(oldBlock, oldCapacity);
  const std::uint32_t oldTagShift = TagShift(oldK);
  const std::uint32_t newTagShift = TagShift(newK);
  const std::uint32_t newHomeShift = HomeShift(newK);
  const std::uint32_t newSlotMask = (1u << newK) - 1;
  const std::uint32_t oldIndexMask = oldCapacity - 1;
  const std::uint32_t newIndexMask = n - 1;
  const std::uint32_t newTagMask = (1u << (32 - newTagShift)) - 1;
  const std::uint32_t oldSlotCount = 1u << oldK;
  for (std::uint32_t i = 0; i < oldSlotCount; ++i) {
    const std::uint32_t word = oldSlots[i];
    if (word == 0) continue;
    std::uint32_t tag;
    std::uint32_t index;
    if (oldTagShift <= newTagShift) {
      // The stored tag holds every bit of the new one: no hashing.
      tag = (word >> oldTagShift) & newTagMask;
      if (tag == 0) tag = 1;
      index = word & oldIndexMask;
    } else {
      index = word & newIndexMask;
      tag = Tag(rehash(newEntries[index]), newTagShift);
    }
    std::uint32_t j = Home(tag, newHomeShift, newSlotMask);
    while (newSlots[j] != 0) j = (j + 1) & newSlotMask;
    newSlots[j] = (tag << newTagShift) | index;
  }

  storage_ = newBlock;
  header_ = (newK << kCountBits) | count;
  if (!oldParked) ReleaseBlock(oldBlock, oldCapacity);
}

template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity>
bool TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::EraseAt(std::uint32_t slot,
                                                                               TEntry* handBack) {
  using namespace OpenHashMapLayout;
  std::uint32_t* slots = SlotWords();
  const std::uint32_t word = slots[slot];
  if (word == 0) return false;
  const std::uint32_t k = SlotBits();
  const std::uint32_t capacity = Capacity();
  const std::uint32_t tagShift = TagShift(k);
  const std::uint32_t homeShift = HomeShift(k);
  const std::uint32_t slotMask = (1u << k) - 1;
  const std::uint32_t indexMask = capacity - 1;
  const std::uint32_t index = word & indexMask;
  EraseHashSlot(slots, slotMask, tagShift, homeShift, slot);

  TEntry* entries = Entries();
  const std::uint32_t countBefore = Count();
  const std::uint32_t last = countBefore - 1;
  if (handBack != nullptr) {
    using std::swap;
    swap(entries[index], *handBack);
  }
  if (index != last) {
    // The last entry's slot word lies on its probe path; point it at the hole's index.
    const std::uint32_t lastTag = Tag(THash()(TEntryKeyOf<TEntry>::Get(entries[last])), tagShift);
    std::uint32_t j = Home(lastTag, homeShift, slotMask);
    while (slots[j] == 0 || (slots[j] & indexMask) != last) j = (j + 1) & slotMask;
    slots[j] = (slots[j] & ~indexMask) | index;
    entries[index].~TEntry();
    RelocateEntry(entries + last, entries + index);
  } else {
    entries[index].~TEntry();
  }
  header_ = (header_ & ~kCountMask) | last;

  // The small-buffer form never shrinks an inline capacity.
  const bool mayShrink = kInlineCapacity == 0 || capacity > kInlineCapacity;
  if (mayShrink && 2 * countBefore <= capacity) {
    try {
      Rehash(capacity / 2, TEntryHash());
    } catch (const std::bad_alloc&) {
      // The erase stands; the map keeps its larger block.
    }
  }
  return true;
}

template <typename TEntry, typename THash, typename TEqual, typename TAllocator, std::uint32_t kInlineCapacity>
TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>&
TOpenHashMap<TEntry, THash, TEqual, TAllocator, kInlineCapacity>::operator=(const TOpenHashMap& other) {
  if (this == &other) return *this;
  DestroyEntries();
  const std::uint32_t capacity = other.Capacity();
  if (SlotBits() != other.SlotBits()) {
    // Without storage before allocating: a failure leaves a valid empty map.
    ReleaseBlock(storage_, Capacity());
    header_ = 0;
    storage_ = nullptr;
    if (capacity == 0) return *this;
    storage_ = AllocateBlock(capacity);
    header_ = other.SlotBits() << OpenHashMapLayout::kCountBits;
  }
  if (capacity == 0) return *this;
  const std::uint32_t count = other.Count();
  TEntry* entries = Entries();
  const TEntry* source = other.Entries();
  if constexpr (std::is_trivially_copyable_v<TEntry>) {
    if (count != 0) std::memcpy(static_cast<void*>(entries), static_cast<const void*>(source), count * sizeof(TEntry));
  } else {
    std::uint32_t made = 0;
    try {
      for (; made < count; ++made) ::new (static_cast<void*>(entries + made)) TEntry(source[made]);
    } catch (...) {
      while (made != 0) entries[--made].~TEntry();
      ReleaseBlock(storage_, capacity);
      header_ = 0;
      storage_ = nullptr;
      throw;
    }
  }
  std::memcpy(SlotWords(), other.SlotWords(), 2 * capacity * sizeof(std::uint32_t));
  header_ = (header_ & ~OpenHashMapLayout::kCountMask) | count;
  return *this;
}

}  // namespace Orvan
