// The singleton registry: a list of every live singleton, in the general heap.
#include "core/singletons/singleton.h"

#include <cstring>

#include "core/containers/engine_vector.h"
#include "core/memory/heap.h"

namespace Orvan {

namespace {
TSingletonRegistry* g_registry = nullptr;
}

TSingletonRegistry::~TSingletonRegistry() { FreeEntries(); }

void TSingletonRegistry::Create() {
  if (g_registry != nullptr) return;
  void* storage = AllocateFromGeneralHeap(sizeof(TSingletonRegistry));
  g_registry = ::new (storage) TSingletonRegistry;
}

void TSingletonRegistry::Destroy() {
  if (g_registry == nullptr) return;
  g_registry->~TSingletonRegistry();
  FreeToGeneralHeap(g_registry);
  g_registry = nullptr;
}

TSingletonRegistry* TSingletonRegistry::Get() { return g_registry; }

TSingletonRegistry* TSingletonRegistry::ExchangeForTests(TSingletonRegistry* registry) {
  TSingletonRegistry* previous = g_registry;
  g_registry = registry;
  return previous;
}

void TSingletonRegistry::Register(Meta::TSingletonBase* instance) {
  if (g_registry != nullptr) g_registry->Append(instance);
}

void TSingletonRegistry::Unregister(Meta::TSingletonBase* instance) {
  if (g_registry != nullptr) g_registry->Remove(instance);
}

void TSingletonRegistry::Append(Meta::TSingletonBase* instance) {
  TMutexLocker locker(mutex_);
  if (size_ == capacity_) {
    const std::uint32_t grown = ComputeGrownCapacity(capacity_, sizeof(Meta::TSingletonBase*));
    auto* entries = static_cast<Meta::TSingletonBase**>(AllocateFromGeneralHeap(grown * sizeof(Meta::TSingletonBase*)));
    if (size_ != 0) std::memcpy(entries, entries_, size_ * sizeof(Meta::TSingletonBase*));
    if (capacity_ != 0) FreeToGeneralHeap(entries_);
    entries_ = entries;
    capacity_ = grown;
  }
  entries_[size_++] = instance;
}

void TSingletonRegistry::Remove(Meta::TSingletonBase* instance) {
  TMutexLocker locker(mutex_);
  for (std::uint32_t i = 0; i < size_; ++i) {
    if (entries_[i] != instance) continue;
    std::memmove(entries_ + i, entries_ + i + 1, (size_ - i - 1) * sizeof(Meta::TSingletonBase*));
    --size_;
    return;
  }
}

void TSingletonRegistry::FreeEntries() {
  size_ = 0;
  if (capacity_ != 0) FreeToGeneralHeap(entries_);
  entries_ = nullptr;
  capacity_ = 0;
}

void TSingletonRegistry::DestroyAll() {
  TSingletonRegistry* registry = g_registry;
  if (registry == nullptr) return;
  try {
    // The mutex is not held while destructors run: they unregister themselves, and may destroy
    // and unregister other singletons, so the walk goes on from the list's current end.
    std::uint32_t i = registry->size_;
    while (i > 0) {
      Meta::TSingletonBase* entry = registry->entries_[i - 1];
      if (entry->destroyedByRegistry == 0) {
        registry->size_ = --i;
        continue;
      }
      delete entry;
      // An entry that did not unregister itself is gone all the same: never call it twice.
      if (registry->size_ >= i && registry->entries_[i - 1] == entry) registry->size_ = i - 1;
      i = registry->size_;
    }
  } catch (...) {
    registry->FreeEntries();
    throw;
  }
  registry->FreeEntries();
}

}  // namespace Orvan
