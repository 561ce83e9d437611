// The INI profile functions: a line reader and parser shared by every reading function, and the
// rewrite through a temporary file.
#include "network/files/ini_profile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "network/files/durable_file_replace.h"

namespace Orvan::ServerTools {

namespace {

constexpr std::size_t kLineBufferSize = TIniProfile::kLineBufferSize;
constexpr std::size_t kMaxLineLength = kLineBufferSize - 1;

// Spaces and every other character up to 32 surround names and values without being part of them.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsUnnamed(const char* section) { return section == nullptr || *section == '\0'; }

// One line, or one 511-character piece of a longer line, as it was read (newline included).
struct TLine {
  char text[kLineBufferSize];
  std::size_t length = 0;
  bool EndsWithNewline() const { return length != 0 && text[length - 1] == '\n'; }
};

// False at the end of the file or on a read error (the caller asks ferror).
bool ReadLine(std::FILE* file, TLine& line) {
  std::size_t length = 0;
  while (length < kMaxLineLength) {
    const int c = std::getc(file);
    if (c == EOF) break;
    line.text[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line.text[length] = '\0';
  line.length = length;
  return length != 0;
}

struct TSpan {
  const char* data = nullptr;
  std::size_t length = 0;
};

enum class ELineKind { kOther, kSection, kKey };

struct TParsedLine {
  ELineKind kind = ELineKind::kOther;
  TSpan name;   // the section or key name
  TSpan value;  // for keys: the text after "=", up to a comment, still quoted
};

TSpan Trim(const char* text, std::size_t begin, std::size_t end) {
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return {text + begin, end - begin};
}

// Where a comment starts: the first ";" or "#" outside double quotes, or `end`.
std::size_t FindComment(const char* text, std::size_t begin, std::size_t end) {
  bool quoted = false;
  for (std::size_t i = begin; i < end; ++i) {
    const char c = text[i];
    if (quoted) {
      const bool quoteFollows = i + 1 < end && text[i + 1] == '"';
      if ((c == '\\' || c == '"') && quoteFollows) {
        ++i;  // an escaped quote
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == ';' || c == '#') {
      return i;
    }
  }
  return end;
}

TParsedLine ParseLine(const TLine& line) {
  TParsedLine parsed;
  const TSpan content = Trim(line.text, 0, line.length);
  if (content.length == 0) return parsed;
  const char* text = content.data;
  if (text[0] == '[') {
    std::size_t close = 1;
    while (close < content.length && text[close] != ']') ++close;
    parsed.kind = ELineKind::kSection;
    parsed.name = Trim(text, 1, close);
    return parsed;
  }
  const std::size_t comment = FindComment(text, 0, content.length);
  const void* equals = std::memchr(text, '=', comment);
  if (equals == nullptr) return parsed;
  const std::size_t split = static_cast<std::size_t>(static_cast<const char*>(equals) - text);
  parsed.name = Trim(text, 0, split);
  if (parsed.name.length == 0) return parsed;
  parsed.kind = ELineKind::kKey;
  parsed.value = Trim(text, split + 1, comment);
  return parsed;
}

bool NameEquals(TSpan name, const char* wanted) {
  if (std::strlen(wanted) != name.length) return false;
  for (std::size_t i = 0; i < name.length; ++i) {
    if (LowerAscii(name.data[i]) != LowerAscii(wanted[i])) return false;
  }
  return true;
}

// The value without its quotes, cut to `size` - 1 characters and NUL-terminated.
void CopyValue(TSpan value, char* out, std::size_t size) {
  std::size_t written = 0;
  auto put = [&](char c) {
    if (written + 1 < size) out[written++] = c;
  };
  if (value.length == 0 || value.data[0] != '"') {
    for (std::size_t i = 0; i < value.length; ++i) put(value.data[i]);
  } else {
    for (std::size_t i = 1; i < value.length; ++i) {
      const char c = value.data[i];
      const bool quoteFollows = i + 1 < value.length && value.data[i + 1] == '"';
      if ((c == '\\' || c == '"') && quoteFollows) {
        put('"');
        ++i;
      } else if (c == '"') {
        break;
      } else {
        put(c);
      }
    }
  }
  out[written] = '\0';
}

void CopyName(TSpan name, char* out, std::size_t size) {
  const std::size_t length = name.length < size - 1 ? name.length : size - 1;
  std::memcpy(out, name.data, length);
  out[length] = '\0';
}

// What a file holds for one section and key (the first occurrence of the section only: the next
// header ends it).
struct TLookup {
  bool sectionFound = false;
  bool keyFound = false;
  char value[kLineBufferSize] = {};
};

TLookup LookUp(std::FILE* file, const char* section, const char* key) {
  TLookup found;
  bool inSection = IsUnnamed(section);
  found.sectionFound = inSection;
  TLine line;
  while (ReadLine(file, line)) {
    const TParsedLine parsed = ParseLine(line);
    if (parsed.kind == ELineKind::kSection) {
      if (inSection) break;
      if (!IsUnnamed(section) && NameEquals(parsed.name, section)) inSection = found.sectionFound = true;
    } else if (inSection && key != nullptr && parsed.kind == ELineKind::kKey && NameEquals(parsed.name, key)) {
      found.keyFound = true;
      CopyValue(parsed.value, found.value, sizeof(found.value));
      break;
    }
  }
  return found;
}

bool NeedsQuotes(const char* value, std::size_t length) {
  if (length == 0) return false;
  return value[0] == '"' || std::strpbrk(value, ";#") != nullptr || value[length - 1] == ' ';
}

// Writes and remembers whether every write succeeded and whether the last byte was a newline.
class TLineWriter {
 public:
  explicit TLineWriter(std::FILE* file) : file_(file) {}
  void Write(const char* data, std::size_t length) {
    if (length == 0) return;
    if (std::fwrite(data, 1, length, file_) != length && ok_) {
      ok_ = false;
      error_ = errno != 0 ? errno : EIO;
    }
    atLineStart_ = data[length - 1] == '\n';
  }
  // Ends a line left open by a piece or a last line without a newline.
  void StartLine() {
    if (!atLineStart_) Write("\n", 1);
  }
  void WriteSectionHeader(const char* section) {
    std::string line = "[";
    line.append(section, std::min(std::strlen(section), std::size_t{TIniProfile::kMaxSectionNameLength}));
    line += "]\n";
    StartLine();
    Write(line.data(), line.size());
  }
  void WriteKeyLine(const char* key, const char* value) {
    std::string line(key, std::min(std::strlen(key), std::size_t{TIniProfile::kMaxKeyNameLength}));
    line += '=';
    const std::size_t valueLength = std::strlen(value);
    if (NeedsQuotes(value, valueLength)) {
      line += '"';
      for (std::size_t i = 0; i < valueLength; ++i) {
        if (value[i] == '"') line += '\\';
        line += value[i];
      }
      line += '"';
    } else {
      line.append(value, valueLength);
    }
    // The whole line, newline and NUL included, fits the line buffer of the readers.
    if (line.size() > kMaxLineLength - 1) line.resize(kMaxLineLength - 1);
    line += '\n';
    StartLine();
    Write(line.data(), line.size());
  }
  bool Ok() const { return ok_; }
  // The errno of the first failed write.
  int GetError() const { return error_; }

 private:
  std::FILE* file_;
  bool ok_ = true;
  int error_ = 0;
  bool atLineStart_ = true;
};

// Copies the file into `out` with the key set, replaced or deleted (Rewrite's description).
void CopyWithChange(std::FILE* in, TLineWriter& out, const char* section, const char* key, const char* value) {
  const bool setting = key != nullptr && value != nullptr;
  bool inSection = IsUnnamed(section);  // the unnamed section runs from the start
  bool sectionSeen = inSection;
  bool done = false;
  TLine line;
  while (ReadLine(in, line)) {
    if (!done) {
      const TParsedLine parsed = ParseLine(line);
      if (parsed.kind == ELineKind::kSection) {
        if (inSection) {
          // The section ends without the key: it goes last in the section.
          if (setting) out.WriteKeyLine(key, value);
          done = true;
          inSection = false;
        } else if (!IsUnnamed(section) && NameEquals(parsed.name, section)) {
          inSection = sectionSeen = true;
          if (key == nullptr) continue;  // the whole section goes, header included
        }
      } else if (inSection) {
        if (key == nullptr) continue;
        if (parsed.kind == ELineKind::kKey && NameEquals(parsed.name, key)) {
          if (value != nullptr) out.WriteKeyLine(key, value);
          done = true;
          continue;
        }
      }
    }
    out.Write(line.text, line.length);
  }
  if (done || !setting) return;
  if (!sectionSeen) out.WriteSectionHeader(section);
  out.WriteKeyLine(key, value);
}

// Answers false with errno set to `error`, for the caller's message.
bool FailWith(int error) {
  errno = error;
  return false;
}

// Closes the written file: 0, or the errno of the write or of the close that failed.
int CloseWritten(std::FILE* out, const TLineWriter& writer) {
  errno = 0;
  const bool closed = std::fclose(out) == 0;
  if (!writer.Ok()) return writer.GetError();
  return closed ? 0 : (errno != 0 ? errno : EIO);
}

// Writes the file anew: `copy` fills the temporary file (the path with its last character replaced
// by '~') from `in` (null when there is no file yet) and says whether anything changed; then the
// temporary file durably replaces the file. Nothing changed: the temporary file goes and the file
// stays as it was. `in` is closed here.
template <typename TCopy>
bool Rewrite(std::FILE* in, const char* path, TCopy&& copy) {
  std::string temporary(path);
  temporary.back() = '~';
  if (temporary == path) {
    if (in != nullptr) std::fclose(in);
    return FailWith(EINVAL);
  }
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) {
    const int error = errno;
    if (in != nullptr) std::fclose(in);
    return FailWith(error);
  }
  TLineWriter writer(out);
  errno = 0;
  const bool changed = copy(writer);
  int error = 0;
  if (in != nullptr) {
    error = std::ferror(in) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(in);
  }
  const int writeError = CloseWritten(out, writer);
  if (error == 0) error = writeError;
  // The rename replaces the file in one step: on any failure before it the original stays as it was.
  if (error == 0 && changed) error = Network::ReplaceFileDurably(temporary.c_str(), path);
  if (error != 0 || !changed) std::remove(temporary.c_str());
  return error == 0 || FailWith(error);
}

// One change of a batch, found by its key within its section's first block.
struct TBatchKey {
  std::size_t change;  // the last change of this key: it wins
  bool done = false;   // set in the file already
};

struct TBatchSection {
  const char* name = "";
  bool seen = false;
  std::unordered_map<std::string, TBatchKey> keys;
  std::vector<std::string> order;  // the keys in the order of their first change
};

std::string LowerName(const char* data, std::size_t length) {
  std::string name(data, length);
  for (char& c : name) c = LowerAscii(c);
  return name;
}

// Copies `in` (null: no file yet) into `out` with the changes made: IniPutString's copy, for many
// keys at once. True when the copy differs from the file in some key.
bool CopyWithChanges(std::FILE* in, TLineWriter& out, const TIniChange* changes, std::size_t count) {
  std::vector<TBatchSection> sections;
  std::unordered_map<std::string, std::size_t> sectionIndex;
  for (std::size_t i = 0; i < count; ++i) {
    const char* section = IsUnnamed(changes[i].section) ? "" : changes[i].section;
    auto [place, added] = sectionIndex.emplace(LowerName(section, std::strlen(section)), sections.size());
    if (added) {
      sections.emplace_back();
      sections.back().name = section;
    }
    TBatchSection& target = sections[place->second];
    const std::string key = LowerName(changes[i].key, std::strlen(changes[i].key));
    auto [entry, fresh] = target.keys.emplace(key, TBatchKey{i});
    if (fresh) {
      target.order.push_back(key);
    } else {
      entry->second.change = i;
    }
  }

  bool changed = false;
  // The keys of a section not found in its block go last in it.
  const auto finish = [&](TBatchSection& section) {
    for (const std::string& key : section.order) {
      TBatchKey& entry = section.keys.at(key);
      const TIniChange& change = changes[entry.change];
      if (change.value == nullptr || entry.done) continue;
      out.WriteKeyLine(change.key, change.value);
      entry.done = changed = true;
    }
  };

  const auto unnamed = sectionIndex.find("");
  TBatchSection* block = unnamed != sectionIndex.end() ? &sections[unnamed->second] : nullptr;
  if (block != nullptr) block->seen = true;
  TLine line;
  char value[kLineBufferSize];
  while (in != nullptr && ReadLine(in, line)) {
    const TParsedLine parsed = ParseLine(line);
    if (parsed.kind == ELineKind::kSection) {
      if (block != nullptr) finish(*block);
      block = nullptr;
      const auto found = sectionIndex.find(LowerName(parsed.name.data, parsed.name.length));
      if (found != sectionIndex.end() && !found->first.empty() && !sections[found->second].seen) {
        block = &sections[found->second];
        block->seen = true;
      }
    } else if (block != nullptr && parsed.kind == ELineKind::kKey) {
      const auto found = block->keys.find(LowerName(parsed.name.data, parsed.name.length));
      if (found != block->keys.end()) {
        TBatchKey& entry = found->second;
        const TIniChange& change = changes[entry.change];
        if (change.value == nullptr) {
          // Every line of a deleted key goes.
          changed = true;
          continue;
        }
        if (!entry.done) {
          entry.done = true;
          CopyValue(parsed.value, value, sizeof(value));
          // A key that keeps its value keeps its line as it was, comment and all.
          if (std::strcmp(value, change.value) != 0) {
            out.WriteKeyLine(change.key, change.value);
            changed = true;
            continue;
          }
        }
      }
    }
    out.Write(line.text, line.length);
  }
  if (block != nullptr) finish(*block);
  // Sections not in the file go at its end, in the order of their first change.
  for (TBatchSection& section : sections) {
    if (section.seen) continue;
    bool header = false;
    for (const std::string& key : section.order) {
      const TIniChange& change = changes[section.keys.at(key).change];
      if (change.value == nullptr) continue;
      if (!header) out.WriteSectionHeader(section.name);
      header = true;
      out.WriteKeyLine(change.key, change.value);
      changed = true;
    }
  }
  return changed;
}

bool HasBlankEnd(const char* text) {
  const std::size_t length = std::strlen(text);
  return length != 0 && (IsBlank(text[0]) || IsBlank(text[length - 1]));
}

// What would not read back as written: a name that the parser cuts or trims differently, a line
// break anywhere (it would start a line of its own), and a value that needs quotes and ends with a
// backslash (written as "...\"", the closing quote would read as an escaped one).
bool Refused(const char* section, const char* key, const char* value) {
  // A key's removal writes nothing: it may name any key the file holds, also one in a section whose
  // name could not be written back (a carriage return in it, say); names that cannot be in the file
  // match nothing.
  if (value == nullptr && key != nullptr) return *key == '\0';
  if (section != nullptr && (std::strpbrk(section, "]\r\n") != nullptr || HasBlankEnd(section))) return true;
  if (key != nullptr &&
      (*key == '\0' || key[0] == '[' || std::strpbrk(key, "=;#\"\r\n") != nullptr || HasBlankEnd(key))) {
    return true;
  }
  if (value == nullptr) return false;
  if (std::strpbrk(value, "\r\n") != nullptr) return true;
  const std::size_t length = std::strlen(value);
  return NeedsQuotes(value, length) && value[length - 1] == '\\';
}

}  // namespace

int TIniProfile::IniGetString(const char* section, const char* key, const char* defaultValue, char* buffer, int size,
                              const char* path) {
  if (buffer == nullptr || key == nullptr || size < 1) return 0;
  const char* text = defaultValue != nullptr ? defaultValue : "";
  TLookup found;
  if (path != nullptr) {
    if (std::FILE* file = std::fopen(path, "rb")) {
      found = LookUp(file, section, key);
      std::fclose(file);
      if (found.keyFound) text = found.value;
    }
  }
  const std::size_t length = std::min(std::strlen(text), static_cast<std::size_t>(size) - 1);
  std::memmove(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<int>(length);
}

long TIniProfile::IniGetLong(const char* section, const char* key, long defaultValue, const char* path) {
  char text[kNumberBufferSize];
  if (IniGetString(section, key, "", text, sizeof(text), path) == 0) return defaultValue;
  const bool hexadecimal = text[1] == 'x' || text[1] == 'X';
  return std::strtol(text, nullptr, hexadecimal ? 16 : 10);
}

float TIniProfile::IniGetFloat(const char* section, const char* key, float defaultValue, const char* path) {
  char text[kNumberBufferSize];
  if (IniGetString(section, key, "", text, sizeof(text), path) == 0) return defaultValue;
  return static_cast<float>(std::strtod(text, nullptr));
}

int TIniProfile::IniGetBool(const char* section, const char* key, int defaultValue, const char* path) {
  char text[2];
  IniGetString(section, key, "", text, sizeof(text), path);
  switch (text[0]) {
    case '1':
    case 'T':
    case 't':
    case 'Y':
    case 'y':
      return 1;
    case '0':
    case 'F':
    case 'f':
    case 'N':
    case 'n':
      return 0;
    default:
      return defaultValue;
  }
}

int TIniProfile::IniGetSection(int index, char* buffer, int size, const char* path) {
  if (buffer == nullptr || size < 1) return 0;
  buffer[0] = '\0';
  if (index < 0 || path == nullptr) return 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 0;
  TLine line;
  int seen = 0;
  while (ReadLine(file, line)) {
    const TParsedLine parsed = ParseLine(line);
    if (parsed.kind != ELineKind::kSection) continue;
    if (seen++ == index) {
      CopyName(parsed.name, buffer, static_cast<std::size_t>(size));
      break;
    }
  }
  std::fclose(file);
  return static_cast<int>(std::strlen(buffer));
}

int TIniProfile::IniGetKey(const char* section, int index, char* buffer, int size, const char* path) {
  if (buffer == nullptr || size < 1) return 0;
  buffer[0] = '\0';
  if (index < 0 || path == nullptr) return 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return 0;
  bool inSection = IsUnnamed(section);
  TLine line;
  int seen = 0;
  while (ReadLine(file, line)) {
    const TParsedLine parsed = ParseLine(line);
    if (parsed.kind == ELineKind::kSection) {
      if (inSection) break;
      inSection = !IsUnnamed(section) && NameEquals(parsed.name, section);
    } else if (inSection && parsed.kind == ELineKind::kKey && seen++ == index) {
      CopyName(parsed.name, buffer, static_cast<std::size_t>(size));
      break;
    }
  }
  std::fclose(file);
  return static_cast<int>(std::strlen(buffer));
}

bool TIniProfile::IniBrowse(TIniBrowseCallback callback, void* userData, const char* path) {
  if (callback == nullptr || path == nullptr) return false;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return false;
  char section[kLineBufferSize] = "";
  char key[kLineBufferSize];
  char value[kLineBufferSize];
  TLine line;
  while (ReadLine(file, line)) {
    const TParsedLine parsed = ParseLine(line);
    if (parsed.kind == ELineKind::kSection) {
      CopyName(parsed.name, section, sizeof(section));
    } else if (parsed.kind == ELineKind::kKey) {
      CopyName(parsed.name, key, sizeof(key));
      CopyValue(parsed.value, value, sizeof(value));
      if (callback(section, key, value, userData) == 0) break;
    }
  }
  std::fclose(file);
  return true;
}

bool TIniProfile::IniPutString(const char* section, const char* key, const char* value, const char* path) {
  if (path == nullptr || *path == '\0' || Refused(section, key, value)) return FailWith(EINVAL);

  std::FILE* in = std::fopen(path, "rb");
  if (in == nullptr) {
    // Only a missing file is made anew; one that exists but cannot be read is left alone.
    if (errno != ENOENT) return false;
    if (key == nullptr || value == nullptr) return true;
    return Rewrite(nullptr, path, [&](TLineWriter& out) {
      if (!IsUnnamed(section)) out.WriteSectionHeader(section);
      out.WriteKeyLine(key, value);
      return true;
    });
  }

  // Nothing to change: the value is already there, or what should go is not.
  const TLookup found = LookUp(in, section, key);
  const bool unchanged = key == nullptr     ? !found.sectionFound
                         : value == nullptr ? !found.keyFound
                                            : found.keyFound && std::strcmp(found.value, value) == 0;
  if (unchanged && !std::ferror(in)) {
    std::fclose(in);
    return true;
  }
  std::rewind(in);
  return Rewrite(in, path, [&](TLineWriter& out) {
    CopyWithChange(in, out, section, key, value);
    return true;
  });
}

bool TIniProfile::IniPutStrings(const TIniChange* changes, std::size_t count, const char* path) {
  if (path == nullptr || *path == '\0' || (changes == nullptr && count != 0)) return FailWith(EINVAL);
  bool sets = false;
  for (std::size_t i = 0; i < count; ++i) {
    const TIniChange& change = changes[i];
    if (change.key == nullptr || Refused(change.section, change.key, change.value)) return FailWith(EINVAL);
    sets = sets || change.value != nullptr;
  }
  std::FILE* in = std::fopen(path, "rb");
  if (in == nullptr) {
    if (errno != ENOENT) return false;
    if (!sets) return true;
  }
  return Rewrite(in, path, [&](TLineWriter& out) { return CopyWithChanges(in, out, changes, count); });
}

bool TIniProfile::IniPutLong(const char* section, const char* key, long value, const char* path) {
  char text[kNumberBufferSize];
  std::snprintf(text, sizeof(text), "%ld", value);
  return IniPutString(section, key, text, path);
}

bool TIniProfile::IniPutFloat(const char* section, const char* key, float value, const char* path) {
  // "%f" of the largest float is 46 characters.
  char text[kNumberBufferSize];
  std::snprintf(text, sizeof(text), "%f", static_cast<double>(value));
  return IniPutString(section, key, text, path);
}

}  // namespace Orvan::ServerTools
