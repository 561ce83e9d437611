// The file enumeration tree: TFileEnumerationRoot, a named list of entries, and
// TFileEnumerationEntry, one node of the tree: a name, a file name, two values the engine carries
// unchanged, and child entries. Both are values: a copy copies the whole subtree.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/filesystem/file_name.h"
#include "core/text/engine_string.h"

namespace Orvan {

class TFileEnumerationEntry {
 public:
  using TChildren = TVector<TFileEnumerationEntry>;

  // No children.
  TFileEnumerationEntry(const TOrvString<wchar_t>& name, const TFileName& file, std::uint32_t firstValue,
                        std::uint32_t secondValue);
  // The name and the file name gain a reference; the children are copied the same way, each level
  // into storage of exactly its count (none for no children). When a copy throws, every entry built
  // for it is destroyed and the exception passes on.
  TFileEnumerationEntry(const TFileEnumerationEntry& other);
  // Takes the other's name, file name and children (a vector's growth moves entries so, without
  // copying a subtree).
  TFileEnumerationEntry(TFileEnumerationEntry&& other) noexcept;
  TFileEnumerationEntry& operator=(const TFileEnumerationEntry&) = delete;
  TFileEnumerationEntry& operator=(TFileEnumerationEntry&&) = delete;
  // The children from the last to the first, each with its subtree, then their storage, the file
  // name and the name.
  ~TFileEnumerationEntry() = default;

  const TOrvString<wchar_t>& GetName() const noexcept { return name_; }
  const TFileName& GetFileName() const noexcept { return file_; }
  std::uint32_t GetFirstValue() const noexcept { return firstValue_; }
  std::uint32_t GetSecondValue() const noexcept { return secondValue_; }
  TChildren& GetChildren() noexcept { return children_; }
  const TChildren& GetChildren() const noexcept { return children_; }

  // Appends a child without children of its own; the children grow by the engine's policy.
  void AddChild(const TOrvString<wchar_t>& name, const TFileName& file, std::uint32_t firstValue,
                std::uint32_t secondValue);

 private:
  TOrvString<wchar_t> name_;
  TFileName file_;
  std::uint32_t firstValue_;
  std::uint32_t secondValue_;
  TChildren children_;
};

class TFileEnumerationRoot {
 public:
  using TEntries = TFileEnumerationEntry::TChildren;

  // No entries.
  explicit TFileEnumerationRoot(const TOrvString<wchar_t>& name) : name_(name) {}
  // The name gains a reference; the entries are copied deeply, as entries copy their children.
  TFileEnumerationRoot(const TFileEnumerationRoot& other) : name_(other.name_), entries_(other.entries_.Clone()) {}
  TFileEnumerationRoot& operator=(const TFileEnumerationRoot&) = delete;
  // The entries from the last to the first, then their storage and the name.
  ~TFileEnumerationRoot() = default;

  const TOrvString<wchar_t>& GetName() const noexcept { return name_; }
  TEntries& GetEntries() noexcept { return entries_; }
  const TEntries& GetEntries() const noexcept { return entries_; }

  // Appends a deep copy of the entry.
  void AddEntry(const TFileEnumerationEntry& entry) { entries_.PushBack(entry); }

 private:
  TOrvString<wchar_t> name_;
  TEntries entries_;
};

}  // namespace Orvan
