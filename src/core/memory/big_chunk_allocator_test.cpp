#include "core/memory/big_chunk_allocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <stdexcept>
#include <vector>

#include "core/memory/heap.h"
#include "support/failing_allocation.h"
#include "support/lock_probe.h"
#include "support/threads_together.h"

namespace Orvan {

// Reaches into the allocator for the header-chain walker below.
struct TBigChunkAllocatorTestAccess {
  static TBigChunkRegion* FirstRegion(TBigChunkAllocator& allocator) { return allocator.firstRegion_; }
  static TMutex& Mutex(TBigChunkAllocator& allocator) { return allocator.mutex_; }
};

}  // namespace Orvan

namespace {

using namespace Orvan;
using Access = TBigChunkAllocatorTestAccess;

constexpr std::uint32_t kMiB = 1048576;
// Small regions keep the tests light; the process-wide size is checked on its own.
constexpr std::uint32_t kRegion = 4 * kMiB;
// Payload of the one free block of a fresh region.
constexpr std::uint32_t kFresh = kRegion + 4064;

struct BlockView {
  std::uint32_t offset;  // of the header from the region's base
  std::uint32_t payload;
  bool inUse;
  bool operator==(const BlockView&) const = default;
};

std::ostream& operator<<(std::ostream& out, const BlockView& block) {
  return out << "{" << block.offset << ", " << block.payload << (block.inUse ? ", used}" : ", free}");
}

struct RegionView {
  char* base;
  std::uint32_t nominalSize;
  std::uint32_t liveBlocks;
  std::uint32_t usedBytes;
  std::vector<BlockView> blocks;
};

// Walks every region's header chain, checks that it tiles the region's memory exactly with
// consistent links, merged free blocks and matching counters, and returns what it found.
std::vector<RegionView> Walk(TBigChunkAllocator& allocator) {
  TMutexLocker locker(Access::Mutex(allocator));
  std::vector<RegionView> regions;
  TBigChunkRegion* region = Access::FirstRegion(allocator);
  EXPECT_NE(region, nullptr) << "the first region is never released";
  for (; region != nullptr; region = region->next) {
    RegionView view{region->base, region->nominalSize, region->liveBlocks, region->usedBytes, {}};
    const std::uint64_t memorySize = std::uint64_t{region->nominalSize} + 4096;
    EXPECT_EQ(reinterpret_cast<char*>(region->firstBlock), region->base);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region->base) % 16, 0u);
    std::uint64_t offset = 0;
    std::uint32_t expectedDistance = 0;
    std::uint32_t live = 0;
    std::uint64_t used = 0;
    bool previousFree = false;
    for (;;) {
      const auto* header = reinterpret_cast<const TBigChunkBlockHeader*>(region->base + offset);
      const std::uint32_t payload = header->payload & ~1u;
      const bool inUse = (header->payload & 1u) != 0;
      const bool hasSuccessor = (header->link & 1u) != 0;
      view.blocks.push_back({static_cast<std::uint32_t>(offset), payload, inUse});
      EXPECT_EQ(header->link & ~1u, expectedDistance) << "distance of the block at " << offset;
      EXPECT_EQ(payload % 16, 0u) << "payload of the block at " << offset;
      EXPECT_FALSE(previousFree && !inUse) << "unmerged free neighbours at " << offset;
      if (inUse) {
        ++live;
        used += payload;
      }
      previousFree = !inUse;
      const std::uint64_t end = offset + payload + 32;
      if (!hasSuccessor) {
        EXPECT_EQ(end, memorySize) << "the last block must end the region";
        break;
      }
      if (end >= memorySize) {
        ADD_FAILURE() << "a successor past the region's end after the block at " << offset;
        break;
      }
      expectedDistance = payload + 32;
      offset = end;
    }
    EXPECT_EQ(region->liveBlocks, live);
    EXPECT_EQ(region->usedBytes, used);
    regions.push_back(std::move(view));
  }
  return regions;
}

// An allocator whose header chains are checked after every operation.
class TCheckedAllocator {
 public:
  explicit TCheckedAllocator(std::uint32_t regionSize = kRegion) : allocator_(regionSize) { Check(); }

  void* Allocate(std::size_t size) {
    void* block = allocator_.Allocate(size);
    Check();
    return block;
  }
  void Free(void* block) {
    allocator_.Free(block);
    Check();
  }

  const std::vector<RegionView>& Regions() const { return regions_; }
  const RegionView& Region(std::size_t index) const { return regions_.at(index); }
  std::uint32_t OffsetIn(std::size_t index, const void* block) const {
    return static_cast<std::uint32_t>(static_cast<const char*>(block) - Region(index).base);
  }
  TBigChunkAllocator& Raw() { return allocator_; }
  void Check() { regions_ = Walk(allocator_); }

 private:
  TBigChunkAllocator allocator_;
  std::vector<RegionView> regions_;
};

std::uint32_t GeneralLiveCount() { return GetGeneralHeap()->GetLiveCount(); }

TEST(BigChunkAllocator, SmallRequestsGoToTheGeneralHeapAndLargeOnesToARegionsTail) {
  struct Case {
    std::size_t size;
    bool inRegion;
    std::uint32_t payload;  // when in a region: the size raised to a multiple of 16
  };
  const Case cases[] = {
      {1, false, 0},
      {1048575, false, 0},
      {1048576, true, 1048576},
      {1048577, true, 1048592},
  };
  TCheckedAllocator allocator;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::uint32_t generalBefore = GeneralLiveCount();
    void* block = allocator.Allocate(c.size);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u);
    if (c.inRegion) {
      EXPECT_EQ(GeneralLiveCount(), generalBefore);
      const std::uint32_t freePart = kFresh - c.payload - 32;
      EXPECT_EQ(allocator.Region(0).blocks,
                (std::vector<BlockView>{{0, freePart, false}, {freePart + 32, c.payload, true}}));
      EXPECT_EQ(allocator.OffsetIn(0, block), freePart + 32 + 16);
      EXPECT_EQ(allocator.Region(0).usedBytes, c.payload);
    } else {
      EXPECT_EQ(GeneralLiveCount(), generalBefore + 1);
      EXPECT_EQ(allocator.Region(0).blocks, (std::vector<BlockView>{{0, kFresh, false}}));
    }
    std::memset(block, 0xA5, c.size);
    allocator.Free(block);
    EXPECT_EQ(GeneralLiveCount(), generalBefore);
    EXPECT_EQ(allocator.Region(0).blocks, (std::vector<BlockView>{{0, kFresh, false}}));
  }
  EXPECT_EQ(allocator.Allocate(0), nullptr);
  allocator.Free(nullptr);
  EXPECT_EQ(allocator.Regions().size(), 1u);
}

TEST(BigChunkAllocator, SplitsOnlyWhenMoreThan512BytesWouldBeLeft) {
  struct Case {
    std::size_t size;
    bool whole;
  };
  const Case cases[] = {
      {kFresh, true},
      {kFresh - 512, true},       // exactly 512 left over
      {kFresh - 527, true},       // rounds up to the case above
      {kFresh - 512 - 15, true},  // ditto
      {kFresh - 528, false},      // 528 left: a free block of 496 stays in front
      {kFresh - 4096, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    TCheckedAllocator allocator;
    void* block = allocator.Allocate(c.size);
    ASSERT_NE(block, nullptr);
    const std::uint32_t n = static_cast<std::uint32_t>((c.size + 15) / 16 * 16);
    if (c.whole) {
      EXPECT_EQ(allocator.Region(0).blocks, (std::vector<BlockView>{{0, kFresh, true}}));
      EXPECT_EQ(allocator.Region(0).usedBytes, kFresh) << "a whole block counts its full payload";
      EXPECT_EQ(allocator.OffsetIn(0, block), 16u);
    } else {
      EXPECT_EQ(allocator.Region(0).blocks,
                (std::vector<BlockView>{{0, kFresh - n - 32, false}, {kFresh - n, n, true}}));
      EXPECT_EQ(allocator.Region(0).usedBytes, n);
    }
    allocator.Free(block);
    EXPECT_EQ(allocator.Region(0).blocks, (std::vector<BlockView>{{0, kFresh, false}}));
    EXPECT_EQ(allocator.Region(0).usedBytes, 0u);
  }
}

// Three adjacent blocks between two in-use neighbours, freed in every order, end as one free
// block of the three payloads plus the two inner headers and gaps.
TEST(BigChunkAllocator, FreeingThreeAdjacentBlocksInAnyOrderMergesThem) {
  constexpr std::uint32_t kRegion8 = 8 * kMiB;
  constexpr std::uint32_t kFresh8 = kRegion8 + 4064;
  // Carved from the free block's end, so address order is the reverse of allocation order.
  const std::array<std::uint32_t, 5> sizes = {kMiB, kMiB + 16 * 100, kMiB + 16 * 200, kMiB + 16 * 300, kMiB};
  std::array<int, 3> order = {0, 1, 2};  // 0 = lowest address of the three
  do {
    SCOPED_TRACE(::testing::Message() << "free order " << order[0] << order[1] << order[2]);
    TCheckedAllocator allocator(kRegion8);
    std::array<void*, 5> blocks{};
    for (std::size_t i = 0; i < sizes.size(); ++i) {
      blocks[i] = allocator.Allocate(sizes[i]);
      ASSERT_NE(blocks[i], nullptr);
    }
    // In address order: free front, blocks[4] (outer), blocks[3], [2], [1] (the three), blocks[0].
    const std::array<void*, 3> middle = {blocks[3], blocks[2], blocks[1]};
    for (int which : order) allocator.Free(middle[which]);

    std::uint32_t front = kFresh8;
    for (std::uint32_t size : sizes) front -= size + 32;
    const std::uint32_t merged = sizes[1] + sizes[2] + sizes[3] + 64;
    const std::uint32_t outer = front + 32;
    EXPECT_EQ(allocator.Region(0).blocks, (std::vector<BlockView>{{0, front, false},
                                                                  {outer, sizes[4], true},
                                                                  {outer + sizes[4] + 32, merged, false},
                                                                  {outer + sizes[4] + 64 + merged, sizes[0], true}}));
    allocator.Free(blocks[0]);
    allocator.Free(blocks[4]);
    EXPECT_EQ(allocator.Region(0).blocks, (std::vector<BlockView>{{0, kFresh8, false}}));
  } while (std::next_permutation(order.begin(), order.end()));
}

// An empty second region is given back when the first region is used to 85 % or less.
TEST(BigChunkAllocator, EmptyRegionIsReleasedAtTheEightyFivePercentBoundary) {
  struct Case {
    std::uint32_t firstRegionUse;
    bool released;
  };
  const Case cases[] = {
      {3607088, true},   // 100 * 3607088 / 4194304 = 85 (85.99...)
      {3607104, false},  // = 86
      {kMiB, true},
      {kFresh, false},  // the whole block: 100
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.firstRegionUse);
    TCheckedAllocator allocator;
    void* kept = allocator.Allocate(c.firstRegionUse);
    ASSERT_EQ(allocator.Region(0).usedBytes, c.firstRegionUse);
    void* second = allocator.Allocate(kFresh);  // needs a region of its own
    ASSERT_EQ(allocator.Regions().size(), 2u);
    ASSERT_EQ(allocator.Region(1).liveBlocks, 1u);
    allocator.Free(second);
    EXPECT_EQ(allocator.Regions().size(), c.released ? 1u : 2u);
    allocator.Free(kept);
    EXPECT_EQ(allocator.Regions().size(), 1u);
  }
}

TEST(BigChunkAllocator, EmptyRegionStaysUntilAFreeInARegionFindsRoomBeforeIt) {
  TCheckedAllocator allocator;
  void* large = allocator.Allocate(2 * kMiB);
  void* medium = allocator.Allocate(3 * kMiB / 2);  // 87 % used
  void* inSecond = allocator.Allocate(kMiB);
  void* small = allocator.Allocate(1000);
  ASSERT_EQ(allocator.Regions().size(), 2u);

  allocator.Free(inSecond);
  EXPECT_EQ(allocator.Regions().size(), 2u) << "the first region is over 85 %";
  allocator.Free(small);
  EXPECT_EQ(allocator.Regions().size(), 2u) << "a general-heap block runs no release test";
  allocator.Free(medium);
  EXPECT_EQ(allocator.Regions().size(), 1u);
  allocator.Free(large);
  ASSERT_EQ(allocator.Regions().size(), 1u) << "the first region is never released";
  EXPECT_EQ(allocator.Region(0).blocks, (std::vector<BlockView>{{0, kFresh, false}}));
}

// The release walk keeps the region before a released one as the reference for the next.
TEST(BigChunkAllocator, ReleaseWalkCoversTheWholeList) {
  TCheckedAllocator allocator;
  std::array<void*, 4> full{};
  for (void*& block : full) block = allocator.Allocate(kFresh);  // one region each
  ASSERT_EQ(allocator.Regions().size(), 4u);
  char* firstBase = allocator.Region(0).base;
  char* secondBase = allocator.Region(1).base;

  allocator.Free(full[1]);
  allocator.Free(full[3]);
  EXPECT_EQ(allocator.Regions().size(), 4u) << "each empty region follows a full one";
  allocator.Free(full[2]);  // the empty second region lets the third and fourth go
  ASSERT_EQ(allocator.Regions().size(), 2u);
  EXPECT_EQ(allocator.Region(0).base, firstBase);
  EXPECT_EQ(allocator.Region(1).base, secondBase);
  EXPECT_EQ(allocator.Region(1).liveBlocks, 0u);
  allocator.Free(full[0]);
  EXPECT_EQ(allocator.Regions().size(), 1u);
}

TEST(BigChunkAllocator, OversizeRequestsReturnNull) {
  struct Case {
    std::size_t size;
    std::size_t regionsAfter;  // a request tried against a fresh region leaves it behind
  };
  const Case cases[] = {
      {kFresh + 1, 2},
      {kBigChunkMaximumRequest, 2},
      {kBigChunkMaximumRequest + 1, 1},  // beyond 32-bit header words: refused at once
      {std::numeric_limits<std::size_t>::max(), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    TCheckedAllocator allocator;
    EXPECT_EQ(allocator.Allocate(c.size), nullptr);
    ASSERT_EQ(allocator.Regions().size(), c.regionsAfter);
    for (const RegionView& region : allocator.Regions()) {
      EXPECT_EQ(region.blocks, (std::vector<BlockView>{{0, kFresh, false}}));
    }
    // The next free of a region block gives the empty region back.
    allocator.Free(allocator.Allocate(kMiB));
    EXPECT_EQ(allocator.Regions().size(), 1u);
  }
}

TEST(BigChunkAllocator, RejectsRegionSizesItCannotLayOut) {
  for (std::uint32_t size : {0u, 8u, kRegion + 1, kBigChunkMaximumRegionSize + 16}) {
    SCOPED_TRACE(size);
    EXPECT_THROW(TBigChunkAllocator{size}, std::invalid_argument);
  }
}

struct FailureCase {
  const char* name;
  std::size_t failAbove;
};
// The region record is small; the region's memory is megabytes.
const FailureCase kFailures[] = {{"record", 0}, {"memory", 4096}};

TEST(BigChunkAllocator, RegionAllocationFailureThrowsAndLeavesNothingBehind) {
  for (const FailureCase& failure : kFailures) {
    SCOPED_TRACE(failure.name);
    TCheckedAllocator allocator;
    void* full = allocator.Allocate(kFresh);
    const std::uint32_t generalBefore = GeneralLiveCount();

    const OrvTest::TLimitedAllocationRun run =
        OrvTest::RunWithAllocationsAbove(failure.failAbove, [&] { allocator.Raw().Allocate(kMiB); });

    EXPECT_TRUE(run.threwBadAlloc);
    EXPECT_EQ(run.outstanding, 0);
    EXPECT_EQ(GeneralLiveCount(), generalBefore);
    allocator.Check();
    EXPECT_EQ(allocator.Regions().size(), 1u);
    EXPECT_TRUE(OrvTest::TryLockFromOtherThread(Access::Mutex(allocator.Raw())))
        << "the mutex must be released by the exception";

    void* next = allocator.Allocate(kMiB);  // works again once memory is there
    EXPECT_NE(next, nullptr);
    EXPECT_EQ(allocator.Regions().size(), 2u);
    allocator.Free(next);
    allocator.Free(full);
  }
}

// The test environment runs with the process instance; these tests build their own from scratch
// and put one back for the tests after them.
class BigChunkAllocatorProcess : public ::testing::Test {
 protected:
  void SetUp() override { TBigChunkAllocator::Destroy(); }
  void TearDown() override { TBigChunkAllocator::Create(); }
};

TEST_F(BigChunkAllocatorProcess, CreateFailureLeavesNoInstance) {
  ASSERT_EQ(GetBigChunkAllocator(), nullptr);
  for (const FailureCase& failure : kFailures) {
    SCOPED_TRACE(failure.name);
    const std::uint32_t generalBefore = GeneralLiveCount();
    const OrvTest::TLimitedAllocationRun run =
        OrvTest::RunWithAllocationsAbove(failure.failAbove, [] { TBigChunkAllocator::Create(); });
    EXPECT_TRUE(run.threwBadAlloc);
    EXPECT_EQ(GetBigChunkAllocator(), nullptr);
    EXPECT_EQ(run.outstanding, 0);
    EXPECT_EQ(GeneralLiveCount(), generalBefore);
  }
}

TEST_F(BigChunkAllocatorProcess, ProcessInstanceServesStreamBuffers) {
  ASSERT_EQ(GetBigChunkAllocator(), nullptr);
  const std::uint32_t generalBefore = GeneralLiveCount();
  TBigChunkAllocator::Create();
  TBigChunkAllocator* instance = GetBigChunkAllocator();
  ASSERT_NE(instance, nullptr);
  TBigChunkAllocator::Create();  // already there
  EXPECT_EQ(GetBigChunkAllocator(), instance);

  constexpr std::uint32_t kProcessFresh = 314576864;
  std::vector<RegionView> regions = Walk(*instance);
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].nominalSize, kBigChunkRegionSize);
  EXPECT_EQ(regions[0].blocks, (std::vector<BlockView>{{0, kProcessFresh, false}}));

  default_allocator<TBigChunkBuffer> buffers;
  EXPECT_EQ(buffers.allocate(0), nullptr) << "null is passed on";
  EXPECT_EQ(buffers.allocate(kBigChunkMaximumRequest + 1), nullptr);
  std::uint8_t* small = buffers.allocate(100);
  std::uint8_t* large = buffers.allocate(2 * kMiB);
  ASSERT_NE(small, nullptr);
  ASSERT_NE(large, nullptr);
  regions = Walk(*instance);
  ASSERT_EQ(regions.size(), 1u);
  EXPECT_EQ(regions[0].liveBlocks, 1u);
  const auto offset = static_cast<std::size_t>(reinterpret_cast<char*>(large) - regions[0].base);
  EXPECT_EQ(offset, std::size_t{kProcessFresh - 2 * kMiB + 16}) << "the tail of the first block";
  buffers.deallocate(small, 100);
  FreeToBigChunkHeap(large);

  // A request of exactly a fresh region's payload fits; one byte more does not, and leaves an
  // empty region behind until the next free in a region.
  void* whole = AllocateFromBigChunkHeap(kProcessFresh);
  ASSERT_NE(whole, nullptr);
  EXPECT_EQ(Walk(*instance)[0].blocks, (std::vector<BlockView>{{0, kProcessFresh, true}}));
  EXPECT_EQ(AllocateFromBigChunkHeap(kProcessFresh + 1), nullptr);
  regions = Walk(*instance);
  ASSERT_EQ(regions.size(), 2u);
  EXPECT_EQ(regions[1].blocks, (std::vector<BlockView>{{0, kProcessFresh, false}}));
  FreeToBigChunkHeap(whole);
  EXPECT_EQ(Walk(*instance).size(), 1u);
  EXPECT_EQ(AllocateFromBigChunkHeap(kProcessFresh + 1), nullptr);
  EXPECT_EQ(Walk(*instance).size(), 2u) << "destruction takes the empty region too";

  TBigChunkAllocator::Destroy();
  EXPECT_EQ(GetBigChunkAllocator(), nullptr);
  EXPECT_EQ(GeneralLiveCount(), generalBefore) << "every region and record went back";
  TBigChunkAllocator::Destroy();  // nothing left to do
}

// Two threads allocate and free mixed sizes around the 1 MiB boundary over small regions, so
// regions are added and released under contention; stamps at both ends of every block catch
// overlapping blocks.
TEST(BigChunkAllocatorThreaded, TwoThreadsKeepTheChainsSound) {
  TCheckedAllocator allocator;
  constexpr int kThreads = 2;
  constexpr int kSteps = 3000;
  const std::size_t sizes[] = {1000, 1048575, 1048576, 1048577, 3 * kMiB / 2, 5 * kMiB / 2, kFresh};
  std::array<int, kThreads> failures{};
  std::array<std::size_t, kThreads> mostRegions{};

  auto run = [&](int thread) {
    struct Held {
      std::uint8_t* block;
      std::size_t size;
      std::uint32_t stamp;
    };
    std::mt19937 random(12345u + static_cast<unsigned>(thread));
    std::vector<Held> held;
    auto stampOf = [](const Held& h, std::size_t at) { return static_cast<std::uint8_t>(h.stamp + at); };
    auto release = [&](std::size_t index) {
      const Held h = held[index];
      for (std::size_t i = 0; i < 16; ++i) {
        if (h.block[i] != stampOf(h, i) || h.block[h.size - 1 - i] != stampOf(h, i + 16)) ++failures[thread];
      }
      allocator.Raw().Free(h.block);
      held.erase(held.begin() + static_cast<std::ptrdiff_t>(index));
    };
    // The walk takes the allocator's mutex, so it checks the chains between the other thread's
    // operations as well.
    auto walk = [&] { mostRegions[thread] = std::max(mostRegions[thread], Walk(allocator.Raw()).size()); };
    for (int step = 0; step < kSteps; ++step) {
      if (held.empty() || (held.size() < 4 && random() % 2 == 0)) {
        const std::size_t size = sizes[random() % std::size(sizes)];
        auto* block = static_cast<std::uint8_t*>(allocator.Raw().Allocate(size));
        if (block == nullptr) {
          ++failures[thread];
          continue;
        }
        Held h{block, size, static_cast<std::uint32_t>(step * kThreads + thread)};
        for (std::size_t i = 0; i < 16; ++i) {
          block[i] = stampOf(h, i);
          block[size - 1 - i] = stampOf(h, i + 16);
        }
        held.push_back(h);
      } else {
        release(random() % held.size());
      }
      walk();
    }
    while (!held.empty()) release(held.size() - 1);
  };

  OrvTest::RunOnThreadsTogether(kThreads, run);

  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << "thread " << t;
  EXPECT_GT(std::max(mostRegions[0], mostRegions[1]), 2u) << "the run should add regions";
  allocator.Check();
  ASSERT_EQ(allocator.Regions().size(), 1u);
  EXPECT_EQ(allocator.Region(0).blocks, (std::vector<BlockView>{{0, kFresh, false}}));
}

}  // namespace
