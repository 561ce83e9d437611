#include "support/engine_test_environment.h"

#include "core/runtime/heap.h"

namespace OrvTest {

void StartEngineForTests() {
  Orvan::CreateStringHeap();
  Orvan::CreateGeneralHeap();
}

void StopEngineForTests() {
  Orvan::DestroyGeneralHeap();
  Orvan::DestroyStringHeap();
}

}  // namespace OrvTest
