// The debug output stream: a wide output stream whose lines go to the platform's debug channel.
// This platform has none connected, so ended lines are discarded unless a line sink is installed
// (tests install one to read what was reported).
#pragma once

#include <cstdint>
#include <ostream>
#include <streambuf>

namespace Orvan {

// Receives each ended line that holds characters: the text (with the newline that ended it, if
// one did), NUL-terminated.
using TDebugOutputLineSink = void (*)(const wchar_t* line, void* context);

// A wide stream buffer without a put area: every character goes through overflow into a line of
// at most 1023 characters, ended by a newline, by end-of-file or by a full line.
class OutputDebugString_streambuf : public std::wstreambuf {
 public:
  static constexpr std::uint32_t kLineUnits = 1024;  // 1023 characters and the terminator

  OutputDebugString_streambuf();
  // Ends the pending line.
  ~OutputDebugString_streambuf() override;

 protected:
  int_type overflow(int_type character) override;

 private:
  void EndLine();

  wchar_t line_[kLineUnits];
  wchar_t* write_;
  wchar_t* end_;  // line_ + 1023, so the terminator always fits
};

class OutputDebugString_ostream : public std::wostream {
 public:
  OutputDebugString_ostream() : std::wostream(nullptr) { rdbuf(&buffer_); }

 private:
  OutputDebugString_streambuf buffer_;
};

// The calling thread's debug output stream. Each thread writes its own stream, so the reports of
// two threads never share a line buffer.
OutputDebugString_ostream& GetDebugOutputStream();

// One sink for every thread's stream; null discards lines again.
void SetDebugOutputLineSink(TDebugOutputLineSink sink, void* context);

}  // namespace Orvan
