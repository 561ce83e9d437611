// The engine core's start-up and shutdown: every process-wide service of the core is created in
// one fixed order before any engine object is used, and torn down in the reverse order at the end,
// so that ids seeded at start-up are the same in every run. main, the test programs and the
// benchmarks start and stop the engine only through this pair.
#pragma once

#include <cstdint>

namespace Orvan {

// Runs the start-up sequence once, on the main thread, before any other engine thread exists. An
// exception of a step passes to the caller with the earlier steps left in place.
void InitEngineCore();
// Runs the shutdown sequence on the thread that ran the start-up, after every other engine thread
// has ended. No engine service may be used afterwards.
void ShutdownEngineCore();

// 1 between the end of InitEngineCore and the end of ShutdownEngineCore, 0 otherwise; a record of
// the core's state that nothing decides on.
std::uint8_t GetEngineStartedFlag();
// Sets the flag; the full start-up sets it again once its singletons are built.
void SetEngineStartedFlag(std::uint8_t flag);

// The first and last steps of the sequences: the string heap, the general heap and the big-chunk
// allocator, and their teardown in the reverse order.
void CreateEngineHeaps();
void DestroyEngineHeaps();

}  // namespace Orvan
