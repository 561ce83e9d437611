// Whether a mutex is held, seen from outside: a recursive mutex always lets its owner in again,
// so only another thread can tell.
#pragma once

#include <future>

#include "core/sync/mutex.h"

namespace OrvTest {

// TryLock on a fresh thread; gives the mutex straight back when it got it.
inline bool TryLockFromOtherThread(Orvan::TMutex& mutex) {
  return std::async(std::launch::async, [&mutex] {
           const bool taken = mutex.TryLock();
           if (taken) mutex.Unlock();
           return taken;
         })
      .get();
}

}  // namespace OrvTest
