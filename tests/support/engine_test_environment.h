// Starts and stops the engine pieces that unit tests, fuzz targets and benchmarks stand on.
// Later parts of the engine add their start-up here instead of writing their own.
#pragma once

namespace OrvTest {

void StartEngineForTests();
void StopEngineForTests();

}  // namespace OrvTest
