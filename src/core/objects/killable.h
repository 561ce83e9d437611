// Killable objects: objects that can be ended explicitly while others still refer to them. Every
// container or pointer that refers to one registers with it as a watcher; the kill makes every
// watcher forget the object, notifies the watchers still alive, marks the object killed and hands
// it to its cleaner, which deletes it now, later or never.
//
// Use:
//   class TUnit : public TKillable { ... };
//   TKillableCleanerDelayDelete cleaner;
//   auto* unit = new TUnit;  unit->SetCleaner(&cleaner);
//   TKillablePtr<TUnit> target(unit);    // a watcher
//   unit->Kill();                        // target.Get() is null now; the unit waits in the cleaner
//   cleaner.Flush();                     // deleted
//
// A killable, its watchers and its cleaner belong to one thread: nothing here takes a lock.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/objects/class_with_virtual_destructor.h"
#include "core/objects/killable_cleaner.h"

namespace Orvan {

class IKillableContainer;

// The polymorphic root of killables, with the timer hook they may answer.
class TKillableOnTimerAble : public RTTI::TClassWithVirtualDestructor {
 public:
  virtual void OnTimer() {}
};

class TKillable : public TKillableOnTimerAble {
 public:
  // The cleaner word keeps the two flags in the low bits of the cleaner's address.
  static constexpr std::uintptr_t kKilledFlag = 1;
  static constexpr std::uintptr_t kKillStartedFlag = 2;
  static constexpr std::uintptr_t kFlagMask = kKilledFlag | kKillStartedFlag;

  // Null for the default cleaner.
  explicit TKillable(TKillableCleaner* cleaner = nullptr) noexcept;
  // A new object with the other's cleaner: alive, no watchers.
  TKillable(const TKillable& other) noexcept;
  TKillable& operator=(const TKillable&) = delete;
  // Frees the watcher storage without telling anyone: a watched object is killed, not deleted.
  ~TKillable() override;

  virtual void MarkKilled() { cleanerWord_ |= kKilledFlag; }

  // Null for the default cleaner; the flags are kept.
  void SetCleaner(TKillableCleaner* cleaner) noexcept;
  TKillableCleaner* GetCleaner() const noexcept {
    return reinterpret_cast<TKillableCleaner*>(cleanerWord_ & ~kFlagMask);
  }
  bool IsAlive() const noexcept { return (cleanerWord_ & kFlagMask) == 0; }
  bool IsKillStarted() const noexcept { return (cleanerWord_ & kKillStartedFlag) != 0; }
  bool IsKilled() const noexcept { return (cleanerWord_ & kKilledFlag) != 0; }
  // Only the flag: a kill that follows still runs.
  void MarkKillStarted() noexcept { cleanerWord_ |= kKillStartedFlag; }

  // Registers a watcher (a container may watch the same object more than once).
  void AddWatcher(IKillableContainer* container) { watchers_.PushBack(container); }
  // Removes the most recent registration of the container; nothing when it has none.
  void RemoveWatcher(IKillableContainer* container) noexcept;
  std::uint32_t GetWatcherCount() const noexcept { return watchers_.GetSize(); }

  // Sets the kill-started flag, makes every watcher forget the object, notifies those that survive
  // the kill, marks the object killed and hands it to its cleaner (which may delete it: touch
  // nothing of it afterwards). A second kill, or one from inside a notification, does nothing.
  // When the thread's container list cannot take the watchers, std::bad_alloc passes on with the
  // watchers already made to forget the object and the kill-started flag set; a later kill
  // finishes the object.
  void Kill();

 private:
  TVector<IKillableContainer*, TThreadHeapStorage> watchers_;
  std::uintptr_t cleanerWord_;
  // A kill has been entered and not given up: the guard against a second one, apart from the
  // kill-started flag, which anybody may set.
  bool killEntered_ = false;
};

// What watches killables: lists, pointers. The kill calls ForgetKillable on every watcher, then
// NotifyKilled on each one still alive.
class IKillableContainer {
 public:
  IKillableContainer() noexcept = default;
  IKillableContainer(const IKillableContainer&) noexcept = default;
  IKillableContainer& operator=(const IKillableContainer&) noexcept = default;
  // Leaves the calling thread's container list, so that a kill in progress does not notify it.
  virtual ~IKillableContainer();

  virtual void NotifyKilled(TKillable* killable) = 0;
  virtual void ForgetKillable(TKillable* killable) = 0;
  // The hook of lists and pointers: NotifyKilled forwards here.
  virtual void OnKilled(TKillable* killable) = 0;
};

}  // namespace Orvan
