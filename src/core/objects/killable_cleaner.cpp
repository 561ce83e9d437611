// The default cleaner and the deleting cleaners.
#include "core/objects/killable_cleaner.h"

#include <utility>

#include "core/objects/killable.h"

namespace Orvan {

namespace {
// Built before any dynamic initialiser runs; its destruction is registered for exit.
constinit TKillableCleanerDoNothing g_defaultKillableCleaner;
}  // namespace

TKillableCleaner* GetDefaultKillableCleaner() noexcept { return &g_defaultKillableCleaner; }

void TKillableCleanerDirectDelete::Clean(TKillable* object) {
  if (object != nullptr) delete object;
}

void TKillableCleanerDelayDelete::Flush() {
  if (waiting_.IsEmpty()) return;
  // Taken out first: a destructor that kills another object queues it for the next flush.
  TVector<TKillable*, TThreadHeapStorage> taken(std::move(waiting_));
  for (TKillable* object : taken) {
    if (object != nullptr) delete object;
  }
}

}  // namespace Orvan
