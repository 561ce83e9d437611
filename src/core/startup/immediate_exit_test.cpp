#include "core/startup/immediate_exit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace Orvan {
namespace {

TEST(ImmediateExitDeathTest, EndsWithTheStatusAndRunsNoExitHandler) {
  EXPECT_EXIT(
      {
        std::atexit([] { std::fputs("exit handler ran", stderr); });
        // Buffered output is not flushed either.
        std::fputs("buffered", stdout);
        ExitImmediately(3);
      },
      ::testing::ExitedWithCode(3), "^$");
}

}  // namespace
}  // namespace Orvan
