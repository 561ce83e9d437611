// The thread-local storage manager: its process-wide state, the two platform keys (a thread's
// slot array and its number) and the slot operations.
#include "core/threads/thread_local_storage.h"

#include <pthread.h>

#include <atomic>
#include <cassert>
#include <new>

#include "core/diagnostics/engine_exception.h"
#include "core/memory/global_allocation.h"
#include "core/text/engine_string.h"
#include "core/text/hash_functors.h"
#include "core/threads/thread_id.h"

namespace Orvan {

namespace {

// The manager's state lives outside the object, from its construction to its destruction.
struct TManagerState {
  TMutex mutex;
  TU32ToU32Map threadIndices;  // engine thread id -> thread number
  TStringNoCaseToU32Map slotNames;  // looked up without regard to case
  std::uint32_t slotCount = 0;
};

alignas(TManagerState) unsigned char g_stateStorage[sizeof(TManagerState)];
TManagerState* g_state = nullptr;
// 1 from the manager's construction to its destruction.
std::atomic<std::uint8_t> g_alive{0};
alignas(TThreadLocalStorageManager) unsigned char g_managerStorage[sizeof(TThreadLocalStorageManager)];

// Created once per process, without destructors: slots die through UnregisterThread.
pthread_once_t g_keysOnce = PTHREAD_ONCE_INIT;
std::atomic<bool> g_keysCreated{false};
pthread_key_t g_slotArrayKey;
pthread_key_t g_threadIndexKey;

void CreateKeys() {
  pthread_key_create(&g_slotArrayKey, nullptr);
  pthread_key_create(&g_threadIndexKey, nullptr);
  g_keysCreated.store(true, std::memory_order_release);
}

std::uint32_t g_killableContainerListSlot = TThreadLocalStorageManager::kNoSlot;

}  // namespace

TThreadLocalStorageManager::TThreadLocalStorageManager() {
  g_state = ::new (static_cast<void*>(g_stateStorage)) TManagerState;
  g_alive.store(1, std::memory_order_release);
  pthread_once(&g_keysOnce, &CreateKeys);
  g_state->slotCount = 0;
  try {
    RegisterThread();
  } catch (...) {
    g_alive.store(0, std::memory_order_release);
    g_state->~TManagerState();
    g_state = nullptr;
    throw;
  }
}

TThreadLocalStorageManager::~TThreadLocalStorageManager() {
  // The maps release the names and the thread numbers; then the mutex goes.
  g_state->~TManagerState();
  g_state = nullptr;
  g_alive.store(0, std::memory_order_release);
}

std::uint32_t TThreadLocalStorageManager::RegisterSlot(const char* name) {
  TMutexLocker locker(g_state->mutex);
  if (g_state->slotCount >= kMaxSlots) throw EException(L"Too many thread-local slots!");
  const std::uint32_t index = g_state->slotCount;
  if (name != nullptr && *name != '\0') g_state->slotNames.InsertNew(TOrvString<char>(name), index);
  g_state->slotCount = index + 1;
  return index;
}

std::uint32_t TThreadLocalStorageManager::FindSlotIndex(const char* name) {
  if (name == nullptr || *name == '\0') return kNoSlot;
  const TOrvString<char> probe(name);
  TMutexLocker locker(g_state->mutex);
  const auto* entry = g_state->slotNames.Find(probe);
  return entry != nullptr ? entry->value : kNoSlot;
}

std::uint32_t TThreadLocalStorageManager::GetSlotCount() {
  TMutexLocker locker(g_state->mutex);
  return g_state->slotCount;
}

void TThreadLocalStorageManager::SyncSlotCount(TThreadSlotArray* array) {
  TMutexLocker locker(g_state->mutex);
  for (std::uint32_t i = array->count; i < g_state->slotCount; ++i) array->slots[i] = nullptr;
  array->count = g_state->slotCount;
}

void TThreadLocalStorageManager::SetSlot(std::uint32_t index, TThreadLocalObject* value) {
  TThreadSlotArray* array = GetCurrentThreadSlotArray();
  assert(array != nullptr && "the thread is not registered with the thread-local storage");
  if (index >= array->count) SyncSlotCount(array);
  assert(index < array->count && "the slot was never registered");
  array->slots[index] = value;
}

std::uint32_t TThreadLocalStorageManager::RegisterThread() {
  const std::uint32_t id = GetCurrentThreadId();
  TMutexLocker locker(g_state->mutex);
  auto* entry = g_state->threadIndices.Find(id);
  if (entry != nullptr && entry->value != 0) return 0;
  const std::uint32_t registered = g_state->threadIndices.Count();
  if (registered >= kMaxThreads) throw EException(L"Too many threads!");
  const std::uint32_t index = registered + 1;
  auto* array = static_cast<TThreadSlotArray*>(AllocateMemoryOrThrow(kDomainEngine, sizeof(TThreadSlotArray)));
  array->count = 0;
  if (entry != nullptr) {
    entry->value = index;
  } else {
    try {
      g_state->threadIndices.InsertNew(id, index);
    } catch (...) {
      FreeMemory(kDomainEngine, array);
      throw;
    }
  }
  pthread_setspecific(g_slotArrayKey, array);
  pthread_setspecific(g_threadIndexKey, reinterpret_cast<void*>(static_cast<std::uintptr_t>(index)));
  return 1;
}

void TThreadLocalStorageManager::UnregisterThread() {
  TMutexLocker locker(g_state->mutex);
  const std::uint32_t id = GetCurrentThreadId();
  if (g_state->threadIndices.IsEmpty() || !g_state->threadIndices.Erase(id)) return;
  auto* array = static_cast<TThreadSlotArray*>(pthread_getspecific(g_slotArrayKey));
  if (array != nullptr) {
    // Later slots may still use earlier ones (the thread's heap sits in an early slot) while
    // they die; a slot already destroyed reads null.
    for (std::uint32_t i = array->count; i-- > 0;) {
      TThreadLocalObject* object = array->slots[i];
      if (object == nullptr) continue;
      array->slots[i] = nullptr;
      delete object;
    }
    array->count = 0;
    FreeMemory(kDomainEngine, array);
  }
  // Nothing may reach the freed array through the keys.
  pthread_setspecific(g_slotArrayKey, nullptr);
  pthread_setspecific(g_threadIndexKey, nullptr);
}

std::uint32_t TThreadLocalStorageManager::GetThreadCount() {
  TMutexLocker locker(g_state->mutex);
  return g_state->threadIndices.Count();
}

TThreadLocalStorageManager* CreateThreadLocalStorageManager() {
  if (TThreadLocalStorageManager* manager = TThreadLocalStorageManager::GetInstancePointer()) return manager;
  return ::new (static_cast<void*>(g_managerStorage)) TThreadLocalStorageManager;
}

void DestroyThreadLocalStorageManager() {
  delete TThreadLocalStorageManager::GetInstancePointer();
}

TThreadLocalStorageManager* GetThreadLocalStorageManager() { return TThreadLocalStorageManager::GetInstancePointer(); }

TMutex* GetThreadLocalStorageMutex() { return g_state != nullptr ? &g_state->mutex : nullptr; }

TThreadSlotArray* GetCurrentThreadSlotArray() {
  if (!g_keysCreated.load(std::memory_order_acquire)) return nullptr;
  return static_cast<TThreadSlotArray*>(pthread_getspecific(g_slotArrayKey));
}

std::uint32_t GetCurrentThreadIndex() {
  if (!g_keysCreated.load(std::memory_order_acquire)) return 0;
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pthread_getspecific(g_threadIndexKey)));
}

TThreadLocalObject* ReadThreadLocalSlot(std::uint32_t index) {
  TThreadSlotArray* array = GetCurrentThreadSlotArray();
  assert(array != nullptr && "the thread is not registered with the thread-local storage");
  if (index >= array->count) {
    GetThreadLocalStorageManager()->SyncSlotCount(array);
    if (index >= array->count) return nullptr;
  }
  return array->slots[index];
}

std::uint32_t RegisterKillableContainerListSlot() {
  g_killableContainerListSlot = GetThreadLocalStorageManager()->RegisterSlot("KillableContainerList");
  return g_killableContainerListSlot;
}

std::uint32_t GetKillableContainerListSlotIndex() { return g_killableContainerListSlot; }

}  // namespace Orvan
