// TSortedFileNameList, what file-system components list a folder into: file names kept in the
// case-insensitive order of the texts they were added under, the first entry of each text winning,
// all carrying the list's mounting point. The virtual file system hands one list to every component
// it asks and copies it out as a vector of file names.
//
// A list is created, filled and destroyed on one thread: its records come from that thread's heap.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/containers/small_array.h"
#include "core/filesystem/file_name.h"

namespace Orvan {

class TSortedFileNameList {
 public:
  explicit TSortedFileNameList(std::uint16_t mountingPoint) noexcept : mountingPoint_(mountingPoint) {}
  // Releases every record's file name and gives its block back.
  ~TSortedFileNameList();
  TSortedFileNameList(const TSortedFileNameList&) = delete;
  TSortedFileNameList& operator=(const TSortedFileNameList&) = delete;

  // Adds an entry under the text unless one of equal text (letter case ignored, strcasecmp) is
  // there already. Its path is the given name's path (the given name's mounting point is not
  // used), else the whole text parsed as a path, where a ':' is a forbidden character. Throws
  // EInvalidFileName for a text that is no path, std::bad_alloc when memory runs out; either way
  // the list stays as it was.
  void Add(const char* text, const TFileName* path);

  // Copies of the file names in list order, in storage of exactly their count (none when empty).
  TVector<TFileName> ToVector() const;

  std::uint16_t GetMountingPoint() const noexcept { return mountingPoint_; }
  std::uint32_t GetSize() const noexcept { return records_.GetSize(); }
  const char* GetText(std::uint32_t index) const noexcept { return records_[index]->Text(); }
  const TFileName& GetFileName(std::uint32_t index) const noexcept { return records_[index]->file; }

 private:
  // One entry: the file name, followed in its block by the text and its NUL.
  struct TRecord {
    TFileName file;
    const char* Text() const noexcept { return reinterpret_cast<const char*>(this + 1); }
    char* Text() noexcept { return reinterpret_cast<char*>(this + 1); }
  };

  // The index of the first record whose text does not sort before the given one.
  std::uint32_t FindPosition(const char* text) const;

  TSmallArray<TRecord*> records_;
  std::uint16_t mountingPoint_;
};

}  // namespace Orvan
