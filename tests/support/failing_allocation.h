// A scope that lets the next `allowance` process allocations through and fails every later one,
// handing everything else to the allocator it replaced, so blocks made before the scope may be
// freed inside it and the other way round. Keep gtest macros out of the scope: they allocate too.
#pragma once

#include <cstddef>

#include "core/runtime/global_allocation.h"

namespace OrvTest {

class TFailingAllocationScope {
 public:
  explicit TFailingAllocationScope(int allowance) {
    allowance_ = allowance;
    previous_ = Orvan::SetProcessAllocatorForTests({&Allocate, &Reallocate, &Release});
  }
  ~TFailingAllocationScope() { Orvan::SetProcessAllocatorForTests(previous_); }
  TFailingAllocationScope(const TFailingAllocationScope&) = delete;
  TFailingAllocationScope& operator=(const TFailingAllocationScope&) = delete;

 private:
  static void* Allocate(std::size_t size) {
    if (allowance_ == 0) return nullptr;
    --allowance_;
    return previous_.allocate(size);
  }
  static void* Reallocate(void* raw, std::size_t size) {
    if (allowance_ == 0) return nullptr;
    --allowance_;
    return previous_.reallocate(raw, size);
  }
  static void Release(void* raw) { previous_.release(raw); }

  static inline int allowance_ = 0;
  static inline Orvan::TProcessAllocator previous_{};
};

}  // namespace OrvTest
