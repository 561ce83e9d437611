// Stack-based scratch allocators: per-thread chunk lists, scoped blocks, bit sets and the shared
// chunk supplier.
#include "core/memory/stack_based_allocator.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "core/memory/global_allocation.h"
#include "core/memory/heap.h"
#include "core/memory/thread_local_heap.h"
#include "core/memory/typed_pool.h"
#include "core/threads/thread_local_storage.h"

namespace Orvan {

namespace {

// Chunk memory belongs to the thread that takes it.
THeap* ChunkMemoryHeap() { return GetThreadLocalHeap(); }

std::uint32_t RoundUpTo16(std::uint32_t size) { return (size + 15) & ~std::uint32_t{15}; }

// Per thread, so that counting costs no shared cache line.
thread_local std::uint64_t t_blocksTaken = 0;

void TakeBlock(TStackBasedAllocator::TChunk* chunk, TStackBasedBlock& block, std::uint32_t size,
               std::uint32_t cost) {
  block.chunk = chunk;
  block.size = size;
  block.data = chunk->memory + chunk->used + kStackBasedBlockHeader;
  chunk->used += cost;
}

bool HasRoom(const TStackBasedAllocator::TChunk* chunk, std::uint32_t cost) {
  return std::uint64_t{chunk->used} + cost <= chunk->capacity;
}

// A chunk of max(size + 35, chunkSize) bytes for `owner`; size is at most kStackBasedMaximumBlock.
TStackBasedAllocator::TChunk* CreateOverflowChunk(TStackBasedAllocator* owner, std::uint32_t size,
                                                  std::uint32_t chunkSize) {
  return new TStackBasedAllocator::TChunk(owner, std::max(size + kStackBasedBlockOverhead, chunkSize));
}

}  // namespace

// ---- Chunks

TStackBasedAllocator::TChunk::TChunk(TStackBasedAllocator* chunkOwner, std::uint32_t size)
    : capacity(RoundUpTo16(size)), used(0), owner(nullptr), next(nullptr), memory(nullptr) {
  memory = static_cast<char*>(ChunkMemoryHeap()->Allocate(capacity));
  if (chunkOwner != nullptr) chunkOwner->Link(this);
}

TStackBasedAllocator::TChunk::~TChunk() {
  if (owner != nullptr) owner->Unlink(this);
  ChunkMemoryHeap()->Free(memory);
}

void* TStackBasedAllocator::TChunk::operator new(std::size_t size) { return AllocateFromGeneralHeap(size); }
void TStackBasedAllocator::TChunk::operator delete(void* record) noexcept { FreeToGeneralHeap(record); }

void TStackBasedAllocator::TChunk::Free(TStackBasedBlock& block) {
  used -= GetBlockCost(block.size);
  block.chunk = nullptr;
  block.size = 0;
  block.data = nullptr;
  if (used == 0 && owner != nullptr) owner->ReleaseChunkIfEmpty(this);
}

void* TStackBasedAllocator::TChunk::AllocateRecordFromPool() {
  void* record = TPoolAllocation<TChunk>::Instance()->Allocate();
  if (record == nullptr) ThrowBadAlloc();
  return record;
}

void TStackBasedAllocator::TChunk::FreeRecordPoolChunks() { TPoolAllocation<TChunk>::FreeAllChunks(); }

// ---- A thread's allocator

TStackBasedAllocator::TStackBasedAllocator(std::uint32_t chunkSize)
    : chunkSize_(chunkSize), chunkCount_(0), currentChunk_(nullptr) {
  new TChunk(this, chunkSize_);  // links itself as the list's only chunk
}

TStackBasedAllocator::~TStackBasedAllocator() {
  TSharedStackBasedBigChunkAllocator* shared = TSharedStackBasedBigChunkAllocator::GetInstancePointer();
  while (currentChunk_ != nullptr) {
    TChunk* chunk = currentChunk_;
    if (chunk->next == nullptr || shared == nullptr) {
      delete chunk;
    } else {
      shared->ReturnChunk(this, chunk);
    }
  }
}

void* TStackBasedAllocator::operator new(std::size_t size) { return AllocateFromGeneralHeap(size); }
void TStackBasedAllocator::operator delete(void* allocator) noexcept { FreeToGeneralHeap(allocator); }

void TStackBasedAllocator::Allocate(TStackBasedBlock& block, std::uint32_t size) {
  if (size > kStackBasedMaximumBlock) ThrowBadAlloc();
  const std::uint32_t cost = GetBlockCost(size);
  TChunk* chunk = currentChunk_;
  if (chunk == nullptr || !HasRoom(chunk, cost)) {
    TSharedStackBasedBigChunkAllocator* shared = TSharedStackBasedBigChunkAllocator::GetInstancePointer();
    chunk = shared != nullptr ? shared->GetChunk(this, size) : CreateOverflowChunk(this, size, chunkSize_);
  }
  TakeBlock(chunk, block, size, cost);
  ++t_blocksTaken;
}

void TStackBasedAllocator::ReleaseChunkIfEmpty(TChunk* chunk) {
  if (chunk->next == nullptr) return;
  TSharedStackBasedBigChunkAllocator* shared = TSharedStackBasedBigChunkAllocator::GetInstancePointer();
  if (shared != nullptr) {
    shared->ReturnChunk(this, chunk);
  } else {
    delete chunk;
  }
}

void TStackBasedAllocator::Link(TChunk* chunk) {
  chunk->owner = this;
  chunk->next = currentChunk_;
  currentChunk_ = chunk;
  ++chunkCount_;
}

void TStackBasedAllocator::Unlink(TChunk* chunk) {
  // Search the list: a chunk emptied out of order need not be the head.
  for (TChunk** link = &currentChunk_; *link != nullptr; link = &(*link)->next) {
    if (*link == chunk) {
      *link = chunk->next;
      --chunkCount_;
      break;
    }
  }
  chunk->owner = nullptr;
  chunk->next = nullptr;
}

// ---- Scoped blocks

TStackBasedBlock::TStackBasedBlock(void* callerBuffer, std::uint32_t blockSize) {
  if (blockSize > 0 && callerBuffer == nullptr) {
    Reset(blockSize);
  } else {
    size = blockSize;
    data = callerBuffer;
  }
}

TStackBasedBlock::~TStackBasedBlock() {
  if (chunk != nullptr) chunk->Free(*this);
}

void TStackBasedBlock::Reset(std::uint32_t blockSize) {
  if (chunk != nullptr) chunk->Free(*this);
  chunk = nullptr;
  size = 0;
  data = nullptr;
  if (blockSize > 0) GetThreadStackAllocator()->Allocate(*this, blockSize);
}

// ---- Bit sets

TStackBasedBitSet::TStackBasedBitSet(std::uint32_t bitCount, void* callerBuffer)
    : bitCount_(bitCount),
      block_(callerBuffer, GetWordCountFor(bitCount) * 4),
      words_(static_cast<std::uint32_t*>(block_.data)),
      wordCount_(GetWordCountFor(bitCount)) {
  ClearAll();
}

std::uint32_t TStackBasedBitSet::LastWordMask() const {
  const std::uint32_t tail = bitCount_ % 32;
  return tail == 0 ? ~std::uint32_t{0} : (std::uint32_t{1} << tail) - 1;
}

bool TStackBasedBitSet::All() const {
  if (wordCount_ == 0) return true;
  for (std::uint32_t i = 0; i + 1 < wordCount_; ++i) {
    if (words_[i] != ~std::uint32_t{0}) return false;
  }
  const std::uint32_t mask = LastWordMask();
  return (words_[wordCount_ - 1] & mask) == mask;
}

bool TStackBasedBitSet::Any() const {
  if (wordCount_ == 0) return false;
  for (std::uint32_t i = 0; i + 1 < wordCount_; ++i) {
    if (words_[i] != 0) return true;
  }
  return (words_[wordCount_ - 1] & LastWordMask()) != 0;
}

void TStackBasedBitSet::SetAll() {
  if (wordCount_ > 0) std::memset(words_, 0xFF, std::size_t{wordCount_} * 4);
}

void TStackBasedBitSet::ClearAll() {
  if (wordCount_ > 0) std::memset(words_, 0, std::size_t{wordCount_} * 4);
}

// ---- The shared chunk supplier

TSharedStackBasedBigChunkAllocator::TSharedStackBasedBigChunkAllocator(std::uint32_t sharedChunkSize,
                                                                       std::uint32_t perThreadChunkSize)
    : perThreadChunkSize_(perThreadChunkSize), sharedChunkSize_(sharedChunkSize) {}

// Core shutdown destroys the shared chunk first; this only keeps a left-over one from leaking.
TSharedStackBasedBigChunkAllocator::~TSharedStackBasedBigChunkAllocator() { DestroySharedChunk(); }

// Chunk memory comes from the calling thread's heap, whose slot read may take the thread-local
// storage lock; a thread ending under that lock returns its chunks under this one. So chunks are
// made and destroyed outside this mutex, which only guards the shared chunk's pointer and flag.
void TSharedStackBasedBigChunkAllocator::CreateSharedChunk() {
  if (GetSharedChunk() != nullptr) return;
  auto* chunk = new TStackBasedAllocator::TChunk(nullptr, sharedChunkSize_);
  {
    TMutexLocker locker(mutex_);
    if (sharedChunk_ == nullptr) {
      sharedChunk_ = chunk;
      sharedChunkAvailable_ = 1;
      chunk = nullptr;
    }
  }
  delete chunk;  // another thread made one meanwhile
}

void TSharedStackBasedBigChunkAllocator::DestroySharedChunk() {
  TStackBasedAllocator::TChunk* unlent = nullptr;
  {
    TMutexLocker locker(mutex_);
    if (sharedChunkAvailable_ != 0) unlent = sharedChunk_;
    sharedChunk_ = nullptr;
    sharedChunkAvailable_ = 0;
  }
  delete unlent;
}

TStackBasedAllocator::TChunk* TSharedStackBasedBigChunkAllocator::GetChunk(TStackBasedAllocator* owner,
                                                                          std::uint32_t size) {
  {
    TMutexLocker locker(mutex_);
    if (sharedChunkAvailable_ != 0 && HasRoom(sharedChunk_, TStackBasedAllocator::GetBlockCost(size))) {
      sharedChunkAvailable_ = 0;
      owner->Link(sharedChunk_);
      return sharedChunk_;
    }
  }
  return CreateOverflowChunk(owner, size, perThreadChunkSize_);
}

void TSharedStackBasedBigChunkAllocator::ReturnChunk(TStackBasedAllocator* owner,
                                                     TStackBasedAllocator::TChunk* chunk) {
  {
    TMutexLocker locker(mutex_);
    if (chunk == sharedChunk_) {
      owner->Unlink(chunk);
      // A borrower destroyed with blocks still in the chunk must not leave them counted.
      chunk->used = 0;
      sharedChunkAvailable_ = 1;
      return;
    }
  }
  // An ordinary chunk touches no shared state: destroyed outside the mutex.
  delete chunk;
}

TStackBasedAllocator::TChunk* TSharedStackBasedBigChunkAllocator::GetSharedChunk() {
  TMutexLocker locker(mutex_);
  return sharedChunk_;
}

bool TSharedStackBasedBigChunkAllocator::IsSharedChunkAvailable() {
  TMutexLocker locker(mutex_);
  return sharedChunkAvailable_ != 0;
}

namespace {
std::uint32_t g_stackAllocatorSlot = TThreadLocalStorageManager::kNoSlot;
alignas(TSharedStackBasedBigChunkAllocator) unsigned char g_sharedAllocatorStorage[sizeof(
    TSharedStackBasedBigChunkAllocator)];
}  // namespace

void CreateSharedStackAllocator() {
  if (TSharedStackBasedBigChunkAllocator::GetInstancePointer() != nullptr) return;
  new (g_sharedAllocatorStorage)
      TSharedStackBasedBigChunkAllocator(kSharedStackBasedChunkSize, kStackBasedChunkSize);
}

void DestroySharedStackAllocator() {
  TSharedStackBasedBigChunkAllocator* shared = TSharedStackBasedBigChunkAllocator::GetInstancePointer();
  // Lives in static storage: destroyed, not freed. Its destructor clears the instance pointer.
  if (shared != nullptr) shared->~TSharedStackBasedBigChunkAllocator();
}

void RegisterThreadLocalStackAllocatorSlot() {
  TThreadLocalStorageManager* manager = GetThreadLocalStorageManager();
  manager->RegisterSlot("ThreadLocalStackBasedAllocator");
  g_stackAllocatorSlot = manager->FindSlotIndex("ThreadLocalStackBasedAllocator");
  if (TSharedStackBasedBigChunkAllocator* shared = TSharedStackBasedBigChunkAllocator::GetInstancePointer()) {
    shared->CreateSharedChunk();
  }
}

std::uint32_t GetThreadLocalStackAllocatorSlotIndex() { return g_stackAllocatorSlot; }

TStackBasedAllocator* GetThreadStackAllocator() {
  if (auto* holder = static_cast<TThreadLocalStackAllocatorHolder*>(ReadThreadLocalSlot(g_stackAllocatorSlot))) {
    return holder->Get();
  }
  auto* allocator = new TStackBasedAllocator(kStackBasedChunkSize);
  TThreadLocalStackAllocatorHolder* holder;
  try {
    holder = new TThreadLocalStackAllocatorHolder(allocator);
  } catch (...) {
    delete allocator;
    throw;
  }
  GetThreadLocalStorageManager()->SetSlot(g_stackAllocatorSlot, holder);
  return allocator;
}

void ReleaseThreadStackAllocator() {
  if (TThreadLocalObject* holder = ReadThreadLocalSlot(g_stackAllocatorSlot)) {
    delete holder;
    GetThreadLocalStorageManager()->SetSlot(g_stackAllocatorSlot, nullptr);
  }
  if (TSharedStackBasedBigChunkAllocator* shared = TSharedStackBasedBigChunkAllocator::GetInstancePointer()) {
    shared->DestroySharedChunk();
  }
}

std::uint64_t GetStackBasedBlocksTakenForTests() { return t_blocksTaken; }

}  // namespace Orvan
