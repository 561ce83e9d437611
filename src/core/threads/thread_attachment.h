// Attaching threads to the engine: a thread that uses engine services registers with the
// thread-local storage first and detaches before it ends. Also the record of the engine's main
// thread, the thread that ran the static initialisation.
#pragma once

#include <cstdint>

namespace Orvan {

// Registers the calling thread with the thread-local storage (an already registered thread is
// left as it is) and counts it. Throws EException "Too many threads!" while 128 threads are
// registered; the count is then unchanged.
void AttachThreadToEngine();
// Destroys the calling thread's thread-local objects (last slot first) and its registration, then
// uncounts it. A thread that is not registered is only uncounted.
void DetachThreadFromEngine();
// Attaches minus detaches so far; a record of the core's state.
std::uint32_t GetAttachedThreadCount();

// The record of the engine's main thread, the thread that ran the static initialisers. It is
// defined in the engine's static-initialiser unit, which builds it before the initialisers of
// every other unit.
struct TEngineMainThreadRecord {
  TEngineMainThreadRecord() noexcept;
  std::uint32_t threadId;
};
extern TEngineMainThreadRecord EngineMainThreadRecord;

// The engine id of the thread that ran the static initialisers, taken before main.
std::uint32_t GetEngineMainThreadId();
bool IsEngineMainThread();

}  // namespace Orvan
