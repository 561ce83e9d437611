// Starting test threads together: each waits at a barrier for all the others before it runs its
// part, so that the parts overlap as much as the machine allows.
#pragma once

#include <barrier>
#include <cstddef>
#include <thread>
#include <vector>

namespace OrvTest {

// Runs body(index) for index 0 to count - 1, each on a new thread, all released together.
// Returns once every thread has ended.
template <typename TIndex, typename TBody>
void RunOnThreadsTogether(TIndex count, TBody&& body) {
  std::barrier start(static_cast<std::ptrdiff_t>(count));
  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(count));
  for (TIndex index = 0; index < count; ++index) {
    threads.emplace_back([&start, &body, index] {
      start.arrive_and_wait();
      body(index);
    });
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace OrvTest
