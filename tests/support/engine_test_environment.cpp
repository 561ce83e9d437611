#include "support/engine_test_environment.h"

#include "core/runtime/heap.h"
#include "core/text_and_containers/engine_string.h"

namespace OrvTest {

void StartEngineForTests() {
  Orvan::CreateStringHeap();
  Orvan::CreateGeneralHeap();
  Orvan::InitStringLibrary();
}

void StopEngineForTests() {
  Orvan::ShutdownStringLibrary();
  Orvan::DestroyGeneralHeap();
  Orvan::DestroyStringHeap();
}

}  // namespace OrvTest
