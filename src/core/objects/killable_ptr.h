// Pointers to killables that clear themselves when their target is killed. A scoped pointer also
// kills the target it still holds when it goes out of scope.
//
// Use:
//   TKillablePtr<TUnit> target(unit);
//   ...
//   if (target) target->Attack();      // null once the unit was killed
#pragma once

#include "core/objects/killable.h"

namespace Orvan {

class TAbstractKillablePtr : public IKillableContainer {
 public:
  TAbstractKillablePtr() noexcept = default;
  // A copy watches the same target in its own right.
  TAbstractKillablePtr(const TAbstractKillablePtr& other) : IKillableContainer(other) { Set(other.target_); }
  TAbstractKillablePtr& operator=(const TAbstractKillablePtr& other) {
    Set(other.target_);
    return *this;
  }
  // Stops watching; the target lives on.
  ~TAbstractKillablePtr() override { Set(nullptr); }

  // Watches the new target and lets go of the old one; nothing when they are the same. On
  // std::bad_alloc the pointer keeps its old target.
  void Set(TKillable* killable);
  TKillable* GetTarget() const noexcept { return target_; }

  void NotifyKilled(TKillable* killable) override { OnKilled(killable); }
  void ForgetKillable(TKillable*) override { target_ = nullptr; }
  void OnKilled(TKillable*) override {}

 private:
  TKillable* target_ = nullptr;
};

template <typename T>
class TKillablePtr : public TAbstractKillablePtr {
 public:
  TKillablePtr() noexcept = default;
  explicit TKillablePtr(T* target) { Set(target); }
  TKillablePtr& operator=(T* target) {
    Set(target);
    return *this;
  }

  T* Get() const noexcept { return static_cast<T*>(GetTarget()); }
  T* operator->() const noexcept { return Get(); }
  T& operator*() const noexcept { return *Get(); }
  explicit operator bool() const noexcept { return GetTarget() != nullptr; }
};

// Owns its target in the killable sense: it kills the target still held when it goes. Not
// copyable: one scope ends one target.
class TScopedKillablePtr : public TKillablePtr<TKillable> {
 public:
  TScopedKillablePtr() noexcept = default;
  explicit TScopedKillablePtr(TKillable* target) { Set(target); }
  TScopedKillablePtr(const TScopedKillablePtr&) = delete;
  TScopedKillablePtr& operator=(const TScopedKillablePtr&) = delete;
  ~TScopedKillablePtr() override;
};

}  // namespace Orvan
