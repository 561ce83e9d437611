// Heap fronts over the global allocation, and the process-wide string, general and current heaps.
#include "core/memory/heap.h"

#include <cstring>
#include <new>

namespace Orvan {

void* TFakeHeap::Allocate(std::size_t size) { return AllocateMemoryNoThrow(size); }
void TFakeHeap::Free(void* block) { FreeMemory(block); }
void* TFakeHeap::Reallocate(void* block, std::size_t size) { return ReallocateHeapMemory(block, size); }
void TFakeHeap::GetStatistics(HeapStatistics* statistics) {
  if (statistics != nullptr) *statistics = HeapStatistics{};
}

THeap::THeap() : implementation_(new TFakeHeap), lock_(nullptr), liveCount_(0) {}

THeap::~THeap() {
  delete implementation_;
  delete lock_;
}

void* THeap::AllocateNoLock(std::size_t size) {
  void* block = implementation_->Allocate(size);
  if (block != nullptr) liveCount_.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void THeap::FreeNoLock(void* block) {
  if (block == nullptr) return;
  liveCount_.fetch_sub(1, std::memory_order_relaxed);
  implementation_->Free(block);
}

void* THeap::ReallocateNoLock(void* block, std::size_t size) {
  if (size == 0) {
    FreeNoLock(block);
    return nullptr;
  }
  if (block == nullptr) return AllocateNoLock(size);
  return implementation_->Reallocate(block, size);
}

void* THeap::Allocate(std::size_t size) {
  void* block;
  {
    TOptionalMutexLocker locker(lock_);
    block = AllocateNoLock(size);
  }
  if (block == nullptr && size > 0) ThrowBadAlloc();
  return block;
}

void THeap::Free(void* block) {
  TOptionalMutexLocker locker(lock_);
  FreeNoLock(block);
}

void* THeap::Reallocate(void* block, std::size_t size) {
  void* result;
  {
    TOptionalMutexLocker locker(lock_);
    result = ReallocateNoLock(block, size);
  }
  if (result == nullptr && size > 0) ThrowBadAlloc();
  return result;
}

void THeap::GetStatistics(HeapStatistics* statistics) {
  if (implementation_ != nullptr) implementation_->GetStatistics(statistics);
}

namespace {

THeap* g_stringHeap = nullptr;
THeap* g_generalHeap = nullptr;
THeap* g_currentHeap = nullptr;
alignas(THeap) unsigned char g_currentHeapStorage[sizeof(THeap)];

THeap* CreateProcessHeap() {
  void* storage = AllocateMemory(kDomainOperatorNew, sizeof(THeap), true);
  try {
    return new (storage) THeap;
  } catch (...) {
    FreeMemory(kDomainOperatorNew, storage);
    throw;
  }
}

void DestroyProcessHeap(THeap*& heap) {
  if (heap == nullptr) return;
  heap->~THeap();
  FreeMemory(kDomainOperatorNew, heap);
  heap = nullptr;
}

}  // namespace

void CreateStringHeap() {
  if (g_stringHeap == nullptr) g_stringHeap = CreateProcessHeap();
}
void DestroyStringHeap() { DestroyProcessHeap(g_stringHeap); }
THeap* GetStringHeap() { return g_stringHeap; }
void* AllocateFromStringHeap(std::size_t size, const Domain::TMemoryDomainRecord*) {
  return g_stringHeap->Allocate(size);
}
void* ReallocateInStringHeap(void* block, std::size_t size, const Domain::TMemoryDomainRecord*) {
  return g_stringHeap->Reallocate(block, size);
}
void FreeToStringHeap(void* block) { g_stringHeap->Free(block); }
void GetStringHeapStatistics(HeapStatistics* statistics) { g_stringHeap->GetStatistics(statistics); }

void CreateGeneralHeap() {
  if (g_generalHeap == nullptr) g_generalHeap = CreateProcessHeap();
}
void DestroyGeneralHeap() { DestroyProcessHeap(g_generalHeap); }
THeap* GetGeneralHeap() { return g_generalHeap; }
void* AllocateFromGeneralHeap(std::size_t size, const Domain::TMemoryDomainRecord*) {
  return g_generalHeap->Allocate(size);
}
void* ReallocateInGeneralHeap(void* block, std::size_t size) { return g_generalHeap->Reallocate(block, size); }
void FreeToGeneralHeap(void* block) { g_generalHeap->Free(block); }
void GetGeneralHeapStatistics(HeapStatistics* statistics) { g_generalHeap->GetStatistics(statistics); }

void InitCurrentHeap() {
  if (g_currentHeap == nullptr) g_currentHeap = new (g_currentHeapStorage) THeap;
}
void DestroyCurrentHeap() {
  if (g_currentHeap == nullptr) return;
  g_currentHeap->~THeap();
  g_currentHeap = nullptr;
}
THeap* GetCurrentHeap() { return g_currentHeap; }
void* CurrentHeapAllocate(std::size_t size) { return g_currentHeap->Allocate(size); }
void* CurrentHeapReallocate(void* block, std::size_t size) { return g_currentHeap->Reallocate(block, size); }
void CurrentHeapFree(void* block) { g_currentHeap->Free(block); }
char* CurrentHeapDuplicateString(const char* text) {
  const std::size_t length = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(g_currentHeap->Allocate(length));
  std::memcpy(copy, text, length);
  return copy;
}

void* PlainAllocateNoThrow(std::size_t size) { return AllocateMemoryNoThrow(kDomainEngine, size); }
void* PlainAllocateZeroed(std::size_t count, std::size_t size) { return AllocateZeroedMemory(count, size); }
void* PlainReallocate(void* block, std::size_t size) { return ReallocateMemory(block, size); }
void PlainFree(void* block) { FreeMemory(kDomainEngine, block); }

}  // namespace Orvan
