// File enumeration entries: construction, the deep copy, the move and new children.
#include "core/filesystem/file_enumeration_entry.h"

#include <utility>

namespace Orvan {

// The record of the 32-bit layout grew with the host's pointers: string 8, file name 16, two
// values 8, vector 16.
static_assert(sizeof(TFileEnumerationEntry) == 48);

TFileEnumerationEntry::TFileEnumerationEntry(const TOrvString<wchar_t>& name, const TFileName& file,
                                             std::uint32_t firstValue, std::uint32_t secondValue)
    : name_(name), file_(file), firstValue_(firstValue), secondValue_(secondValue) {}

TFileEnumerationEntry::TFileEnumerationEntry(const TFileEnumerationEntry& other)
    : name_(other.name_),
      file_(other.file_),
      firstValue_(other.firstValue_),
      secondValue_(other.secondValue_),
      children_(other.children_.Clone()) {}

TFileEnumerationEntry::TFileEnumerationEntry(TFileEnumerationEntry&& other) noexcept
    : name_(std::move(other.name_)),
      file_(std::move(other.file_)),
      firstValue_(other.firstValue_),
      secondValue_(other.secondValue_),
      children_(std::move(other.children_)) {}

void TFileEnumerationEntry::AddChild(const TOrvString<wchar_t>& name, const TFileName& file,
                                     std::uint32_t firstValue, std::uint32_t secondValue) {
  children_.PushBack(TFileEnumerationEntry(name, file, firstValue, secondValue));
}

}  // namespace Orvan
