// Whether a singleton is in the registry's list: singleton tests check registration and its undoing.
#pragma once

#include <cstdint>

#include "core/singletons/singleton.h"

namespace OrvTest {

inline bool IsRegisteredSingleton(const Orvan::Meta::TSingletonBase* instance) {
  const Orvan::TSingletonRegistry* registry = Orvan::TSingletonRegistry::Get();
  for (std::uint32_t i = 0; i < registry->GetSize(); ++i) {
    if (registry->GetEntry(i) == instance) return true;
  }
  return false;
}

}  // namespace OrvTest
