// The engine core's start-up and shutdown, in their fixed order (the same steps as the tests'
// engine start-up). The engine core start-up (InitEngineCore / ShutdownEngineCore) replaces it.
#include "main/engine_start.h"

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

namespace Orvan::Main {

void StartEngine() {
  CreateStringHeap();
  CreateGeneralHeap();
  TBigChunkAllocator::Create();
  TWeakObserverRegistry::Create();
  InitStringLibrary();
  TSingletonRegistry::Create();
  InitInternedTokenTables();
  TFileNameRegistry::Create();
  TFileExtensionRegistry::Create();
  RegisterThreadLocalHeapSlot();
  CreateSharedStackAllocator();
  RegisterThreadLocalStackAllocatorSlot();
  AttachThreadToEngine();
}

void StopEngine() {
  ReleaseThreadStackAllocator();
  DetachThreadFromEngine();
  DestroySharedStackAllocator();
  DestroyThreadLocalStorageManager();
  DestroyFileExtensionRegistry();
  TFileNameRegistry::Destroy();
  DestroyAllInternedTokenTables();
  TSingletonRegistry::DestroyAll();
  TSingletonRegistry::Destroy();
  ShutdownStringLibrary();
  TWeakObserverRegistry::Destroy();
  TBigChunkAllocator::Destroy();
  DestroyGeneralHeap();
  DestroyStringHeap();
}

}  // namespace Orvan::Main
