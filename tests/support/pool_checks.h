// Checks on the typed pools from outside: whether an object lies in one of a pool's chunks, how
// often a pool is registered with the singleton registry, and a pool's live count without building it.
#pragma once

#include <cstdint>

#include "core/memory/typed_pool.h"
#include "core/singletons/singleton.h"

namespace OrvTest {

template <typename TPool>
bool ComesFromPool(const TPool* pool, const void* object) {
  for (std::uint32_t i = 0; i < pool->GetChunkCount(); ++i) {
    if (Orvan::IsInPoolChunk(pool->GetChunk(i), pool->GetElementSize(), object)) return true;
  }
  return false;
}

inline std::uint32_t CountRegistryEntries(const Orvan::Meta::TSingletonBase* instance) {
  const Orvan::TSingletonRegistry* registry = Orvan::TSingletonRegistry::Get();
  std::uint32_t count = 0;
  for (std::uint32_t i = 0; i < registry->GetSize(); ++i) count += registry->GetEntry(i) == instance;
  return count;
}

// The live count of T's pool; 0 while the pool does not exist.
template <typename T>
std::uint32_t LivePoolObjects() {
  const auto* pool = Orvan::TPoolAllocation<T>::GetInstancePointer();
  return pool != nullptr ? pool->GetLiveCount() : 0;
}

}  // namespace OrvTest
