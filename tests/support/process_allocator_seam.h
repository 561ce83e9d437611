// A process allocator for tests, installed through SetProcessAllocatorForTests: it can fail on
// demand, record what it hands out and frees, and place raw addresses either on a 16-byte
// boundary or 8 bytes past one (glibc's malloc always gives the former).
//
// Everything of the process allocates through the installed seam, so a test keeps the window
// between Install and Restore free of anything but the engine calls it checks (no gtest macros),
// and frees inside the window every block it allocated there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/memory/global_allocation.h"

namespace OrvTest {

struct TSeamState {
  bool failAllocate = false;
  bool failReallocate = false;
  // Distance of the raw address past a 16-byte boundary for allocations and reallocations: 0 or 8.
  std::size_t allocateShift = 0;
  std::size_t reallocateShift = 0;
  int allocations = 0;
  int reallocations = 0;
  int releases = 0;
  void* lastRaw = nullptr;       // last address handed out
  void* lastReleased = nullptr;  // last address given back
  std::size_t lastRequest = 0;   // bytes asked for by the last allocation or reallocation
};

extern TSeamState g_seam;

// Installs the test allocator with a fresh state; Restore puts the previous allocator back.
void InstallSeam();
void RestoreSeam();

}  // namespace OrvTest
