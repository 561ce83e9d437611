// A fake "xmessage" first on PATH for as long as the holder lives: it records its arguments,
// NUL-separated, in a file, and exits with the status the test chose. A message box shown by a
// child process (a death test) is recorded the same, for the parent to read afterwards.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/temporary_folder.h"

namespace OrvTest {

class TFakeXmessage {
 public:
  TFakeXmessage() {
    directory_ = folder_.Path();
    log_ = directory_ + "/arguments";
    const std::string script = directory_ + "/xmessage";
    std::ofstream(script) << "#!/bin/sh\n"
                             ": > \"$ORV_FAKE_XMESSAGE_LOG\"\n"
                             "for argument in \"$@\"; do printf '%s\\0' \"$argument\" >> \"$ORV_FAKE_XMESSAGE_LOG\"; "
                             "done\n"
                             "exit \"$ORV_FAKE_XMESSAGE_STATUS\"\n";
    ::chmod(script.c_str(), 0755);
    const char* path = std::getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    UsePath(directory_ + ":" + savedPath_);
    ::setenv("ORV_FAKE_XMESSAGE_LOG", log_.c_str(), 1);
    ExitWith(0);
  }
  ~TFakeXmessage() {
    ::setenv("PATH", savedPath_.c_str(), 1);
    ::unsetenv("ORV_FAKE_XMESSAGE_LOG");
    ::unsetenv("ORV_FAKE_XMESSAGE_STATUS");
  }
  TFakeXmessage(const TFakeXmessage&) = delete;
  TFakeXmessage& operator=(const TFakeXmessage&) = delete;

  void ExitWith(int status) { ::setenv("ORV_FAKE_XMESSAGE_STATUS", std::to_string(status).c_str(), 1); }
  void UsePath(const std::string& path) { ::setenv("PATH", path.c_str(), 1); }
  // A directory without xmessage, alone on PATH.
  void HideXmessage() {
    const std::string empty = directory_ + "/empty";
    std::filesystem::create_directory(empty);
    UsePath(empty);
  }

  // The arguments of the last run; none before the first.
  std::vector<std::string> RecordedArguments() const {
    std::ifstream in(log_, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> arguments;
    std::string current;
    for (char c : bytes) {
      if (c == '\0') {
        arguments.push_back(current);
        current.clear();
      } else {
        current += c;
      }
    }
    return arguments;
  }

 private:
  TTemporaryFolder folder_{"orv_xmessage"};
  std::string directory_;
  std::string log_;
  std::string savedPath_;
};

}  // namespace OrvTest
