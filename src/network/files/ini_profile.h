// The INI profile functions that read and rewrite the server's small configuration files
// ("variables.ini", "admins.ini", "banned_clients.ini", "login.ini"). Each call opens the file, does
// its work with fixed line buffers and closes it; a write rewrites the whole file through a
// temporary copy that then replaces it, synced to the disk first. Main thread only: nothing guards
// against another writer.
//
// Syntax: "[name]" opens a section (lines before the first one form the unnamed section, named by
// a null or empty section); "key=value" sets a key; ";" or "#" outside double quotes starts a
// comment; blanks around names and values are ignored; a value in double quotes is taken without
// them, \" and "" inside standing for one quote. Names match without regard to case.
#pragma once

#include <cstddef>

namespace Orvan::ServerTools {

// Called for every key in file order with its section ("" before the first header), its key and
// its value; returning 0 stops the walk.
using TIniBrowseCallback = int (*)(const char* section, const char* key, const char* value, void* userData);

// One key to set (a value) or delete (a null value) in a batch of changes.
struct TIniChange {
  const char* section;  // null or "" for the unnamed section
  const char* key;
  const char* value;
};

class TIniProfile {
 public:
  // A line holds at most 511 characters; longer lines are read in pieces of that size.
  static constexpr int kLineBufferSize = 512;
  // Written names are cut to these lengths, and a key line to the line buffer.
  static constexpr int kMaxSectionNameLength = 508;
  static constexpr int kMaxKeyNameLength = 509;
  // Numbers are read from at most 63 characters.
  static constexpr int kNumberBufferSize = 64;

  TIniProfile() = delete;

  // The value, or the default (null reads as "") when the file, section or key is missing, cut to
  // size - 1 characters. Returns its length; 0, with the buffer untouched, when size < 1 or buffer
  // or key is null.
  static int IniGetString(const char* section, const char* key, const char* defaultValue, char* buffer, int size,
                          const char* path);
  // Hexadecimal when the second character is x or X, else decimal; an empty value gives the default.
  static long IniGetLong(const char* section, const char* key, long defaultValue, const char* path);
  static float IniGetFloat(const char* section, const char* key, float defaultValue, const char* path);
  // 1 for a value starting with 1, T or Y; 0 for 0, F or N (either case); otherwise the default.
  static int IniGetBool(const char* section, const char* key, int defaultValue, const char* path);
  // The name of the index-th section header (0-based), or an empty buffer. Returns its length.
  static int IniGetSection(int index, char* buffer, int size, const char* path);
  // The name of the index-th key of the section, or an empty buffer. Returns its length.
  static int IniGetKey(const char* section, int index, char* buffer, int size, const char* path);
  // False for a null callback or a file that cannot be opened.
  static bool IniBrowse(TIniBrowseCallback callback, void* userData, const char* path);

  // Sets one key, creating the file or the section as needed; a null value deletes the key, a null
  // key the whole section. False, with the file as it was, when the temporary copy cannot be
  // written or cannot replace the file, and for what would not read back as written: a line break
  // anywhere; a section name with "]" or blanks at its ends; a key that is empty, starts with "[",
  // holds "=", ";", "#" or a double quote, or has blanks at its ends; a value that needs quotes and
  // ends with a backslash.
  // After false, errno tells why: the system's reason, or EINVAL for what is refused.
  static bool IniPutString(const char* section, const char* key, const char* value, const char* path);
  static bool IniPutLong(const char* section, const char* key, long value, const char* path);
  static bool IniPutFloat(const char* section, const char* key, float value, const char* path);
  // Many keys in one rewrite, however many: the file IniPutString would leave after each change in
  // turn, except that a deleted key loses every one of its lines in the section (IniPutString only
  // the first). A key changed twice takes its last change. Each change is checked as IniPutString
  // checks it, and a null key is refused too: one refused change refuses the batch, with the file
  // as it was. A batch that changes no key leaves the file alone.
  static bool IniPutStrings(const TIniChange* changes, std::size_t count, const char* path);
};

}  // namespace Orvan::ServerTools
