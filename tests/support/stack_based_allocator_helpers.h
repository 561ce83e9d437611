// Helpers of the stack-based allocator tests, single-threaded and threaded: the process's shared
// chunk, filling a chunk to a known free size, and forgetting blocks whose chunk is gone.
#pragma once

#include <cstdint>

#include "core/memory/stack_based_allocator.h"

namespace OrvTest {

// Capacity of the shared chunk: 513000 raised to a multiple of 16.
constexpr std::uint32_t kSharedCapacity = 513008;

inline Orvan::TSharedStackBasedBigChunkAllocator& Shared() {
  return *Orvan::TSharedStackBasedBigChunkAllocator::GetInstancePointer();
}

// The size of a block whose cost is exactly `cost` (a multiple of 16, at least 32).
inline std::uint32_t SizeCosting(std::uint32_t cost) { return cost - 20; }

// Takes one block that leaves `left` bytes free in the allocator's current chunk.
inline void FillLeaving(Orvan::TStackBasedAllocator& allocator, Orvan::TStackBasedBlock& filler, std::uint32_t left) {
  const Orvan::TStackBasedAllocator::TChunk* chunk = allocator.GetCurrentChunk();
  allocator.Allocate(filler, SizeCosting(chunk->capacity - chunk->used - left));
}

// Forgets a block whose chunk was destroyed with its allocator.
inline void Disown(Orvan::TStackBasedBlock& block) {
  block.chunk = nullptr;
  block.data = nullptr;
  block.size = 0;
}

}  // namespace OrvTest
