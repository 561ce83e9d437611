// Seams over the system calls of the native file stream: a scripted write (short writes,
// interruptions, failures) and a length change that fails with a chosen errno. Each is a scope that
// installs its call and puts the previous one back when it ends.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <utility>
#include <vector>

#include "core/streams/native_file_stream.h"

namespace OrvTest {

// Each call takes the next step: n > 0 writes at most n bytes for real, 0 writes nothing and
// answers 0, -e fails with errno e. Calls past the script write everything.
class TScriptedWrite {
 public:
  explicit TScriptedWrite(std::vector<long> steps) {
    steps_ = std::move(steps);
    next_ = 0;
    calls_ = 0;
    previous_ = Orvan::SetNativeWriteCallForTests(&Write);
  }
  ~TScriptedWrite() { Orvan::SetNativeWriteCallForTests(previous_); }
  TScriptedWrite(const TScriptedWrite&) = delete;
  TScriptedWrite& operator=(const TScriptedWrite&) = delete;

  int Calls() const { return calls_; }

 private:
  static ssize_t Write(int descriptor, const void* source, std::size_t count) {
    ++calls_;
    const long step = next_ < steps_.size() ? steps_[next_++] : static_cast<long>(count);
    if (step < 0) {
      errno = static_cast<int>(-step);
      return -1;
    }
    return ::write(descriptor, source, std::min(count, static_cast<std::size_t>(step)));
  }

  static inline std::vector<long> steps_;
  static inline std::size_t next_ = 0;
  static inline int calls_ = 0;
  Orvan::TNativeWriteCall previous_ = nullptr;
};

// Every length change fails with the errno given, leaving the file alone.
class TFailingTruncate {
 public:
  explicit TFailingTruncate(int error) {
    error_ = error;
    previous_ = Orvan::SetNativeTruncateCallForTests(&Truncate);
  }
  ~TFailingTruncate() { Orvan::SetNativeTruncateCallForTests(previous_); }
  TFailingTruncate(const TFailingTruncate&) = delete;
  TFailingTruncate& operator=(const TFailingTruncate&) = delete;

 private:
  static int Truncate(int, off64_t) {
    errno = error_;
    return -1;
  }

  static inline int error_ = 0;
  Orvan::TNativeTruncateCall previous_ = nullptr;
};

}  // namespace OrvTest
