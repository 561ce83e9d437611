// Per-thread scratch memory: each thread bumps blocks out of its own chunks and gives them back in
// reverse order, so short-lived buffers (long packet strings, temporary arrays, bit sets) cost an
// addition and a compare instead of a heap round trip. One process-wide allocator hands out new
// chunks and lends one larger shared chunk to whichever thread runs out first.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/singletons/singleton.h"
#include "core/sync/mutex.h"
#include "core/threads/thread_local_storage.h"

namespace Orvan {

class TStackBasedBlock;
class TSharedStackBasedBigChunkAllocator;

// Size of the chunks of every thread's allocator.
inline constexpr std::uint32_t kStackBasedChunkSize = 262000;
// Size of the one chunk that the shared allocator lends.
inline constexpr std::uint32_t kSharedStackBasedChunkSize = 513000;
// A block's data starts this far past the chunk's used mark.
inline constexpr std::uint32_t kStackBasedBlockHeader = 16;
// A block of n bytes costs (n + 35) lowered to a multiple of 16: n + 20 raised to the next one.
inline constexpr std::uint32_t kStackBasedBlockOverhead = 35;
// Largest block: its chunk's capacity (the request plus overhead, 16-byte rounded) must fit 32 bits.
inline constexpr std::uint32_t kStackBasedMaximumBlock = 0xFFFFFFF0u - kStackBasedBlockOverhead;

class TStackBasedAllocator {
 public:
  // A run of scratch memory. The record lives in the general heap; its memory comes from the
  // heap of the thread that created it.
  struct TChunk {
    // Takes `size` raised to a multiple of 16 bytes (std::bad_alloc when it cannot be had) and,
    // with an owner, becomes the head of the owner's list.
    TChunk(TStackBasedAllocator* owner, std::uint32_t size);
    // Leaves its owner's list and gives its memory back to the calling thread's heap.
    ~TChunk();
    TChunk(const TChunk&) = delete;
    TChunk& operator=(const TChunk&) = delete;

    static void* operator new(std::size_t size);
    static void operator delete(void* record) noexcept;

    // Gives the block back (blocks of one chunk go back in reverse order) and zeroes the handle;
    // a chunk that empties goes to its owner's ReleaseChunkIfEmpty.
    void Free(TStackBasedBlock& block);

    // The pool meant for chunk records, kept beside the general-heap path the records use.
    static void* AllocateRecordFromPool();
    static void FreeRecordPoolChunks();

    std::uint32_t capacity;
    std::uint32_t used;
    TStackBasedAllocator* owner;  // null while unowned (the shared chunk when available)
    TChunk* next;                 // the next older chunk of the owner's list
    char* memory;
  };

  // Creates the first chunk of `chunkSize` bytes at once.
  explicit TStackBasedAllocator(std::uint32_t chunkSize = kStackBasedChunkSize);
  // The oldest chunk is destroyed, every other one returned to the shared allocator, whatever
  // blocks they still hold.
  ~TStackBasedAllocator();
  TStackBasedAllocator(const TStackBasedAllocator&) = delete;
  TStackBasedAllocator& operator=(const TStackBasedAllocator&) = delete;

  static void* operator new(std::size_t size);
  static void operator delete(void* allocator) noexcept;

  // Fills `block` with `size` bytes from the current chunk, or from a chunk of the shared
  // allocator when the current one is full. std::bad_alloc when no chunk can be had or the size
  // is above kStackBasedMaximumBlock; never a null block.
  void Allocate(TStackBasedBlock& block, std::uint32_t size);

  // Called when a chunk's used bytes reach 0: the oldest chunk stays, any other goes back to the
  // shared allocator.
  void ReleaseChunkIfEmpty(TChunk* chunk);

  // Bytes of a chunk that a block of `size` bytes takes.
  static constexpr std::uint32_t GetBlockCost(std::uint32_t size) {
    return (size + kStackBasedBlockOverhead) & ~std::uint32_t{15};
  }

  std::uint32_t GetChunkSize() const { return chunkSize_; }
  std::uint32_t GetChunkCount() const { return chunkCount_; }
  TChunk* GetCurrentChunk() const { return currentChunk_; }

 private:
  friend struct TChunk;
  friend class TSharedStackBasedBigChunkAllocator;

  void Link(TChunk* chunk);
  // Removes `chunk` wherever it sits in the list; a chunk not in the list is left alone.
  void Unlink(TChunk* chunk);

  std::uint32_t chunkSize_;
  std::uint32_t chunkCount_;
  TChunk* currentChunk_;  // the newest chunk, head of the list
};

// Frees what a thread-local holder owns: destroys the allocator and gives it to the general heap.
template <typename T>
struct longlasting_deleter {
  void operator()(T* object) const noexcept { delete object; }
};

// What a thread's "ThreadLocalStackBasedAllocator" slot holds.
using TThreadLocalStackAllocatorHolder =
    TThreadLocalObjectHolder<TStackBasedAllocator, longlasting_deleter<TStackBasedAllocator>>;

// The scoped handle of one scratch buffer: either the caller's own buffer or a block of the calling
// thread's stack-based allocator, given back when the handle dies.
class TStackBasedBlock {
 public:
  TStackBasedBlock() = default;
  // Without a caller buffer, a size above 0 takes a block from the calling thread's allocator;
  // otherwise `data` is the caller's buffer (which must hold `size` bytes).
  TStackBasedBlock(void* callerBuffer, std::uint32_t size);
  ~TStackBasedBlock();
  TStackBasedBlock(const TStackBasedBlock&) = delete;
  TStackBasedBlock& operator=(const TStackBasedBlock&) = delete;

  // Gives back the block held, then takes `size` bytes from the calling thread's allocator
  // (created on first use); size 0 leaves the handle empty.
  void Reset(std::uint32_t size);

  TStackBasedAllocator::TChunk* chunk = nullptr;  // null when the bytes are the caller's
  std::uint32_t size = 0;
  void* data = nullptr;
};

// A bit set whose words are a scratch block; bits are numbered from bit 0 of word 0 upward.
class TStackBasedBitSet {
 public:
  // The caller buffer, when given, must hold the words: bitCount / 32 raised, times 4 bytes.
  explicit TStackBasedBitSet(std::uint32_t bitCount, void* callerBuffer = nullptr);
  TStackBasedBitSet(const TStackBasedBitSet&) = delete;
  TStackBasedBitSet& operator=(const TStackBasedBitSet&) = delete;

  static constexpr std::uint32_t GetWordCountFor(std::uint32_t bitCount) {
    return bitCount / 32 + (bitCount % 32 != 0 ? 1 : 0);
  }

  void Set(std::uint32_t bit) { words_[bit / 32] |= std::uint32_t{1} << (bit % 32); }
  void Clear(std::uint32_t bit) { words_[bit / 32] &= ~(std::uint32_t{1} << (bit % 32)); }
  bool Test(std::uint32_t bit) const { return (words_[bit / 32] >> (bit % 32) & 1u) != 0; }

  // These look at bits 0 to bitCount - 1 only: a set of 0 bits is All and None, never Any.
  bool All() const;
  bool Any() const;
  bool None() const { return !Any(); }
  void SetAll();
  void ClearAll();

  std::uint32_t GetBitCount() const { return bitCount_; }
  std::uint32_t GetWordCount() const { return wordCount_; }
  const std::uint32_t* GetWords() const { return words_; }

 private:
  // Mask of the bits of the last word that belong to the set.
  std::uint32_t LastWordMask() const;

  std::uint32_t bitCount_;
  TStackBasedBlock block_;
  std::uint32_t* words_;
  std::uint32_t wordCount_;
};

// The process-wide chunk supplier. Built in static storage at core start-up and destroyed by the
// core shutdown (not by the singleton registry).
class TSharedStackBasedBigChunkAllocator final
    : public Meta::TSingleton<TSharedStackBasedBigChunkAllocator, false> {
 public:
  TSharedStackBasedBigChunkAllocator(std::uint32_t sharedChunkSize = kSharedStackBasedChunkSize,
                                     std::uint32_t perThreadChunkSize = kStackBasedChunkSize);
  ~TSharedStackBasedBigChunkAllocator() override;

  // Makes the unowned shared chunk and marks it available; nothing when one exists.
  void CreateSharedChunk();
  // Destroys the shared chunk when it is available; a lent one is forgotten (its borrower
  // destroys it when it gives it back). Either way the allocator has no shared chunk afterwards.
  void DestroySharedChunk();

  // A chunk for `owner` with room for a block of `size` bytes, linked as the owner's newest: the
  // shared chunk when it is available and has room, otherwise a new one of
  // max(size + 35, per-thread chunk size) bytes.
  TStackBasedAllocator::TChunk* GetChunk(TStackBasedAllocator* owner, std::uint32_t size);
  // Takes a chunk back from its owner: the shared chunk becomes available again (emptied, so
  // that a borrower destroyed with blocks in it leaves none counted), any other chunk is
  // destroyed.
  void ReturnChunk(TStackBasedAllocator* owner, TStackBasedAllocator::TChunk* chunk);

  // For tests and statistics: read under the mutex.
  TStackBasedAllocator::TChunk* GetSharedChunk();
  bool IsSharedChunkAvailable();
  std::uint32_t GetSharedChunkSize() const { return sharedChunkSize_; }
  std::uint32_t GetPerThreadChunkSize() const { return perThreadChunkSize_; }

 private:
  TMutex mutex_;
  TStackBasedAllocator::TChunk* sharedChunk_ = nullptr;
  std::uint32_t perThreadChunkSize_;
  std::uint32_t sharedChunkSize_;
  std::uint32_t sharedChunkAvailable_ = 0;  // 1 while the shared chunk sits here unlent
};

// Core start-up and shutdown entries of the shared allocator (513000 and 262000 bytes).
void CreateSharedStackAllocator();
void DestroySharedStackAllocator();

// The thread-local slot "ThreadLocalStackBasedAllocator". Registration (core start-up, after the
// shared allocator is built) also makes the shared chunk.
void RegisterThreadLocalStackAllocatorSlot();
std::uint32_t GetThreadLocalStackAllocatorSlotIndex();
// The calling thread's allocator, created with its first chunk on the first call; the thread must
// be attached to the engine.
TStackBasedAllocator* GetThreadStackAllocator();
// Core shutdown: destroys the calling thread's allocator, empties its slot, then drops the shared
// chunk.
void ReleaseThreadStackAllocator();

// For tests: how many blocks the calling thread's allocators have handed out so far.
std::uint64_t GetStackBasedBlocksTakenForTests();

}  // namespace Orvan
