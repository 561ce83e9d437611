// The open hash map: one typed suite over several instances (every construction of an entry must
// be matched by a destruction), the layout at the growth and shrink boundaries, allocation
// failure, the small-buffer form, and a differential run against std::unordered_map.
#include "core/containers/open_hash_map.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "support/failing_allocation.h"
#include "support/open_hash_map_checks.h"

namespace {

using namespace Orvan;
using OrvTest::CheckOpenHashMapInvariants;
using OrvTest::TFailingAllocationScope;

// Counts constructions and destructions; a copy can be made to throw.
struct THashCounted {
  static inline long constructions = 0;
  static inline long destructions = 0;
  static inline int copiesBeforeThrow = -1;  // >= 0: copies allowed before one throws
  static long Live() { return constructions - destructions; }

  explicit THashCounted(std::uint32_t v = 0) : value(v) { ++constructions; }
  THashCounted(const THashCounted& other) : value(other.value) {
    if (copiesBeforeThrow == 0) throw std::runtime_error("copy refused");
    if (copiesBeforeThrow > 0) --copiesBeforeThrow;
    ++constructions;
  }
  THashCounted(THashCounted&& other) noexcept : value(other.value) { ++constructions; }
  THashCounted& operator=(const THashCounted&) = default;
  ~THashCounted() { ++destructions; }

  std::uint32_t value;
};

// Hashes a 64-bit key by its low word, as the network-id tables do: keys that differ only in the
// high word collide and only the equality tells them apart.
struct TLowWordHash {
  std::uint32_t operator()(std::uint64_t key) const noexcept { return static_cast<std::uint32_t>(key); }
};

using TU32Map = TOpenHashMap<TKeyValueEntry<std::uint32_t, THashCounted>, TIntegerHash, TWordEqual,
                             default_allocator<unsigned char>>;
using TU64Map = TOpenHashMap<TKeyValueEntry<std::uint64_t, THashCounted>, TLowWordHash, TWordEqual,
                             default_allocator<unsigned char>>;
using TSmallMap = TSmallOpenHashMap<TKeyValueEntry<std::uint32_t, THashCounted>, TIntegerHash, TWordEqual,
                                    general_heap_allocator<unsigned char>>;
using TStringMap = TOpenHashMap<TKeyValueEntry<TOrvString<char>, THashCounted>, TStringHash, TStringEqual,
                                general_heap_allocator<unsigned char>>;

template <typename TMap>
struct TMapTraits;
template <>
struct TMapTraits<TU32Map> {
  using MirrorHash = std::hash<std::uint32_t>;
  static std::uint32_t Key(std::uint32_t i) { return i * 2654435761u + 7; }
  // Capacities after erasing 9 entries one by one from capacity 16.
  static std::vector<std::uint32_t> ShrinkSequence() { return {16, 8, 8, 8, 8, 4, 4, 2, 1}; }
};
template <>
struct TMapTraits<TU64Map> {
  using MirrorHash = std::hash<std::uint64_t>;
  static std::uint64_t Key(std::uint32_t i) { return (std::uint64_t{i % 5 + 1} << 32) | (i / 5); }
  static std::vector<std::uint32_t> ShrinkSequence() { return {16, 8, 8, 8, 8, 4, 4, 2, 1}; }
};
template <>
struct TMapTraits<TSmallMap> : TMapTraits<TU32Map> {
  // Inline capacities never shrink.
  static std::vector<std::uint32_t> ShrinkSequence() { return {16, 8, 8, 8, 8, 4, 4, 4, 4}; }
};
// Engine-string keys: entries own a counted reference that relocation and erasure must carry along.
template <>
struct TMapTraits<TStringMap> {
  struct MirrorHash {
    std::size_t operator()(const TOrvString<char>& key) const { return std::hash<std::string>()(key.c_str()); }
  };
  static TOrvString<char> Key(std::uint32_t i) { return TOrvString<char>(("key-" + std::to_string(i * 7919u)).c_str()); }
  static std::vector<std::uint32_t> ShrinkSequence() { return {16, 8, 8, 8, 8, 4, 4, 2, 1}; }
};

template <typename TMap>
typename TMap::TEntryType* Put(TMap& map, const typename TMap::TKey& key, std::uint32_t value) {
  using TEntry = typename TMap::TEntryType;
  TEntry* entry;
  if (map.FindOrInsert(key, &entry)) {
    ::new (static_cast<void*>(entry)) TEntry{key, THashCounted(value)};
  } else {
    entry->value.value = value;
  }
  return entry;
}

template <typename TMap>
std::vector<std::pair<typename TMap::TKey, std::uint32_t>> Contents(const TMap& map) {
  std::vector<std::pair<typename TMap::TKey, std::uint32_t>> contents;
  for (const auto& entry : map) contents.emplace_back(entry.key, entry.value.value);
  return contents;
}

template <typename TMap>
std::vector<std::uint32_t> Slots(const TMap& map) {
  return std::vector<std::uint32_t>(map.SlotWords(), map.SlotWords() + 2 * map.Capacity());
}

template <typename TMap>
class OpenHashMapTyped : public ::testing::Test {
 protected:
  using TKey = typename TMap::TKey;
  using TEntry = typename TMap::TEntryType;
  static TKey Key(std::uint32_t i) { return TMapTraits<TMap>::Key(i); }

  void SetUp() override {
    THashCounted::constructions = THashCounted::destructions = 0;
    liveStrings_ = GetStringContentLiveCount<char>();
  }
  void TearDown() override {
    EXPECT_EQ(THashCounted::Live(), 0) << "an entry was made and never destroyed";
    EXPECT_EQ(GetStringContentLiveCount<char>(), liveStrings_) << "a string key was leaked or released twice";
  }

 private:
  std::uint32_t liveStrings_ = 0;
};

class MapNames {
 public:
  template <typename T>
  static std::string GetName(int) {
    if (std::is_same_v<T, TU32Map>) return "U32Key";
    if (std::is_same_v<T, TU64Map>) return "U64Key";
    if (std::is_same_v<T, TStringMap>) return "StringKey";
    return "SmallBuffer";
  }
};

using TMapTypes = ::testing::Types<TU32Map, TU64Map, TSmallMap, TStringMap>;
TYPED_TEST_SUITE(OpenHashMapTyped, TMapTypes, MapNames);

TYPED_TEST(OpenHashMapTyped, FindsInsertedKeysAndForgetsErasedOnes) {
  TypeParam map;
  EXPECT_EQ(map.Find(this->Key(1)), nullptr);
  EXPECT_FALSE(map.Erase(this->Key(1)));
  EXPECT_EQ(map.Storage(), nullptr);

  for (std::uint32_t i = 0; i < 300; ++i) Put(map, this->Key(i), i);
  EXPECT_EQ(map.Count(), 300u);
  EXPECT_EQ(THashCounted::Live(), 300);
  typename TestFixture::TEntry* entry;
  EXPECT_FALSE(map.FindOrInsert(this->Key(5), &entry));
  EXPECT_EQ(entry, map.Find(this->Key(5)));

  for (std::uint32_t i = 0; i < 300; i += 3) EXPECT_TRUE(map.Erase(this->Key(i)));
  EXPECT_FALSE(map.Erase(this->Key(0)));
  EXPECT_EQ(CheckOpenHashMapInvariants(map), "");
  for (std::uint32_t i = 0; i < 600; ++i) {
    const auto* found = map.Find(this->Key(i));
    if (i < 300 && i % 3 != 0) {
      ASSERT_NE(found, nullptr) << i;
      EXPECT_EQ(found->value.value, i);
    } else {
      EXPECT_EQ(found, nullptr) << i;
    }
  }
  EXPECT_EQ(THashCounted::Live(), static_cast<long>(map.Count()));

  map.Clear();
  EXPECT_EQ(map.Header(), 0u);
  EXPECT_EQ(map.Storage(), nullptr);
  EXPECT_EQ(THashCounted::Live(), 0);
}

TYPED_TEST(OpenHashMapTyped, EraseMovesTheLastEntryIntoTheHole) {
  TypeParam map;
  const auto a = this->Key(0), b = this->Key(1), c = this->Key(2), d = this->Key(3);
  for (std::uint32_t i = 0; i < 4; ++i) Put(map, this->Key(i), i);

  EXPECT_TRUE(map.Erase(b));
  using TContents = decltype(Contents(map));
  EXPECT_EQ(Contents(map), (TContents{{a, 0}, {d, 3}, {c, 2}}));

  // Erasing the entry at the last index moves nothing.
  const auto* dBefore = map.Find(d);
  EXPECT_TRUE(map.Erase(c));
  EXPECT_EQ(map.Find(d), dBefore);
  EXPECT_EQ(Contents(map), (TContents{{a, 0}, {d, 3}}));
  EXPECT_EQ(CheckOpenHashMapInvariants(map), "");
}

TYPED_TEST(OpenHashMapTyped, DoublesWhenFullAndHalvesWhenLessThanHalfFull) {
  TypeParam map;
  std::vector<std::uint32_t> capacities;
  for (std::uint32_t i = 0; i < 9; ++i) {
    Put(map, this->Key(i), i);
    capacities.push_back(map.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<std::uint32_t>{1, 2, 4, 4, 8, 8, 8, 8, 16}));

  capacities.clear();
  for (std::uint32_t i = 0; i < 9; ++i) {
    EXPECT_TRUE(map.Erase(this->Key(i)));
    capacities.push_back(map.Capacity());
    EXPECT_EQ(CheckOpenHashMapInvariants(map), "") << i;
  }
  EXPECT_EQ(capacities, TMapTraits<TypeParam>::ShrinkSequence());
  EXPECT_EQ(map.Count(), 0u);
  Put(map, this->Key(3), 3);
  ASSERT_NE(map.Find(this->Key(3)), nullptr);
}

TYPED_TEST(OpenHashMapTyped, CopiesKeepTheSourceLayout) {
  TypeParam source;
  for (std::uint32_t i = 0; i < 40; ++i) Put(source, this->Key(i), i);
  source.Erase(this->Key(3));
  source.Erase(this->Key(17));

  auto expectSameAsSource = [&](const TypeParam& copy) {
    EXPECT_EQ(copy.Header(), source.Header());
    EXPECT_EQ(Slots(copy), Slots(source));
    EXPECT_EQ(Contents(copy), Contents(source));
  };
  TypeParam copied(source);
  expectSameAsSource(copied);

  TypeParam smaller;  // different size: a new block
  for (std::uint32_t i = 0; i < 3; ++i) Put(smaller, this->Key(1000 + i), i);
  smaller = source;
  expectSameAsSource(smaller);

  TypeParam sameSize;  // same size: the block is reused
  for (std::uint32_t i = 0; i < 40; ++i) Put(sameSize, this->Key(2000 + i), i);
  ASSERT_EQ(sameSize.SlotBits(), source.SlotBits());
  sameSize = source;
  expectSameAsSource(sameSize);
  EXPECT_EQ(THashCounted::Live(), 4 * static_cast<long>(source.Count()));

  const TypeParam& alias = sameSize;
  sameSize = alias;
  expectSameAsSource(sameSize);

  const TypeParam empty{};
  sameSize = empty;
  EXPECT_EQ(sameSize.Header(), 0u);
  EXPECT_EQ(sameSize.Storage(), nullptr);
}

TYPED_TEST(OpenHashMapTyped, MoveAssignmentTakesTheEntriesAndDestroysTheOldOnes) {
  for (std::uint32_t size : {2u, 40u}) {  // inside the small buffer and on the heap
    TypeParam source;
    for (std::uint32_t i = 0; i < size; ++i) Put(source, this->Key(i), i);
    const auto contents = Contents(source);
    const auto header = source.Header();
    TypeParam target;
    for (std::uint32_t i = 0; i < 5; ++i) Put(target, this->Key(1000 + i), i);
    target = std::move(source);
    EXPECT_EQ(THashCounted::Live(), static_cast<long>(size));
    EXPECT_EQ(source.Header(), 0u);
    EXPECT_EQ(target.Header(), header);
    EXPECT_EQ(Contents(target), contents);
    ASSERT_NE(target.Find(this->Key(1)), nullptr);
    EXPECT_EQ(target.Find(this->Key(1))->value.value, 1u);
    TypeParam& alias = target;
    target = std::move(alias);
    EXPECT_EQ(Contents(target), contents);
  }
}

TYPED_TEST(OpenHashMapTyped, FailedGrowthLeavesTheMapAsItWas) {
  TypeParam map;
  for (std::uint32_t i = 0; i < 8; ++i) Put(map, this->Key(i), i);
  ASSERT_EQ(map.Count(), map.Capacity());
  const auto contents = Contents(map);
  const auto slots = Slots(map);
  const auto header = map.Header();

  int failures = 0;
  {
    TFailingAllocationScope failing(0);
    typename TestFixture::TEntry* entry;
    try {
      map.FindOrInsert(this->Key(100), &entry);
    } catch (const std::bad_alloc&) {
      ++failures;
    }
    try {
      map.AppendEntry(this->Key(101));
    } catch (const std::bad_alloc&) {
      ++failures;
    }
    try {
      map.InsertNew(this->Key(102), THashCounted(1));
    } catch (const std::bad_alloc&) {
      ++failures;
    }
  }
  EXPECT_EQ(failures, 3);
  EXPECT_EQ(map.Header(), header);
  EXPECT_EQ(Slots(map), slots);
  EXPECT_EQ(Contents(map), contents);
  EXPECT_EQ(THashCounted::Live(), 8);
  Put(map, this->Key(100), 100);
  EXPECT_EQ(map.Count(), 9u);
}

TYPED_TEST(OpenHashMapTyped, EraseStandsWhenTheSmallerBlockCannotBeHad) {
  TypeParam map;
  for (std::uint32_t i = 0; i < 16; ++i) Put(map, this->Key(i), i);
  for (std::uint32_t i = 0; i < 8; ++i) map.Erase(this->Key(i));
  ASSERT_EQ(map.Capacity(), 16u);

  bool erased;
  {
    TFailingAllocationScope failing(0);
    erased = map.Erase(this->Key(8));  // 8 entries before the erase: it would halve the map
  }
  EXPECT_TRUE(erased);
  EXPECT_EQ(map.Count(), 7u);
  EXPECT_EQ(map.Capacity(), 16u);
  EXPECT_EQ(CheckOpenHashMapInvariants(map), "");
  for (std::uint32_t i = 9; i < 16; ++i) EXPECT_NE(map.Find(this->Key(i)), nullptr) << i;

  EXPECT_TRUE(map.Erase(this->Key(9)));
  EXPECT_EQ(map.Capacity(), 8u);
}

TYPED_TEST(OpenHashMapTyped, FailedAssignmentLeavesAnEmptyMap) {
  TypeParam source;
  for (std::uint32_t i = 0; i < 16; ++i) Put(source, this->Key(i), i);
  TypeParam target;
  for (std::uint32_t i = 0; i < 3; ++i) Put(target, this->Key(100 + i), i);

  bool threw = false;
  {
    TFailingAllocationScope failing(0);
    try {
      target = source;
    } catch (const std::bad_alloc&) {
      threw = true;
    }
  }
  EXPECT_TRUE(threw);
  EXPECT_EQ(target.Header(), 0u);
  EXPECT_EQ(target.Storage(), nullptr);
  EXPECT_EQ(THashCounted::Live(), 16);
  target.Clear();  // nothing left to free twice

  // A copy that throws half-way: the copies made are destroyed and the map ends empty.
  Put(target, this->Key(100), 1);
  THashCounted::copiesBeforeThrow = 5;
  EXPECT_THROW(target = source, std::runtime_error);
  THashCounted::copiesBeforeThrow = -1;
  EXPECT_EQ(target.Header(), 0u);
  EXPECT_EQ(target.Storage(), nullptr);
  EXPECT_EQ(THashCounted::Live(), 16);

  target = source;
  EXPECT_EQ(Contents(target), Contents(source));
}

TYPED_TEST(OpenHashMapTyped, MatchesStdUnorderedMapOverRandomOperations) {
  std::mt19937 random(20240611);
  std::unordered_map<typename TestFixture::TKey, std::uint32_t, typename TMapTraits<TypeParam>::MirrorHash> mirror;
  TypeParam map;
  constexpr std::uint32_t kSteps = 120000;
  constexpr std::uint32_t kKeys = 3000;
  for (std::uint32_t step = 0; step < kSteps; ++step) {
    // Phases that mostly insert alternate with phases that mostly erase, so the map grows and
    // shrinks through many sizes.
    const bool growing = (step / 15000) % 2 == 0;
    const std::uint32_t roll = random() % 100;
    const std::uint32_t inserts = growing ? 50 : 20;
    const auto key = this->Key(random() % kKeys);
    if (roll < inserts) {
      const std::uint32_t value = random();
      Put(map, key, value);
      mirror[key] = value;
    } else if (roll < inserts + 25) {
      const auto* found = map.Find(key);
      const auto expected = mirror.find(key);
      if ((found == nullptr) != (expected == mirror.end()) ||
          (found != nullptr && found->value.value != expected->second)) {
        FAIL() << "lookup differs at step " << step;
      }
    } else if (roll < 99 || random() % 50 != 0) {
      if (map.Erase(key) != (mirror.erase(key) == 1)) FAIL() << "erase differs at step " << step;
    } else {
      map.Clear();
      mirror.clear();
    }
    if (map.Count() != mirror.size()) FAIL() << "count differs at step " << step;
    if (step % 10000 == 0) {
      ASSERT_EQ(CheckOpenHashMapInvariants(map), "") << step;
    }
  }
  for (const auto& [key, value] : mirror) {
    const auto* found = map.Find(key);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->value.value, value);
  }
  EXPECT_EQ(CheckOpenHashMapInvariants(map), "");
}

// ---- Layout rules, seen through a hash that is the key itself.

struct TIdentityHash {
  static inline long calls = 0;
  std::uint32_t operator()(std::uint32_t key) const noexcept {
    ++calls;
    return key;
  }
};
using TIdentitySet = TOpenHashMap<std::uint32_t, TIdentityHash, TWordEqual, default_allocator<unsigned char>>;

TEST(OpenHashMapLayout, FirstInsertionsLayTheirSlotWords) {
  TIdentitySet set;
  EXPECT_EQ(set.Header(), 0u);
  set.InsertNew(0x12345u);  // tag 0x12345, home 0x12345 & 1
  EXPECT_EQ(set.Header(), (1u << 27) | 1u);
  EXPECT_EQ(set.Capacity(), 1u);
  EXPECT_EQ(Slots(set), (std::vector<std::uint32_t>{0, (0x12345u << 14) | 0}));

  // A hash whose 18 tag bits are all 0 gets tag 1 and starts probing at slot 1, taken already.
  set.InsertNew(0x40000u);
  EXPECT_EQ(set.Capacity(), 2u);
  EXPECT_EQ(Slots(set), (std::vector<std::uint32_t>{0, (0x12345u << 14) | 0, (1u << 14) | 1, 0}));
  EXPECT_NE(set.Find(0x40000u), nullptr);
}

TEST(OpenHashMapLayout, GrowingToK17CutsTagsWithoutHashingAndShrinkingRehashes) {
  std::mt19937 random(99);
  std::unordered_set<std::uint32_t> unique;
  std::vector<std::uint32_t> keys;
  while (keys.size() < 32769) {
    const std::uint32_t key = random();
    if (unique.insert(key).second) keys.push_back(key);
  }
  TIdentitySet set;
  for (std::uint32_t i = 0; i < 32768; ++i) set.InsertNew(keys[i]);
  ASSERT_EQ(set.SlotBits(), 16u);
  ASSERT_EQ(set.Count(), set.Capacity());

  TIdentityHash::calls = 0;
  set.InsertNew(keys[32768]);
  EXPECT_EQ(TIdentityHash::calls, 1);  // the new key only
  EXPECT_EQ(set.SlotBits(), 17u);
  EXPECT_EQ(CheckOpenHashMapInvariants(set), "");  // tags are now 16 bits, homes even
  for (const std::uint32_t key : keys) {
    ASSERT_NE(set.Find(key), nullptr) << key;
  }

  const std::uint32_t first = set.Entries()[0];
  EXPECT_TRUE(set.Erase(first));  // 32,769 before the erase: no shrink
  ASSERT_EQ(set.SlotBits(), 17u);
  const std::uint32_t second = set.Entries()[0];
  TIdentityHash::calls = 0;
  EXPECT_TRUE(set.Erase(second));  // 32,768 before: halves, and the tag widens to 17 bits
  EXPECT_EQ(set.SlotBits(), 16u);
  // The probe, the moved last entry, then every remaining entry once.
  EXPECT_EQ(TIdentityHash::calls, 2 + 32767);
  EXPECT_EQ(CheckOpenHashMapInvariants(set), "");
}

TEST(OpenHashMapLayout, ShrinkingWithTheSameTagWidthDoesNotHash) {
  TIdentitySet set;
  for (std::uint32_t key = 1; key <= 8; ++key) set.InsertNew(key * 0x9E3779B1u);
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t key = set.Entries()[0];
    set.Erase(key);
  }
  ASSERT_EQ(set.Capacity(), 8u);
  const std::uint32_t key = set.Entries()[0];
  TIdentityHash::calls = 0;
  set.Erase(key);
  EXPECT_EQ(set.Capacity(), 4u);
  EXPECT_EQ(TIdentityHash::calls, 2);
  EXPECT_EQ(CheckOpenHashMapInvariants(set), "");
}

TEST(OpenHashMapLayout, EraseAtAnEmptySlotChangesNothing) {
  TIdentitySet set;
  for (std::uint32_t key = 1; key <= 3; ++key) set.InsertNew(key);
  const auto slots = Slots(set);
  std::uint32_t empty = 0;
  while (slots[empty] != 0) ++empty;
  EXPECT_FALSE(set.EraseAt(empty));
  EXPECT_EQ(Slots(set), slots);
  EXPECT_EQ(set.Count(), 3u);
}

TEST(OpenHashMapLayout, RemoveAllKeepsTheStorage) {
  TIdentitySet set;
  for (std::uint32_t key = 1; key <= 5; ++key) set.InsertNew(key);
  set.RemoveAll();
  EXPECT_EQ(set.Count(), 0u);
  EXPECT_EQ(set.Capacity(), 8u);
  EXPECT_EQ(Slots(set), std::vector<std::uint32_t>(16, 0));
  EXPECT_EQ(set.Find(3u), nullptr);
  set.InsertNew(3u);
  EXPECT_NE(set.Find(3u), nullptr);

  // With no entries it does not touch the slot words (raw storage after SetCapacity).
  TIdentitySet raw;
  raw.SetCapacity(2);
  std::fill(raw.SlotWords(), raw.SlotWords() + 4, 0xA5A5A5A5u);
  raw.RemoveAll();
  EXPECT_EQ(Slots(raw), std::vector<std::uint32_t>(4, 0xA5A5A5A5u));
}

TEST(OpenHashMapLayout, RefusesAnEntryBeyondThe27BitCount) {
  struct TCountForcer : TIdentitySet {
    void ForceCount(std::uint32_t count) { header_ = (header_ & ~OpenHashMapLayout::kCountMask) | count; }
  };
  TCountForcer set;
  set.InsertNew(1u);
  set.ForceCount(OpenHashMapLayout::kMaxCount);  // as if 134,217,727 entries were held
  std::uint32_t* entry;
  EXPECT_THROW(set.FindOrInsert(2u, &entry), std::bad_alloc);
  EXPECT_THROW(set.AppendEntry(3u), std::bad_alloc);
  EXPECT_THROW(set.InsertNew(4u), std::bad_alloc);
  EXPECT_EQ(set.Count(), OpenHashMapLayout::kMaxCount);
  EXPECT_EQ(set.SlotBits(), 1u);
  set.ForceCount(1);

  EXPECT_THROW(set.Reserve(OpenHashMapLayout::kMaxCapacity + 1), std::bad_alloc);
  EXPECT_EQ(set.Capacity(), 1u);
  EXPECT_NE(set.Find(1u), nullptr);
}

// ---- Backward-shift deletion on hand-made slot arrays.

struct TEraseSlotCase {
  const char* name;
  std::uint32_t mask, tagShift, homeShift, hole;
  std::vector<std::uint32_t> before, after;
};

// Slot word of entry `index` whose home, with 8 slots and no home shift, is `home`.
constexpr std::uint32_t W(std::uint32_t home, std::uint32_t index) { return ((home == 0 ? 8 : home) << 14) | index; }
// Slot word with tag t at tag shift 16 (home = (t << 1) & 15).
constexpr std::uint32_t W16(std::uint32_t tag, std::uint32_t index) { return (tag << 16) | index; }

void PrintTo(const TEraseSlotCase& c, std::ostream* out) { *out << c.name; }

class EraseHashSlotTest : public ::testing::TestWithParam<TEraseSlotCase> {};

TEST_P(EraseHashSlotTest, ShiftsBackTheWordsWhosePathCrossesTheHole) {
  const TEraseSlotCase& c = GetParam();
  std::vector<std::uint32_t> slots = c.before;
  EraseHashSlot(slots.data(), c.mask, c.tagShift, c.homeShift, c.hole);
  EXPECT_EQ(slots, c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EraseHashSlotTest,
    ::testing::Values(
        TEraseSlotCase{"LoneWord", 7, 14, 0, 2, {0, 0, W(2, 0), 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}},
        TEraseSlotCase{"RunShiftsUntilAWordAtHome",
                       7, 14, 0, 2,
                       {0, 0, W(2, 0), W(2, 1), W(3, 2), W(5, 3), 0, 0},
                       {0, 0, W(2, 1), W(3, 2), 0, W(5, 3), 0, 0}},
        TEraseSlotCase{"RunWrapsPastTheEnd",
                       7, 14, 0, 6,
                       {W(7, 2), W(0, 3), 0, 0, 0, 0, W(6, 0), W(6, 1)},
                       {W(0, 3), 0, 0, 0, 0, 0, W(6, 1), W(7, 2)}},
        TEraseSlotCase{"WordAtHomeAfterTheWrapStays",
                       7, 14, 0, 7,
                       {W(0, 1), W(7, 2), 0, 0, 0, 0, 0, W(7, 0)},
                       {W(0, 1), 0, 0, 0, 0, 0, 0, W(7, 2)}},
        TEraseSlotCase{"ShiftedHomes",
                       15, 16, 1, 2,
                       {0, 0, W16(1, 0), W16(1, 1), W16(2, 2), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
                       {0, 0, W16(1, 1), 0, W16(2, 2), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<TEraseSlotCase>& info) { return std::string(info.param.name); });

// ---- The small-buffer form.

using TSmallU32 = TSmallOpenHashMap<TKeyValueEntry<std::uint32_t, std::uint32_t>, TIntegerHash, TWordEqual,
                                    general_heap_allocator<unsigned char>>;

template <typename TMap>
bool StorageInside(const TMap& map) {
  const auto* storage = static_cast<const unsigned char*>(map.Storage());
  const auto* object = reinterpret_cast<const unsigned char*>(&map);
  return storage >= object && storage < object + sizeof(TMap);
}

TEST(SmallOpenHashMap, KeepsUpToFourEntriesInsideTheObject) {
  const std::uint32_t heapBlocks = GetGeneralHeap()->GetLiveCount();
  TSmallU32 map;
  for (std::uint32_t i = 0; i < 4; ++i) {
    map.InsertNew(i * 7, i);
    EXPECT_TRUE(StorageInside(map)) << i;
    for (std::uint32_t j = 0; j <= i; ++j) {
      ASSERT_NE(map.Find(j * 7), nullptr);
    }
  }
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), heapBlocks);

  map.InsertNew(28u, 4u);
  EXPECT_EQ(map.Capacity(), 8u);
  EXPECT_FALSE(StorageInside(map));
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), heapBlocks + 1);

  map.Erase(0u);  // 5 before the erase: stays at 8
  EXPECT_EQ(map.Capacity(), 8u);
  map.Erase(7u);  // 4 before the erase: back inside, the heap block freed
  EXPECT_EQ(map.Capacity(), 4u);
  EXPECT_TRUE(StorageInside(map));
  EXPECT_EQ(GetGeneralHeap()->GetLiveCount(), heapBlocks);
  for (std::uint32_t i = 2; i < 5; ++i) {
    const auto* entry = map.Find(i * 7);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->value, i);
  }
  EXPECT_EQ(CheckOpenHashMapInvariants(map), "");

  map.Erase(14u);
  map.Erase(21u);
  map.Erase(28u);
  EXPECT_EQ(map.Capacity(), 4u);
}

TEST(SmallOpenHashMap, MovesAndCopiesRebaseInlineStorage) {
  THashCounted::constructions = THashCounted::destructions = 0;
  {
    TSmallMap source;
    for (std::uint32_t i = 0; i < 3; ++i) Put(source, i, i);
    TSmallMap moved(std::move(source));
    EXPECT_TRUE(StorageInside(moved));
    EXPECT_EQ(source.Header(), 0u);
    EXPECT_EQ(Contents(moved), (decltype(Contents(moved)){{0, 0}, {1, 1}, {2, 2}}));
    TSmallMap copy(moved);
    EXPECT_TRUE(StorageInside(copy));
    EXPECT_EQ(Slots(copy), Slots(moved));
    EXPECT_EQ(THashCounted::Live(), 6);

    TSmallMap large;
    for (std::uint32_t i = 0; i < 6; ++i) Put(large, i, i);
    const void* block = large.Storage();
    TSmallMap takenOver(std::move(large));
    EXPECT_EQ(takenOver.Storage(), block);
    EXPECT_EQ(takenOver.Count(), 6u);
  }
  EXPECT_EQ(THashCounted::Live(), 0);
}

// ---- Maps held in entries: relocation moves them, assignment copies them.

TEST(OpenHashMapOfMaps, InnerMapsSurviveRehashCopyAndErase) {
  using TOuter = TOpenHashMap<TKeyValueEntry<std::uint32_t, TU32Map>, TIntegerHash, TWordEqual,
                              default_allocator<unsigned char>>;
  THashCounted::constructions = THashCounted::destructions = 0;
  {
    TOuter outer;
    long values = 0;
    for (std::uint32_t o = 0; o < 20; ++o) {
      TOuter::TEntryType* entry;
      ASSERT_TRUE(outer.FindOrInsert(o, &entry));
      ::new (static_cast<void*>(entry)) TOuter::TEntryType{o, TU32Map()};
      for (std::uint32_t i = 0; i <= o; ++i) Put(entry->value, i, o * 100 + i);
      values += o + 1;
    }
    auto expectInner = [](const TOuter& map) {
      for (const auto& entry : map) {
        ASSERT_EQ(entry.value.Count(), entry.key + 1);
        for (std::uint32_t i = 0; i <= entry.key; ++i) {
          const auto* found = entry.value.Find(i);
          ASSERT_NE(found, nullptr);
          EXPECT_EQ(found->value.value, entry.key * 100 + i);
        }
      }
    };
    expectInner(outer);
    TOuter copy(outer);
    expectInner(copy);
    EXPECT_EQ(THashCounted::Live(), 2 * values);

    for (std::uint32_t o = 0; o < 14; ++o) outer.Erase(o);
    EXPECT_EQ(outer.Capacity(), 8u);
    expectInner(outer);
  }
  EXPECT_EQ(THashCounted::Live(), 0);
}

}  // namespace
