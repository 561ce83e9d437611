// The global-shutdown lock: eleven recursive mutexes that threads pass at checkpoints and that
// the shutting-down thread takes for good, so that every other thread stops at its next one.
#pragma once

namespace Orvan {

// Passes the checkpoint of the caller's index (engine thread id mod 11): waits only while another
// thread of that index is passing, and for ever once another thread has entered global shutdown.
void PassGlobalShutdownCheckpoint();

// Takes all eleven mutexes in index order and never gives them back. The calling thread still
// passes every checkpoint, the mutexes being recursive.
void EnterGlobalShutdown();

}  // namespace Orvan
