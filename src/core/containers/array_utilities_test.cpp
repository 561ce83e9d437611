#include "core/containers/array_utilities.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#include "core/text/hash_functors.h"
#include "support/process_allocator_seam.h"

namespace {

using Orvan::TInlineVector;
using Orvan::TSortKey;
using Orvan::TVector;

// An object sorted by its ordering ids, as the deferred calls are.
class TKeyed {
 public:
  explicit TKeyed(const std::vector<std::uint32_t>& ids) {
    for (std::uint32_t id : ids) ids_.PushBack(id);
  }
  TSortKey GetSortKey() const { return TSortKey{ids_.Data(), ids_.GetSize()}; }
  std::vector<std::uint32_t> Ids() const { return std::vector<std::uint32_t>(ids_.begin(), ids_.end()); }

 private:
  TInlineVector<std::uint32_t, 2> ids_;
};

TSortKey KeyOf(const std::vector<std::uint32_t>& ids) {
  return TSortKey{ids.data(), static_cast<std::uint32_t>(ids.size())};
}

TEST(ArrayUtilitiesKeys, OrderIsLexicographicWithPrefixesFirst) {
  struct TCase {
    std::vector<std::uint32_t> a;
    std::vector<std::uint32_t> b;
    bool less;
  };
  const TCase cases[] = {
      {{1, 5}, {1, 5, 0}, true},  {{1, 5, 0}, {2}, true},      {{1, 5}, {2}, true},
      {{1, 5, 0}, {1, 5}, false}, {{2}, {1, 5, 0}, false},     {{1, 5}, {1, 5}, false},
      {{}, {0}, true},            {{}, {}, false},             {{0xFFFFFFFF}, {0}, false},
      {{0}, {0xFFFFFFFF}, true},  {{3, 0xFFFFFFFF}, {4}, true},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(Orvan::IsKeyLess(KeyOf(c.a), KeyOf(c.b)), c.less)
        << ::testing::PrintToString(c.a) << " < " << ::testing::PrintToString(c.b);
  }
}

// Keys of zero to three ids from a small range, so that ties and prefixes are common.
std::vector<std::vector<std::uint32_t>> RandomKeys(std::uint32_t n, std::mt19937& random) {
  std::vector<std::vector<std::uint32_t>> keys(n);
  for (auto& key : keys) {
    key.resize(random() % 4);
    for (auto& id : key) id = random() % 5 == 0 ? 0xFFFFFFF0u + random() % 16 : random() % 6;
  }
  return keys;
}

// Blocks of the stack-based allocator that one sort of n objects takes: the 16-byte records and the
// 4-byte permutation each leave the stack once their bytes + 15 reach 16,417.
int ScratchBlocksFor(std::uint32_t n) {
  if (n < 2) return 0;
  return (n * 16 + 15 >= 16417 ? 1 : 0) + (n * 4 + 15 >= 16417 ? 1 : 0);
}

TEST(ArrayUtilitiesSortByKey, SortsLikeStdSortWithScratchFromTheStackOrTheStackAllocator) {
  std::mt19937 random(20240611);
  for (std::uint32_t n : {0u, 1u, 2u, 32u, 33u, 1025u, 1026u, 4100u, 4101u}) {
    const auto keys = RandomKeys(n, random);
    std::deque<TKeyed> objects;
    for (const auto& key : keys) objects.emplace_back(key);
    std::vector<TKeyed*> pointers;
    for (TKeyed& object : objects) pointers.push_back(&object);

    const std::uint64_t blocksBefore = Orvan::GetStackBasedBlocksTakenForTests();
    Orvan::SortByKey(pointers.data(), pointers.data() + n);
    EXPECT_EQ(Orvan::GetStackBasedBlocksTakenForTests() - blocksBefore, static_cast<std::uint64_t>(ScratchBlocksFor(n)))
        << n << " objects";

    auto expected = keys;
    std::sort(expected.begin(), expected.end());
    std::vector<std::vector<std::uint32_t>> sorted;
    for (const TKeyed* object : pointers) sorted.push_back(object->Ids());
    EXPECT_EQ(sorted, expected) << n << " objects";
    // Every object is still there exactly once.
    std::vector<TKeyed*> original;
    for (TKeyed& object : objects) original.push_back(&object);
    std::sort(original.begin(), original.end());
    std::sort(pointers.begin(), pointers.end());
    EXPECT_EQ(pointers, original) << n << " objects";
  }
}

TEST(ArrayUtilitiesSortByKey, TakesNothingFromTheProcessAllocatorOnceTheThreadsScratchExists) {
  std::mt19937 random(7);
  const auto keys = RandomKeys(4101, random);
  std::deque<TKeyed> objects;
  for (const auto& key : keys) objects.emplace_back(key);
  std::vector<TKeyed*> pointers;
  for (TKeyed& object : objects) pointers.push_back(&object);
  Orvan::SortByKey(pointers.data(), pointers.data() + pointers.size());  // warm-up
  std::shuffle(pointers.begin(), pointers.end(), random);

  OrvTest::InstallSeam();
  Orvan::SortByKey(pointers.data(), pointers.data() + pointers.size());
  Orvan::SortByKey(pointers.data(), pointers.data() + 1000);
  OrvTest::RestoreSeam();
  EXPECT_EQ(OrvTest::g_seam.allocations, 0);
  EXPECT_EQ(OrvTest::g_seam.reallocations, 0);
}

TEST(ArrayUtilitiesApplyPermutation, MovesEveryItemToItsPlaceAndConsumesThePermutation) {
  std::vector<std::vector<std::uint32_t>> permutations = {{}, {0}, {0, 1, 2, 3}, {1, 2, 0}, {1, 0, 3, 2}, {3, 0, 1, 2}};
  std::mt19937 random(99);
  for (std::uint32_t n : {2u, 7u, 64u, 1000u}) {
    std::vector<std::uint32_t> permutation(n);
    std::iota(permutation.begin(), permutation.end(), 0u);
    std::shuffle(permutation.begin(), permutation.end(), random);
    permutations.push_back(permutation);
  }
  for (std::vector<std::uint32_t> permutation : permutations) {
    const std::uint32_t n = static_cast<std::uint32_t>(permutation.size());
    std::vector<std::uint32_t> items(n);
    for (std::uint32_t i = 0; i < n; ++i) items[i] = 100 + i;
    std::vector<std::uint32_t> expected(n);
    for (std::uint32_t i = 0; i < n; ++i) expected[i] = items[permutation[i]];

    Orvan::ApplyPermutation(items.data(), items.data() + n, permutation.data());
    EXPECT_EQ(items, expected);
    if (n >= 2) {
      EXPECT_EQ(std::count(permutation.begin(), permutation.end(), Orvan::kPermutationDone), n);
    }
  }
  // {1, 2, 0} over {a, b, c} gives {b, c, a}.
  const char* letters[] = {"a", "b", "c"};
  std::uint32_t rotation[] = {1, 2, 0};
  Orvan::ApplyPermutation(letters, letters + 3, rotation);
  EXPECT_STREQ(letters[0], "b");
  EXPECT_STREQ(letters[1], "c");
  EXPECT_STREQ(letters[2], "a");
}

TEST(ArrayUtilitiesSortThree, OrdersEveryArrangement) {
  for (std::vector<std::uint32_t> values : {std::vector<std::uint32_t>{1, 2, 3}, {1, 1, 2}, {0, 0xFFFFFFFF, 7}, {5, 5, 5}}) {
    std::sort(values.begin(), values.end());
    const auto expected = values;
    do {
      auto v = values;
      Orvan::SortThree(&v[0], &v[1], &v[2]);
      EXPECT_EQ(v, expected) << ::testing::PrintToString(values);
    } while (std::next_permutation(values.begin(), values.end()));
  }
}

TEST(ArrayUtilitiesWords, CopiesExactlyNWordsAndSwapsReturnTheSecond) {
  for (std::uint32_t n : {0u, 1u, 3u, 4u, 5u, 8u, 9u, 33u}) {
    std::vector<std::uint32_t> source(n + 2), words(n + 2, 0xEEEEEEEE);
    std::iota(source.begin(), source.end(), 1u);
    Orvan::CopyWords(words.data(), source.data(), n);
    std::vector<std::uint64_t> source8(n + 2), wide(n + 2, 0xEEEEEEEEEEEEEEEE);
    std::iota(source8.begin(), source8.end(), std::uint64_t{1} << 40);
    Orvan::CopyPodArray8(wide.data(), source8.data(), n);
    for (std::uint32_t i = 0; i < n + 2; ++i) {
      EXPECT_EQ(words[i], i < n ? source[i] : 0xEEEEEEEE) << n << " words, index " << i;
      EXPECT_EQ(wide[i], i < n ? source8[i] : 0xEEEEEEEEEEEEEEEE) << n << " elements, index " << i;
    }
  }
  std::uint32_t a = 1;
  std::uint32_t b = 2;
  EXPECT_EQ(Orvan::SwapWords(&a, &b), &b);
  EXPECT_EQ(a, 2u);
  EXPECT_EQ(b, 1u);
}

TEST(ArrayUtilitiesHashPointer, IsThePointerHashOfTheTablesWithTheSixtyFourBitFold) {
  const struct {
    std::uintptr_t key;
    std::uint32_t hash;
  } cases[] = {
      {0, 0x2ba588a6},
      {0x10, 0x2ba58337},
      {0x1f, 0x2ba58337},
      {0xb7001000, 0x5265d5a6},
      {0xfffffff0, 0xce62aeb6},
      {0x0000000100000010, 0x2ba58337},  // folds to 0x11
  };
  for (const auto& c : cases) EXPECT_EQ(Orvan::HashPointer(c.key), c.hash) << std::hex << c.key;
  int object = 0;
  EXPECT_EQ(Orvan::HashPointer(reinterpret_cast<std::uintptr_t>(&object)), Orvan::TPointerHash()(&object));
}

// ---- Rank index.

TVector<std::uint64_t> Values(const std::vector<std::uint64_t>& values) {
  TVector<std::uint64_t> vector;
  for (std::uint64_t value : values) vector.PushBack(value);
  return vector;
}

std::uint64_t Pair(std::uint32_t alliance, std::uint32_t session) { return std::uint64_t{alliance} << 32 | session; }

TEST(ArrayUtilitiesRankIndex, EmptyValuesClearTheMapKeepingItsStorageAndEmptyTheIds) {
  Orvan::TU32ToU32Map map;
  *Orvan::FindOrAddDefault(map, 5u).second = 1;
  *Orvan::FindOrAddDefault(map, 6u).second = 2;
  const std::uint32_t capacity = map.Capacity();
  TVector<std::uint32_t> ids;
  ids.PushBack(9);
  TVector<std::uint64_t> values;

  Orvan::BuildRankIndex(values, map, ids);
  EXPECT_EQ(map.Count(), 0u);
  EXPECT_EQ(map.Capacity(), capacity);
  EXPECT_EQ(map.Find(5u), nullptr);
  EXPECT_EQ(ids.GetSize(), 0u);
}

TEST(ArrayUtilitiesRankIndex, NumbersSessionsByAllianceThenSessionAndTheLaterPositionWins) {
  // Alliance 1 sorts after alliance 0 whatever the session ids; session 7 is in both alliances.
  TVector<std::uint64_t> values = Values({Pair(1, 3), Pair(0, 7), Pair(1, 7), Pair(0, 0xFFFFFFFF), Pair(0, 2)});
  Orvan::TU32ToU32Map map;
  TVector<std::uint32_t> ids;
  Orvan::BuildRankIndex(values, map, ids);

  const std::vector<std::uint64_t> sorted(values.begin(), values.end());
  EXPECT_EQ(sorted, (std::vector<std::uint64_t>{Pair(0, 2), Pair(0, 7), Pair(0, 0xFFFFFFFF), Pair(1, 3), Pair(1, 7)}));
  EXPECT_EQ(std::vector<std::uint32_t>(ids.begin(), ids.end()), (std::vector<std::uint32_t>{2, 7, 0xFFFFFFFF, 3, 7}));
  EXPECT_EQ(ids.GetCapacity(), 5u);
  EXPECT_EQ(map.Count(), 4u);
  const std::pair<std::uint32_t, std::uint32_t> ranks[] = {{2, 0}, {7, 4}, {0xFFFFFFFF, 2}, {3, 3}};
  for (const auto& [session, rank] : ranks) {
    const auto* entry = map.Find(session);
    ASSERT_NE(entry, nullptr) << session;
    EXPECT_EQ(entry->value, rank) << session;
  }
}

TEST(ArrayUtilitiesRankIndex, SortsLikeStdSort) {
  std::mt19937_64 random(4242);
  for (std::uint32_t n : {1u, 31u, 33u, 500u, 5000u}) {
    std::vector<std::uint64_t> reference(n);
    // Few alliances and many repeated values, as well as the full 64-bit range.
    for (auto& value : reference) value = random() % 3 == 0 ? random() : Pair(random() % 4, random() % 50);
    TVector<std::uint64_t> values = Values(reference);
    Orvan::TU32ToU32Map map;
    TVector<std::uint32_t> ids;
    ids.PushBack(1);
    ids.PushBack(2);
    Orvan::BuildRankIndex(values, map, ids);

    std::sort(reference.begin(), reference.end());
    ASSERT_EQ(std::vector<std::uint64_t>(values.begin(), values.end()), reference) << n;
    ASSERT_EQ(ids.GetSize(), n);
    for (std::uint32_t i = 0; i < n; ++i) ASSERT_EQ(ids[i], static_cast<std::uint32_t>(reference[i])) << i;
    for (const auto& entry : map) {
      // The entry holds the last position with that low word.
      std::uint32_t last = 0;
      for (std::uint32_t i = 0; i < n; ++i) {
        if (static_cast<std::uint32_t>(reference[i]) == entry.key) last = i;
      }
      EXPECT_EQ(entry.value, last) << entry.key;
    }
  }
}

}  // namespace
