#include "core/containers/engine_vector.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "support/failing_allocation.h"

namespace {

using Orvan::ComputeGrownCapacity;
using Orvan::ComputeGrownCapacity64;
using Orvan::TInlineVector;
using Orvan::TVector;

// ---- Test element types and storage.

// Counts every construction and destruction so that each test can check they pair up, and logs
// the order of destructions.
struct TCounted {
  static inline int constructions = 0;
  static inline int destructions = 0;
  static inline int destroyedValues[64] = {};

  int value;
  explicit TCounted(int v) : value(v) { ++constructions; }
  TCounted(const TCounted& other) : value(other.value) { ++constructions; }
  TCounted(TCounted&& other) noexcept : value(other.value) {
    ++constructions;
    other.value = -1;
  }
  TCounted& operator=(const TCounted&) = default;
  TCounted& operator=(TCounted&& other) noexcept {
    value = other.value;
    other.value = -1;
    return *this;
  }
  ~TCounted() {
    destroyedValues[destructions % 64] = value;
    ++destructions;
  }
  static void Reset() { constructions = destructions = 0; }
  static int Live() { return constructions - destructions; }
};

// A copy that may throw and no noexcept move: growth must copy every element before it lets go
// of the old ones.
struct TThrowingCopy {
  static inline int constructions = 0;
  static inline int destructions = 0;
  static inline int copiesBeforeThrow = -1;  // -1: never throw

  int value;
  explicit TThrowingCopy(int v) : value(v) { ++constructions; }
  TThrowingCopy(const TThrowingCopy& other) : value(other.value) {
    if (copiesBeforeThrow == 0) throw std::runtime_error("copy failed");
    if (copiesBeforeThrow > 0) --copiesBeforeThrow;
    ++constructions;
  }
  ~TThrowingCopy() { ++destructions; }
};

// A handle whose bytes may move: growth must neither construct nor destroy it.
struct TBitwiseHandle {
  static inline int constructions = 0;
  static inline int destructions = 0;
  int value;
  explicit TBitwiseHandle(int v) : value(v) { ++constructions; }
  TBitwiseHandle(const TBitwiseHandle& other) : value(other.value) { ++constructions; }
  TBitwiseHandle& operator=(const TBitwiseHandle&) = default;
  ~TBitwiseHandle() { ++destructions; }
};

}  // namespace

template <>
struct Orvan::TMovesBitwise<TBitwiseHandle> : std::true_type {};

namespace {

// Counts its calls, remembers what it freed and fills every freed block with 0xDD, so that a read
// of a freed block shows even without a sanitizer.
struct TCountingStorage {
  static inline int allocations = 0;
  static inline int frees = 0;  // every call, null included
  static inline std::size_t lastBytes = 0;
  static inline void* freed[64] = {};

  static void* Allocate(std::size_t bytes) {
    auto* raw = static_cast<unsigned char*>(Orvan::TDefaultStorage::Allocate(bytes + 16));
    std::memcpy(raw, &bytes, sizeof bytes);
    ++allocations;
    lastBytes = bytes;
    return raw + 16;
  }
  static void Free(void* block) noexcept {
    freed[frees % 64] = block;
    ++frees;
    if (block == nullptr) return;
    auto* raw = static_cast<unsigned char*>(block) - 16;
    std::size_t bytes;
    std::memcpy(&bytes, raw, sizeof bytes);
    std::memset(block, 0xDD, bytes);
    Orvan::TDefaultStorage::Free(raw);
  }
  static void Reset() {
    allocations = frees = 0;
    lastBytes = 0;
  }
  static bool Freed(const void* first, const void* last) {
    for (int i = 0; i < frees && i < 64; ++i) {
      if (freed[i] >= first && freed[i] < last) return true;
    }
    return false;
  }
};

// Hands out one static block for any request, so capacities near the 32-bit limit can be set up
// without memory behind them. Only for vectors that never touch their elements.
struct TFakeHugeStorage {
  static inline int allocations = 0;
  alignas(16) static inline unsigned char block[16];
  static void* Allocate(std::size_t) {
    ++allocations;
    return block;
  }
  static void Free(void*) noexcept {}
};

// Runs `action` while every allocation of the process fails and answers whether it threw
// std::bad_alloc. No gtest call may run inside: it would allocate through the failing seam.
template <typename F>
bool ThrowsBadAllocWhenAllocationFails(F&& action) {
  const OrvTest::TFailingAllocationScope failing(0);
  try {
    action();
  } catch (const std::bad_alloc&) {
    return true;
  }
  return false;
}

class EngineVectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TCounted::Reset();
    TCountingStorage::Reset();
  }
  void TearDown() override {
    EXPECT_EQ(TCounted::constructions, TCounted::destructions) << "a constructed element was never destroyed";
  }
};

template <typename Vector>
std::vector<int> ValuesOf(const Vector& vector) {
  std::vector<int> values;
  for (const auto& element : vector) values.push_back(static_cast<int>(element.value));
  return values;
}

template <typename Vector>
std::vector<std::uint32_t> U32ValuesOf(const Vector& vector) {
  return std::vector<std::uint32_t>(vector.begin(), vector.end());
}

// ---- The growth rule.

struct GrowthSequence {
  std::uint32_t elementSize;
  std::vector<std::uint32_t> capacities;
};

TEST(ComputeGrownCapacityTest, SequencesFromZero) {
  const std::vector<GrowthSequence> cases = {
      {1, {4, 8, 16, 32, 64, 128, 240, 496}},   {2, {4, 8, 16, 32, 64, 120, 248, 504}},
      {4, {4, 8, 16, 32, 60, 124, 252, 508}},   {8, {4, 8, 16, 30, 62, 126, 254, 510}},
      {12, {4, 8, 16, 41, 84, 169, 340, 681}},  {32, {4, 7, 15, 31, 63, 127, 255, 511}},
      {300, {1, 2, 3, 6, 13, 27, 54, 109}},
  };
  for (const GrowthSequence& c : cases) {
    std::uint32_t capacity = 0;
    std::vector<std::uint32_t> seen;
    for (std::size_t i = 0; i < c.capacities.size(); ++i) {
      capacity = ComputeGrownCapacity(capacity, c.elementSize);
      seen.push_back(capacity);
    }
    EXPECT_EQ(seen, c.capacities) << "element size " << c.elementSize;
  }
}

struct GrowthStep {
  std::uint64_t capacity;
  std::uint64_t elementSize;
  std::uint64_t grown;
};

TEST(ComputeGrownCapacityTest, Steps) {
  const std::vector<GrowthStep> cases = {
      {0, 256, 4},  // the first block: 4 slots up to 256-byte elements
      {0, 257, 1},
      {30, 4, 60},  // 2 x 120 bytes = 240 still doubles
      {32, 4, 60},  // 2 x 128 bytes would pass 240: (256 - 16) / 4
      {1, 300, 2},  // (512 - 16) / 300 = 1 is no growth: capacity + 1
      {0x80000000u, 1, 0xFFFFFFF0u},  // the largest 32-bit result of 1-byte elements
  };
  for (const GrowthStep& c : cases) {
    EXPECT_EQ(ComputeGrownCapacity64(c.capacity, c.elementSize), c.grown)
        << c.capacity << " x " << c.elementSize;
    EXPECT_EQ(ComputeGrownCapacity(static_cast<std::uint32_t>(c.capacity), static_cast<std::uint32_t>(c.elementSize)),
              c.grown)
        << c.capacity << " x " << c.elementSize;
  }
}

TEST(ComputeGrownCapacityTest, ResultsBeyondTheWidthSaturate) {
  constexpr std::uint64_t kMax64 = std::numeric_limits<std::uint64_t>::max();
  constexpr std::uint32_t kMax32 = std::numeric_limits<std::uint32_t>::max();
  // 64 bits: the bytes, their one and a half, or the power of two would overflow.
  EXPECT_EQ(ComputeGrownCapacity64(std::uint64_t{1} << 62, 4), kMax64);
  EXPECT_EQ(ComputeGrownCapacity64(std::uint64_t{1} << 63, 1), kMax64);
  EXPECT_EQ(ComputeGrownCapacity64(kMax64, 1), kMax64);
  EXPECT_EQ(ComputeGrownCapacity64(kMax64 / 2 + 1, 0), kMax64);
  // 32 bits: the grown count no longer fits (where 32-bit arithmetic would wrap to a small one).
  EXPECT_EQ(ComputeGrownCapacity64(0xC0000001u, 1), 0x1FFFFFFF0u);
  EXPECT_EQ(ComputeGrownCapacity(0xC0000001u, 1), kMax32);
  EXPECT_EQ(ComputeGrownCapacity(0xC0000001u, 4), kMax32);
  // 2^32 bytes: 32-bit products would wrap to 0 and double; the true rule still fits.
  EXPECT_EQ(ComputeGrownCapacity(0x40000000u, 4), 0x7FFFFFFCu);
  EXPECT_EQ(ComputeGrownCapacity(kMax32, 1), kMax32);
}

// ---- TVector.

TEST_F(EngineVectorTest, PushBackFollowsTheGrowthRuleAndKeepsValues) {
  TVector<TCounted, TCountingStorage> vector;
  std::vector<std::uint32_t> capacities;
  std::vector<int> expected;
  for (int i = 0; i < 100; ++i) {
    vector.PushBack(TCounted(i));
    expected.push_back(i);
    if (capacities.empty() || capacities.back() != vector.GetCapacity()) capacities.push_back(vector.GetCapacity());
  }
  std::vector<std::uint32_t> rule;
  for (std::uint32_t c = 0; c < 100;) {
    c = ComputeGrownCapacity(c, sizeof(TCounted));
    rule.push_back(c);
  }
  EXPECT_EQ(capacities, rule);
  EXPECT_EQ(vector.GetSize(), 100u);
  EXPECT_EQ(ValuesOf(vector), expected);
  EXPECT_EQ(TCounted::Live(), 100);
  // One block per capacity, every old one freed.
  EXPECT_EQ(TCountingStorage::allocations, static_cast<int>(capacities.size()));
  EXPECT_EQ(TCountingStorage::frees, TCountingStorage::allocations - 1);
}

TEST_F(EngineVectorTest, PushBackOfOwnElementWhenFull) {
  TVector<TCounted, TCountingStorage> vector;
  for (int i = 0; i < 4; ++i) vector.PushBack(TCounted(10 + i));
  ASSERT_EQ(vector.GetSize(), vector.GetCapacity());
  vector.PushBack(vector[0]);
  vector.PushBack(vector[vector.GetSize() - 1]);
  EXPECT_EQ(ValuesOf(vector), (std::vector<int>{10, 11, 12, 13, 10, 10}));
}

TEST_F(EngineVectorTest, PushFrontShiftsUpAcrossTheBlockCopyThreshold) {
  for (std::uint32_t size = 0; size <= 12; ++size) {
    TVector<std::uint32_t, TCountingStorage> vector;
    std::vector<std::uint32_t> expected = {1000};
    for (std::uint32_t i = 0; i < size; ++i) {
      vector.PushBack(i);
      expected.push_back(i);
    }
    vector.PushFront(1000);
    EXPECT_EQ(U32ValuesOf(vector), expected) << "size " << size;
  }
}

TEST_F(EngineVectorTest, PushFrontOfOwnElementWhenFull) {
  TVector<std::uint32_t, TCountingStorage> vector;
  for (std::uint32_t i = 0; i < 4; ++i) vector.PushBack(7 + i);
  ASSERT_EQ(vector.GetSize(), vector.GetCapacity());
  vector.PushFront(vector[2]);
  EXPECT_EQ(U32ValuesOf(vector), (std::vector<std::uint32_t>{9, 7, 8, 9, 10}));
}

TEST_F(EngineVectorTest, ClearDestroysFromTheLastAndFreesOnlyAnOwnedBlock) {
  TVector<TCounted, TCountingStorage> vector;
  vector.Clear();
  EXPECT_EQ(TCountingStorage::frees, 0) << "a vector without a block freed something";

  for (int i = 0; i < 3; ++i) vector.PushBack(TCounted(i));
  const int destroyedBefore = TCounted::destructions;
  vector.Clear();
  EXPECT_EQ(TCounted::destructions - destroyedBefore, 3);
  EXPECT_EQ(TCounted::destroyedValues[destroyedBefore % 64], 2);
  EXPECT_EQ(TCounted::destroyedValues[(destroyedBefore + 2) % 64], 0);
  EXPECT_EQ(vector.GetSize(), 0u);
  EXPECT_EQ(vector.GetCapacity(), 0u);
  EXPECT_EQ(TCountingStorage::frees, 1);

  vector.Clear();
  EXPECT_EQ(TCountingStorage::frees, 1);
}

TEST_F(EngineVectorTest, ReserveEmptyTakesExactlyTheCountOnlyWhenBelow) {
  TVector<std::uint32_t, TCountingStorage> vector;
  vector.ReserveEmpty(0);
  EXPECT_EQ(TCountingStorage::allocations, 0);
  vector.ReserveEmpty(13);
  EXPECT_EQ(vector.GetCapacity(), 13u);
  EXPECT_EQ(TCountingStorage::lastBytes, 13 * sizeof(std::uint32_t));
  vector.ReserveEmpty(5);
  EXPECT_EQ(vector.GetCapacity(), 13u);
  EXPECT_EQ(TCountingStorage::allocations, 1);
  vector.ReserveEmpty(40);
  EXPECT_EQ(vector.GetCapacity(), 40u);
  EXPECT_EQ(TCountingStorage::allocations, 2);
  EXPECT_EQ(TCountingStorage::frees, 1);
  for (std::uint32_t i = 0; i < 40; ++i) vector.PushBack(i);
  EXPECT_EQ(TCountingStorage::allocations, 2) << "a reserved block was grown before it was full";
}

TEST_F(EngineVectorTest, ResizeZeroesNewValuesAndTakesExactlyTheCountWhenBelow) {
  TVector<std::uint32_t, TCountingStorage> vector;
  for (std::uint32_t i = 1; i <= 3; ++i) vector.PushBack(i);  // capacity 4
  vector.Resize(4);
  EXPECT_EQ(TCountingStorage::allocations, 1);
  vector.Resize(7);
  EXPECT_EQ(vector.GetCapacity(), 7u);
  EXPECT_EQ(U32ValuesOf(vector), (std::vector<std::uint32_t>{1, 2, 3, 0, 0, 0, 0}));
  vector.Resize(2);
  vector.Resize(5);
  EXPECT_EQ(vector.GetCapacity(), 7u);
  EXPECT_EQ(U32ValuesOf(vector), (std::vector<std::uint32_t>{1, 2, 0, 0, 0}));
  EXPECT_EQ(TCountingStorage::allocations, 2);
  EXPECT_TRUE(ThrowsBadAllocWhenAllocationFails([&] { vector.Resize(100); }));
  EXPECT_EQ(U32ValuesOf(vector), (std::vector<std::uint32_t>{1, 2, 0, 0, 0}));

  TInlineVector<std::uint32_t, 2> inlineIds;
  inlineIds.Resize(2);
  EXPECT_TRUE(inlineIds.IsInline());
  inlineIds.Resize(3);
  EXPECT_EQ(inlineIds.GetCapacity(), 3u);
  EXPECT_EQ(U32ValuesOf(inlineIds), (std::vector<std::uint32_t>{0, 0, 0}));
}

TEST_F(EngineVectorTest, EraseAtAndPopBackKeepOrderAndDestroy) {
  TVector<TCounted> vector;
  for (int i = 0; i < 6; ++i) vector.PushBack(TCounted(i));
  vector.EraseAt(0);
  vector.EraseAt(2);
  vector.EraseAt(vector.GetSize() - 1);
  EXPECT_EQ(ValuesOf(vector), (std::vector<int>{1, 2, 4}));
  vector.PopBack();
  EXPECT_EQ(ValuesOf(vector), (std::vector<int>{1, 2}));
  EXPECT_EQ(vector.Back().value, 2);
  EXPECT_EQ(TCounted::Live(), 2);

  TVector<std::uint32_t> plain;
  for (std::uint32_t i = 0; i < 12; ++i) plain.PushBack(i);
  plain.EraseAt(3);
  EXPECT_EQ(U32ValuesOf(plain), (std::vector<std::uint32_t>{0, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11}));
}

TEST_F(EngineVectorTest, MoveHandsTheBlockOver) {
  TVector<TCounted> source;
  for (int i = 0; i < 5; ++i) source.PushBack(TCounted(i));
  const TCounted* block = source.Data();
  TVector<TCounted> target(std::move(source));
  EXPECT_EQ(target.Data(), block);
  EXPECT_EQ(source.GetCapacity(), 0u);
  EXPECT_EQ(source.GetSize(), 0u);

  TVector<TCounted> other;
  other.PushBack(TCounted(99));
  other = std::move(target);
  EXPECT_EQ(ValuesOf(other), (std::vector<int>{0, 1, 2, 3, 4}));
  EXPECT_EQ(TCounted::Live(), 5);
}

TEST_F(EngineVectorTest, GrowMovesBitwiseHandlesWithoutConstructingOrDestroying) {
  TBitwiseHandle::constructions = TBitwiseHandle::destructions = 0;
  {
    TVector<TBitwiseHandle> vector;
    for (int i = 0; i < 4; ++i) vector.PushBack(TBitwiseHandle(i));
    const int built = TBitwiseHandle::constructions;
    const int destroyed = TBitwiseHandle::destructions;
    vector.Grow();
    EXPECT_EQ(TBitwiseHandle::constructions, built);
    EXPECT_EQ(TBitwiseHandle::destructions, destroyed);
    vector.EraseAt(1);
    EXPECT_EQ(TBitwiseHandle::destructions, destroyed + 1);
    std::vector<int> values;
    for (const TBitwiseHandle& h : vector) values.push_back(h.value);
    EXPECT_EQ(values, (std::vector<int>{0, 2, 3}));
  }
  EXPECT_EQ(TBitwiseHandle::constructions, TBitwiseHandle::destructions);
}

TEST_F(EngineVectorTest, GrowWithAFailingCopyLeavesTheVectorUnchanged) {
  TThrowingCopy::constructions = TThrowingCopy::destructions = 0;
  TThrowingCopy::copiesBeforeThrow = -1;
  {
    TVector<TThrowingCopy, TCountingStorage> vector;
    for (int i = 0; i < 4; ++i) vector.PushBack(TThrowingCopy(i));
    const TThrowingCopy* block = vector.Data();
    TThrowingCopy::copiesBeforeThrow = 2;  // the third copy of the relocation throws
    EXPECT_THROW(vector.Grow(), std::runtime_error);
    TThrowingCopy::copiesBeforeThrow = -1;
    EXPECT_EQ(vector.Data(), block);
    EXPECT_EQ(vector.GetSize(), 4u);
    EXPECT_EQ(vector.GetCapacity(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(vector[i].value, i);
    EXPECT_EQ(TCountingStorage::allocations - TCountingStorage::frees, 1) << "the new block leaked";
  }
  EXPECT_EQ(TThrowingCopy::constructions, TThrowingCopy::destructions);
}

TEST_F(EngineVectorTest, CloneHoldsExactlyTheElementsAndUndoesAFailedCopy) {
  TThrowingCopy::constructions = TThrowingCopy::destructions = 0;
  TThrowingCopy::copiesBeforeThrow = -1;
  {
    TVector<TThrowingCopy, TCountingStorage> empty;
    const TVector<TThrowingCopy, TCountingStorage> emptyCopy = empty.Clone();
    EXPECT_EQ(emptyCopy.GetCapacity(), 0u);
    EXPECT_EQ(TCountingStorage::allocations, 0);

    TVector<TThrowingCopy, TCountingStorage> source;
    for (int i = 0; i < 5; ++i) source.PushBack(TThrowingCopy(i));  // capacity 8
    const TVector<TThrowingCopy, TCountingStorage> copy = source.Clone();
    EXPECT_EQ(copy.GetSize(), 5u);
    EXPECT_EQ(copy.GetCapacity(), 5u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(copy[i].value, i);

    const int blocks = TCountingStorage::allocations - TCountingStorage::frees;
    const int live = TThrowingCopy::constructions - TThrowingCopy::destructions;
    TThrowingCopy::copiesBeforeThrow = 3;
    EXPECT_THROW(source.Clone(), std::runtime_error);
    TThrowingCopy::copiesBeforeThrow = -1;
    EXPECT_EQ(TCountingStorage::allocations - TCountingStorage::frees, blocks);
    EXPECT_EQ(TThrowingCopy::constructions - TThrowingCopy::destructions, live);
  }
  EXPECT_EQ(TThrowingCopy::constructions, TThrowingCopy::destructions);
}

// ---- Allocation failure: the vector keeps its block, size and capacity.

template <typename Vector>
void ExpectUnchangedWhenGrowthFails(Vector& vector) {
  const auto* data = vector.Data();
  const std::uint32_t size = vector.GetSize();
  const std::uint32_t capacity = vector.GetCapacity();
  const std::vector<int> values = ValuesOf(vector);
  const int live = TCounted::Live();
  const bool threw = ThrowsBadAllocWhenAllocationFails([&] { vector.PushBack(TCounted(77)); });
  EXPECT_TRUE(threw);
  EXPECT_EQ(vector.Data(), data);
  EXPECT_EQ(vector.GetSize(), size);
  EXPECT_EQ(vector.GetCapacity(), capacity);
  EXPECT_EQ(ValuesOf(vector), values);
  EXPECT_EQ(TCounted::Live(), live);
}

TEST_F(EngineVectorTest, AllocationFailureLeavesEveryFormUnchanged) {
  TVector<TCounted> empty;
  ExpectUnchangedWhenGrowthFails(empty);

  TVector<TCounted> full;
  for (int i = 0; i < 4; ++i) full.PushBack(TCounted(i));
  ExpectUnchangedWhenGrowthFails(full);

  TVector<TCounted, Orvan::TGeneralHeapStorage> general;
  for (int i = 0; i < 8; ++i) general.PushBack(TCounted(i));
  const std::uint32_t liveBlocks = Orvan::GetGeneralHeap()->GetLiveCount();
  ExpectUnchangedWhenGrowthFails(general);
  EXPECT_EQ(Orvan::GetGeneralHeap()->GetLiveCount(), liveBlocks);

  TInlineVector<TCounted, 2> inlineOnly;
  inlineOnly.PushBack(TCounted(1));
  inlineOnly.PushBack(TCounted(2));
  ExpectUnchangedWhenGrowthFails(inlineOnly);
}

TEST_F(EngineVectorTest, GrowthPastTheCapacityFieldThrowsAndChangesNothing) {
  // 0xFFFFFFF0 one-byte slots grow to 2^33 - 16, which the u32 capacity cannot hold.
  TVector<char, TFakeHugeStorage> vector;
  vector.ReserveEmpty(0xFFFFFFF0u);
  ASSERT_EQ(vector.GetCapacity(), 0xFFFFFFF0u);
  const int allocations = TFakeHugeStorage::allocations;
  EXPECT_THROW(vector.Grow(), std::bad_alloc);
  EXPECT_EQ(vector.GetCapacity(), 0xFFFFFFF0u);
  EXPECT_EQ(vector.Data(), reinterpret_cast<char*>(TFakeHugeStorage::block));
  EXPECT_EQ(TFakeHugeStorage::allocations, allocations);
}

TEST_F(EngineVectorTest, GeneralHeapStorageTakesAndReturnsItsBlocks) {
  const std::uint32_t before = Orvan::GetGeneralHeap()->GetLiveCount();
  {
    TVector<std::uint32_t, Orvan::TGeneralHeapStorage> vector;
    for (std::uint32_t i = 0; i < 20; ++i) vector.PushBack(i);
    EXPECT_EQ(Orvan::GetGeneralHeap()->GetLiveCount(), before + 1);
    vector.Clear();
    EXPECT_EQ(Orvan::GetGeneralHeap()->GetLiveCount(), before);
    vector.PushBack(1);
  }
  EXPECT_EQ(Orvan::GetGeneralHeap()->GetLiveCount(), before);
}

// ---- TInlineVector.

template <std::uint32_t N>
std::uint32_t FirstHeapBlockOfU32() {
  TInlineVector<std::uint32_t, N> vector;
  for (std::uint32_t i = 0; i <= N; ++i) vector.PushBack(i);
  EXPECT_FALSE(vector.IsInline());
  for (std::uint32_t i = 0; i <= N; ++i) EXPECT_EQ(vector[i], i);
  return vector.GetCapacity();
}

TEST_F(EngineVectorTest, InlineVectorFirstHeapBlockGrowsFromTheInlineRoom) {
  EXPECT_EQ(FirstHeapBlockOfU32<2>(), 4u);
  EXPECT_EQ(FirstHeapBlockOfU32<16>(), 32u);
  EXPECT_EQ(FirstHeapBlockOfU32<512>(), 1020u);
  EXPECT_EQ(FirstHeapBlockOfU32<10>(), 20u);
}

TEST_F(EngineVectorTest, InlineVectorNeverFreesItsInlineBuffer) {
  using Vector = TInlineVector<TCounted, 2, TCountingStorage>;
  Vector vector;
  const void* objectFirst = &vector;
  const void* objectLast = reinterpret_cast<const char*>(&vector) + sizeof(Vector);
  vector.PushBack(TCounted(1));
  vector.PushBack(TCounted(2));
  EXPECT_TRUE(vector.IsInline());
  EXPECT_EQ(TCountingStorage::allocations, 0);
  vector.PushBack(TCounted(3));  // moves to a heap block of ComputeGrownCapacity(2)
  EXPECT_EQ(vector.GetCapacity(), ComputeGrownCapacity(2, sizeof(TCounted)));
  EXPECT_EQ(ValuesOf(vector), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(TCounted::Live(), 3);
  vector.Clear();
  EXPECT_TRUE(vector.IsInline());
  EXPECT_EQ(vector.GetCapacity(), 2u);
  EXPECT_GE(static_cast<const void*>(vector.Data()), objectFirst);
  EXPECT_LT(static_cast<const void*>(vector.Data()), objectLast);
  vector.Clear();
  vector.ReserveEmpty(1);
  vector.ReserveEmpty(6);
  EXPECT_EQ(vector.GetCapacity(), 6u);
  vector.PushBack(TCounted(4));
  vector.PushBack(vector[0]);
  EXPECT_EQ(ValuesOf(vector), (std::vector<int>{4, 4}));
  EXPECT_EQ(TCountingStorage::frees, 1);
  EXPECT_FALSE(TCountingStorage::Freed(objectFirst, objectLast));
}

TEST_F(EngineVectorTest, InlineVectorPushBackAndPushFrontOfOwnElementWhenFull) {
  TInlineVector<std::uint32_t, 2, TCountingStorage> vector;
  vector.PushBack(5);
  vector.PushBack(6);
  vector.PushBack(vector[0]);
  EXPECT_EQ(U32ValuesOf(vector), (std::vector<std::uint32_t>{5, 6, 5}));
  vector.PushBack(8);
  ASSERT_EQ(vector.GetSize(), vector.GetCapacity());
  vector.PushFront(vector[3]);
  EXPECT_EQ(U32ValuesOf(vector), (std::vector<std::uint32_t>{8, 5, 6, 5, 8}));
}

// The assignment rule of u32 inline vectors (N = 2): keep the storage when it holds the source and
// is at most twice the source's room, else take storage of exactly the source's size.
struct AssignmentCase {
  const char* name;
  std::uint32_t targetReserve;  // heap slots of the target before (0: inline)
  std::uint32_t targetSize;
  std::uint32_t sourceReserve;
  std::uint32_t sourceSize;
  bool keepsStorage;
  std::uint32_t capacityAfter;  // effective room
  bool inlineAfter;
};

TEST_F(EngineVectorTest, InlineVectorAssignmentRule) {
  using Vector = TInlineVector<std::uint32_t, 2, TCountingStorage>;
  const std::vector<AssignmentCase> cases = {
      {"inline from inline", 0, 1, 0, 2, true, 2, true},
      {"inline from a larger source", 0, 2, 8, 5, false, 5, false},
      {"block within twice the source room", 8, 6, 4, 3, true, 8, false},
      {"block over twice the source room", 16, 0, 4, 3, false, 3, false},
      {"block from an empty source", 16, 9, 0, 0, false, 2, true},
      {"small block from an empty source", 4, 3, 0, 0, true, 4, false},
      {"inline from an empty source", 0, 2, 0, 0, true, 2, true},
  };
  for (const AssignmentCase& c : cases) {
    Vector target;
    Vector source;
    target.ReserveEmpty(c.targetReserve);
    source.ReserveEmpty(c.sourceReserve);
    for (std::uint32_t i = 0; i < c.targetSize; ++i) target.PushBack(900 + i);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t i = 0; i < c.sourceSize; ++i) {
      source.PushBack(10 * i + 1);
      expected.push_back(10 * i + 1);
    }
    const std::uint32_t* before = target.Data();
    const int frees = TCountingStorage::frees;
    const bool hadBlock = !target.IsInline();

    target = source;

    EXPECT_EQ(U32ValuesOf(target), expected) << c.name;
    EXPECT_EQ(target.Data() == before, c.keepsStorage) << c.name;
    EXPECT_EQ(target.GetCapacity(), c.capacityAfter) << c.name;
    EXPECT_EQ(target.IsInline(), c.inlineAfter) << c.name;
    EXPECT_EQ(TCountingStorage::frees - frees, (hadBlock && !c.keepsStorage) ? 1 : 0) << c.name;
    EXPECT_EQ(U32ValuesOf(source), expected) << c.name;
  }
}

TEST_F(EngineVectorTest, InlineVectorSelfAssignmentKeepsEverything) {
  TInlineVector<std::uint32_t, 2> vector;
  for (std::uint32_t i = 0; i < 5; ++i) vector.PushBack(i);
  const std::uint32_t* data = vector.Data();
  auto& alias = vector;
  vector = alias;
  EXPECT_EQ(vector.Data(), data);
  EXPECT_EQ(U32ValuesOf(vector), (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
}

TEST_F(EngineVectorTest, InlineVectorEraseAndPopBack) {
  TInlineVector<TCounted, 4> vector;
  for (int i = 0; i < 6; ++i) vector.PushBack(TCounted(i));
  vector.EraseAt(1);
  vector.PopBack();
  EXPECT_EQ(ValuesOf(vector), (std::vector<int>{0, 2, 3, 4}));
  EXPECT_EQ(TCounted::Live(), 4);
}

}  // namespace
