// Listing the host's files by a pattern.
#include "core/filesystem/native_file_finder.h"

#include <sys/stat.h>

#include <cstring>

namespace Orvan {

TNativeFileFinder::TNativeFileFinder() noexcept { std::memset(&list_, 0, sizeof(list_)); }

int TNativeFileFinder::Open(const TOrvString<char>& pattern) {
  Close();
  const int result = glob(pattern.c_str(), 0, nullptr, &list_);
  cursor_ = 0;
  return result;
}

void TNativeFileFinder::Close() noexcept {
  globfree(&list_);
  std::memset(&list_, 0, sizeof(list_));
  cursor_ = 0;
}

TOrvString<char> TNativeFileFinder::GetName() const {
  const char* path = list_.gl_pathv[cursor_];
  const char* slash = std::strrchr(path, '/');
  return TOrvString<char>(slash != nullptr ? slash + 1 : path);
}

std::uint64_t TNativeFileFinder::GetSize() const noexcept {
  struct stat status;
  if (stat(list_.gl_pathv[cursor_], &status) != 0) return 0;
  return static_cast<std::uint64_t>(status.st_size);
}

}  // namespace Orvan
