// The engine's allocation entries and the replaced global operators. Each block is served by one
// call of the process allocator for size + 16 bytes; the block starts at the first 16-byte
// boundary strictly above the raw address, and the word before it holds that raw address.
#include "core/memory/global_allocation.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace Orvan {

namespace {

void* SystemAllocate(std::size_t size) { return std::malloc(size); }
void* SystemReallocate(void* raw, std::size_t size) { return std::realloc(raw, size); }
void SystemRelease(void* raw) { std::free(raw); }

// operator new runs before main, so the seam must be usable without dynamic initialisation.
constinit TProcessAllocator g_processAllocator = {&SystemAllocate, &SystemReallocate, &SystemRelease};

std::atomic<std::uint32_t> g_allocatedBytes{0};

inline void*& RawWordBefore(void* block) { return reinterpret_cast<void**>(block)[-1]; }

inline void* AlignAboveRaw(void* raw) {
  auto address = reinterpret_cast<std::uintptr_t>(raw);
  return reinterpret_cast<void*>((address + kBlockHeaderSize) & ~std::uintptr_t{kBlockAlignment - 1});
}

// Raw allocation with the header laid; null on exhaustion or when size + header overflows.
inline void* AllocateAligned(std::size_t size) {
  if (size > std::numeric_limits<std::size_t>::max() - kBlockHeaderSize) return nullptr;
  // Straight to malloc unless a test replaced it: this sits under every operator new.
  void* raw = g_processAllocator.allocate == &SystemAllocate ? std::malloc(size + kBlockHeaderSize)
                                                             : g_processAllocator.allocate(size + kBlockHeaderSize);
  if (raw == nullptr) return nullptr;
  void* block = AlignAboveRaw(raw);
  RawWordBefore(block) = raw;
  return block;
}

inline void FreeAligned(void* block) {
  if (block == nullptr) return;
  void* raw = RawWordBefore(block);
  if (g_processAllocator.release == &SystemRelease) {
    std::free(raw);
  } else {
    g_processAllocator.release(raw);
  }
}

}  // namespace

const TProcessAllocator& GetProcessAllocator() { return g_processAllocator; }

TProcessAllocator SetProcessAllocatorForTests(const TProcessAllocator& allocator) {
  TProcessAllocator previous = g_processAllocator;
  g_processAllocator = allocator;
  return previous;
}

void ThrowBadAlloc() { throw std::bad_alloc(); }

void* AllocateMemory(TMemoryDomain, std::size_t size, bool throwOnFailure) {
  void* block = AllocateAligned(size);
  if (block == nullptr && throwOnFailure) ThrowBadAlloc();
  return block;
}

void* AllocateMemoryNoThrow(TMemoryDomain, std::size_t size) { return AllocateAligned(size); }
void* AllocateMemoryNoThrow(std::size_t size) { return AllocateAligned(size); }

void* AllocateMemoryOrThrow(TMemoryDomain, std::size_t size) {
  void* block = AllocateAligned(size);
  if (block == nullptr) ThrowBadAlloc();
  return block;
}

void FreeMemory(TMemoryDomain, void* block) { FreeAligned(block); }
void FreeMemory(void* block) { FreeAligned(block); }

void* ReallocateMemory(void* block, std::size_t size) {
  if (size == 0) {
    FreeMemory(kDomainEngine, block);
    return nullptr;
  }
  if (block == nullptr) return AllocateAligned(size);

  void* raw = RawWordBefore(block);
  const std::size_t offset = static_cast<char*>(block) - static_cast<char*>(raw);
  if (size > std::numeric_limits<std::size_t>::max() - offset - kBlockHeaderSize) ThrowBadAlloc();
  void* newRaw = g_processAllocator.reallocate(raw, offset + size + kBlockHeaderSize);
  if (newRaw == nullptr) ThrowBadAlloc();

  // The contents now lie at newRaw + offset; when the new raw address has another distance to
  // the next 16-byte boundary they have to move to the new block start.
  void* newBlock = AlignAboveRaw(newRaw);
  char* contents = static_cast<char*>(newRaw) + offset;
  if (newBlock != contents) std::memmove(newBlock, contents, size);
  RawWordBefore(newBlock) = newRaw;
  return newBlock;
}

void* ReallocateHeapMemory(void* block, std::size_t size) { return ReallocateMemory(block, size); }

void* AllocateAlignedMemory(std::size_t alignment, std::size_t size) {
  // Below the pointer size the outer header would overlap the inner block's header.
  if (alignment < sizeof(void*)) alignment = sizeof(void*);
  if (size > std::numeric_limits<std::size_t>::max() - alignment) ThrowBadAlloc();
  void* inner = AllocateMemory(kDomainAligned, alignment + size, true);
  auto address = reinterpret_cast<std::uintptr_t>(inner) + alignment;
  void* block = reinterpret_cast<void*>(address & ~(std::uintptr_t{alignment} - 1));
  RawWordBefore(block) = inner;
  return block;
}

void FreeAlignedMemory(void* block) {
  if (block == nullptr) return;
  FreeMemory(kDomainAligned, RawWordBefore(block));
}

void* AllocateZeroedMemory(std::size_t count, std::size_t size) {
  if (size != 0 && count > std::numeric_limits<std::size_t>::max() / size) return nullptr;
  void* block = AllocateAligned(count * size);
  if (block != nullptr) std::memset(block, 0, count * size);
  return block;
}

char* DuplicateStringMemory(const char* text) {
  const std::size_t length = std::strlen(text) + 1;
  void* block = AllocateAligned(length);
  if (block != nullptr) std::memcpy(block, text, length);
  return static_cast<char*>(block);
}

void* WriteFencedBlock(void* region, std::uint32_t size) {
  constexpr std::uint32_t kFence = 0xDEADBEEF;
  auto* words = static_cast<std::uint32_t*>(region);
  words[0] = size;
  words[1] = kFence;
  words[2] = kFence;
  words[3] = kFence;
  char* user = static_cast<char*>(region) + 16;
  std::memcpy(user + size, &kFence, sizeof(kFence));
  return user;
}

std::uint32_t AddAllocatedBytes(std::uint32_t bytes) {
  g_allocatedBytes.fetch_add(bytes, std::memory_order_relaxed);
  return bytes;
}

std::uint32_t GetAllocatedBytes() { return g_allocatedBytes.load(std::memory_order_relaxed); }

}  // namespace Orvan

// ---- Replaced global operators: no allocation of the process reaches the library's allocator.

void* operator new(std::size_t size) {
  return Orvan::AllocateMemory(Orvan::kDomainOperatorNew, size, true);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Orvan::AllocateMemory(Orvan::kDomainOperatorNew, size, false);
}
void* operator new[](std::size_t size) { return Orvan::AllocateMemory(Orvan::kDomainArray, size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return Orvan::AllocateMemory(Orvan::kDomainArray, size, false);
}
void operator delete(void* block) noexcept { Orvan::FreeMemory(Orvan::kDomainOperatorNew, block); }
void operator delete(void* block, const std::nothrow_t&) noexcept {
  Orvan::FreeMemory(Orvan::kDomainOperatorNew, block);
}
void operator delete[](void* block) noexcept { Orvan::FreeMemory(Orvan::kDomainArray, block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  Orvan::FreeMemory(Orvan::kDomainArray, block);
}
void operator delete(void* block, std::size_t) noexcept { ::operator delete(block); }
void operator delete[](void* block, std::size_t) noexcept { ::operator delete[](block); }

void* operator new(std::size_t size, std::align_val_t alignment) {
  return Orvan::AllocateAlignedMemory(static_cast<std::size_t>(alignment), size);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  try {
    return Orvan::AllocateAlignedMemory(static_cast<std::size_t>(alignment), size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return Orvan::AllocateAlignedMemory(static_cast<std::size_t>(alignment), size);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  try {
    return Orvan::AllocateAlignedMemory(static_cast<std::size_t>(alignment), size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void operator delete(void* block, std::align_val_t) noexcept { Orvan::FreeAlignedMemory(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Orvan::FreeAlignedMemory(block);
}
void operator delete[](void* block, std::align_val_t) noexcept { Orvan::FreeAlignedMemory(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept {
  Orvan::FreeAlignedMemory(block);
}
void operator delete(void* block, std::size_t, std::align_val_t alignment) noexcept {
  ::operator delete(block, alignment);
}
void operator delete[](void* block, std::size_t, std::align_val_t alignment) noexcept {
  ::operator delete[](block, alignment);
}
