// Killable pointers: their target registration and the scoped pointer's kill.
#include "core/objects/killable_ptr.h"

#include <new>

namespace Orvan {

void TAbstractKillablePtr::Set(TKillable* killable) {
  if (killable == target_) return;
  if (killable != nullptr) killable->AddWatcher(this);
  if (target_ != nullptr) target_->RemoveWatcher(this);
  target_ = killable;
}

TScopedKillablePtr::~TScopedKillablePtr() {
  // The kill clears the target through ForgetKillable; a target whose kill is already under way
  // is only let go, by the base destructor.
  TKillable* target = GetTarget();
  if (target == nullptr) return;
  try {
    target->Kill();
  } catch (const std::bad_alloc&) {
    // The watchers could not be parked for their notification, but they have all forgotten the
    // target: a second kill needs no node and finishes it.
    target->Kill();
  }
}

}  // namespace Orvan
