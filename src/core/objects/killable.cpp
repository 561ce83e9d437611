// The kill and the watcher registrations of killable objects.
#include "core/objects/killable.h"

#include <utility>

#include "core/objects/killable_container_list.h"

namespace Orvan {

static_assert(alignof(TKillableCleaner) >= 4, "the cleaner word keeps two flags in the address's low bits");

TKillable::TKillable(TKillableCleaner* cleaner) noexcept
    : cleanerWord_(reinterpret_cast<std::uintptr_t>(cleaner != nullptr ? cleaner : GetDefaultKillableCleaner())) {}

TKillable::TKillable(const TKillable& other) noexcept
    : TKillableOnTimerAble(other), cleanerWord_(reinterpret_cast<std::uintptr_t>(other.GetCleaner())) {}

TKillable::~TKillable() = default;

void TKillable::SetCleaner(TKillableCleaner* cleaner) noexcept {
  if (cleaner == nullptr) cleaner = GetDefaultKillableCleaner();
  cleanerWord_ = reinterpret_cast<std::uintptr_t>(cleaner) | (cleanerWord_ & kFlagMask);
}

void TKillable::RemoveWatcher(IKillableContainer* container) noexcept {
  for (std::uint32_t i = watchers_.GetSize(); i > 0; --i) {
    if (watchers_[i - 1] == container) {
      watchers_.EraseAt(i - 1);
      return;
    }
  }
}

void TKillable::Kill() {
  // Cleaning twice would delete twice: a kill already under way (or done) stands.
  if (killEntered_) return;
  killEntered_ = true;
  MarkKillStarted();
  if (watchers_.IsEmpty()) {
    MarkKilled();
    GetCleaner()->Clean(this);
    return;
  }

  // From here on the object has no watchers: a container that lets go of it during the kill
  // finds nothing to remove.
  TVector<IKillableContainer*, TThreadHeapStorage> taken(std::move(watchers_));
  for (IKillableContainer* watcher : taken) watcher->ForgetKillable(this);

  TKillableContainerList* parked;
  try {
    parked = GetKillableContainerList();
    parked->PushFront(taken.Data(), taken.GetSize());
  } catch (...) {
    // Every watcher has forgotten the object already: a later kill has none to park.
    killEntered_ = false;
    throw;
  }

  // A watcher destroyed by an earlier notification has left the list: its turn finds another
  // node in front and passes. Kills made from inside a notification park and take their own
  // watchers in front of ours, so the front is ours again when they return.
  std::uint32_t next = 0;
  try {
    for (; next < taken.GetSize(); ++next) {
      IKillableContainer* watcher = taken[next];
      if (parked->TakeFront(watcher)) watcher->NotifyKilled(this);
    }
  } catch (...) {
    // A notification threw: the watchers not reached yet leave the list with it.
    for (++next; next < taken.GetSize(); ++next) parked->TakeFront(taken[next]);
    throw;
  }
  taken.Clear();

  MarkKilled();
  GetCleaner()->Clean(this);
}

IKillableContainer::~IKillableContainer() {
  if (TKillableContainerList* list = FindKillableContainerList()) list->Remove(this);
}

}  // namespace Orvan
