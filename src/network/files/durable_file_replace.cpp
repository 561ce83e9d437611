// The durable replacement of a file: sync, rename, sync of the folder.
#include "network/files/durable_file_replace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

namespace Orvan::Network {

namespace {

int SystemSync(int descriptor) { return ::fsync(descriptor); }

TFileRenameCall g_rename = &std::rename;
TFileSyncCall g_sync = &SystemSync;

int LastError() { return errno != 0 ? errno : EIO; }

// Opens `path` to sync it (a read-only descriptor is enough: the sync covers the file, not the
// descriptor) and syncs it; 0 or the errno.
int SyncPath(const char* path, int flags) {
  int descriptor;
  do {
    descriptor = ::open(path, O_RDONLY | O_CLOEXEC | flags);
  } while (descriptor == -1 && errno == EINTR);
  if (descriptor == -1) return LastError();
  errno = 0;
  const int error = g_sync(descriptor) == 0 ? 0 : LastError();
  ::close(descriptor);
  return error;
}

// The folder that holds `path`: its text up to the last slash, "/" for a file at the root, "." for
// a bare name.
std::string FolderOf(const char* path) {
  const std::string text(path);
  const std::size_t slash = text.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return text.substr(0, slash);
}

}  // namespace

int ReplaceFileDurably(const char* temporary, const char* path) {
  if (const int error = SyncPath(temporary, 0); error != 0) return error;
  errno = 0;
  if (g_rename(temporary, path) != 0) return LastError();
  return SyncPath(FolderOf(path).c_str(), O_DIRECTORY);
}

TFileRenameCall SetFileRenameCallForTests(TFileRenameCall call) {
  const TFileRenameCall previous = g_rename;
  g_rename = call != nullptr ? call : &std::rename;
  return previous;
}

TFileSyncCall SetFileSyncCallForTests(TFileSyncCall call) {
  const TFileSyncCall previous = g_sync;
  g_sync = call != nullptr ? call : &SystemSync;
  return previous;
}

}  // namespace Orvan::Network
