// Checks made inside a child process (the statement of EXPECT_EXIT), where gtest's assertions do
// not reach the parent: every failed check is written to standard error, which EXPECT_EXIT shows
// when it fails, and the exit status says whether any check failed. Under AddressSanitizer the
// exit also runs the leak check first, so a leak fails the child as well.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace OrvTest {

class TChildChecks {
 public:
  // Exit statuses of the child.
  static constexpr int kPassed = 0;
  static constexpr int kFailed = 1;
  static constexpr int kLeaked = 2;

  bool Check(bool condition, const std::string& what) {
    if (!condition) {
      ++failures_;
      std::fprintf(stderr, "check failed: %s\n", what.c_str());
    }
    return condition;
  }
  int GetFailures() const { return failures_; }

  // Ends the child without running static destructors or the parent's test teardown.
  [[noreturn]] void Exit() const {
    int status = failures_ == 0 ? kPassed : kFailed;
#if defined(__SANITIZE_ADDRESS__)
    if (__lsan_do_recoverable_leak_check() != 0) status = kLeaked;
#endif
    std::fflush(stderr);
    std::_Exit(status);
  }

 private:
  int failures_ = 0;
};

}  // namespace OrvTest

// Records the expression's text with a failed check.
#define ORV_CHILD_CHECK(checks, condition) (checks).Check((condition), #condition)
