#include "support/process_allocator_seam.h"

#include <malloc.h>

#include <cstdlib>
#include <cstring>

namespace OrvTest {

TSeamState g_seam;

namespace {

Orvan::TProcessAllocator g_previous{};

// Each handed-out address q has the real malloc address stored in the word before it; q lies
// 8 or 16 bytes past that address, which is 16-byte aligned.
constexpr std::size_t kSlack = 32;

void* Place(void* real, std::size_t shift) {
  char* q = static_cast<char*>(real) + 8 + (shift == 8 ? 0 : 8);
  reinterpret_cast<void**>(q)[-1] = real;
  return q;
}

void* RealOf(void* q) { return reinterpret_cast<void**>(q)[-1]; }

void* SeamAllocate(std::size_t size) {
  g_seam.lastRequest = size;
  if (g_seam.failAllocate) return nullptr;
  void* real = std::malloc(size + kSlack);
  if (real == nullptr) return nullptr;
  ++g_seam.allocations;
  g_seam.lastRaw = Place(real, g_seam.allocateShift);
  return g_seam.lastRaw;
}

void* SeamReallocate(void* raw, std::size_t size) {
  g_seam.lastRequest = size;
  if (g_seam.failReallocate) return nullptr;
  void* oldReal = RealOf(raw);
  const std::size_t oldUsable =
      malloc_usable_size(oldReal) - static_cast<std::size_t>(static_cast<char*>(raw) - static_cast<char*>(oldReal));
  void* real = std::malloc(size + kSlack);
  if (real == nullptr) return nullptr;
  void* q = Place(real, g_seam.reallocateShift);
  std::memcpy(q, raw, oldUsable < size ? oldUsable : size);
  std::free(oldReal);
  ++g_seam.reallocations;
  g_seam.lastRaw = q;
  return q;
}

void SeamRelease(void* raw) {
  ++g_seam.releases;
  g_seam.lastReleased = raw;
  if (raw != nullptr) std::free(RealOf(raw));
}

}  // namespace

void InstallSeam() {
  g_seam = TSeamState{};
  g_previous = Orvan::SetProcessAllocatorForTests({&SeamAllocate, &SeamReallocate, &SeamRelease});
}

void RestoreSeam() { Orvan::SetProcessAllocatorForTests(g_previous); }

}  // namespace OrvTest
