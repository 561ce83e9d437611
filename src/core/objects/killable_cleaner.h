// Cleaners: the policy a killed object is handed to, deciding whether it is deleted now, at the
// next flush, or left to its owner. A killable made without a cleaner uses the default one, which
// does nothing.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"

namespace Orvan {

class TKillable;

class TKillableCleaner {
 public:
  constexpr TKillableCleaner() noexcept = default;
  TKillableCleaner(const TKillableCleaner&) = delete;
  TKillableCleaner& operator=(const TKillableCleaner&) = delete;
  virtual ~TKillableCleaner() = default;
  // Receives the object at the end of its kill.
  virtual void Clean(TKillable* object) = 0;
};

class TKillableCleanerDoNothing final : public TKillableCleaner {
 public:
  constexpr TKillableCleanerDoNothing() noexcept = default;
  void Clean(TKillable*) override {}
};

class TKillableCleanerDirectDelete final : public TKillableCleaner {
 public:
  // Deletes the object through its virtual destructor; null is ignored.
  void Clean(TKillable* object) override;
};

// Queues killed objects and deletes them at the next Flush. Belongs to one thread: the queue lives
// on that thread's heap.
class TKillableCleanerDelayDelete final : public TKillableCleaner {
 public:
  TKillableCleanerDelayDelete() noexcept = default;
  // Frees the queue without deleting what waits in it.
  ~TKillableCleanerDelayDelete() override = default;

  void Clean(TKillable* object) override { waiting_.PushBack(object); }
  // Deletes, in queue order, the objects queued before the flush began (null entries skipped);
  // objects queued while it runs wait for the next flush.
  void Flush();
  std::uint32_t GetWaitingCount() const noexcept { return waiting_.GetSize(); }

 private:
  TVector<TKillable*, TThreadHeapStorage> waiting_;
};

// The cleaner of killables made without one, constant-initialised so that killables built by other
// static initialisers find it whatever their order. Defined in the engine's static-initialiser
// unit.
extern TKillableCleanerDoNothing DefaultKillableCleaner;
TKillableCleaner* GetDefaultKillableCleaner() noexcept;

}  // namespace Orvan
