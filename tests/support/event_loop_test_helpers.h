// Helpers of the event-loop tests: a working folder per test (the certificate names are relative),
// a self-signed certificate made with the openssl command and the suites that share one, a child process (Python peers) whose
// output lines are read, and running the event loop until something has happened.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "network/libevent_socket_manager.h"
#include "support/network_test_helpers.h"
#include "support/temporary_folder.h"

extern char** environ;

// The interpreter of the Python peers (the build names Debian's).
#ifndef ORV_PYTHON3
#define ORV_PYTHON3 "python3"
#endif

namespace OrvTest {

// Makes the folder the working folder while it lives.
class TScopedWorkingDirectory {
 public:
  explicit TScopedWorkingDirectory(const std::string& path) : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(path);
  }
  ~TScopedWorkingDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
  }
  TScopedWorkingDirectory(const TScopedWorkingDirectory&) = delete;
  TScopedWorkingDirectory& operator=(const TScopedWorkingDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

// Writes a self-signed certificate for "localhost" and its key into the folder; false when the
// openssl command failed.
inline bool GenerateSelfSignedCertificate(const std::string& folder, const std::string& certificateName,
                                          const std::string& keyName) {
  const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -keyout '" +
                              folder + "/" + keyName + "' -out '" + folder + "/" + certificateName +
                              "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// A certificate and key under the names the manager reads, made once (a suite keeps one).
class TTestCertificate {
 public:
  TTestCertificate()
      : generated_(GenerateSelfSignedCertificate(folder_.Path(), Orvan::Network::kServerCertificateFile,
                                                 Orvan::Network::kServerPrivateKeyFile)) {}
  bool Generated() const { return generated_; }
  std::string Certificate() const { return folder_.Path(Orvan::Network::kServerCertificateFile); }
  std::string Key() const { return folder_.Path(Orvan::Network::kServerPrivateKeyFile); }
  // Copies the named files (the certificate's, the key's) into the folder.
  void CopyInto(const std::string& folder, std::initializer_list<const char*> names) const {
    for (const char* name : names) std::filesystem::copy_file(folder_.Path(name), folder + "/" + name);
  }

 private:
  TTemporaryFolder folder_;
  bool generated_;
};

// The base of suites that share one certificate: each test runs in a working folder of its own,
// where a manager looks for the certificate and key files (CopyCertificateFiles puts them there).
class TCertificateSuiteTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    IgnoreSigpipe();
    certificate_ = new TTestCertificate;
  }
  static void TearDownTestSuite() {
    delete certificate_;
    certificate_ = nullptr;
  }
  void CopyCertificateFiles(std::initializer_list<const char*> names) {
    ASSERT_TRUE(certificate_->Generated()) << "the openssl command could not make a certificate";
    certificate_->CopyInto(folder_.Path(), names);
  }

  static inline TTestCertificate* certificate_ = nullptr;
  TTemporaryFolder folder_;
  TScopedWorkingDirectory workingDirectory_{folder_.Path()};
};

// A program started with its standard output on a pipe; killed (by its id) if still running
// when the object goes.
class TChildProcess {
 public:
  explicit TChildProcess(const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    output_ = pipeEnds[0];
  }
  ~TChildProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_ != -1) ::close(output_);
  }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  bool Started() const { return pid_ > 0; }

  // The next line of output without its newline; empty after the time-out or at the end.
  std::string ReadLine(int timeoutMilliseconds = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    for (;;) {
      const std::size_t newline = pending_.find('\n');
      if (newline != std::string::npos) {
        std::string line = pending_.substr(0, newline);
        pending_.erase(0, newline + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return {};
      pollfd watched{output_, POLLIN, 0};
      if (::poll(&watched, 1, static_cast<int>(left.count())) != 1) return {};
      char chunk[256];
      const ssize_t received = ::read(output_, chunk, sizeof(chunk));
      if (received <= 0) return {};
      pending_.append(chunk, static_cast<std::size_t>(received));
    }
  }

  // True once the process has ended; its exit status goes to `status`.
  bool HasExited(int* status = nullptr) {
    if (!exited_ && pid_ > 0) {
      int raw = 0;
      if (::waitpid(pid_, &raw, WNOHANG) == pid_) {
        exited_ = true;
        exitStatus_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
      }
    }
    if (status != nullptr) *status = exitStatus_;
    return exited_;
  }

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  bool exited_ = false;
  int exitStatus_ = -1;
  std::string pending_;
};

// Runs the loop in short slices until `done` answers true; false when it has not after the limit.
inline bool RunLoopUntil(Orvan::Network::TSocketInterfaceManagerForLibEvent& manager, const std::function<bool()>& done,
                         int limitMilliseconds = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMilliseconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    manager.RunEventLoop(10);
  }
  return true;
}

}  // namespace OrvTest
