// The expectation check of the fuzz targets: a broken one names itself and the line that checked
// it, then aborts so that libFuzzer keeps the input (an optimised build may fold the aborts of
// several checks into one, leaving the stack trace without the line).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <source_location>

namespace OrvTest {

inline void FuzzCheck(bool ok, const char* what, std::source_location where = std::source_location::current()) {
  if (ok) return;
  std::fprintf(stderr, "fuzz check failed: %s (%s:%u)\n", what, where.file_name(),
               static_cast<unsigned>(where.line()));
  std::abort();
}

}  // namespace OrvTest
