// The pool variants that draw on the calling thread's heap.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/memory/thread_local_heap.h"
#include "core/memory/untyped_pool.h"
#include "core/threads/thread_attachment.h"

namespace Orvan {
namespace {

TEST(ThreadHeapPoolThreaded, ChunksComeFromTheHeapOfTheThreadThatAllocatesTheFirst) {
  TUntypedPoolAllocationThreadHeapNoLock pool(16);  // built here, used on another thread
  EXPECT_EQ(pool.GetHeap(), nullptr);
  const std::uint32_t mainHeapBlocks = GetThreadLocalHeap()->GetLiveCount();
  THeap* workerHeap = nullptr;
  std::uint32_t chunksOnWorkerHeap = 0;
  std::uint32_t workerHeapBlocksAfterRelease = 1;
  std::thread([&] {
    AttachThreadToEngine();
    std::vector<void*> elements;
    for (int i = 0; i < 200; ++i) elements.push_back(pool.Allocate());
    workerHeap = pool.GetHeap();
    chunksOnWorkerHeap = GetThreadLocalHeap()->GetLiveCount();
    for (void* element : elements) pool.Free(element);
    pool.ReleaseFreeChunks();  // every chunk is free: all go back to the worker's heap
    workerHeapBlocksAfterRelease = GetThreadLocalHeap()->GetLiveCount();
    DetachThreadFromEngine();
  }).join();
  EXPECT_NE(workerHeap, nullptr);
  EXPECT_NE(workerHeap, GetThreadLocalHeap());
  EXPECT_GT(chunksOnWorkerHeap, 1u);
  EXPECT_EQ(workerHeapBlocksAfterRelease, 0u);
  EXPECT_TRUE(pool.HasNoChunk());
  EXPECT_EQ(GetThreadLocalHeap()->GetLiveCount(), mainHeapBlocks);
}

TEST(ThreadHeapPool, ReleaseOfManyChunksGivesTheThreadsHeapItsScratchBack) {
  // More than 64 chunks: the scratch buckets need heap storage.
  TUntypedPoolAllocationNoLock pool(8, &Domain::AllDomain, "", 1);
  std::vector<void*> elements;
  while (pool.GetChunkCount() <= 70) elements.push_back(pool.Allocate());
  const std::uint32_t chunks = pool.GetChunkCount();
  // Keep one element of the last chunk; every other chunk is wholly free.
  void* kept = elements.back();
  elements.pop_back();
  for (void* element : elements) pool.Free(element);
  THeap* heap = GetThreadLocalHeap();
  const std::uint32_t heapBlocks = heap->GetLiveCount();
  EXPECT_GT(pool.ReleaseFreeChunks(), 0u);
  EXPECT_EQ(pool.GetChunkCount(), 1u);
  EXPECT_LT(pool.GetChunkCount(), chunks);
  EXPECT_EQ(heap->GetLiveCount(), heapBlocks);  // the scratch storage went back
  pool.Free(kept);
}

}  // namespace
}  // namespace Orvan
