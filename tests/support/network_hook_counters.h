// Network memory hooks that count what passes through them (and can answer null), installed for
// the life of a scope on top of the engine defaults.
#pragma once

#include <cstddef>

#include "network/logging/network_hooks.h"

namespace OrvTest {

class TCountingNetworkAllocator {
 public:
  TCountingNetworkAllocator() : previous_(Orvan::Network::GetNetworkHooks()) {
    allocations = reallocations = frees = 0;
    failAllocate = failReallocate = false;
    lastSize = 0;
    Orvan::Network::SetNetworkAllocator(&Allocate, &Reallocate, &Free);
  }
  ~TCountingNetworkAllocator() {
    Orvan::Network::SetNetworkAllocator(previous_.allocate, previous_.reallocate, previous_.free);
  }
  TCountingNetworkAllocator(const TCountingNetworkAllocator&) = delete;
  TCountingNetworkAllocator& operator=(const TCountingNetworkAllocator&) = delete;

  static inline int allocations = 0;
  static inline int reallocations = 0;
  static inline int frees = 0;
  static inline bool failAllocate = false;
  static inline bool failReallocate = false;
  static inline std::size_t lastSize = 0;  // of the last allocation or reallocation

 private:
  static void* Allocate(std::size_t size) {
    ++allocations;
    lastSize = size;
    return failAllocate ? nullptr : Orvan::Network::DefaultNetworkAllocate(size);
  }
  static void* Reallocate(void* block, std::size_t size) {
    ++reallocations;
    lastSize = size;
    return failReallocate ? nullptr : Orvan::Network::DefaultNetworkReallocate(block, size);
  }
  static void Free(void* block) {
    if (block != nullptr) ++frees;
    Orvan::Network::DefaultNetworkFree(block);
  }
  Orvan::Network::TNetworkHooks previous_;
};

}  // namespace OrvTest
