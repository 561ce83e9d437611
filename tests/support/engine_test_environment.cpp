#include "support/engine_test_environment.h"

#include "core/startup/engine_core_startup.h"

namespace OrvTest {

// The engine core's own start-up and shutdown, as main runs them; the tests add no steps of their
// own.
void StartEngineForTests() { Orvan::InitEngineCore(); }

void StopEngineForTests() { Orvan::ShutdownEngineCore(); }

void StartEngineOnce() {
  static const bool started = [] {
    StartEngineForTests();
    return true;
  }();
  (void)started;
}

}  // namespace OrvTest
