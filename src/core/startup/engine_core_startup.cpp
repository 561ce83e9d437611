// The engine core's start-up and shutdown sequences.
#include "core/startup/engine_core_startup.h"

#include <atomic>

#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name_registry.h"
#include "core/filesystem/well_known_names.h"
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

namespace Orvan {

namespace {

// Written on the main thread by the two sequences; an atomic so that a reader on another thread
// never races them.
std::atomic<std::uint8_t> g_engineStarted{0};

}  // namespace

void CreateEngineHeaps() {
  CreateStringHeap();
  CreateGeneralHeap();
  TBigChunkAllocator::Create();
}

void DestroyEngineHeaps() {
  TBigChunkAllocator::Destroy();
  DestroyGeneralHeap();
  DestroyStringHeap();
}

// Each service may use those made before it: the token tables keep their texts in engine strings
// and register with the singleton registry, the file-name tree interns through the tokens, the
// well-known names seed the tables and the tree before anything else interns into them (which
// fixes their ids), and the thread-local heap needs the storage manager that its slot
// registration builds. The killables' per-thread container list takes its slot before the main
// thread attaches, so that the main thread has one too.
void InitEngineCore() {
  CreateEngineHeaps();
  TWeakObserverRegistry::Create();
  InitStringLibrary();
  TSingletonRegistry::Create();
  InitInternedTokenTables();
  TFileNameRegistry::Create();
  TFileExtensionRegistry::Create();
  TWellKnownNames::Create();
  RegisterThreadLocalHeapSlot();
  CreateSharedStackAllocator();
  RegisterThreadLocalStackAllocatorSlot();
  RegisterKillableContainerListSlot();
  AttachThreadToEngine();
  g_engineStarted.store(1, std::memory_order_release);
}

// The reverse of the start-up, except that the calling thread's stack-based allocator and the
// shared chunk go before the thread detaches (detaching destroys the thread's heap, which the
// allocator's holder no longer needs by then). The token tables go in creation order.
void ShutdownEngineCore() {
  ReleaseThreadStackAllocator();
  DetachThreadFromEngine();
  DestroySharedStackAllocator();
  DestroyThreadLocalStorageManager();
  TWellKnownNames::Destroy();
  DestroyFileExtensionRegistry();
  TFileNameRegistry::Destroy();
  DestroyAllInternedTokenTables();
  TSingletonRegistry::DestroyAll();
  TSingletonRegistry::Destroy();
  ShutdownStringLibrary();
  TWeakObserverRegistry::Destroy();
  DestroyEngineHeaps();
  g_engineStarted.store(0, std::memory_order_release);
}

std::uint8_t GetEngineStartedFlag() { return g_engineStarted.load(std::memory_order_acquire); }

void SetEngineStartedFlag(std::uint8_t flag) { g_engineStarted.store(flag, std::memory_order_release); }

}  // namespace Orvan
