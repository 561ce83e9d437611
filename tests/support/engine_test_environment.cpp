#include "support/engine_test_environment.h"

#include "core/runtime/big_chunk_allocator.h"
#include "core/runtime/heap.h"
#include "core/runtime/singleton.h"
#include "core/runtime/weak_observer_registry.h"
#include "core/text_and_containers/engine_string.h"

namespace OrvTest {

// Engine start-up order: heaps and the big-chunk allocator, the weak-observer registry, the
// string content pools, then the singleton registry.
void StartEngineForTests() {
  Orvan::CreateStringHeap();
  Orvan::CreateGeneralHeap();
  Orvan::TBigChunkAllocator::Create();
  Orvan::TWeakObserverRegistry::Create();
  Orvan::InitStringLibrary();
  Orvan::TSingletonRegistry::Create();
}

// Shutdown runs the other way: the registry-owned singletons (the pools) first, then the string
// pools, the observer registry, and the heaps last.
void StopEngineForTests() {
  Orvan::TSingletonRegistry::DestroyAll();
  Orvan::TSingletonRegistry::Destroy();
  Orvan::ShutdownStringLibrary();
  Orvan::TWeakObserverRegistry::Destroy();
  Orvan::TBigChunkAllocator::Destroy();
  Orvan::DestroyGeneralHeap();
  Orvan::DestroyStringHeap();
}

}  // namespace OrvTest
