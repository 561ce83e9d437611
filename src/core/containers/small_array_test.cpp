#include "core/containers/small_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "core/containers/engine_vector.h"
#include "core/memory/thread_local_heap.h"

namespace Orvan {
namespace {

std::vector<std::uint32_t> Contents(const TSmallArray<>& array) {
  std::vector<std::uint32_t> values;
  for (std::uint32_t i = 0; i < array.GetSize(); ++i) values.push_back(array[i]);
  return values;
}

std::vector<std::uint32_t> Sequence(std::uint32_t from, std::uint32_t count) {
  std::vector<std::uint32_t> values(count);
  for (std::uint32_t i = 0; i < count; ++i) values[i] = from + i;
  return values;
}

void Fill(TSmallArray<>& array, const std::vector<std::uint32_t>& values) {
  for (std::uint32_t value : values) array.PushBack(value);
}

TEST(SmallArray, OverflowTotalDoublesAsValuesArrive) {
  struct Step {
    std::uint32_t size;
    std::uint32_t overflowCapacity;
  };
  const Step steps[] = {{1, 0}, {128, 0}, {129, 128}, {256, 128}, {257, 384}, {512, 384}, {513, 896}};
  TSmallArray<> array;
  const std::uint32_t heapBlocks = GetThreadLocalHeap()->GetLiveCount();
  std::uint32_t next = 0;
  for (const Step& step : steps) {
    while (array.GetSize() < step.size) array.PushBack(next++);
    EXPECT_EQ(array.GetOverflowCapacity(), step.overflowCapacity) << "size " << step.size;
    // One overflow block at most, from this thread's heap.
    EXPECT_EQ(GetThreadLocalHeap()->GetLiveCount(), heapBlocks + (step.overflowCapacity != 0 ? 1 : 0));
  }
  EXPECT_EQ(Contents(array), Sequence(0, 513));
}

TEST(SmallArray, InsertRangeTable) {
  struct Case {
    const char* name;
    std::uint32_t initial;
    std::uint32_t position;
    std::uint32_t inserted;
    std::uint32_t overflowCapacity;  // afterwards
  };
  const Case cases[] = {
      {"middle of 200", 200, 100, 7, 79},
      {"front of 200", 200, 0, 1, 73},
      {"inline result frees nothing it never had", 50, 25, 10, 0},
      {"middle of 120 crossing into overflow", 120, 60, 20, 12},
      {"appended at the end grows by doubling", 200, 200, 7, 128},
      {"empty range in the middle still fits the block to size", 200, 10, 0, 72},
  };
  for (const Case& c : cases) {
    TSmallArray<> array;
    std::vector<std::uint32_t> expected = Sequence(0, c.initial);
    Fill(array, expected);
    const std::vector<std::uint32_t> range = Sequence(100000, c.inserted);
    array.InsertRange(c.position, range.data(), range.data() + range.size());
    expected.insert(expected.begin() + c.position, range.begin(), range.end());
    EXPECT_EQ(Contents(array), expected) << c.name;
    EXPECT_EQ(array.GetOverflowCapacity(), c.overflowCapacity) << c.name;
  }
}

TEST(SmallArray, InsertRangeAtTheEndWithAnEmptyRangeChangesNothing) {
  TSmallArray<> array;
  Fill(array, Sequence(0, 200));
  const std::uint32_t* block = array.GetOverflow();
  const std::uint32_t value = 5;
  array.InsertRange(200, &value, &value);
  EXPECT_EQ(array.GetSize(), 200u);
  EXPECT_EQ(array.GetOverflow(), block);
  EXPECT_EQ(array.GetOverflowCapacity(), 128u);
}

TEST(SmallArray, ABlockOfTheRightSizeIsKept) {
  TSmallArray<> array;
  Fill(array, Sequence(0, 200));
  const std::uint32_t values[] = {1, 2, 3};
  array.InsertRange(100, values, values + 3);  // block becomes exactly 75 slots
  const std::uint32_t* block = array.GetOverflow();
  array.InsertRange(0, values, values);  // size unchanged, so 75 still fits exactly
  EXPECT_EQ(array.GetOverflow(), block);
  EXPECT_EQ(array.GetOverflowCapacity(), 75u);
}

TEST(SmallArray, ARangeFromTheArrayItselfIsCopiedBeforeTheArrayChanges) {
  for (const std::uint32_t position : {0u, 100u, 200u}) {
    TSmallArray<> array;
    std::vector<std::uint32_t> expected = Sequence(0, 200);
    Fill(array, expected);
    // The range lies in the overflow block, which an append of 60 values outgrows.
    const std::uint32_t* first = array.GetOverflow() + 10;
    array.InsertRange(position, first, first + 60);
    expected.insert(expected.begin() + position, expected.begin() + 138, expected.begin() + 198);
    EXPECT_EQ(Contents(array), expected) << "position " << position;
  }
}

TEST(SmallArray, RandomInsertsMatchAStandardVector) {
  std::mt19937 random(20240611);
  TSmallArray<> array;
  std::vector<std::uint32_t> expected;
  for (int round = 0; round < 200; ++round) {
    const auto position = static_cast<std::uint32_t>(random() % (expected.size() + 1));
    std::vector<std::uint32_t> range(random() % 12);
    for (auto& value : range) value = static_cast<std::uint32_t>(random());
    array.InsertRange(position, range.data(), range.data() + range.size());
    expected.insert(expected.begin() + position, range.begin(), range.end());
    if (random() % 4 == 0) {
      const auto value = static_cast<std::uint32_t>(random());
      array.PushBack(value);
      expected.push_back(value);
    }
  }
  ASSERT_EQ(Contents(array), expected);
}

TEST(ThreadHeapStorage, VectorBlocksComeFromAndGoBackToTheThreadsHeap) {
  THeap* heap = GetThreadLocalHeap();
  const std::uint32_t live = heap->GetLiveCount();
  {
    TVector<std::uint32_t, TThreadHeapStorage> values;
    for (std::uint32_t i = 0; i < 100; ++i) values.PushBack(i);
    EXPECT_EQ(heap->GetLiveCount(), live + 1);
    TInlineVector<std::uint32_t, 4, TThreadHeapStorage> small;
    for (std::uint32_t i = 0; i < 4; ++i) small.PushBack(i);
    EXPECT_EQ(heap->GetLiveCount(), live + 1);  // still inline
    small.PushBack(4);
    EXPECT_EQ(heap->GetLiveCount(), live + 2);
  }
  EXPECT_EQ(heap->GetLiveCount(), live);
}

}  // namespace
}  // namespace Orvan
