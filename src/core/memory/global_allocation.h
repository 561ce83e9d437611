// The engine's allocation entries: every byte the process takes from the system goes through
// them, the replaced global operator new/delete included. Blocks are 16-byte aligned and carry
// the process allocator's raw address in the pointer-sized word just before them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>

namespace Orvan {

// Memory domains: passed along by every engine entry for the record, nothing routes on them.
using TMemoryDomain = std::uint32_t;
inline constexpr TMemoryDomain kDomainEngine = 0;       // engine containers, heap front ends, hooks
inline constexpr TMemoryDomain kDomainOperatorNew = 1;  // operator new / operator delete
inline constexpr TMemoryDomain kDomainArray = 2;        // operator new[] / operator delete[]
inline constexpr TMemoryDomain kDomainAligned = 3;      // inner blocks of AllocateAlignedMemory

// Every block is aligned to this and costs this much header room on top of its size.
inline constexpr std::size_t kBlockAlignment = 16;
inline constexpr std::size_t kBlockHeaderSize = 16;

namespace Domain {
// The process-wide domain record. Entries take its address as a trailing argument and ignore it.
// Constant data, defined in the engine's static-initialiser unit.
struct TMemoryDomainRecord {
  std::uint32_t words[3];
  const char* name;
  std::uint8_t enabled;
};
extern TMemoryDomainRecord AllDomain;
// Tag type of the allocator templates that pass the record along.
struct TMemoryDomainTag {};
}  // namespace Domain

// The process allocator under every engine block. Tests replace it to force failures or raw
// addresses 8 bytes past a 16-byte boundary; whatever it returns must be 8-byte aligned so the
// header word always fits between the raw address and the block.
struct TProcessAllocator {
  void* (*allocate)(std::size_t size);
  void* (*reallocate)(void* raw, std::size_t size);
  void (*release)(void* raw);
};
const TProcessAllocator& GetProcessAllocator();
// Test seam: installs another process allocator and returns the previous one.
TProcessAllocator SetProcessAllocatorForTests(const TProcessAllocator& allocator);

[[noreturn]] void ThrowBadAlloc();

// An aligned block of `size` bytes. On exhaustion: null when throwOnFailure is false, otherwise
// std::bad_alloc. Size 0 gives a valid, distinct block.
void* AllocateMemory(TMemoryDomain domain, std::size_t size, bool throwOnFailure);
void* AllocateMemoryNoThrow(TMemoryDomain domain, std::size_t size);
void* AllocateMemoryNoThrow(std::size_t size);
void* AllocateMemoryOrThrow(TMemoryDomain domain, std::size_t size);
// Frees a block of the entries above; null is ignored.
void FreeMemory(TMemoryDomain domain, void* block);
void FreeMemory(void* block);

// Size 0 frees and returns null; a null block is a fresh allocation that returns null on
// failure; otherwise resizes, throwing std::bad_alloc (old block intact) when that fails.
void* ReallocateMemory(void* block, std::size_t size);
// The same entry as seen by the heap implementation.
void* ReallocateHeapMemory(void* block, std::size_t size);

// A block aligned to `alignment` (a power of two, raised to at least the pointer size);
// std::bad_alloc on failure. Freed with FreeAlignedMemory (null ignored).
void* AllocateAlignedMemory(std::size_t alignment, std::size_t size);
void FreeAlignedMemory(void* block);

// count x size zeroed bytes; null on exhaustion or when the product overflows.
void* AllocateZeroedMemory(std::size_t count, std::size_t size);
// An aligned copy of a NUL-terminated text, terminator included; null on exhaustion.
char* DuplicateStringMemory(const char* text);

// Fenced layout for engine users: writes the size at word 0 of the region, 0xDEADBEEF in words
// 1 to 3 and after the `size` user bytes, and returns region + 16. The region must hold size + 20.
void* WriteFencedBlock(void* region, std::uint32_t size);

// A process-wide byte counter offered to engine users; no allocation entry updates it.
std::uint32_t AddAllocatedBytes(std::uint32_t bytes);
std::uint32_t GetAllocatedBytes();

// Engine container allocator: domain 0, throwing.
template <typename T>
struct default_allocator {
  using value_type = T;
  default_allocator() noexcept = default;
  template <typename U>
  default_allocator(const default_allocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) ThrowBadAlloc();
    return static_cast<T*>(AllocateMemoryOrThrow(kDomainEngine, n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t) noexcept { FreeMemory(kDomainEngine, p); }

  template <typename U>
  bool operator==(const default_allocator<U>&) const noexcept {
    return true;
  }
};

}  // namespace Orvan
