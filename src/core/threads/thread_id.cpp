// Engine thread ids live in a thread-specific key; the registry words are shared by all threads.
#include "core/threads/thread_id.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cstdint>

namespace Orvan {

namespace {

// Registry slots for thread ids; the callers need no more than three.
constexpr int kRegisteredThreadIdSlots = 3;

// The current-thread key is created once: 0 not started, 1 being created, 2 ready.
std::atomic<std::uint32_t> currentThreadKeyState{0};
pthread_key_t currentThreadKey;

std::atomic<std::uint32_t> threadIdCounter{0};

// Any thread may read or write these words at any time; relaxed atomics keep that free of data
// races without adding ordering nobody relies on.
std::atomic<std::uint32_t> mainThreadId{0};
std::atomic<std::uint32_t> registeredThreadIds[kRegisteredThreadIdSlots] = {};

pthread_key_t GetCurrentThreadKey() {
  // Acquire: a thread that sees 2 must also see the key the creator stored before publishing 2.
  if (currentThreadKeyState.load(std::memory_order_acquire) != 2) {
    std::uint32_t expected = 0;
    if (currentThreadKeyState.compare_exchange_strong(expected, 1, std::memory_order_acquire)) {
      pthread_key_create(&currentThreadKey, nullptr);
      currentThreadKeyState.store(2, std::memory_order_release);
    } else {
      while (currentThreadKeyState.load(std::memory_order_acquire) != 2) sched_yield();
    }
  }
  return currentThreadKey;
}

}  // namespace

std::uint32_t GetCurrentThreadId() {
  const pthread_key_t key = GetCurrentThreadKey();
  auto id = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pthread_getspecific(key)));
  if (id == 0) {
    id = TakeNextThreadId();
    pthread_setspecific(key, reinterpret_cast<void*>(static_cast<std::uintptr_t>(id)));
  }
  return id;
}

void StoreCurrentThreadId(std::uint32_t id) {
  pthread_setspecific(GetCurrentThreadKey(), reinterpret_cast<void*>(static_cast<std::uintptr_t>(id)));
}

std::uint32_t TakeNextThreadId() {
  std::uint32_t current = threadIdCounter.load(std::memory_order_relaxed);
  while (!threadIdCounter.compare_exchange_strong(current, current + 1, std::memory_order_relaxed)) {
    // Lost the race to another thread taking an id: back off for 1 ms and try again.
    const timespec pause = {0, 1000000};
    nanosleep(&pause, nullptr);
    current = threadIdCounter.load(std::memory_order_relaxed);
  }
  return current + 1;
}

std::uint32_t GetMainThreadId() { return mainThreadId.load(std::memory_order_relaxed); }

std::uint32_t SetMainThreadToCurrent() {
  const std::uint32_t id = GetCurrentThreadId();
  mainThreadId.store(id, std::memory_order_relaxed);
  return id;
}

void ClearMainThreadId() { mainThreadId.store(0, std::memory_order_relaxed); }

void RegisterThreadId(std::uint32_t id) {
  // Claim a slot only while it is still empty, so that two threads registering at once cannot
  // both take the same slot and lose one of the ids.
  for (auto& slot : registeredThreadIds) {
    std::uint32_t expected = 0;
    if (slot.compare_exchange_strong(expected, id, std::memory_order_relaxed)) return;
  }
}

bool IsCurrentThreadRegistered() {
  const std::uint32_t id = GetCurrentThreadId();
  for (const auto& slot : registeredThreadIds) {
    if (slot.load(std::memory_order_relaxed) == id) return true;
  }
  return false;
}

void ClearRegisteredThreadIdsForTests() {
  for (auto& slot : registeredThreadIds) slot.store(0, std::memory_order_relaxed);
}

}  // namespace Orvan
