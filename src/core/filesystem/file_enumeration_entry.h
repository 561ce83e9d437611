// TFileEnumerationEntry, one node of a file enumeration tree: a name, a file name, two values the
// engine carries unchanged, and child entries. Entries are values: a copy copies the whole subtree.
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

 private:
  TOrvString<wchar_t> name_;
  TFileName file_;
  std::uint32_t firstValue_;
  std::uint32_t secondValue_;
  TChildren children_;
};

}  // namespace Orvan
