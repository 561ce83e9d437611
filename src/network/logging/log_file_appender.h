// The chat log: lines appended to a file of their own, one open-append-close per line, each
// stamped with the seconds since the epoch unless stamps are off.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan::ServerTools {

class TLogFileAppender {
 public:
  // noTimeStamp 0: every line starts with "[seconds] ".
  TLogFileAppender(const TOrvString<char>& fileName, std::int32_t noTimeStamp);

  // A file that cannot be opened makes the call write nothing.
  void Append(const char* text);
  void Append(const TOrvString<char>& text) { Append(text.c_str()); }

  const TOrvString<char>& GetFileName() const { return fileName_; }

 private:
  TOrvString<char> fileName_;
  bool timeStamps_;
};

}  // namespace Orvan::ServerTools
