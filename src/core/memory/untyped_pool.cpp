// The chunk policy shared by every pool, the locked pool's refill and whole-pool operations, and
// the unlocked variants.
#include "core/memory/untyped_pool.h"

#include <cstring>
#include <utility>

#include "core/containers/engine_vector.h"
#include "core/memory/thread_local_heap.h"

namespace Orvan {

std::uint32_t ComputeFirstElementsPerChunk(std::uint32_t requested, std::uint32_t elementSize) {
  std::uint32_t count = requested == kPoolDefaultRequest ? kPoolDefaultElementsPerChunk : requested;
  // A chunk of no element could never serve an allocation.
  if (count == 0) count = 1;
  if (static_cast<std::uint64_t>(count) * elementSize > kPoolFirstChunkBytes - 1) {
    count = kPoolFirstChunkBytes / elementSize;
    if (count == 0) count = 1;
  }
  return count;
}

std::uint32_t ComputeNextElementsPerChunk(std::uint32_t current, std::uint32_t elementSize) {
  if (current > kPoolGrowthMaxElements) return current;
  const std::uint32_t grown = (5 * current + 5) / 4;
  if (static_cast<std::uint64_t>(elementSize) * grown < kPoolChunkBytesLimit) return grown;
  return current;
}

// ---- Chunk list

TPoolChunkList::~TPoolChunkList() {
  if (!IsInline()) FreeStorage(data_);
}

void* TPoolChunkList::AllocateStorage(std::size_t bytes) const {
  if (storage_ == TStorage::GeneralHeap) return AllocateFromGeneralHeap(bytes);
  return AllocateMemoryOrThrow(kDomainEngine, bytes);
}

void TPoolChunkList::FreeStorage(void* block) const {
  if (storage_ == TStorage::GeneralHeap) {
    FreeToGeneralHeap(block);
  } else {
    FreeMemory(kDomainEngine, block);
  }
}

void TPoolChunkList::ReserveOneMore() {
  if (size_ < capacity_) return;
  const std::uint32_t grown = ComputeGrownCapacity(capacity_, sizeof(TPoolChunkRecord));
  auto* storage = static_cast<TPoolChunkRecord*>(AllocateStorage(std::size_t{grown} * sizeof(TPoolChunkRecord)));
  std::memcpy(storage, data_, std::size_t{size_} * sizeof(TPoolChunkRecord));
  if (!IsInline()) FreeStorage(data_);
  data_ = storage;
  capacity_ = grown;
}

void TPoolChunkList::Append(const TPoolChunkRecord& record) {
  ReserveOneMore();
  data_[size_++] = record;
}

void TPoolChunkList::Swap(TPoolChunkList& other) {
  const bool thisInline = IsInline();
  const bool otherInline = other.IsInline();
  TPoolChunkRecord saved[kInlineRecords];
  std::memcpy(saved, inline_, sizeof(saved));
  std::memcpy(inline_, other.inline_, sizeof(saved));
  std::memcpy(other.inline_, saved, sizeof(saved));
  TPoolChunkRecord* otherData = other.data_;
  other.data_ = thisInline ? other.inline_ : data_;
  data_ = otherInline ? inline_ : otherData;
  std::swap(size_, other.size_);
  std::swap(capacity_, other.capacity_);
}

// ---- Shared chunk work

namespace PoolDetail {

void LinkChunkElements(void* start, std::uint32_t elementCount, std::uint32_t elementSize) {
  auto* element = static_cast<unsigned char*>(start);
  for (std::uint32_t i = 0; i + 1 < elementCount; ++i) {
    SetNextOf(element, element + elementSize);
    element += elementSize;
  }
  SetNextOf(element, nullptr);
}

// Adds a chunk of `elementsPerChunk` elements whose memory comes from `allocate(bytes)`, links its
// elements (onto no free list yet) and moves `elementsPerChunk` on to the next chunk's count. The
// record's place comes first, so that a failure to grow the list leaves no chunk behind.
template <typename TAllocate>
TPoolChunkRecord AddLinkedChunk(TPoolChunkList& chunks, std::uint32_t elementSize, std::uint32_t& elementsPerChunk,
                                TAllocate&& allocate) {
  chunks.ReserveOneMore();
  void* start = allocate(std::size_t{elementSize} * elementsPerChunk);
  const TPoolChunkRecord record{reinterpret_cast<std::uintptr_t>(start), elementsPerChunk};
  chunks.Append(record);
  LinkChunkElements(start, elementsPerChunk, elementSize);
  elementsPerChunk = ComputeNextElementsPerChunk(elementsPerChunk, elementSize);
  return record;
}

std::uint32_t ComputeStatistics(const TPoolChunkList& chunks, std::uint32_t elementSize, void* freeHead,
                                TPoolStatistics* statistics) {
  std::uint32_t freeCount = 0;
  for (void* element = freeHead; element != nullptr; element = NextOf(element)) ++freeCount;
  std::uint32_t bytes = 0;
  for (const TPoolChunkRecord& chunk : chunks) bytes += elementSize * chunk.elementCount;
  TPoolStatistics result{bytes / elementSize - freeCount, freeCount, bytes, 0};
  if (statistics != nullptr) *statistics = result;
  return result.used;
}

}  // namespace PoolDetail

// ---- Locked pool

template <typename TDomainTag>
TUntypedPoolAllocation<TDomainTag>::TUntypedPoolAllocation(std::uint32_t elementSize,
                                                           const Domain::TMemoryDomainRecord* domain, const char*,
                                                           std::uint32_t requestedElementsPerChunk)
    : domain_(domain), elementSize_(RoundPoolElementSize(elementSize)) {
  elementsPerChunk_ = ComputeFirstElementsPerChunk(requestedElementsPerChunk, elementSize_);
}

template <typename TDomainTag>
TUntypedPoolAllocation<TDomainTag>::~TUntypedPoolAllocation() {
  FreeAllChunks();
}

template <typename TDomainTag>
TTaggedPointer TUntypedPoolAllocation<TDomainTag>::TrySetFreeListHead(void* newFirst) {
  const TTaggedPointer head = LoadTaggedPointer(freeHead_);
  return CompareAndSwapTaggedPointerValue(freeHead_, head, {newFirst, head.tag + 1});
}

template <typename TDomainTag>
TPoolChunkRecord TUntypedPoolAllocation<TDomainTag>::AllocateChunk() {
  return PoolDetail::AddLinkedChunk(chunks_, elementSize_, elementsPerChunk_,
                                    [this](std::size_t bytes) { return AllocateFromGeneralHeap(bytes, domain_); });
}

template <typename TDomainTag>
void TUntypedPoolAllocation<TDomainTag>::AddChunk() {
  TPoolChunkRecord record;
  {
    TMutexLocker locker(mutex_);
    record = AllocateChunk();
  }
  void* start = reinterpret_cast<void*>(record.start);
  void* last = reinterpret_cast<unsigned char*>(start) + std::size_t{elementSize_} * (record.elementCount - 1);
  for (;;) {
    const TTaggedPointer head = LoadTaggedPointer(freeHead_);
    // No other thread sees the new chunk before the swap succeeds.
    PoolDetail::SetNextOf(last, head.pointer);
    if (CompareAndSwapTaggedPointer(freeHead_, head, {start, head.tag + 1})) return;
    __builtin_ia32_pause();
  }
}

template <typename TDomainTag>
std::uint32_t TUntypedPoolAllocation<TDomainTag>::GetStatistics(TPoolStatistics* statistics) const {
  return PoolDetail::ComputeStatistics(chunks_, elementSize_, GetFreeListHead(), statistics);
}

template <typename TDomainTag>
void TUntypedPoolAllocation<TDomainTag>::FreeAllChunks() {
  for (const TPoolChunkRecord& chunk : chunks_) FreeToGeneralHeap(reinterpret_cast<void*>(chunk.start));
  chunks_.Truncate(0);
  TrySetFreeListHead(nullptr);
}

namespace {
void ReleaseToGeneralHeap(void*, void* chunk) { FreeToGeneralHeap(chunk); }
}  // namespace

template <typename TDomainTag>
std::uint32_t TUntypedPoolAllocation<TDomainTag>::ReleaseFreeChunks() {
  return ReleaseFreeChunks(GetThreadLocalHeap());
}

template <typename TDomainTag>
std::uint32_t TUntypedPoolAllocation<TDomainTag>::ReleaseFreeChunks(THeap* scratchHeap) {
  void* rebuilt = nullptr;
  const std::uint32_t released = PoolDetail::ReleaseWhollyFreeChunks(
      chunks_, elementSize_, GetFreeListHead(), scratchHeap, &ReleaseToGeneralHeap, nullptr, &rebuilt);
  if (chunks_.Size() <= 1) elementsPerChunk_ = ComputeFirstElementsPerChunk(kPoolDefaultRequest, elementSize_);
  TrySetFreeListHead(rebuilt);
  return released;
}

template <typename TDomainTag>
void TUntypedPoolAllocation<TDomainTag>::ForEachAllocatedElement(TPoolElementCallback callback,
                                                                 void* userValue) const {
  PoolDetail::VisitAllocatedElements(chunks_, elementSize_, GetFreeListHead(), callback, userValue);
}

template class TUntypedPoolAllocation<Domain::TMemoryDomainTag>;

// ---- Unlocked variants

namespace PoolDetail {

void* TGeneralHeapChunkMemory::AllocateChunkMemory(std::size_t bytes, const Domain::TMemoryDomainRecord* domain) {
  return AllocateFromGeneralHeap(bytes, domain);
}
void TGeneralHeapChunkMemory::FreeChunkMemory(void* chunk) { FreeToGeneralHeap(chunk); }

void* TAlignedChunkMemory::AllocateChunkMemory(std::size_t bytes, const Domain::TMemoryDomainRecord*) {
  return AllocateAlignedMemory(kChunkAlignment, bytes);
}
void TAlignedChunkMemory::FreeChunkMemory(void* chunk) { FreeAlignedMemory(chunk); }

void* TThreadHeapChunkMemory::AllocateChunkMemory(std::size_t bytes, const Domain::TMemoryDomainRecord*) {
  if (heap_ == nullptr) heap_ = GetThreadLocalHeap();
  return heap_->Allocate(bytes);
}
void TThreadHeapChunkMemory::FreeChunkMemory(void* chunk) {
  (heap_ != nullptr ? heap_ : GetThreadLocalHeap())->Free(chunk);
}

template <typename TChunkMemory>
TUnlockedPool<TChunkMemory>::TUnlockedPool(TChunkMemory memory, std::uint32_t elementSize,
                                           const Domain::TMemoryDomainRecord* domain,
                                           std::uint32_t requestedElementsPerChunk)
    : TChunkMemory(memory), domain_(domain), elementSize_(RoundPoolElementSize(elementSize)) {
  elementsPerChunk_ = ComputeFirstElementsPerChunk(requestedElementsPerChunk, elementSize_);
}

template <typename TChunkMemory>
TUnlockedPool<TChunkMemory>::~TUnlockedPool() {
  FreeAllChunks();
}

template <typename TChunkMemory>
bool TUnlockedPool<TChunkMemory>::ContainsAddress(const void* address) const {
  for (const TPoolChunkRecord& chunk : chunks_) {
    if (IsInPoolChunk(chunk, elementSize_, address)) return true;
  }
  return false;
}

template <typename TChunkMemory>
TPoolChunkRecord TUnlockedPool<TChunkMemory>::AllocateChunk() {
  return AddLinkedChunk(chunks_, elementSize_, elementsPerChunk_,
                        [this](std::size_t bytes) { return this->AllocateChunkMemory(bytes, domain_); });
}

template <typename TChunkMemory>
std::uint32_t TUnlockedPool<TChunkMemory>::GetStatistics(TPoolStatistics* statistics) const {
  return ComputeStatistics(chunks_, elementSize_, head_, statistics);
}

template <typename TChunkMemory>
void TUnlockedPool<TChunkMemory>::FreeAllChunks() {
  for (const TPoolChunkRecord& chunk : chunks_) this->FreeChunkMemory(reinterpret_cast<void*>(chunk.start));
  chunks_.Truncate(0);
  head_ = nullptr;
}

template <typename TChunkMemory>
void TUnlockedPool<TChunkMemory>::ReleaseChunk(void* context, void* chunk) {
  static_cast<TUnlockedPool*>(context)->FreeChunkMemory(chunk);
}

template <typename TChunkMemory>
std::uint32_t TUnlockedPool<TChunkMemory>::ReleaseFreeChunks() {
  return ReleaseFreeChunks(GetThreadLocalHeap());
}

template <typename TChunkMemory>
std::uint32_t TUnlockedPool<TChunkMemory>::ReleaseFreeChunks(THeap* scratchHeap) {
  void* rebuilt = nullptr;
  const std::uint32_t released =
      ReleaseWhollyFreeChunks(chunks_, elementSize_, head_, scratchHeap, &ReleaseChunk, this, &rebuilt);
  if (chunks_.Size() <= 1) elementsPerChunk_ = ComputeFirstElementsPerChunk(kPoolDefaultRequest, elementSize_);
  head_ = rebuilt;
  return released;
}

template <typename TChunkMemory>
void TUnlockedPool<TChunkMemory>::ForEachAllocatedElement(TPoolElementCallback callback, void* userValue) const {
  VisitAllocatedElements(chunks_, elementSize_, head_, callback, userValue);
}

template <typename TChunkMemory>
void TUnlockedPool<TChunkMemory>::SwapContents(TUnlockedPool& other) {
  std::swap(head_, other.head_);
  std::swap(elementsPerChunk_, other.elementsPerChunk_);
  std::swap(elementSize_, other.elementSize_);
  chunks_.Swap(other.chunks_);
}

template class TUnlockedPool<TGeneralHeapChunkMemory>;
template class TUnlockedPool<TAlignedChunkMemory>;
template class TUnlockedPool<TThreadHeapChunkMemory>;

}  // namespace PoolDetail

}  // namespace Orvan
