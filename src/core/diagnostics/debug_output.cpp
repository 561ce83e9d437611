#include "core/diagnostics/debug_output.h"

#include <atomic>

namespace Orvan {

namespace {

std::atomic<TDebugOutputLineSink> g_sink{nullptr};
std::atomic<void*> g_sinkContext{nullptr};

}  // namespace

OutputDebugString_streambuf::OutputDebugString_streambuf() : write_(line_), end_(line_ + kLineUnits - 1) {
  line_[0] = L'\0';
}

OutputDebugString_streambuf::~OutputDebugString_streambuf() { EndLine(); }

OutputDebugString_streambuf::int_type OutputDebugString_streambuf::overflow(int_type character) {
  const bool endOfFile = traits_type::eq_int_type(character, traits_type::eof());
  if (!endOfFile) *write_++ = traits_type::to_char_type(character);
  if (write_ >= end_ || endOfFile || traits_type::to_char_type(character) == L'\n') EndLine();
  return character;
}

void OutputDebugString_streambuf::EndLine() {
  *write_ = L'\0';
  const bool empty = write_ == line_;
  write_ = line_;
  // The platform's debug channel: not connected here.
  if (empty) return;
  if (const TDebugOutputLineSink sink = g_sink.load(std::memory_order_acquire)) {
    sink(line_, g_sinkContext.load(std::memory_order_acquire));
  }
}

OutputDebugString_ostream& GetDebugOutputStream() {
  thread_local OutputDebugString_ostream stream;
  return stream;
}

void SetDebugOutputLineSink(TDebugOutputLineSink sink, void* context) {
  g_sinkContext.store(context, std::memory_order_release);
  g_sink.store(sink, std::memory_order_release);
}

}  // namespace Orvan
