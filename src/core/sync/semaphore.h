// TSemaphore: a process-private POSIX unnamed semaphore.
#pragma once

#include <semaphore.h>

#include <cstdint>

namespace Orvan {

class TSemaphore {
 public:
  explicit TSemaphore(std::uint32_t initialValue = 0);
  ~TSemaphore();
  TSemaphore(const TSemaphore&) = delete;
  TSemaphore& operator=(const TSemaphore&) = delete;

  // Blocks until the count can be decremented.
  void Wait();
  void Post();
  // True when the count was decremented within the time-out; 0 makes a non-blocking attempt.
  bool TimedWait(std::uint32_t milliseconds);
  // Passes once the count is positive and leaves it unchanged.
  void WaitAndPost();
  bool IsZero();

 private:
  sem_t semaphore_;
};

}  // namespace Orvan
