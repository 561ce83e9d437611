// A seam over the durable replacement of files: records its syncs and renames in order, as
// "sync <path>" and "rename <from> -> <to>", and can fail one kind of them with a chosen errno. A
// scope that puts the system's calls back when it ends.
#pragma once

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "network/files/durable_file_replace.h"

namespace OrvTest {

class TRecordedFileReplace {
 public:
  TRecordedFileReplace() {
    calls_.clear();
    syncError_ = renameError_ = 0;
    previousRename_ = Orvan::Network::SetFileRenameCallForTests(&Rename);
    previousSync_ = Orvan::Network::SetFileSyncCallForTests(&Sync);
  }
  ~TRecordedFileReplace() {
    Orvan::Network::SetFileRenameCallForTests(previousRename_);
    Orvan::Network::SetFileSyncCallForTests(previousSync_);
  }
  TRecordedFileReplace(const TRecordedFileReplace&) = delete;
  TRecordedFileReplace& operator=(const TRecordedFileReplace&) = delete;

  // Every sync, or every rename, fails with `error` (0: none does).
  void FailSyncs(int error) { syncError_ = error; }
  void FailRenames(int error) { renameError_ = error; }
  const std::vector<std::string>& Calls() const { return calls_; }

 private:
  static int Sync(int descriptor) {
    char path[PATH_MAX] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(descriptor);
    const ssize_t length = ::readlink(link.c_str(), path, sizeof(path) - 1);
    calls_.push_back("sync " + std::string(path, length > 0 ? static_cast<std::size_t>(length) : 0));
    if (syncError_ != 0) return errno = syncError_, -1;
    return ::fsync(descriptor);
  }
  static int Rename(const char* from, const char* to) {
    calls_.push_back(std::string("rename ") + from + " -> " + to);
    if (renameError_ != 0) return errno = renameError_, -1;
    return std::rename(from, to);
  }

  static inline std::vector<std::string> calls_;
  static inline int syncError_ = 0;
  static inline int renameError_ = 0;
  Orvan::Network::TFileRenameCall previousRename_ = nullptr;
  Orvan::Network::TFileSyncCall previousSync_ = nullptr;
};

}  // namespace OrvTest
