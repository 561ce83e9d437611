#include "core/startup/immediate_exit.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace Orvan {
namespace {

// The child's standard output and an exit handler both go to one pipe: nothing may arrive there.
TEST(ImmediateExitTest, StatusComesBackWithoutExitHandlersOrFlushing) {
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    ::close(pipeEnds[0]);
    ::dup2(pipeEnds[1], STDOUT_FILENO);
    static int handlerOutput;
    handlerOutput = pipeEnds[1];
    std::atexit([] { (void)!::write(handlerOutput, "handler", 7); });
    std::setvbuf(stdout, nullptr, _IOFBF, 4096);
    std::printf("buffered");
    ExitImmediately(3);
  }
  ::close(pipeEnds[1]);
  std::string received;
  char buffer[64];
  for (ssize_t n; (n = ::read(pipeEnds[0], buffer, sizeof buffer)) > 0;) received.append(buffer, static_cast<std::size_t>(n));
  ::close(pipeEnds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 3);
  EXPECT_EQ(received, "");
}

}  // namespace
}  // namespace Orvan
