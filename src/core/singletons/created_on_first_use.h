// A process-wide object built on its first request under a three-state word (0 not started,
// 1 in progress, 2 done) and destroyed at exit. Usable from static initialisers and from any
// thread: the first caller wins a compare-and-swap and builds it, the others spin until it is there.
#pragma once

#include <sched.h>

#include <atomic>
#include <cstdint>
#include <new>

namespace Orvan {

template <typename T>
class TCreatedOnFirstUse {
 public:
  constexpr TCreatedOnFirstUse() noexcept = default;
  TCreatedOnFirstUse(const TCreatedOnFirstUse&) = delete;
  TCreatedOnFirstUse& operator=(const TCreatedOnFirstUse&) = delete;
  // At exit. A request after this builds the object again rather than touch a dead one.
  ~TCreatedOnFirstUse() {
    if (state_.load(std::memory_order_acquire) == kDone) {
      Object()->~T();
      state_.store(kNotStarted, std::memory_order_release);
    }
  }

  T& Get() {
    if (state_.load(std::memory_order_acquire) != kDone) Create();
    return *Object();
  }
  bool IsCreated() const { return state_.load(std::memory_order_acquire) == kDone; }

 private:
  static constexpr std::uint32_t kNotStarted = 0;
  static constexpr std::uint32_t kInProgress = 1;
  static constexpr std::uint32_t kDone = 2;

  T* Object() { return std::launder(reinterpret_cast<T*>(storage_)); }

  void Create() {
    std::uint32_t expected = kNotStarted;
    if (state_.compare_exchange_strong(expected, kInProgress, std::memory_order_acq_rel)) {
      try {
        new (storage_) T();
      } catch (...) {
        state_.store(kNotStarted, std::memory_order_release);
        throw;
      }
      state_.store(kDone, std::memory_order_release);
      return;
    }
    // A builder that failed puts the word back to 0; then this caller builds.
    while (state_.load(std::memory_order_acquire) != kDone) {
      if (state_.load(std::memory_order_acquire) == kNotStarted) {
        Create();
        return;
      }
      sched_yield();
    }
  }

  std::atomic<std::uint32_t> state_{kNotStarted};
  alignas(T) unsigned char storage_[sizeof(T)] = {};
};

}  // namespace Orvan
