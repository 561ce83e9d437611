// The big-chunk allocator: buffers of 1 MiB and more (the data of memory streams) are carved
// first-fit from a few large regions taken once from the general heap, so that growing streams
// do not churn the process allocator. Smaller requests go straight to the general heap.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/memory/global_allocation.h"
#include "core/sync/mutex.h"

namespace Orvan {

// Requests below this go to the general heap.
inline constexpr std::size_t kBigChunkMinimumRequest = 1048576;
// Nominal size of every region of the process-wide allocator (300 MiB).
inline constexpr std::uint32_t kBigChunkRegionSize = 314572800;
// A region's memory is its nominal size plus this much.
inline constexpr std::uint32_t kBigChunkRegionSlack = 4096;
// A block costs a 16-byte header before its payload and 16 bytes after it.
inline constexpr std::uint32_t kBigChunkHeaderSize = 16;
inline constexpr std::uint32_t kBigChunkBlockOverhead = 32;
// A free block is split only when more than this many bytes would be left over.
inline constexpr std::uint32_t kBigChunkSplitThreshold = 512;
// An empty region goes back once the region before it is used to this percentage or less.
inline constexpr std::uint32_t kBigChunkReleasePercent = 85;
// Largest request served from regions: payloads are kept in 32-bit header words, 16-byte rounded.
inline constexpr std::size_t kBigChunkMaximumRequest = 0xFFFFFFF0u;
// Largest nominal region size whose memory (and so every distance and used-byte sum) fits 32 bits.
inline constexpr std::uint32_t kBigChunkMaximumRegionSize = 0xFFFFFFF0u - kBigChunkRegionSlack;

// The 16-byte header before every block of a region.
struct TBigChunkBlockHeader {
  // Bit 0: the block has a successor. Bits 1-31: distance in bytes from the previous block's
  // header (0 for a region's first block); distances are multiples of 16.
  std::uint32_t link;
  // Bit 0: in use. Bits 1-31: payload size in bytes, a multiple of 16.
  std::uint32_t payload;
  std::uint32_t unused[2];
};
static_assert(sizeof(TBigChunkBlockHeader) == kBigChunkHeaderSize);

// A region record, allocated from the general heap. Sizes and counts are 32-bit; the three
// addresses are host pointers.
struct TBigChunkRegion {
  std::uint32_t nominalSize;
  TBigChunkBlockHeader* firstBlock;
  char* base;  // the region's memory; the same address as the first block
  std::uint32_t liveBlocks;
  std::uint32_t usedBytes;  // sum of the payloads of the live blocks
  TBigChunkRegion* next;
};

class TBigChunkAllocator {
 public:
  // Adds the first region (std::bad_alloc when the general heap cannot supply it). The region
  // size must be a non-zero multiple of 16 up to kBigChunkMaximumRegionSize
  // (std::invalid_argument otherwise); only tests pass another size than the process's.
  explicit TBigChunkAllocator(std::uint32_t regionSize = kBigChunkRegionSize);
  // Gives back every region, whatever it still holds.
  ~TBigChunkAllocator();
  TBigChunkAllocator(const TBigChunkAllocator&) = delete;
  TBigChunkAllocator& operator=(const TBigChunkAllocator&) = delete;

  // Null for size 0, for sizes above kBigChunkMaximumRequest and when a fresh region cannot hold
  // the request (that region stays in the list). Sizes below 1 MiB come from the general heap.
  // std::bad_alloc when the general heap cannot supply a region.
  void* Allocate(std::size_t size);
  // Null is ignored; a block outside every region goes back to the general heap.
  void Free(void* block);

  // The process-wide instance, created at core start-up after the general heap and destroyed
  // before it. Create does nothing when the instance exists and leaves none behind when it
  // throws; Destroy does nothing when there is none.
  static void Create();
  static void Destroy();

 private:
  friend struct TBigChunkAllocatorTestAccess;

  TBigChunkRegion* AddRegion(std::uint32_t nominalSize);
  void ReleaseRegion(TBigChunkRegion* region);
  void ReleaseEmptyRegions();

  TMutex mutex_;
  TBigChunkRegion* firstRegion_;
};

TBigChunkAllocator* GetBigChunkAllocator();

// The process-wide entries; the domain record is passed along and ignored.
void* AllocateFromBigChunkHeap(std::size_t size, const Domain::TMemoryDomainRecord* domain = &Domain::AllDomain);
void FreeToBigChunkHeap(void* block);

// Tag of the allocator of memory-stream buffers.
struct TBigChunkBuffer {};

// Memory-stream buffers: n bytes from the big-chunk heap. Unlike the other instances it passes a
// null result on; its callers turn null into std::bad_alloc.
template <>
struct default_allocator<TBigChunkBuffer> {
  std::uint8_t* allocate(std::size_t n) { return static_cast<std::uint8_t*>(AllocateFromBigChunkHeap(n)); }
  void deallocate(std::uint8_t* p, std::size_t = 0) noexcept { FreeToBigChunkHeap(p); }
};

}  // namespace Orvan
