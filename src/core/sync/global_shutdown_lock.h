// The global-shutdown lock: eleven recursive mutexes that threads pass at checkpoints and that
// the shutting-down thread takes for good, so that every other thread stops at its next one.
#pragma once

#include <cstdint>

#include "core/sync/mutex.h"

namespace Orvan {

// Checkpoints are spread over this many mutexes so that threads of different indices do not
// wait for one another.
inline constexpr std::uint32_t kGlobalShutdownMutexCount = 11;

// The mutexes in index order. They are defined in the engine's static-initialiser unit, which
// builds them before the initialisers of every other unit and destroys them after their
// destructors at exit.
struct TGlobalShutdownMutexes {
  TMutex mutexes[kGlobalShutdownMutexCount];
};
extern TGlobalShutdownMutexes GlobalShutdownMutexes;

// Passes the checkpoint of the caller's index (engine thread id mod 11): waits only while another
// thread of that index is passing, and for ever once another thread has entered global shutdown.
void PassGlobalShutdownCheckpoint();

// Takes all eleven mutexes in index order and never gives them back. The calling thread still
// passes every checkpoint, the mutexes being recursive.
void EnterGlobalShutdown();

}  // namespace Orvan
