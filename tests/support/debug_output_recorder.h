// Records the lines written to the debug output (every thread's stream) while it lives, as UTF-8.
#pragma once

#include <string>
#include <vector>

#include "core/diagnostics/debug_output.h"
#include "core/text/text_encoding.h"

namespace OrvTest {

class TDebugOutputRecorder {
 public:
  TDebugOutputRecorder() { Orvan::SetDebugOutputLineSink(&Collect, this); }
  ~TDebugOutputRecorder() { Orvan::SetDebugOutputLineSink(nullptr, nullptr); }
  TDebugOutputRecorder(const TDebugOutputRecorder&) = delete;
  TDebugOutputRecorder& operator=(const TDebugOutputRecorder&) = delete;

  const std::vector<std::string>& Lines() const { return lines_; }
  std::size_t CountLinesContaining(const std::string& text) const {
    std::size_t count = 0;
    for (const std::string& line : lines_) count += line.find(text) != std::string::npos ? 1 : 0;
    return count;
  }

 private:
  static void Collect(const wchar_t* line, void* context) {
    static_cast<TDebugOutputRecorder*>(context)->lines_.push_back(Orvan::WideToUtf8(line));
  }

  std::vector<std::string> lines_;
};

}  // namespace OrvTest
