// The engine's direct operations on the host's files and folders: where the executable lies,
// whether a path exists, folder creation, removal, copy, rename, case fixing, the modification time
// and temporary names. Paths are POSIX texts with '/' as the only separator; a TFileName stands for
// its text form, so these are meant for names without a mounting point. They hold no state, take
// no lock and never throw but std::bad_alloc: a failure is a result (false, -1, 0 or an empty
// text) with errno as the system library set it.
#pragma once

#include <cstdint>

#include "core/filesystem/file_name.h"
#include "core/text/engine_string.h"

namespace Orvan {

// Room for a path text and its NUL wherever these operations copy one (the system's PATH_MAX); a
// longer text fails with ENAMETOOLONG.
inline constexpr std::uint32_t kNativePathBytes = 4096;

// The executable's folder (up to and including its last '/') and its file name. Both are empty
// when the executable's path cannot be read; a path without '/' is all file name.
struct TExecutableLocation {
  TOrvString<char> directory;
  TOrvString<char> fileName;
};
TExecutableLocation GetExecutableLocation();
TOrvString<char> GetExecutableDirectory();
TOrvString<char> GetExecutableFileName();

// ---- Tests.
// Whether the path exists, file or folder.
bool NativeFileExists(const char* path);
bool NativeFileExists(const TOrvString<char>& path);
bool NativeFileExists(const TFileName& path);
bool NativeIsDirectory(const char* path);
bool NativeIsDirectory(const TOrvString<char>& path);
bool NativeIsDirectory(const TFileName& path);
// Whether the relative name's path (its mounting point ignored) exists inside the folder. An empty
// folder stands for the working folder.
bool NativeFileExistsIn(const TFileName& folder, const TFileName& relative);

// ---- Changes.
// mkdir with mode 0777: 0, or -1 on failure.
int NativeCreateDirectory(const char* path);
int NativeCreateDirectory(const TOrvString<char>& path);
// Creates the folder part of the path (the text before its last '/') with its missing parents:
// "Replays/" makes Replays, a/b/c.txt makes a and a/b, a text without '/' makes nothing. 0 on
// success, and also when the first attempt fails for a reason other than a missing parent (an
// existing folder among them): callers that must know test the folder afterwards.
int NativeCreateDirectories(const char* path);
int NativeCreateDirectories(const TOrvString<char>& path);
// Removes a file (or an empty folder); false without trying when the path does not exist.
bool NativeRemoveFile(const char* path);
bool NativeRemoveFile(const TOrvString<char>& path);
bool NativeRemoveFile(const TFileName& path);
// Copies the whole file: the destination (created with mode 0644 when missing) ends up with
// exactly the source's bytes. False on any failure, what was written so far staying in place. A
// file copied onto itself is left unchanged.
bool NativeCopyFile(const TOrvString<char>& source, const TOrvString<char>& destination);
// Creates the destination folder with its parents and copies the source folder's files into it, in
// listing order, and its sub-folders too when `recursive` is set. Names beginning with '.' are not
// listed. The walk stops with false at the first failure: a copy that fails, or an entry whose name
// no file name may hold (a byte outside 0x01-0x7F or one of " * : < > ? \ |).
bool NativeCopyDirectory(const TFileName& destination, const TFileName& source, bool recursive);
// Renames after fixing the letter case of both paths.
bool NativeRename(const TOrvString<char>& from, const TOrvString<char>& to);
// Corrects in place the letter case of the path's components that do not exist as written but do
// in another case; the length never changes, and nothing changes when nothing matches. An absolute
// path's components are looked up from the root, a relative one's from the working folder.
void NativeFixPathCase(char* path);

// ---- Queries.
// The modification time in seconds since the epoch; 0 when the path cannot be read.
std::uint32_t NativeGetModificationTime(const TOrvString<char>& path);
// A fresh temporary file, made empty (mode 0600) so that the name is taken, and its name: in $TMPDIR
// when that names a folder, else in the folder when it is one, else in /tmp; the name is the first
// 5 characters of the prefix ("file" when empty) and 6 random ones. Empty on failure (errno set).
TOrvString<char> NativeGetTempFileName(const TOrvString<char>& folder, const TOrvString<char>& prefix);
// The path without its last `levels` components, its last character never counted: a/b/c with 1
// gives a/b, a/b/c/ with 1 gives a/b, a path without '/' gives the empty text, levels 0 drops the
// last character only. The empty path gives the empty text.
TOrvString<char> GetParentPathText(const TOrvString<char>& path, int levels);

}  // namespace Orvan
