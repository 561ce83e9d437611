// Starts and stops the engine pieces that unit tests, fuzz targets and benchmarks stand on.
// Later parts of the engine add their start-up here instead of writing their own.
#pragma once

namespace OrvTest {

void StartEngineForTests();
void StopEngineForTests();
// Starts the engine on the first call only: fuzz targets call it for every input and leave the
// engine running until the process ends.
void StartEngineOnce();

}  // namespace OrvTest
