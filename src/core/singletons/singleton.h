// Process-wide engine objects and the registry that knows them all. Every singleton registers
// when built and unregisters when destroyed; at core shutdown the registry destroys, last first,
// the ones it owns (those built in static storage by their accessor, the pools among them).
#pragma once

#include <atomic>
#include <cstdint>
#include <new>

#include "core/sync/mutex.h"

namespace Orvan {

namespace Meta {
class TSingletonBase;
}

class TSingletonRegistry {
 public:
  // Builds the registry in the general heap; core start-up calls it once.
  static void Create();
  // Appends `instance` under the registry mutex; std::bad_alloc when the list cannot grow. Without a
  // registry nothing is recorded (and nothing will destroy the instance).
  static void Register(Meta::TSingletonBase* instance);
  // Removes the first entry equal to `instance`, keeping the others in order. Without a registry,
  // or for an instance that is not listed, nothing happens.
  static void Unregister(Meta::TSingletonBase* instance);
  // Destroys, last registered first, every entry whose destroyedByRegistry is 1 and drops the
  // others; then frees the list. Runs on the main thread after every other thread has ended.
  static void DestroyAll();
  // Frees the registry; the process-wide pointer is null afterwards.
  static void Destroy();

  static TSingletonRegistry* Get();
  // Test seam: installs another registry (or none) and returns the previous one.
  static TSingletonRegistry* ExchangeForTests(TSingletonRegistry* registry);

  std::uint32_t GetSize() const { return size_; }
  std::uint32_t GetCapacity() const { return capacity_; }
  Meta::TSingletonBase* GetEntry(std::uint32_t index) const { return entries_[index]; }

 private:
  TSingletonRegistry() = default;
  ~TSingletonRegistry();
  void Append(Meta::TSingletonBase* instance);
  void Remove(Meta::TSingletonBase* instance);
  void FreeEntries();

  TMutex mutex_;
  Meta::TSingletonBase** entries_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

namespace Meta {

class TSingletonBase {
 public:
  virtual ~TSingletonBase() = default;
  TSingletonBase(const TSingletonBase&) = delete;
  TSingletonBase& operator=(const TSingletonBase&) = delete;

  // 1 once a registry-owned singleton is fully built: the registry destroys it at shutdown.
  std::uint8_t destroyedByRegistry = 0;

 protected:
  TSingletonBase() = default;
};

namespace Detail {
template <bool InStaticStorage>
struct TSingletonStorage {};
// Registry-owned singletons live in static storage: `delete` on them destroys and frees nothing.
template <>
struct TSingletonStorage<true> {
  static void operator delete(void*) noexcept {}
};
}  // namespace Detail

// `DestroyedByRegistry`: true for singletons built in static storage by Instance and destroyed by
// the registry at shutdown; false for singletons that an owner builds and deletes.
template <typename T, bool DestroyedByRegistry>
class TSingleton : public TSingletonBase, public Detail::TSingletonStorage<DestroyedByRegistry> {
 public:
  // Null until the singleton is built and again once it is destroyed.
  static T* GetInstancePointer() { return static_cast<T*>(instance_.load(std::memory_order_acquire)); }

  // Builds the singleton on first use, once, whichever threads race for it. A construction that
  // throws puts the once-state back to 0 and passes the exception on; a thread waiting for that
  // construction then competes to build it itself.
  static T* Instance()
    requires DestroyedByRegistry
  {
    if (onceState_.load(std::memory_order_acquire) == kBuilt) return GetInstancePointer();
    return BuildOnce();
  }

 protected:
  TSingleton() {
    instance_.store(this, std::memory_order_release);
    try {
      TSingletonRegistry::Register(this);
    } catch (...) {
      instance_.store(nullptr, std::memory_order_release);
      throw;
    }
  }

  ~TSingleton() override {
    TSingletonRegistry::Unregister(instance_.load(std::memory_order_acquire));
    instance_.store(nullptr, std::memory_order_release);
    // A destroyed registry-owned singleton can be built again by its accessor.
    if constexpr (DestroyedByRegistry) {
      std::uint32_t built = kBuilt;
      onceState_.compare_exchange_strong(built, kNotBuilt, std::memory_order_acq_rel);
    }
  }

 private:
  static constexpr std::uint32_t kNotBuilt = 0;
  static constexpr std::uint32_t kBuilding = 1;
  static constexpr std::uint32_t kBuilt = 2;

  static T* BuildOnce() {
    alignas(T) static unsigned char storage[sizeof(T)];
    for (;;) {
      std::uint32_t state = kNotBuilt;
      if (onceState_.compare_exchange_strong(state, kBuilding, std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
        T* object;
        try {
          object = ::new (static_cast<void*>(storage)) T;
        } catch (...) {
          onceState_.store(kNotBuilt, std::memory_order_release);
          throw;
        }
        object->destroyedByRegistry = 1;
        instance_.exchange(object, std::memory_order_acq_rel);
        onceState_.exchange(kBuilt, std::memory_order_acq_rel);
        return object;
      }
      while (state == kBuilding) {
        __builtin_ia32_pause();
        state = onceState_.load(std::memory_order_acquire);
      }
      if (state == kBuilt) return GetInstancePointer();
    }
  }

  // Kept as the base pointer: the derived object is not built yet when the constructor stores it.
  static inline std::atomic<TSingletonBase*> instance_{nullptr};
  // 0 not built, 1 being built, 2 built.
  static inline std::atomic<std::uint32_t> onceState_{kNotBuilt};
};

}  // namespace Meta

}  // namespace Orvan
