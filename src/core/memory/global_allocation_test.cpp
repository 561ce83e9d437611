#include "core/memory/global_allocation.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "support/process_allocator_seam.h"

namespace {

using namespace Orvan;
using OrvTest::g_seam;
using OrvTest::InstallSeam;
using OrvTest::RestoreSeam;

std::uintptr_t Address(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }
void* HeaderWord(void* block) { return reinterpret_cast<void**>(block)[-1]; }

// One row per allocation entry: each must hand out a 16-byte-aligned block whose header word holds
// the raw address, and give exactly that address back when freed.
struct EntryCase {
  const char* name;
  void* (*allocate)(std::size_t);
  void (*release)(void*);
  bool sizeZeroIsAFree = false;  // realloc to 0 frees instead of allocating
};

const EntryCase kEntries[] = {
    {"AllocateMemory", [](std::size_t n) { return AllocateMemory(kDomainEngine, n, true); },
     [](void* p) { FreeMemory(kDomainEngine, p); }},
    {"AllocateMemoryNoThrow", [](std::size_t n) { return AllocateMemoryNoThrow(kDomainOperatorNew, n); },
     [](void* p) { FreeMemory(p); }},
    {"AllocateMemoryOrThrow", [](std::size_t n) { return AllocateMemoryOrThrow(kDomainArray, n); },
     [](void* p) { FreeMemory(kDomainArray, p); }},
    {"operator new", [](std::size_t n) { return ::operator new(n); }, [](void* p) { ::operator delete(p); }},
    {"operator new[]", [](std::size_t n) { return ::operator new[](n); }, [](void* p) { ::operator delete[](p); }},
    {"operator new nothrow", [](std::size_t n) { return ::operator new(n, std::nothrow); },
     [](void* p) { ::operator delete(p, std::nothrow); }},
    {"AllocateZeroedMemory", [](std::size_t n) { return AllocateZeroedMemory(n, 1); },
     [](void* p) { FreeMemory(p); }},
    {"ReallocateMemory from null", [](std::size_t n) { return ReallocateMemory(nullptr, n); },
     [](void* p) { FreeMemory(p); }, true},
};

TEST(GlobalAllocation, EveryEntryAlignsAndGivesBackTheRawAddress) {
  for (const EntryCase& entry : kEntries) {
    for (std::size_t shift : {std::size_t{0}, std::size_t{8}}) {
      for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{17}, std::size_t{4096}}) {
        if (size == 0 && entry.sizeZeroIsAFree) continue;
        InstallSeam();
        g_seam.allocateShift = shift;
        void* block = entry.allocate(size);
        void* raw = g_seam.lastRaw;
        const std::size_t request = g_seam.lastRequest;
        void* header = HeaderWord(block);
        entry.release(block);
        void* released = g_seam.lastReleased;
        RestoreSeam();

        SCOPED_TRACE(::testing::Message() << entry.name << " size " << size << " shift " << shift);
        EXPECT_EQ(Address(block) % 16, 0u);
        EXPECT_GT(Address(block), Address(raw));
        EXPECT_LE(Address(block), Address(raw) + 16);
        EXPECT_EQ(header, raw);
        EXPECT_EQ(released, raw);
        EXPECT_EQ(request, size + 16);
      }
    }
  }
}

TEST(GlobalAllocation, OrdinaryNewGoesThroughTheEngineEntry) {
  InstallSeam();
  auto* text = new std::string(200, 'x');
  auto* numbers = new std::vector<int>(100, 7);
  const int allocations = g_seam.allocations;
  delete numbers;
  delete text;
  const int releases = g_seam.releases;
  RestoreSeam();
  EXPECT_GE(allocations, 4);  // two objects and their buffers
  EXPECT_EQ(releases, allocations);
}

TEST(GlobalAllocation, SizeZeroGivesDistinctValidBlocks) {
  void* a = ::operator new(0);
  void* b = ::operator new(0);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(a, b);
  ::operator delete(a);
  ::operator delete(b);
  ::operator delete(nullptr);
  FreeMemory(kDomainEngine, nullptr);
  FreeAlignedMemory(nullptr);
}

TEST(GlobalAllocation, ExhaustionIsNullOrBadAllocNeverASmallBlock) {
  InstallSeam();
  g_seam.failAllocate = true;
  void* noThrow = AllocateMemory(kDomainEngine, 64, false);
  void* noThrow2 = AllocateMemoryNoThrow(64);
  void* nothrowNew = ::operator new(64, std::nothrow);
  void* nothrowArray = ::operator new[](64, std::nothrow);
  void* fromNull = ReallocateMemory(nullptr, 64);
  void* zeroed = AllocateZeroedMemory(4, 16);
  bool threw = false;
  try {
    AllocateMemoryOrThrow(kDomainEngine, 64);
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  bool newThrew = false;
  try {
    (void)::operator new(64);
  } catch (const std::bad_alloc&) {
    newThrew = true;
  }
  // Sizes whose header would overflow fail without reaching the process allocator.
  g_seam.failAllocate = false;
  const int before = g_seam.allocations;
  void* huge = AllocateMemoryNoThrow(std::numeric_limits<std::size_t>::max() - 8);
  void* hugeZeroed = AllocateZeroedMemory(std::numeric_limits<std::size_t>::max() / 2, 3);
  bool hugeThrew = false;
  try {
    AllocateMemoryOrThrow(kDomainEngine, std::numeric_limits<std::size_t>::max());
  } catch (const std::bad_alloc&) {
    hugeThrew = true;
  }
  const int after = g_seam.allocations;
  RestoreSeam();

  EXPECT_EQ(noThrow, nullptr);
  EXPECT_EQ(noThrow2, nullptr);
  EXPECT_EQ(nothrowNew, nullptr);
  EXPECT_EQ(nothrowArray, nullptr);
  EXPECT_EQ(fromNull, nullptr);
  EXPECT_EQ(zeroed, nullptr);
  EXPECT_TRUE(threw);
  EXPECT_TRUE(newThrew);
  EXPECT_EQ(huge, nullptr);
  EXPECT_EQ(hugeZeroed, nullptr);
  EXPECT_TRUE(hugeThrew);
  EXPECT_EQ(after, before);
}

TEST(GlobalAllocation, ReallocateToZeroFreesAndReturnsNull) {
  InstallSeam();
  void* block = AllocateMemoryOrThrow(kDomainEngine, 32);
  void* result = ReallocateMemory(block, 0);
  void* nullResult = ReallocateMemory(nullptr, 0);
  const int releases = g_seam.releases;
  RestoreSeam();
  EXPECT_EQ(result, nullptr);
  EXPECT_EQ(nullResult, nullptr);
  EXPECT_EQ(releases, 1);  // only the real block reached the process allocator
}

// The reallocated raw address may sit at another distance from the next 16-byte boundary; the
// contents must then be moved to the new block start.
TEST(GlobalAllocation, ReallocationKeepsContentsAcrossAPhaseChange) {
  struct PhaseCase {
    std::size_t allocateShift;
    std::size_t reallocateShift;
    std::size_t from;
    std::size_t to;
  };
  const PhaseCase cases[] = {
      {0, 8, 100, 1000}, {8, 0, 100, 1000}, {0, 0, 100, 1000}, {8, 8, 64, 4096}, {0, 8, 1000, 10},
  };
  for (const PhaseCase& c : cases) {
    InstallSeam();
    g_seam.allocateShift = c.allocateShift;
    g_seam.reallocateShift = c.reallocateShift;
    auto* block = static_cast<unsigned char*>(AllocateMemoryOrThrow(kDomainEngine, c.from));
    for (std::size_t i = 0; i < c.from; ++i) block[i] = static_cast<unsigned char>(i * 7 + 1);
    auto* grown = static_cast<unsigned char*>(ReallocateMemory(block, c.to));
    void* raw = g_seam.lastRaw;
    void* header = HeaderWord(grown);
    bool intact = true;
    for (std::size_t i = 0; i < std::min(c.from, c.to); ++i) {
      intact = intact && grown[i] == static_cast<unsigned char>(i * 7 + 1);
    }
    FreeMemory(grown);
    RestoreSeam();
    SCOPED_TRACE(::testing::Message() << "shift " << c.allocateShift << "->" << c.reallocateShift << " size "
                                      << c.from << "->" << c.to);
    EXPECT_TRUE(intact);
    EXPECT_EQ(Address(grown) % 16, 0u);
    EXPECT_EQ(header, raw);
  }
}

TEST(GlobalAllocation, FailedReallocationThrowsAndKeepsTheBlock) {
  auto* block = static_cast<char*>(AllocateMemoryOrThrow(kDomainEngine, 16));
  std::memcpy(block, "still here", 11);
  InstallSeam();
  g_seam.failReallocate = true;
  bool threw = false;
  try {
    ReallocateMemory(block, 1 << 20);
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  RestoreSeam();
  EXPECT_TRUE(threw);
  EXPECT_STREQ(block, "still here");
  FreeMemory(block);
}

TEST(GlobalAllocation, AnyAlignmentBlocks) {
  struct AlignCase {
    std::size_t alignment;
    std::size_t expected;  // alignment the block must have
    bool sixteenAligned;   // whether it is also 16-byte aligned
  };
  const AlignCase cases[] = {{1, 8, false}, {4, 8, false}, {8, 8, false}, {16, 16, true}, {64, 64, true},
                             {4096, 4096, true}};
  for (const AlignCase& c : cases) {
    InstallSeam();
    void* block = AllocateAlignedMemory(c.alignment, 40);
    void* inner = HeaderWord(block);
    std::memset(block, 0xAB, 40);
    FreeAlignedMemory(block);
    const int releases = g_seam.releases;
    const int allocations = g_seam.allocations;
    RestoreSeam();
    SCOPED_TRACE(c.alignment);
    EXPECT_EQ(Address(block) % c.expected, 0u);
    EXPECT_EQ(Address(block) % 16 == 0, c.sixteenAligned);
    EXPECT_EQ(Address(inner) % 16, 0u);
    // The block lies past the inner block by at most the alignment; below 16 by exactly it.
    EXPECT_GT(Address(block), Address(inner));
    EXPECT_LE(Address(block) - Address(inner), c.expected);
    if (c.expected < 16) {
      EXPECT_EQ(Address(block) - Address(inner), c.expected);
    }
    EXPECT_EQ(allocations, 1);
    EXPECT_EQ(releases, 1);
  }
}

struct alignas(128) TOverAligned {
  char bytes[200];
};

// The over-aligned operators must go through the any-alignment entry: an inner block of
// alignment + size bytes whose own header word holds the raw address, the block inside it.
TEST(GlobalAllocation, OverAlignedNewUsesTheAlignedEntry) {
  struct OverAlignedCase {
    const char* name;
    void* (*allocate)();
    void (*release)(void*);
    std::size_t alignment;
    std::size_t size;
  };
  const OverAlignedCase cases[] = {
      {"new of an over-aligned type", []() -> void* { return new TOverAligned; },
       [](void* p) { delete static_cast<TOverAligned*>(p); }, 128, sizeof(TOverAligned)},
      {"new[] of an over-aligned type", []() -> void* { return new TOverAligned[3]; },
       [](void* p) { delete[] static_cast<TOverAligned*>(p); }, 128, 3 * sizeof(TOverAligned)},
      {"operator new nothrow", [] { return ::operator new(10, std::align_val_t{256}, std::nothrow); },
       [](void* p) { ::operator delete(p, std::align_val_t{256}, std::nothrow); }, 256, 10},
      {"operator new[] nothrow", [] { return ::operator new[](10, std::align_val_t{32}, std::nothrow); },
       [](void* p) { ::operator delete[](p, std::align_val_t{32}); }, 32, 10},
  };
  for (const OverAlignedCase& c : cases) {
    InstallSeam();
    void* block = c.allocate();
    void* inner = HeaderWord(block);
    void* innerHeader = HeaderWord(inner);
    void* raw = g_seam.lastRaw;
    const std::size_t request = g_seam.lastRequest;
    const int allocations = g_seam.allocations;
    c.release(block);
    void* released = g_seam.lastReleased;
    const int releases = g_seam.releases;
    RestoreSeam();

    SCOPED_TRACE(c.name);
    EXPECT_EQ(Address(block) % c.alignment, 0u);
    EXPECT_EQ(innerHeader, raw);
    EXPECT_EQ(request, c.alignment + c.size + 16);
    EXPECT_GT(Address(block), Address(inner));
    EXPECT_LE(Address(block) - Address(inner), c.alignment);
    EXPECT_EQ(allocations, 1);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(released, raw);
  }

  // Exhaustion: the nothrow forms give null, the others std::bad_alloc.
  InstallSeam();
  g_seam.failAllocate = true;
  void* nothrowBlock = ::operator new(10, std::align_val_t{64}, std::nothrow);
  void* nothrowArray = ::operator new[](10, std::align_val_t{64}, std::nothrow);
  bool threw = false;
  try {
    (void)::operator new(10, std::align_val_t{64});
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  RestoreSeam();
  EXPECT_EQ(nothrowBlock, nullptr);
  EXPECT_EQ(nothrowArray, nullptr);
  EXPECT_TRUE(threw);
}

TEST(GlobalAllocation, ZeroedAndDuplicatedBlocks) {
  auto* zeroed = static_cast<unsigned char*>(AllocateZeroedMemory(10, 12));
  bool allZero = true;
  for (int i = 0; i < 120; ++i) allZero = allZero && zeroed[i] == 0;
  EXPECT_TRUE(allZero);
  FreeMemory(zeroed);

  char* copy = DuplicateStringMemory("AllDomain");
  EXPECT_STREQ(copy, "AllDomain");
  EXPECT_EQ(Address(copy) % 16, 0u);
  FreeMemory(copy);
}

// The fence words sit around the user bytes and nothing else of the region is touched.
TEST(GlobalAllocation, FencedBlockLayout) {
  for (std::uint32_t size : {0u, 5u, 8u, 13u}) {
    SCOPED_TRACE(size);
    alignas(16) unsigned char region[16 + 16 + 4 + 8];
    std::memset(region, 0x55, sizeof(region));
    void* user = WriteFencedBlock(region, size);
    std::uint32_t words[4];
    std::memcpy(words, region, sizeof(words));
    std::uint32_t trailer;
    std::memcpy(&trailer, region + 16 + size, 4);
    EXPECT_EQ(user, region + 16);
    EXPECT_EQ(words[0], size);
    EXPECT_EQ(words[1], 0xDEADBEEFu);
    EXPECT_EQ(words[2], 0xDEADBEEFu);
    EXPECT_EQ(words[3], 0xDEADBEEFu);
    EXPECT_EQ(trailer, 0xDEADBEEFu);
    bool untouched = true;
    for (std::size_t i = 16; i < 16 + size; ++i) untouched = untouched && region[i] == 0x55;
    for (std::size_t i = 16 + size + 4; i < sizeof(region); ++i) untouched = untouched && region[i] == 0x55;
    EXPECT_TRUE(untouched);
  }
}

// The counter is offered to engine users: it adds, and no allocation entry changes it.
TEST(GlobalAllocation, AllocatedByteCounter) {
  const std::uint32_t before = GetAllocatedBytes();
  EXPECT_EQ(AddAllocatedBytes(40), 40u);
  EXPECT_EQ(GetAllocatedBytes(), before + 40);
  void* block = AllocateMemoryOrThrow(kDomainEngine, 1000);
  auto* object = new std::string(300, 'x');
  FreeMemory(kDomainEngine, block);
  delete object;
  EXPECT_EQ(GetAllocatedBytes(), before + 40);
}

TEST(GlobalAllocation, AllDomainRecord) {
  EXPECT_EQ(Domain::AllDomain.words[0], 0u);
  EXPECT_EQ(Domain::AllDomain.words[1], 0u);
  EXPECT_EQ(Domain::AllDomain.words[2], 0u);
  EXPECT_STREQ(Domain::AllDomain.name, "AllDomain");
  EXPECT_EQ(Domain::AllDomain.enabled, 1);
}

// The container allocator takes n x sizeof(T) bytes through the engine's throwing entry (one
// process-allocator call with the header room, the raw address in the header word) and gives
// them back through the engine's free.
template <typename T>
void ExpectDefaultAllocatorServes() {
  SCOPED_TRACE(sizeof(T));
  InstallSeam();
  const T* data = nullptr;
  void* header = nullptr;
  void* raw = nullptr;
  std::size_t request = 0;
  int allocations = 0;
  {
    std::vector<T, default_allocator<T>> elements;
    elements.reserve(5);
    data = elements.data();
    header = HeaderWord(const_cast<T*>(data));
    raw = g_seam.lastRaw;
    request = g_seam.lastRequest;
    allocations = g_seam.allocations;
  }
  void* released = g_seam.lastReleased;
  const int releases = g_seam.releases;
  g_seam.failAllocate = true;
  bool threw = false;
  try {
    std::vector<T, default_allocator<T>> elements(3);
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  RestoreSeam();

  EXPECT_EQ(Address(data) % 16, 0u);
  EXPECT_EQ(allocations, 1);
  EXPECT_EQ(request, 5 * sizeof(T) + 16);
  EXPECT_EQ(header, raw);
  EXPECT_EQ(releases, 1);
  EXPECT_EQ(released, raw);
  EXPECT_TRUE(threw);
}

TEST(GlobalAllocation, DefaultAllocatorServesStandardContainers) {
  struct Twelve {
    std::uint32_t words[3];
  };
  struct ThirtyTwo {
    std::uint64_t words[4];
  };
  ExpectDefaultAllocatorServes<char>();
  ExpectDefaultAllocatorServes<std::uint16_t>();
  ExpectDefaultAllocatorServes<std::uint32_t>();
  ExpectDefaultAllocatorServes<double>();
  ExpectDefaultAllocatorServes<Twelve>();
  ExpectDefaultAllocatorServes<ThirtyTwo>();
}

}  // namespace
