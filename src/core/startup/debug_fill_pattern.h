// The process-wide debug fill pattern: one of six 32-bit words, chosen before main, with which
// memory that must stay untouched is filled and later checked. The pattern is laid by address: the
// byte at address a holds byte (a mod 4) of the word as it lies in memory, so any range of a filled
// block tests alike.
#pragma once

#include <cstdint>

namespace Orvan {

inline constexpr std::uint32_t kDebugFillPatternCount = 6;
inline constexpr std::uint32_t kDebugFillPatterns[kDebugFillPatternCount] = {0xCDCDCDCD, 0xFFFFFFFF, 0xFF00FF00,
                                                                             0x00FF00FF, 0x55555555, 0xAAAAAAAA};

std::uint32_t GetDebugFillPattern();
// The index of the pattern in kDebugFillPatterns.
std::uint32_t GetDebugFillPatternIndex();

// Writes the pattern over [start, start + size); a null start writes nothing.
void FillWithDebugPattern(void* start, std::uint32_t size);
// Whether every byte of [start, start + size) holds the pattern; true for a null start.
bool IsFilledWithDebugPattern(const void* start, std::uint32_t size);

// Chooses the pattern by the monotonic time stamp modulo 6. The engine's static initialisers run
// it once before main.
void ChooseDebugFillPattern();

// For tests: uses pattern `index` (below kDebugFillPatternCount).
void SetDebugFillPatternForTests(std::uint32_t index);

}  // namespace Orvan
