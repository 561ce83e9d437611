// Peer programs of the tests: started with pipes, read line by line, stopped by their process id.
#include "support/peer_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <utility>

namespace OrvTest {

std::string SourcePath(const std::string& relative) { return std::string(ORV_SOURCE_DIR) + "/" + relative; }

bool TPeerProcess::Start(const std::vector<std::string>& arguments, const std::string& workingFolder) {
  Stop();
  // A peer that went away must show up as a failed write, not end the test program.
  ::signal(SIGPIPE, SIG_IGN);
  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0) return false;
  if (::pipe2(fromChild, O_CLOEXEC) != 0) {
    ::close(toChild[0]);
    ::close(toChild[1]);
    return false;
  }
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(toChild[0], STDIN_FILENO);
    ::dup2(fromChild[1], STDOUT_FILENO);
    if (!workingFolder.empty() && ::chdir(workingFolder.c_str()) != 0) ::_exit(127);
    ::signal(SIGPIPE, SIG_DFL);
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(toChild[0]);
  ::close(fromChild[1]);
  if (pid < 0) {
    ::close(toChild[1]);
    ::close(fromChild[0]);
    return false;
  }
  pid_ = pid;
  input_ = toChild[1];
  output_ = fromChild[0];
  buffer_.clear();
  return true;
}

void TPeerProcess::DiscardOutput() {
  if (output_ == -1 || discarder_.joinable()) return;
  const int output = std::exchange(output_, -1);
  discarder_ = std::thread([output] {
    char discard[4096];
    while (::read(output, discard, sizeof discard) > 0) {
    }
    ::close(output);
  });
}

void TPeerProcess::Stop() {
  if (input_ != -1) ::close(input_);
  input_ = -1;
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
      // Its output is drained meanwhile, so a peer blocked on a full pipe can still end.
      if (output_ != -1) {
        pollfd watched{output_, POLLIN, 0};
        if (::poll(&watched, 1, 20) == 1) {
          char discard[4096];
          if (::read(output_, discard, sizeof discard) <= 0) {
            ::close(output_);
            output_ = -1;
          }
        }
      } else {
        pollfd none{-1, 0, 0};
        ::poll(&none, 0, 20);
      }
      ended = ::waitpid(pid_, nullptr, WNOHANG) == pid_;
    }
    if (!ended) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_ = -1;
  // The peer has ended, so its end of the pipe is closed and the discarder sees the end.
  if (discarder_.joinable()) discarder_.join();
  if (output_ != -1) ::close(output_);
  output_ = -1;
  buffer_.clear();
}

bool TPeerProcess::TakeBufferedLine(std::string& line) {
  const std::size_t end = buffer_.find('\n');
  if (end == std::string::npos) return false;
  line.assign(buffer_, 0, end);
  buffer_.erase(0, end + 1);
  return true;
}

bool TPeerProcess::ReadLine(std::string& line, int timeoutMilliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
  for (;;) {
    if (TakeBufferedLine(line)) return true;
    if (output_ == -1) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd watched{output_, POLLIN, 0};
    if (::poll(&watched, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0) != 1) return false;
    char chunk[4096];
    const ssize_t got = ::read(output_, chunk, sizeof chunk);
    if (got <= 0) {
      ::close(output_);
      output_ = -1;
      return false;
    }
    buffer_.append(chunk, static_cast<std::size_t>(got));
  }
}

bool TPeerProcess::WriteLine(const std::string& line) {
  if (input_ == -1) return false;
  const std::string text = line + "\n";
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(input_, text.data() + written, text.size() - written);
    if (n <= 0) return false;
    written += static_cast<std::size_t>(n);
  }
  return true;
}

int FindFreeLoopbackPort() {
  const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = -1;
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    port = ntohs(address.sin_port);
  }
  ::close(s);
  return port;
}

}  // namespace OrvTest
