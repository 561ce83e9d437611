// Engine dynamic arrays and their shared growth rule.
#pragma once

#include <cstdint>

namespace Orvan {

// The growth rule: first 4 slots (1 above 256-byte elements), doubling while twice the bytes stay
// within 240, then the most elements whose bytes plus the 16-byte block header fit the smallest
// power of two holding one and a half times the current bytes.
std::uint32_t ComputeGrownCapacity(std::uint32_t capacity, std::uint32_t elementSize);
// The same in 64 bits, for callers that must see when the result no longer fits 32 bits.
std::uint64_t ComputeGrownCapacity64(std::uint64_t capacity, std::uint64_t elementSize);

}  // namespace Orvan
