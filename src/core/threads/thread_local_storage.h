// Named per-thread slots. A slot is registered once per process under a name and gets an index;
// every thread registered with the manager has its own array of up to 64 slot pointers. A slot
// holds a TThreadLocalObject (typically a holder owning the real object), made by the slot's user
// on the thread's first need and destroyed, last slot first, when the thread unregisters. The
// manager also numbers the registered threads, at most 128 at a time.
//
// Use (a slot user):
//   slot = manager->RegisterSlot("MySlot");                      // once, at start-up
//   auto* holder = static_cast<THolder*>(ReadThreadLocalSlot(slot));   // null until stored
//   if (holder == nullptr) manager->SetSlot(slot, holder = new THolder(new TThing));
#pragma once

#include <cstdint>

#include "core/singletons/singleton.h"
#include "core/sync/mutex.h"

namespace Orvan {

// Base of the objects kept in a slot; the manager deletes them through this base.
class TThreadLocalObject {
 public:
  virtual ~TThreadLocalObject() = default;
};

// Owns one object and deletes it with TDeleter when the holder dies with its thread.
template <typename T, typename TDeleter>
class TThreadLocalObjectHolder final : public TThreadLocalObject {
 public:
  explicit TThreadLocalObjectHolder(T* object) : object_(object) {}
  ~TThreadLocalObjectHolder() override { TDeleter()(object_); }
  TThreadLocalObjectHolder(const TThreadLocalObjectHolder&) = delete;
  TThreadLocalObjectHolder& operator=(const TThreadLocalObjectHolder&) = delete;
  T* Get() const { return object_; }

 private:
  T* object_;
};

// One thread's slots. Slots at and above `count` are brought up to the registered slot count
// (set to null) before they are read or written.
struct TThreadSlotArray {
  static constexpr std::uint32_t kMaxSlots = 64;
  TThreadLocalObject* slots[kMaxSlots];
  std::uint32_t count;
};

class TThreadLocalStorageManager final : public Meta::TSingleton<TThreadLocalStorageManager, false> {
 public:
  // Registered threads at one time; the next registration is refused.
  static constexpr std::uint32_t kMaxThreads = 128;
  static constexpr std::uint32_t kMaxSlots = TThreadSlotArray::kMaxSlots;
  // FindSlotIndex's answer for a name that was never registered.
  static constexpr std::uint32_t kNoSlot = 0xFFFFFFFFu;

  // Empties the maps, creates the platform keys (once per process) and registers the calling
  // thread. Built in static storage by CreateThreadLocalStorageManager.
  TThreadLocalStorageManager();
  // Releases the names and the thread numbers. Slot arrays of threads still registered are not
  // freed: those threads detach first.
  ~TThreadLocalStorageManager() override;
  // The object lives in static storage: deleting it destroys it and frees nothing.
  static void operator delete(void*) noexcept {}

  // Hands out the next index; a non-empty name is recorded for FindSlotIndex (a name registered
  // twice gets two indices; lookups find the first). Throws EException past 64 slots.
  std::uint32_t RegisterSlot(const char* name);
  // The index registered first under the name, compared without regard to case; kNoSlot for a
  // name never registered.
  std::uint32_t FindSlotIndex(const char* name);
  std::uint32_t GetSlotCount();
  // Brings the array's valid slots up to the registered count (new slots null).
  void SyncSlotCount(TThreadSlotArray* array);
  // Stores into the calling thread's slot.
  void SetSlot(std::uint32_t index, TThreadLocalObject* value);

  // Registers the calling thread: a slot array with every slot null and the next thread number.
  // 1 when registered now, 0 when it already was. Throws EException "Too many threads!" while 128
  // threads are registered; nothing changes then.
  std::uint32_t RegisterThread();
  // Destroys the calling thread's slot objects (last slot first), frees its array and forgets it.
  // The thread's keys are cleared: its slot array reads null and its index 0 afterwards. A thread
  // that is not registered is left alone.
  void UnregisterThread();
  // Registered threads.
  std::uint32_t GetThreadCount();
};

// Builds the manager in its static storage (when it does not exist yet) and returns it.
TThreadLocalStorageManager* CreateThreadLocalStorageManager();
// Destroys the manager through its deleting destructor; nothing when it does not exist.
void DestroyThreadLocalStorageManager();
// The manager, or null when it does not exist.
TThreadLocalStorageManager* GetThreadLocalStorageManager();
// The lock of the manager's process-wide state.
TMutex* GetThreadLocalStorageMutex();

// The calling thread's slot array; null for an unregistered thread.
TThreadSlotArray* GetCurrentThreadSlotArray();
// The calling thread's number (1 to 128); 0 for an unregistered thread.
std::uint32_t GetCurrentThreadIndex();
// The calling thread's slot, null until something was stored. The thread must be registered.
TThreadLocalObject* ReadThreadLocalSlot(std::uint32_t index);

// The killable-container list slot: registers "KillableContainerList" and keeps its index.
std::uint32_t RegisterKillableContainerListSlot();
std::uint32_t GetKillableContainerListSlotIndex();

}  // namespace Orvan
