#include "support/engine_test_environment.h"

#include "core/runtime/heap.h"
#include "core/runtime/singleton.h"
#include "core/runtime/weak_observer_registry.h"

namespace OrvTest {

// Engine start-up order: heaps, the weak-observer registry, then the singleton registry.
void StartEngineForTests() {
  Orvan::CreateStringHeap();
  Orvan::CreateGeneralHeap();
  Orvan::TWeakObserverRegistry::Create();
  Orvan::TSingletonRegistry::Create();
}

void StopEngineForTests() {
  // The registry-owned singletons (the pools) go before the heaps their chunks came from.
  Orvan::TSingletonRegistry::DestroyAll();
  Orvan::TSingletonRegistry::Destroy();
  // After the pools, before the heaps.
  Orvan::TWeakObserverRegistry::Destroy();
  Orvan::DestroyGeneralHeap();
  Orvan::DestroyStringHeap();
}

}  // namespace OrvTest
