// Interned token tables: each gives every distinct text of one kind a dense id, once, for the life
// of the process, so the engine can hold, copy and compare such texts as small integers. A table is
// three process-wide parts: the id pages (id -> text), the text map (text -> id) and its lock.
// Interning takes the lock; reading the text of an id takes none.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "core/containers/open_hash_map.h"
#include "core/memory/global_allocation.h"
#include "core/sync/mutex.h"
#include "core/text/engine_string.h"
#include "core/text/text_hash.h"

namespace Orvan {

// How a table matches texts: byte for byte, or with 'A'-'Z' folded to 'a'-'z' (nothing else folds).
enum class ETokenCaseRule : std::uint8_t { kCaseSensitive, kCaseInsensitive };

using TTokenText = TOrvString<char>;
using TTokenRange = TCharRange<char>;

// Texts live in pages of 1024 handles; the text of id n is slot n & 0x3FF of page n >> 10.
inline constexpr std::uint32_t kTokenPageShift = 10;
inline constexpr std::uint32_t kTokenPageSlots = 1u << kTokenPageShift;
inline constexpr std::uint32_t kTokenSlotMask = kTokenPageSlots - 1;

// Page pointers reserved at creation: 64 cover the whole 16-bit id range (65,536 ids), 2048 cover
// the first 2,097,152 ids of a 32-bit table. Within its reservation a table's page-pointer array
// never moves.
template <typename TId>
inline constexpr std::uint32_t kDefaultReservedTokenPages = sizeof(TId) == 2 ? 64 : 2048;

// Refuses a new text in a table whose id type has no id left for it. The table is left unchanged.
[[noreturn]] void ThrowTokenTableFull(std::uint64_t idLimit);

// A page: 1024 handles, all null (the empty text) when it is made, and beside each handle the
// address of its characters, so that reading a text is one load instead of two (handle, then the
// block's text). The handle's reference keeps those characters in place: a shared block is copied
// before anyone writes to it. A page never moves and is freed only when its table is shut down.
struct TInternedTokenPage {
  TTokenText slots[kTokenPageSlots];
  const char* texts[kTokenPageSlots];
};

// The id -> text side of a table: the page-pointer array, its size (pages in use) and capacity,
// and the count of ids handed out (the next id).
//
// Readers take no lock, so everything they follow is published with release stores, in this
// order: a new text's slot, then the count; a new page's pointer in the array; a grown array's
// pointer. An array replaced by growth stays allocated until Clear: a reader that loaded it just
// before the switch still reads valid page pointers from it.
//
// The object itself has no destructor: its table keeps it in static storage (one load less on
// every read) and empties it with Clear at shutdown.
class TInternedTokenPages {
 public:
  using TPagePointer = std::atomic<TInternedTokenPage*>;

  constexpr TInternedTokenPages() noexcept = default;
  TInternedTokenPages(const TInternedTokenPages&) = delete;
  TInternedTokenPages& operator=(const TInternedTokenPages&) = delete;

  // ---- Reading, on any thread.
  // Ids handed out so far; a text whose id is below the count is already in its slot.
  std::uint32_t GetCount() const noexcept { return count_.load(std::memory_order_acquire); }
  // The slot of an issued id; not checked.
  const TTokenText* GetSlot(std::uint32_t id) const noexcept {
    const TPagePointer* pages = pages_.load(std::memory_order_acquire);
    const TInternedTokenPage* page = pages[id >> kTokenPageShift].load(std::memory_order_acquire);
    return &page->slots[id & kTokenSlotMask];
  }
  // The characters of an issued id's text.
  const char* GetText(std::uint32_t id) const noexcept {
    const TPagePointer* pages = pages_.load(std::memory_order_acquire);
    const TInternedTokenPage* page = pages[id >> kTokenPageShift].load(std::memory_order_acquire);
    return page->texts[id & kTokenSlotMask];
  }
  // The current page-pointer array (tests follow its replacement).
  const TPagePointer* GetPageArray() const noexcept { return pages_.load(std::memory_order_acquire); }

  // ---- Writing: the table's lock is held, or one thread runs (creation, teardown).
  std::uint32_t GetSize() const noexcept { return size_; }
  std::uint32_t GetCapacity() const noexcept { return capacity_; }

  // For an array without storage: room for exactly `capacity` page pointers.
  void ReserveEmpty(std::uint32_t capacity);

  // What id `id` needs before the table may change: the page it opens (ids that are multiples of
  // 1024) and, when the array is full, a larger array holding the current page pointers. Taking
  // it may throw std::bad_alloc and changes nothing; dropping it uncommitted gives it all back.
  class TPageReservation {
   public:
    TPageReservation(TInternedTokenPages& pages, std::uint32_t id);
    ~TPageReservation();
    TPageReservation(const TPageReservation&) = delete;
    TPageReservation& operator=(const TPageReservation&) = delete;
    // Publishes the grown array and the page.
    void Commit() noexcept;

   private:
    TInternedTokenPages& pages_;
    TInternedTokenPage* page_ = nullptr;
    TPagePointer* grownArray_ = nullptr;
    std::uint32_t grownCapacity_ = 0;
  };

  // Stores the text of id `id` (== the count, its page in place) and then counts it.
  void PublishText(std::uint32_t id, const TTokenText& text) noexcept;

  // Frees the pages from the last to the first (each releasing its handles from slot 1023 down to
  // slot 0), then every page-pointer array; size, capacity and count become 0. It may run again.
  void Clear() noexcept;

 private:
  // Each array block starts with a link to the array it replaced.
  struct TArrayHeader {
    TPagePointer* replaced;
  };
  static_assert(sizeof(TArrayHeader) % alignof(TPagePointer) == 0, "page pointers follow the header");
  static TPagePointer* AllocateArray(std::uint32_t capacity);
  static TArrayHeader* HeaderOf(TPagePointer* array) noexcept {
    return reinterpret_cast<TArrayHeader*>(array) - 1;
  }
  static void FreeArray(TPagePointer* array) noexcept;

  std::atomic<TPagePointer*> pages_{nullptr};
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
  std::atomic<std::uint32_t> count_{0};
};

namespace TokenDetail {

// [begin, end) as a length; a range with a null begin, or not below its end, is empty.
inline std::uint32_t RangeLength(TTokenRange range) noexcept {
  return range.begin != nullptr && range.begin < range.end ? static_cast<std::uint32_t>(range.end - range.begin) : 0;
}

}  // namespace TokenDetail

// The hash of each key form under a case rule: the three forms of one text hash alike (31 bits,
// 0 for the empty text). Engine strings use the hash cached in their content block.
template <ETokenCaseRule kRule>
struct TTokenTextHash;

template <>
struct TTokenTextHash<ETokenCaseRule::kCaseSensitive> {
  std::uint32_t operator()(const char* text) const noexcept { return HashStringDjb2(text); }
  std::uint32_t operator()(TTokenRange range) const noexcept {
    const std::uint32_t length = TokenDetail::RangeLength(range);
    return length == 0 ? 0 : HashRangeDjb2(range.begin, range.begin + length);
  }
  std::uint32_t operator()(const TTokenText& text) const noexcept { return text.GetHash(); }
};

template <>
struct TTokenTextHash<ETokenCaseRule::kCaseInsensitive> {
  std::uint32_t operator()(const char* text) const noexcept { return HashStringNoCase(text); }
  std::uint32_t operator()(TTokenRange range) const noexcept {
    const std::uint32_t length = TokenDetail::RangeLength(range);
    return length == 0 ? 0 : HashRangeNoCase(range.begin, range.begin + length);
  }
  std::uint32_t operator()(const TTokenText& text) const noexcept { return text.GetHashNoCase(); }
};

// A stored key against each probe form under a case rule.
template <ETokenCaseRule kRule>
struct TTokenTextEqual;

template <>
struct TTokenTextEqual<ETokenCaseRule::kCaseSensitive> {
  // An empty stored text equals only "", a non-empty one the same bytes.
  bool operator()(const TTokenText& stored, const char* probe) const noexcept { return stored == probe; }
  bool operator()(const TTokenText& stored, TTokenRange probe) const noexcept {
    const std::uint32_t length = TokenDetail::RangeLength(probe);
    if (stored.GetLength() != length) return false;
    return length == 0 || StringEqualN(stored.c_str(), probe.begin, length);
  }
  // The null handle and a block holding an empty text are different keys here.
  bool operator()(const TTokenText& stored, const TTokenText& probe) const noexcept { return stored == probe; }
};

template <>
struct TTokenTextEqual<ETokenCaseRule::kCaseInsensitive> {
  bool operator()(const TTokenText& stored, const char* probe) const noexcept { return stored.EqualsNoCase(probe); }
  bool operator()(const TTokenText& stored, TTokenRange probe) const noexcept {
    const std::uint32_t length = TokenDetail::RangeLength(probe);
    if (stored.GetLength() != length) return false;
    return length == 0 || StringEqualNoCaseN(stored.c_str(), probe.begin, length);
  }
  bool operator()(const TTokenText& stored, const TTokenText& probe) const noexcept {
    return stored.EqualsNoCase(probe);
  }
};

// The text -> id side of a table: one entry {key, id} per id, entry i holding id i. An entry is
// 16 bytes on this host (an 8-byte handle and the id, padded); blocks are sized from the entry.
template <typename TId, ETokenCaseRule kRule>
class TInternedTokenTextMap
    : public TOpenHashMap<TKeyValueEntry<TTokenText, TId>, TTokenTextHash<kRule>, TTokenTextEqual<kRule>,
                          default_allocator<unsigned char>> {
  using TBase = TOpenHashMap<TKeyValueEntry<TTokenText, TId>, TTokenTextHash<kRule>, TTokenTextEqual<kRule>,
                             default_allocator<unsigned char>>;

 public:
  using TEntry = TKeyValueEntry<TTokenText, TId>;
  static_assert(sizeof(TEntry) == 16, "a text handle and an id, padded to the handle's alignment");

  // Room for one more entry, growing the map when it is full, and the slot a key of `hash` will
  // take. On failure (std::bad_alloc) the map is as it was.
  std::uint32_t PrepareInsert(std::uint32_t hash) { return this->PrepareAppend(hash); }
  // Adds the entry {key, id} at the slot PrepareInsert gave, with no change to the map between.
  TEntry* CommitInsert(std::uint32_t slot, std::uint32_t hash, const TTokenText& key, TId id) noexcept {
    ::new (static_cast<void*>(this->Entries() + this->Count())) TEntry{key, id};
    return this->Commit(slot, hash);
  }
};

// One table per token type. TTag makes each instance a type of its own; TId is std::uint16_t or
// std::uint32_t; kPagesArg is the page-pointer reservation (tests shrink it to reach
// the array's growth).
template <typename TTag, typename TIdArg, ETokenCaseRule kRuleArg,
          std::uint32_t kPagesArg = kDefaultReservedTokenPages<TIdArg>>
class TInternedTokenTable {
  static_assert(std::is_same_v<TIdArg, std::uint16_t> || std::is_same_v<TIdArg, std::uint32_t>,
                "ids are 16 or 32 bits");

 public:
  using TId = TIdArg;
  using TTextMap = TInternedTokenTextMap<TId, kRuleArg>;
  using TEntry = typename TTextMap::TEntry;
  using THash = TTokenTextHash<kRuleArg>;
  static constexpr ETokenCaseRule kCaseRule = kRuleArg;
  static constexpr std::uint32_t kReservedPages = kPagesArg;
  // A 16-bit table refuses its 65,537th text: ids past 65535 would wrap and alias the empty text.
  static constexpr std::uint64_t kIdLimit = std::uint64_t{1} << (8 * sizeof(TId));

  // Makes the lock, then the text map holding the empty text as id 0, then the id pages with page
  // 0 and the count 1, storing each pointer once its object is complete. On std::bad_alloc the
  // pointers stored so far stay; Shutdown takes them down.
  static void Create();

  // Tears the table down (no lock taken): the lock, the map with its keys, the pages. Harmless on
  // a table never created or already shut down.
  static void Shutdown() noexcept;

  // The id of the text, interned when new (the next id). Thread-safe; the lock is recursive, so a
  // thread holding it may intern again. Throws std::bad_alloc, or EException when a 16-bit table
  // is full, leaving the table unchanged.
  static TId Intern(const char* text) { return InternKey(text, THash()(text)); }  // text not null
  static TId Intern(TTokenRange range) { return InternKey(range, THash()(range)); }
  static TId Intern(const TTokenText& text) { return InternKey(text, THash()(text)); }

  // Null while the table does not exist.
  static TTextMap* GetMap() noexcept { return s_map; }
  static TInternedTokenPages* GetPages() noexcept { return s_pages; }
  static TMutex* GetMutex() noexcept { return s_mutex; }
  // A live table only; no lock.
  static std::uint32_t GetCount() noexcept { return s_pagesObject.GetCount(); }
  static const TTokenText* GetEntry(std::uint32_t id) noexcept { return s_pagesObject.GetSlot(id); }
  static const char* GetText(std::uint32_t id) noexcept { return s_pagesObject.GetText(id); }

 private:
  template <typename TKey>
  static TId InternKey(const TKey& key, std::uint32_t hash);
  static void CreateTextMap();
  static void CreatePages();

  // s_pages points at s_pagesObject while the table is live. Readers go to the object directly.
  static inline TInternedTokenPages s_pagesObject;
  static inline TInternedTokenPages* s_pages = nullptr;
  static inline TTextMap* s_map = nullptr;
  static inline TMutex* s_mutex = nullptr;
};

// ---- Implementation

template <typename TTag, typename TIdArg, ETokenCaseRule kRuleArg, std::uint32_t kPagesArg>
template <typename TKey>
typename TInternedTokenTable<TTag, TIdArg, kRuleArg, kPagesArg>::TId
TInternedTokenTable<TTag, TIdArg, kRuleArg, kPagesArg>::InternKey(const TKey& key, std::uint32_t hash) {
  TOptionalMutexLocker locker(s_mutex);
  TTextMap& map = *s_map;
  if (map.SlotBits() != 0) {
    TEntry* found = nullptr;
    map.FindSlot(key, hash, &found);
    if (found != nullptr) return found->value;
  }

  TInternedTokenPages& pages = *s_pages;
  const std::uint32_t id = pages.GetCount();
  if constexpr (kIdLimit <= 0xFFFFFFFFu) {
    if (id >= kIdLimit) ThrowTokenTableFull(kIdLimit);
  }
  // Everything that can fail comes first; the table changes only once nothing can.
  const TTokenText text(key);
  TInternedTokenPages::TPageReservation page(pages, id);
  const std::uint32_t slot = map.PrepareInsert(hash);

  page.Commit();
  map.CommitInsert(slot, hash, text, static_cast<TId>(id));
  pages.PublishText(id, text);
  return static_cast<TId>(id);
}

template <typename TTag, typename TIdArg, ETokenCaseRule kRuleArg, std::uint32_t kPagesArg>
void TInternedTokenTable<TTag, TIdArg, kRuleArg, kPagesArg>::Create() {
  void* block = AllocateMemory(kDomainOperatorNew, sizeof(TMutex), true);
  TMutex* mutex;
  try {
    mutex = ::new (block) TMutex;
  } catch (...) {
    FreeMemory(kDomainOperatorNew, block);
    throw;
  }
  s_mutex = mutex;
  CreateTextMap();
  CreatePages();
}

template <typename TTag, typename TIdArg, ETokenCaseRule kRuleArg, std::uint32_t kPagesArg>
void TInternedTokenTable<TTag, TIdArg, kRuleArg, kPagesArg>::CreateTextMap() {
  TTextMap* map = new TTextMap;
  try {
    // The empty text is known to be absent: it goes in without a lookup, as id 0 with the null key.
    map->Reserve(1);
    map->CommitInsert(map->PrepareInsert(0), 0, TTokenText(), 0);
  } catch (...) {
    delete map;
    throw;
  }
  s_map = map;
}

template <typename TTag, typename TIdArg, ETokenCaseRule kRuleArg, std::uint32_t kPagesArg>
void TInternedTokenTable<TTag, TIdArg, kRuleArg, kPagesArg>::CreatePages() {
  TInternedTokenPages& pages = s_pagesObject;
  try {
    pages.ReserveEmpty(kReservedPages);
    TInternedTokenPages::TPageReservation first(pages, 0);
    first.Commit();
  } catch (...) {
    pages.Clear();
    throw;
  }
  pages.PublishText(0, TTokenText());
  s_pages = &pages;
}

template <typename TTag, typename TIdArg, ETokenCaseRule kRuleArg, std::uint32_t kPagesArg>
void TInternedTokenTable<TTag, TIdArg, kRuleArg, kPagesArg>::Shutdown() noexcept {
  if (s_mutex != nullptr) {
    s_mutex->~TMutex();
    FreeMemory(kDomainOperatorNew, s_mutex);
    s_mutex = nullptr;
  }
  if (s_map != nullptr) {
    delete s_map;  // releases every key, then the storage
    s_map = nullptr;
  }
  if (s_pages != nullptr) {
    s_pages->Clear();
    s_pages = nullptr;
  }
}

}  // namespace Orvan
