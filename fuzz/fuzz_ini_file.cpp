// Fuzz target of the INI profile functions. Input: the file's content, then NUL-separated section,
// key and value (a part left out is null: a missing value deletes the key, a missing key the
// section). The file is written, read by every reading function, then one key is put. A refused or
// failed put leaves the file's bytes as they were; a put that succeeds changes no other key, leaves
// no temporary file, and a plain key and value read back as written.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "network/files/ini_profile.h"
#include "support/fuzz_check.h"
#include "support/temporary_folder.h"

namespace {

using Orvan::ServerTools::TIniProfile;
using OrvTest::FuzzCheck;

constexpr int kBufferSize = TIniProfile::kLineBufferSize;
// Bounds of the index walks: no file of a fuzz input holds more sections or keys.
constexpr int kMaxIndex = 4096;

struct TEntry {
  std::string section;
  std::string key;
  std::string value;
};

std::vector<TEntry> Browse(const std::string& path) {
  std::vector<TEntry> entries;
  TIniProfile::IniBrowse(
      [](const char* section, const char* key, const char* value, void* list) {
        static_cast<std::vector<TEntry>*>(list)->push_back({section, key, value});
        return 1;
      },
      &entries, path.c_str());
  return entries;
}

bool EqualsNoCase(const std::string& a, const char* b) {
  if (b == nullptr) b = "";
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The entries a put of (section, key) may touch are set aside: all of the section for a section's
// deletion, else those of that key in that section.
std::vector<TEntry> Untouched(const std::vector<TEntry>& entries, const char* section, const char* key) {
  std::vector<TEntry> kept;
  for (const TEntry& entry : entries) {
    const bool inSection = EqualsNoCase(entry.section, section);
    if (inSection && (key == nullptr || EqualsNoCase(entry.key, key))) continue;
    kept.push_back(entry);
  }
  return kept;
}

bool SameEntries(const std::vector<TEntry>& a, const std::vector<TEntry>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].section != b[i].section || a[i].key != b[i].key || a[i].value != b[i].value) return false;
  }
  return true;
}

bool IsPlainName(const char* name) {
  if (name == nullptr || *name == '\0' || std::strlen(name) > 100) return false;
  for (const char* c = name; *c != '\0'; ++c) {
    if (!std::isalnum(static_cast<unsigned char>(*c)) && *c != '_' && *c != '.' && *c != '-') return false;
  }
  return true;
}

// Printable, not starting with a blank (blanks around values are not kept) and short enough for
// the line.
bool IsPlainValue(const char* value) {
  if (value == nullptr || value[0] == ' ' || std::strlen(value) > 300) return false;
  for (const char* c = value; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) < 32 || *c == 127) return false;
  }
  return true;
}

void ReadEverything(const std::string& path, const char* section, const char* key) {
  char buffer[kBufferSize];
  const char* file = path.c_str();
  if (key != nullptr) {
    for (int size : {1, 2, 7, kBufferSize}) {
      const int length = TIniProfile::IniGetString(section, key, "default", buffer, size, file);
      FuzzCheck(length >= 0 && length < size && static_cast<std::size_t>(length) == std::strlen(buffer),
                "a string fits its buffer and its length is returned");
    }
    TIniProfile::IniGetLong(section, key, -1, file);
    TIniProfile::IniGetFloat(section, key, -1.0f, file);
    const int truth = TIniProfile::IniGetBool(section, key, 7, file);
    FuzzCheck(truth == 0 || truth == 1 || truth == 7, "a truth value or the default");
  }
  int sections = 0;
  while (sections < kMaxIndex && TIniProfile::IniGetSection(sections, buffer, kBufferSize, file) > 0) ++sections;
  int keys = 0;
  while (keys < kMaxIndex && TIniProfile::IniGetKey(section, keys, buffer, kBufferSize, file) > 0) ++keys;
  FuzzCheck(sections < kMaxIndex && keys < kMaxIndex, "the index walks end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> parts(1);
  std::size_t given = 1;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0 && parts.size() < 4) {
      parts.emplace_back();
      ++given;
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  const char* section = given > 1 ? parts[1].c_str() : nullptr;
  const char* key = given > 2 ? parts[2].c_str() : nullptr;
  const char* value = given > 3 ? parts[3].c_str() : nullptr;

  // A folder for this input alone, removed with what the input left in it.
  const OrvTest::TTemporaryFolder folder("orv_fuzz_ini");
  const std::string path = folder.Path("fuzz.ini");
  const std::string temporary = folder.Path("fuzz.in~");
  OrvTest::WriteFileBytes(path, parts[0]);

  ReadEverything(path, section, key);
  const std::vector<TEntry> before = Browse(path);

  const bool written = TIniProfile::IniPutString(section, key, value, path.c_str());
  FuzzCheck(!std::filesystem::exists(temporary), "no temporary file is left behind");
  if (!written) {
    FuzzCheck(OrvTest::ReadFileBytes(path) == parts[0], "a refused write leaves the file as it was");
    return 0;
  }
  // Longer names are cut when written, and then name another key.
  if ((section == nullptr || std::strlen(section) <= TIniProfile::kMaxSectionNameLength) &&
      (key == nullptr || std::strlen(key) <= TIniProfile::kMaxKeyNameLength)) {
    const std::vector<TEntry> after = Browse(path);
    FuzzCheck(SameEntries(Untouched(before, section, key), Untouched(after, section, key)),
              "a write changes no other key");
  }
  if ((section == nullptr || *section == '\0' || IsPlainName(section)) && IsPlainName(key) && IsPlainValue(value)) {
    char buffer[kBufferSize];
    TIniProfile::IniGetString(section, key, "", buffer, kBufferSize, path.c_str());
    FuzzCheck(std::strcmp(buffer, value) == 0, "a plain value reads back as written");
  }
  ReadEverything(path, section, key);
  if (IsPlainName(key)) {
    TIniProfile::IniPutLong(section, key, std::strtol(parts[0].c_str(), nullptr, 10), path.c_str());
    TIniProfile::IniPutFloat(section, key, static_cast<float>(std::strtod(parts[0].c_str(), nullptr)), path.c_str());
  }
  return 0;
}
