// A program that a test starts as its peer (an HTTP endpoint, a database server), with pipes to its
// standard input and output, stopped by its process id when the test is done or fails.
#pragma once

#include <sys/types.h>

#include <string>
#include <thread>
#include <vector>

namespace OrvTest {

// The source tree, where the peers live (tests/peers/...).
std::string SourcePath(const std::string& relative);

class TPeerProcess {
 public:
  TPeerProcess() = default;
  ~TPeerProcess() { Stop(); }
  TPeerProcess(const TPeerProcess&) = delete;
  TPeerProcess& operator=(const TPeerProcess&) = delete;

  // Starts arguments[0] (looked up on PATH) in `workingFolder` (empty: the test's own). The peer
  // gets SIGTERM should the test program die first.
  bool Start(const std::vector<std::string>& arguments, const std::string& workingFolder = {});
  // SIGTERM, then SIGKILL when it has not ended within 5 s; closes the pipes.
  void Stop();

  // One line of its standard output without the line break; false at its end or after the wait.
  bool ReadLine(std::string& line, int timeoutMilliseconds);
  // A line already complete or readable without waiting.
  bool TryReadLine(std::string& line) { return ReadLine(line, 0); }
  bool WriteLine(const std::string& line);
  // From now on its output is read and dropped by a thread of ours (no more lines for the test),
  // so a talkative peer never blocks on a full pipe.
  void DiscardOutput();

  int GetOutputDescriptor() const { return output_; }
  pid_t GetPid() const { return pid_; }

 private:
  bool TakeBufferedLine(std::string& line);

  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  std::string buffer_;
  std::thread discarder_;
};

// A port on 127.0.0.1 that nothing listened on a moment ago.
int FindFreeLoopbackPort();

}  // namespace OrvTest
