// Process allocators that fail on purpose, for the out-of-memory paths of engine code: one fails
// after a count of allocations, one fails every request above a size. Keep gtest macros out of
// the windows they are installed in: they allocate too.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>

#include "core/memory/global_allocation.h"

namespace OrvTest {

// A scope that lets the next `allowance` process allocations through and fails every later one,
// handing everything else to the allocator it replaced, so blocks made before the scope may be
// freed inside it and the other way round.
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

// What one run under a size limit came to: whether it threw std::bad_alloc, and how many blocks
// taken inside the window were not given back inside it.
struct TLimitedAllocationRun {
  bool threwBadAlloc;
  int outstanding;
};

namespace Detail {

struct TLimitedProcessAllocator {
  static inline std::size_t limit = 0;
  static inline int outstanding = 0;
  static void* Allocate(std::size_t size) {
    if (size > limit) return nullptr;
    void* raw = std::malloc(size);
    if (raw != nullptr) ++outstanding;
    return raw;
  }
  static void* Reallocate(void* raw, std::size_t size) { return std::realloc(raw, size); }
  static void Release(void* raw) {
    if (raw != nullptr) --outstanding;
    std::free(raw);
  }
};

}  // namespace Detail

// Runs `operation` with every process allocation above `failAbove` bytes failing and the rest
// served by malloc. Only blocks taken inside the window may be given back inside it.
template <typename TOperation>
TLimitedAllocationRun RunWithAllocationsAbove(std::size_t failAbove, TOperation&& operation) {
  using Detail::TLimitedProcessAllocator;
  TLimitedProcessAllocator::limit = failAbove;
  TLimitedProcessAllocator::outstanding = 0;
  const Orvan::TProcessAllocator previous = Orvan::SetProcessAllocatorForTests(
      {&TLimitedProcessAllocator::Allocate, &TLimitedProcessAllocator::Reallocate, &TLimitedProcessAllocator::Release});
  TLimitedAllocationRun run{false, 0};
  try {
    operation();
  } catch (const std::bad_alloc&) {
    run.threwBadAlloc = true;
  } catch (...) {
    Orvan::SetProcessAllocatorForTests(previous);
    throw;
  }
  run.outstanding = TLimitedProcessAllocator::outstanding;
  Orvan::SetProcessAllocatorForTests(previous);
  return run;
}

}  // namespace OrvTest
