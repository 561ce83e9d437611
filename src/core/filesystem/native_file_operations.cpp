// The native path and file operations.
#include "core/filesystem/native_file_operations.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "core/filesystem/file_name_errors.h"
#include "core/filesystem/native_file_finder.h"

namespace Orvan {

namespace {

// A path text built in a buffer of its own. A text that would not fit in kNativePathBytes with its
// NUL marks the path too long, and it stays so.
class TNativePathText {
 public:
  TNativePathText() { text_[0] = '\0'; }
  explicit TNativePathText(const char* text) : TNativePathText() { Append(text); }
  TNativePathText(const TNativePathText&) = delete;
  TNativePathText& operator=(const TNativePathText&) = delete;

  void Append(const char* text, std::size_t length) {
    if (tooLong_) return;
    if (length >= kNativePathBytes - length_) {
      tooLong_ = true;
      return;
    }
    std::memcpy(text_ + length_, text, length);
    length_ += length;
    text_[length_] = '\0';
  }
  void Append(const char* text) { Append(text, std::strlen(text)); }
  void Append(const TOrvString<char>& text) { Append(text.c_str(), text.GetLength()); }
  // The name's text form (its mounting point included).
  void AppendText(const TFileName& name) {
    if (!tooLong_) Take(name.GetText(text_ + length_, sizeof(text_) - length_));
  }
  // The name's path alone.
  void AppendPathText(const TFileName& name) {
    if (!tooLong_) Take(name.WriteText(text_ + length_, sizeof(text_) - length_));
  }

  // False, with errno ENAMETOOLONG, for a text that did not fit.
  bool Fits() const {
    if (tooLong_) errno = ENAMETOOLONG;
    return !tooLong_;
  }
  char* Get() { return text_; }
  std::size_t GetLength() const { return length_; }

 private:
  // A name's text was written cut to the buffer: one byte more than the limit tells a text that
  // just fits from a longer one.
  void Take(std::uint32_t written) {
    length_ += written;
    if (length_ >= kNativePathBytes) tooLong_ = true;
  }

  char text_[kNativePathBytes + 1];
  std::size_t length_ = 0;
  bool tooLong_ = false;
};

bool StatPath(const char* path, struct stat& status) { return stat(path, &status) == 0; }

bool IsDirectory(const char* path) {
  struct stat status;
  return StatPath(path, status) && S_ISDIR(status.st_mode);
}

// The errno of a failure survives the clean-up calls that follow it.
class TErrnoKeeper {
 public:
  TErrnoKeeper() : saved_(errno) {}
  ~TErrnoKeeper() { errno = saved_; }
  TErrnoKeeper(const TErrnoKeeper&) = delete;
  TErrnoKeeper& operator=(const TErrnoKeeper&) = delete;

 private:
  int saved_;
};

void CloseKeepingErrno(int descriptor) {
  const TErrnoKeeper keeper;
  close(descriptor);
}

// ---- Folder creation.

int MakeFolder(char* text, char* cut) {
  *cut = '\0';
  const int result = mkdir(text, 0777);
  const int error = errno;
  *cut = '/';
  errno = error;
  return result;
}

// The folder parts are the texts before each '/'. Going up from the last one, each folder whose
// parent is missing is noted; then the noted ones are made again from the top down, an existing
// one counting as made. A folder part that is the root (an empty text) exists.
int CreateFolderChain(char* text) {
  char* const deepest = std::strrchr(text, '/');
  if (deepest == nullptr) return 0;
  char* firstToRetry = nullptr;
  for (char* level = deepest;;) {
    if (level == text) {
      firstToRetry = level == deepest ? nullptr : std::strchr(level + 1, '/');
      break;
    }
    if (MakeFolder(text, level) == 0 || errno != ENOENT) {
      firstToRetry = level == deepest ? nullptr : std::strchr(level + 1, '/');
      break;
    }
    auto* parent = static_cast<char*>(memrchr(text, '/', static_cast<std::size_t>(level - text)));
    if (parent == nullptr) {
      firstToRetry = level;
      break;
    }
    level = parent;
  }
  for (char* level = firstToRetry; level != nullptr; level = level == deepest ? nullptr : std::strchr(level + 1, '/')) {
    if (MakeFolder(text, level) != 0 && errno != EEXIST) return -1;
  }
  return 0;
}

// ---- Copies.

// Reads until the end, writing every byte; false on the first failure.
bool CopyDescriptor(int source, int destination, std::uint64_t& copied) {
  // Bytes moved per read.
  constexpr std::size_t kCopyBlockBytes = 2048;
  char block[kCopyBlockBytes];
  for (;;) {
    const ssize_t count = read(source, block, sizeof(block));
    if (count == 0) return true;
    if (count < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < count;) {
      const ssize_t written = write(destination, block + done, static_cast<std::size_t>(count - done));
      if (written < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += written;
    }
    copied += static_cast<std::uint64_t>(count);
  }
}

// Whether a listed entry can be named by a file name: one component of allowed bytes.
bool IsCopyableEntryName(const TOrvString<char>& name) {
  if (name.IsEmpty()) return false;
  for (std::uint32_t i = 0; i < name.GetLength(); ++i) {
    if (!IsAllowedFileNameByte(static_cast<unsigned char>(name.c_str()[i]))) return false;
  }
  return true;
}

// The folder's text as a glob pattern matching its entries: the pattern characters of the folder
// are taken literally.
TOrvString<char> EntryPattern(const TOrvString<char>& folder) {
  TOrvString<char> pattern;
  for (std::uint32_t i = 0; i < folder.GetLength(); ++i) {
    const char c = folder.c_str()[i];
    if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern + "/*";
}

// One folder being copied: its listing and where its entries go.
struct TFolderCopy {
  TOrvString<char> source;
  TOrvString<char> destination;
  TNativeFileFinder entries;
};

// Makes the destination folder and lists the source; null with `ok` set for an empty source, null
// with `ok` cleared on failure.
std::unique_ptr<TFolderCopy> StartFolderCopy(const TOrvString<char>& destination, const TOrvString<char>& source,
                                             bool& ok) {
  ok = false;
  if (!NativeFileExists(source)) return nullptr;
  TNativePathText folder(destination.c_str());
  folder.Append("/", 1);
  if (!folder.Fits() || NativeCreateDirectories(folder.Get()) != 0) return nullptr;
  auto copy = std::make_unique<TFolderCopy>();
  copy->source = source;
  copy->destination = destination;
  const int listed = copy->entries.Open(EntryPattern(source));
  if (listed == GLOB_NOMATCH) ok = true;
  if (listed != 0) return nullptr;
  ok = true;
  return copy;
}

// The walk keeps one listing per folder level on the heap, not on the call stack: a tree as deep
// as the path limit allows (or a link loop) cannot overflow a thread's stack.
bool CopyFolderTree(const TOrvString<char>& destination, const TOrvString<char>& source, bool recursive) {
  bool ok = false;
  std::vector<std::unique_ptr<TFolderCopy>> levels;
  if (auto first = StartFolderCopy(destination, source, ok)) levels.push_back(std::move(first));
  while (ok && !levels.empty()) {
    TFolderCopy& level = *levels.back();
    if (!level.entries.IsValid()) {
      levels.pop_back();
      continue;
    }
    const TOrvString<char> name = level.entries.GetName();
    level.entries.Next();
    if (name == "." || name == "..") continue;
    if (!IsCopyableEntryName(name)) return false;
    const TOrvString<char> from = level.source + "/" + name;
    const TOrvString<char> to = level.destination + "/" + name;
    if (from.GetLength() >= kNativePathBytes || to.GetLength() >= kNativePathBytes) {
      errno = ENAMETOOLONG;
      return false;
    }
    if (NativeIsDirectory(from)) {
      if (!recursive) continue;
      if (auto inner = StartFolderCopy(to, from, ok)) levels.push_back(std::move(inner));
    } else {
      ok = NativeCopyFile(from, to);
    }
  }
  return ok;
}

// ---- Letter case.

// Looks in the folder for an entry that is `name` but for letter case and writes its spelling over
// `name`. False when the folder cannot be opened.
bool TakeEntrySpelling(DIR* folder, char* name) {
  if (folder == nullptr) return false;
  while (const dirent* entry = readdir(folder)) {
    if (strcasecmp(entry->d_name, name) == 0) {
      std::memcpy(name, entry->d_name, std::strlen(name));
      break;
    }
  }
  closedir(folder);
  return true;
}

// Opens the folder that holds the component starting at `component`.
DIR* OpenHoldingFolder(char* path, char* component) {
  if (component == path) return opendir(".");
  const char first = *component;
  *component = '\0';
  DIR* folder = opendir(path);
  *component = first;
  return folder;
}

void FixEveryComponent(char* path) {
  // An absolute path's first character is the root; a relative path starts with a component.
  char* component = path[0] == '/' ? path + 1 : path;
  while (*component != '\0') {
    char* end = std::strchr(component, '/');
    if (end != nullptr) *end = '\0';
    struct stat status;
    if (!StatPath(path, status) && !TakeEntrySpelling(OpenHoldingFolder(path, component), component)) {
      if (end != nullptr) *end = '/';
      return;
    }
    if (end == nullptr) return;
    *end = '/';
    component = end + 1;
  }
}

}  // namespace

// ---- Executable location.

TExecutableLocation GetExecutableLocation() {
  char path[kNativePathBytes + 1];
  const ssize_t length = readlink("/proc/self/exe", path, kNativePathBytes);
  if (length < 0) return {};
  // A path filling the whole buffer may have been cut.
  if (length >= static_cast<ssize_t>(kNativePathBytes)) {
    errno = ENAMETOOLONG;
    return {};
  }
  path[length] = '\0';
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return {TOrvString<char>(), TOrvString<char>(path)};
  return {TOrvString<char>(path, static_cast<std::uint32_t>(slash + 1 - path)), TOrvString<char>(slash + 1)};
}

TOrvString<char> GetExecutableDirectory() { return GetExecutableLocation().directory; }

TOrvString<char> GetExecutableFileName() { return GetExecutableLocation().fileName; }

// ---- Tests.

bool NativeFileExists(const char* path) { return access(path, F_OK) == 0; }

bool NativeFileExists(const TOrvString<char>& path) { return NativeFileExists(path.c_str()); }

bool NativeFileExists(const TFileName& path) {
  TNativePathText text;
  text.AppendText(path);
  return text.Fits() && NativeFileExists(text.Get());
}

bool NativeIsDirectory(const char* path) { return IsDirectory(path); }

bool NativeIsDirectory(const TOrvString<char>& path) { return IsDirectory(path.c_str()); }

bool NativeIsDirectory(const TFileName& path) {
  TNativePathText text;
  text.AppendText(path);
  return text.Fits() && IsDirectory(text.Get());
}

bool NativeFileExistsIn(const TFileName& folder, const TFileName& relative) {
  TNativePathText text;
  text.AppendText(folder);
  if (text.GetLength() != 0 && text.Get()[text.GetLength() - 1] != '/') text.Append("/", 1);
  text.AppendPathText(relative);
  return text.Fits() && NativeFileExists(text.Get());
}

// ---- Changes.

int NativeCreateDirectory(const char* path) { return mkdir(path, 0777) == 0 ? 0 : -1; }

int NativeCreateDirectory(const TOrvString<char>& path) { return NativeCreateDirectory(path.c_str()); }

int NativeCreateDirectories(const char* path) {
  TNativePathText text(path);
  if (!text.Fits()) return -1;
  return CreateFolderChain(text.Get());
}

int NativeCreateDirectories(const TOrvString<char>& path) { return NativeCreateDirectories(path.c_str()); }

bool NativeRemoveFile(const char* path) { return NativeFileExists(path) && remove(path) == 0; }

bool NativeRemoveFile(const TOrvString<char>& path) { return NativeRemoveFile(path.c_str()); }

bool NativeRemoveFile(const TFileName& path) {
  TNativePathText text;
  text.AppendText(path);
  return text.Fits() && NativeRemoveFile(text.Get());
}

// The destination is opened without truncation, so that a file copied onto itself reads back what
// it writes; it is cut to the bytes copied at the end, so that a longer old destination keeps no
// stale tail.
bool NativeCopyFile(const TOrvString<char>& source, const TOrvString<char>& destination) {
  const int input = open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (input < 0) return false;
  const int output = open(destination.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (output < 0) {
    CloseKeepingErrno(input);
    return false;
  }
  std::uint64_t copied = 0;
  bool ok = CopyDescriptor(input, output, copied) && ftruncate(output, static_cast<off_t>(copied)) == 0;
  CloseKeepingErrno(input);
  if (ok) {
    // A write-back error may show only here.
    ok = close(output) == 0;
  } else {
    CloseKeepingErrno(output);
  }
  return ok;
}

bool NativeCopyDirectory(const TFileName& destination, const TFileName& source, bool recursive) {
  TNativePathText destinationText;
  destinationText.AppendText(destination);
  TNativePathText sourceText;
  sourceText.AppendText(source);
  if (!destinationText.Fits() || !sourceText.Fits()) return false;
  return CopyFolderTree(TOrvString<char>(destinationText.Get()), TOrvString<char>(sourceText.Get()), recursive);
}

bool NativeRename(const TOrvString<char>& from, const TOrvString<char>& to) {
  TNativePathText fromText(from.c_str());
  TNativePathText toText(to.c_str());
  if (!fromText.Fits() || !toText.Fits()) return false;
  NativeFixPathCase(fromText.Get());
  NativeFixPathCase(toText.Get());
  return rename(fromText.Get(), toText.Get()) == 0;
}

void NativeFixPathCase(char* path) {
  struct stat status;
  if (path[0] == '\0' || StatPath(path, status)) return;
  char* slash = std::strrchr(path, '/');
  if (slash != nullptr && slash != path) {
    *slash = '\0';
    const bool folderExists = StatPath(path, status);
    if (folderExists && S_ISDIR(status.st_mode)) TakeEntrySpelling(opendir(path), slash + 1);
    *slash = '/';
    if (folderExists) return;
  }
  FixEveryComponent(path);
}

// ---- Queries.

std::uint32_t NativeGetModificationTime(const TOrvString<char>& path) {
  struct stat status;
  if (!StatPath(path.c_str(), status)) return 0;
  return static_cast<std::uint32_t>(status.st_mtime);
}

namespace {

// The folder a temporary file goes to, in tempnam's order: $TMPDIR when it names a folder, else the
// given folder when it is one, else P_tmpdir, else /tmp.
const char* TemporaryFileFolder(const char* folder) {
  const char* fromEnvironment = getenv("TMPDIR");
  if (fromEnvironment != nullptr && IsDirectory(fromEnvironment)) return fromEnvironment;
  if (folder != nullptr && IsDirectory(folder)) return folder;
  if (IsDirectory(P_tmpdir)) return P_tmpdir;
  return "/tmp";
}

}  // namespace

// The file is made at once with mkstemp, so no other process can take the name between its choice
// and its use; the caller opens it again by name and removes it.
TOrvString<char> NativeGetTempFileName(const TOrvString<char>& folder, const TOrvString<char>& prefix) {
  // As tempnam: at most 5 characters of the prefix, "file" when there is none.
  constexpr std::size_t kPrefixCharacters = 5;
  const char* const chosenFolder = TemporaryFileFolder(folder.c_str());
  std::size_t folderLength = std::strlen(chosenFolder);
  while (folderLength > 1 && chosenFolder[folderLength - 1] == '/') --folderLength;
  const char* const namePrefix = prefix.IsEmpty() ? "file" : prefix.c_str();
  TNativePathText text;
  text.Append(chosenFolder, folderLength);
  text.Append("/");
  text.Append(namePrefix, strnlen(namePrefix, kPrefixCharacters));
  text.Append("XXXXXX");
  if (!text.Fits()) return TOrvString<char>();
  const int descriptor = mkstemp(text.Get());
  if (descriptor < 0) return TOrvString<char>();
  close(descriptor);
  return TOrvString<char>(text.Get());
}

TOrvString<char> GetParentPathText(const TOrvString<char>& path, int levels) {
  if (path.IsEmpty()) return TOrvString<char>();
  std::uint32_t index = path.GetLength() - 1;
  while (index != 0 && levels > 0) {
    --index;
    if (path.c_str()[index] == '/') --levels;
  }
  return path.Left(index);
}

}  // namespace Orvan
