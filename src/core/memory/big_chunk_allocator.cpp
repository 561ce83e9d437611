// Regions hold their blocks in address order, each behind a 16-byte header that links it to its
// predecessor by distance, so that a free can merge with both neighbours without a search.
#include "core/memory/big_chunk_allocator.h"

#include <new>
#include <stdexcept>

#include "core/memory/heap.h"

namespace Orvan {

namespace {

TBigChunkAllocator* g_bigChunkAllocator = nullptr;

constexpr std::uint32_t kFlagBit = 1;

inline std::uint32_t Distance(const TBigChunkBlockHeader* header) { return header->link & ~kFlagBit; }
inline bool HasSuccessor(const TBigChunkBlockHeader* header) { return (header->link & kFlagBit) != 0; }
inline std::uint32_t Payload(const TBigChunkBlockHeader* header) { return header->payload & ~kFlagBit; }
inline bool InUse(const TBigChunkBlockHeader* header) { return (header->payload & kFlagBit) != 0; }

inline void SetDistance(TBigChunkBlockHeader* header, std::uint32_t distance) {
  header->link = distance | (header->link & kFlagBit);
}
inline void SetPayload(TBigChunkBlockHeader* header, std::uint32_t payload) {
  header->payload = payload | (header->payload & kFlagBit);
}

inline TBigChunkBlockHeader* At(void* address) { return static_cast<TBigChunkBlockHeader*>(address); }
inline char* Bytes(TBigChunkBlockHeader* header) { return reinterpret_cast<char*>(header); }

inline TBigChunkBlockHeader* Successor(TBigChunkBlockHeader* header) {
  return At(Bytes(header) + Payload(header) + kBigChunkBlockOverhead);
}
inline TBigChunkBlockHeader* Predecessor(TBigChunkBlockHeader* header) { return At(Bytes(header) - Distance(header)); }

inline void* PayloadOf(TBigChunkBlockHeader* header) { return Bytes(header) + kBigChunkHeaderSize; }

// First fit over the region's blocks; null when no free block holds n bytes.
void* AllocateInRegion(TBigChunkRegion* region, std::uint32_t n) {
  TBigChunkBlockHeader* block = region->firstBlock;
  for (;;) {
    const std::uint32_t s = Payload(block);
    if (!InUse(block) && s >= n) {
      // A leftover of 512 bytes or less is not worth a block of its own.
      if (std::uint64_t{n} + kBigChunkSplitThreshold >= s) {
        block->payload |= kFlagBit;
        ++region->liveBlocks;
        region->usedBytes += s;
        return PayloadOf(block);
      }
      // Carve the new block from the end so the free part stays in front, where the next
      // first-fit walk finds it at once.
      TBigChunkBlockHeader* carved = At(Bytes(block) + (s - n));
      const bool hadSuccessor = HasSuccessor(block);
      new (carved) TBigChunkBlockHeader{(s - n) | (hadSuccessor ? kFlagBit : 0), n | kFlagBit, {0, 0}};
      if (hadSuccessor) SetDistance(Successor(carved), n + kBigChunkBlockOverhead);
      block->payload = s - n - kBigChunkBlockOverhead;  // stays free
      block->link |= kFlagBit;
      ++region->liveBlocks;
      region->usedBytes += n;
      return PayloadOf(carved);
    }
    if (!HasSuccessor(block)) return nullptr;
    block = Successor(block);
  }
}

// Merges `block` into its predecessor `into`, which takes over its successor.
void MergeInto(TBigChunkBlockHeader* into, TBigChunkBlockHeader* block) {
  SetPayload(into, Payload(into) + Payload(block) + kBigChunkBlockOverhead);
  if (HasSuccessor(block)) {
    into->link |= kFlagBit;
    SetDistance(Successor(into), Payload(into) + kBigChunkBlockOverhead);
  } else {
    into->link &= ~kFlagBit;
  }
}

void FreeInRegion(TBigChunkRegion* region, void* payload) {
  TBigChunkBlockHeader* block = At(static_cast<char*>(payload) - kBigChunkHeaderSize);
  block->payload &= ~kFlagBit;
  --region->liveBlocks;
  region->usedBytes -= Payload(block);
  if (Distance(block) != 0) {
    TBigChunkBlockHeader* previous = Predecessor(block);
    if (!InUse(previous)) {
      MergeInto(previous, block);
      block = previous;
    }
  }
  if (HasSuccessor(block)) {
    TBigChunkBlockHeader* next = Successor(block);
    if (!InUse(next)) MergeInto(block, next);
  }
}

bool RegionContains(const TBigChunkRegion* region, const void* block) {
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  const auto base = reinterpret_cast<std::uintptr_t>(region->base);
  return address >= base + kBigChunkHeaderSize &&
         address <= base + region->nominalSize + (kBigChunkRegionSlack - kBigChunkBlockOverhead);
}

}  // namespace

TBigChunkAllocator::TBigChunkAllocator(std::uint32_t regionSize) : firstRegion_(nullptr) {
  if (regionSize == 0 || regionSize % 16 != 0 || regionSize > kBigChunkMaximumRegionSize) {
    throw std::invalid_argument("big-chunk region size must be a non-zero multiple of 16 within 32 bits");
  }
  TMutexLocker locker(mutex_);
  firstRegion_ = AddRegion(regionSize);
}

TBigChunkAllocator::~TBigChunkAllocator() {
  TMutexLocker locker(mutex_);
  while (firstRegion_ != nullptr) {
    TBigChunkRegion* region = firstRegion_;
    firstRegion_ = region->next;
    ReleaseRegion(region);
  }
}

// A fresh region: one free block, without successor, over all of its memory. Not linked.
TBigChunkRegion* TBigChunkAllocator::AddRegion(std::uint32_t nominalSize) {
  auto* region = static_cast<TBigChunkRegion*>(AllocateFromGeneralHeap(sizeof(TBigChunkRegion)));
  char* memory;
  try {
    memory = static_cast<char*>(AllocateFromGeneralHeap(std::size_t{nominalSize} + kBigChunkRegionSlack));
  } catch (...) {
    FreeToGeneralHeap(region);
    throw;
  }
  auto* first = new (memory)
      TBigChunkBlockHeader{0, nominalSize + (kBigChunkRegionSlack - kBigChunkBlockOverhead), {0, 0}};
  new (region) TBigChunkRegion{nominalSize, first, memory, 0, 0, nullptr};
  return region;
}

void TBigChunkAllocator::ReleaseRegion(TBigChunkRegion* region) {
  FreeToGeneralHeap(region->base);
  FreeToGeneralHeap(region);
}

// An empty region goes back only while the one before it has room to spare, so that a stream
// growing and shrinking around a region's end does not take and give back 300 MiB each time.
void TBigChunkAllocator::ReleaseEmptyRegions() {
  TBigChunkRegion* previous = firstRegion_;
  TBigChunkRegion* region = previous->next;
  while (region != nullptr) {
    const std::uint64_t percent = std::uint64_t{100} * previous->usedBytes / previous->nominalSize;
    if (region->liveBlocks == 0 && percent <= kBigChunkReleasePercent) {
      previous->next = region->next;
      ReleaseRegion(region);
    } else {
      previous = region;
    }
    region = previous->next;
  }
}

void* TBigChunkAllocator::Allocate(std::size_t size) {
  if (size == 0 || size > kBigChunkMaximumRequest) return nullptr;
  if (size < kBigChunkMinimumRequest) return AllocateFromGeneralHeap(size);

  const auto n = static_cast<std::uint32_t>((size + 15) & ~std::size_t{15});
  TMutexLocker locker(mutex_);
  TBigChunkRegion* last = firstRegion_;
  for (TBigChunkRegion* region = firstRegion_; region != nullptr; region = region->next) {
    if (void* block = AllocateInRegion(region, n)) return block;
    last = region;
  }
  // A request too large for any region still leaves its fresh region in the list; the release
  // test gives it back on a later free.
  TBigChunkRegion* fresh = AddRegion(last->nominalSize);
  last->next = fresh;
  return AllocateInRegion(fresh, n);
}

void TBigChunkAllocator::Free(void* block) {
  if (block == nullptr) return;
  TMutexLocker locker(mutex_);
  TBigChunkRegion* region = firstRegion_;
  while (region != nullptr && !RegionContains(region, block)) region = region->next;
  if (region == nullptr) {
    FreeToGeneralHeap(block);
    return;
  }
  FreeInRegion(region, block);
  ReleaseEmptyRegions();
}

void TBigChunkAllocator::Create() {
  if (g_bigChunkAllocator != nullptr) return;
  void* storage = AllocateFromGeneralHeap(sizeof(TBigChunkAllocator));
  try {
    g_bigChunkAllocator = new (storage) TBigChunkAllocator;
  } catch (...) {
    FreeToGeneralHeap(storage);
    throw;
  }
}

void TBigChunkAllocator::Destroy() {
  if (g_bigChunkAllocator == nullptr) return;
  g_bigChunkAllocator->~TBigChunkAllocator();
  FreeToGeneralHeap(g_bigChunkAllocator);
  g_bigChunkAllocator = nullptr;
}

TBigChunkAllocator* GetBigChunkAllocator() { return g_bigChunkAllocator; }

void* AllocateFromBigChunkHeap(std::size_t size, const Domain::TMemoryDomainRecord*) {
  return g_bigChunkAllocator->Allocate(size);
}

void FreeToBigChunkHeap(void* block) { g_bigChunkAllocator->Free(block); }

}  // namespace Orvan
