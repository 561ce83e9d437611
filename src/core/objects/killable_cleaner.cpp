// The default cleaner and the deleting cleaners.
#include "core/objects/killable_cleaner.h"

#include <utility>

#include "core/objects/killable.h"

namespace Orvan {

TKillableCleaner* GetDefaultKillableCleaner() noexcept { return &DefaultKillableCleaner; }

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
