// Engine thread ids (a u32 from 1 upward, handed out on a thread's first request) and the small
// process-wide registry of the main thread's id and up to three registered thread ids.
#pragma once

#include <cstdint>

namespace Orvan {

// The calling thread's engine id; a thread that has none yet (one not started by the engine, such
// as the main thread) is given the next id here. Never 0.
std::uint32_t GetCurrentThreadId();

// Takes the next id from the process-wide counter (the first id is 1).
std::uint32_t TakeNextThreadId();

// Gives the calling thread the id its creator took for it (the first thing an engine thread does).
void StoreCurrentThreadId(std::uint32_t id);

// ---- Thread-id registry. Takes no lock; 0 marks an empty word.
std::uint32_t GetMainThreadId();
// Records the calling thread as the main thread and returns its id.
std::uint32_t SetMainThreadToCurrent();
void ClearMainThreadId();
// Fills the first empty of the three registry slots; when all three are taken nothing changes.
void RegisterThreadId(std::uint32_t id);
bool IsCurrentThreadRegistered();

// Test seam: empties the three registry slots.
void ClearRegisteredThreadIdsForTests();

}  // namespace Orvan
