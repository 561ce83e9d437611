#include "support/engine_test_environment.h"

#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name_registry.h"
#include "core/memory/big_chunk_allocator.h"
#include "core/memory/heap.h"
#include "core/memory/stack_based_allocator.h"
#include "core/memory/thread_local_heap.h"
#include "core/objects/weak_observer_registry.h"
#include "core/singletons/singleton.h"
#include "core/text/engine_string.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_local_storage.h"
#include "core/tokens/token_tables.h"

namespace OrvTest {

// Engine start-up order: heaps and the big-chunk allocator, the weak-observer registry, the
// string content pools, the singleton registry, the token tables, the file-name and file-extension
// registries, the thread-local storage with its heap slot, the shared stack-based allocator with
// its slot and shared chunk, and last the main thread's attach.
void StartEngineForTests() {
  Orvan::CreateStringHeap();
  Orvan::CreateGeneralHeap();
  Orvan::TBigChunkAllocator::Create();
  Orvan::TWeakObserverRegistry::Create();
  Orvan::InitStringLibrary();
  Orvan::TSingletonRegistry::Create();
  Orvan::InitInternedTokenTables();
  Orvan::TFileNameRegistry::Create();
  Orvan::TFileExtensionRegistry::Create();
  Orvan::RegisterThreadLocalHeapSlot();
  Orvan::CreateSharedStackAllocator();
  Orvan::RegisterThreadLocalStackAllocatorSlot();
  Orvan::AttachThreadToEngine();
}

// Shutdown runs the other way: the main thread's stack-based allocator and the shared chunk, the
// main thread's thread-local objects (its heap), the shared allocator and the storage manager,
// the token tables (in creation order), the registry-owned singletons (the pools), then the string
// pools, the observer registry, and the heaps last.
void StopEngineForTests() {
  Orvan::ReleaseThreadStackAllocator();
  Orvan::DetachThreadFromEngine();
  Orvan::DestroySharedStackAllocator();
  Orvan::DestroyThreadLocalStorageManager();
  Orvan::DestroyFileExtensionRegistry();
  Orvan::TFileNameRegistry::Destroy();
  Orvan::DestroyAllInternedTokenTables();
  Orvan::TSingletonRegistry::DestroyAll();
  Orvan::TSingletonRegistry::Destroy();
  Orvan::ShutdownStringLibrary();
  Orvan::TWeakObserverRegistry::Destroy();
  Orvan::TBigChunkAllocator::Destroy();
  Orvan::DestroyGeneralHeap();
  Orvan::DestroyStringHeap();
}

void StartEngineOnce() {
  static const bool started = [] {
    StartEngineForTests();
    return true;
  }();
  (void)started;
}

}  // namespace OrvTest
