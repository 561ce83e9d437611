// Listing the host's files by a pattern (glob): the caller keeps the state on its stack, walks the
// matching paths in the system library's order and closes it.
//
// Use:
//   TNativeFileFinder finder;
//   finder.Open(TOrvString<char>("/data/maps/*.map"));
//   for (; finder.IsValid(); finder.Next()) Use(finder.GetName(), finder.GetSize());
//   finder.Close();   // also done by the destructor
#pragma once

#include <glob.h>

#include <cstdint>

#include "core/text/engine_string.h"

namespace Orvan {

class TNativeFileFinder {
 public:
  TNativeFileFinder() noexcept;
  ~TNativeFileFinder() { Close(); }
  TNativeFileFinder(const TNativeFileFinder&) = delete;
  TNativeFileFinder& operator=(const TNativeFileFinder&) = delete;

  // Lists the paths matching the pattern (no flags: names beginning with '.' are not matched by a
  // wildcard) and starts at the first. Returns glob's result: 0 when something matched,
  // GLOB_NOMATCH when nothing did. A listing still open is closed first.
  int Open(const TOrvString<char>& pattern);
  // Releases the listing; harmless when nothing is open.
  void Close() noexcept;

  bool IsValid() const noexcept { return cursor_ < list_.gl_pathc; }
  void Next() noexcept { ++cursor_; }
  // The current path's text after its last '/', the whole path when it has none.
  TOrvString<char> GetName() const;
  // The current path's size in bytes; 0 when it cannot be read.
  std::uint64_t GetSize() const noexcept;

 private:
  glob_t list_;
  std::uint32_t cursor_ = 0;
};

}  // namespace Orvan
