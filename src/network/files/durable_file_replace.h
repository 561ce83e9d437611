// Replacing a file so that a power loss leaves either the old file or the whole new one, never an
// empty or half-written one: the new content is written to a temporary file beside it, synced to
// the disk, renamed over the file, and the folder synced so that the rename itself is kept. The INI
// rewrites and the sealed replays go through it.
#pragma once

namespace Orvan::Network {

// The calls the replacement makes, replaceable by tests: the rename, and the sync of an open
// descriptor (of the temporary file, then of the folder).
using TFileRenameCall = int (*)(const char* from, const char* to);
using TFileSyncCall = int (*)(int descriptor);

// Makes `temporary`, fully written by the caller (its stream flushed or closed), the file at
// `path`: syncs it, renames it over `path` and syncs the folder of `path`. Returns 0, or the errno
// of the step that failed: until the rename, `path` is as it was and `temporary` is left for the
// caller to remove; a failed sync of the folder leaves the new file in place, though a power loss
// may still bring the old one back.
int ReplaceFileDurably(const char* temporary, const char* path);

// Each returns the call it replaces; null puts the system's call back.
TFileRenameCall SetFileRenameCallForTests(TFileRenameCall call);
TFileSyncCall SetFileSyncCallForTests(TFileSyncCall call);

}  // namespace Orvan::Network
