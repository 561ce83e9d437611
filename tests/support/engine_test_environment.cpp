#include "support/engine_test_environment.h"

#include "core/runtime/heap.h"
#include "core/runtime/singleton.h"
#include "core/text_and_containers/engine_string.h"
#include "core/tokens/token_tables.h"

namespace OrvTest {

void StartEngineForTests() {
  Orvan::CreateStringHeap();
  Orvan::CreateGeneralHeap();
  Orvan::InitStringLibrary();
  Orvan::TSingletonRegistry::Create();
  Orvan::InitInternedTokenTables();
}

void StopEngineForTests() {
  // The token tables go before the singletons still alive, as in core shutdown.
  Orvan::DestroyAllInternedTokenTables();
  // The registry-owned singletons (the pools) go before the heaps their chunks came from.
  Orvan::TSingletonRegistry::DestroyAll();
  Orvan::TSingletonRegistry::Destroy();
  Orvan::ShutdownStringLibrary();
  Orvan::DestroyGeneralHeap();
  Orvan::DestroyStringHeap();
}

}  // namespace OrvTest
