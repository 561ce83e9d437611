// The sorted file list: the search for a text's place, records with their texts inline, and the
// copy into a vector.
#include "core/filesystem/sorted_file_name_list.h"

#include <strings.h>

#include <cstddef>
#include <cstring>
#include <new>

namespace Orvan {

TSortedFileNameList::~TSortedFileNameList() {
  for (std::uint32_t i = 0; i < records_.GetSize(); ++i) {
    TRecord* record = records_[i];
    record->~TRecord();
    TThreadHeapStorage::Free(record);
  }
}

std::uint32_t TSortedFileNameList::FindPosition(const char* text) const {
  std::uint32_t first = 0;
  std::uint32_t count = records_.GetSize();
  while (count > 0) {
    const std::uint32_t step = count / 2;
    if (::strcasecmp(records_[first + step]->Text(), text) < 0) {
      first += step + 1;
      count -= step + 1;
    } else {
      count = step;
    }
  }
  return first;
}

void TSortedFileNameList::Add(const char* text, const TFileName* path) {
  const std::uint32_t position = FindPosition(text);
  if (position < records_.GetSize() && ::strcasecmp(text, records_[position]->Text()) == 0) return;

  const std::size_t length = std::strlen(text);
  void* block = TThreadHeapStorage::Allocate(sizeof(TRecord) + length + 1);
  TRecord* record;
  try {
    if (path != nullptr) {
      record = ::new (block) TRecord{TFileName(mountingPoint_, *path)};
    } else {
      TPathNode* node = TFileName::ParsePath(TCharRange<char>{text, text + length});
      record = ::new (block) TRecord{TFileName(mountingPoint_, node)};
      // The record holds its own reference now.
      if (node != nullptr) TFileNameRegistry::Get()->ReleaseNode(node);
    }
  } catch (...) {
    TThreadHeapStorage::Free(block);
    throw;
  }
  std::memcpy(record->Text(), text, length + 1);
  try {
    records_.InsertRange(position, &record, &record + 1);
  } catch (...) {
    record->~TRecord();
    TThreadHeapStorage::Free(block);
    throw;
  }
}

TVector<TFileName> TSortedFileNameList::ToVector() const {
  TVector<TFileName> names;
  if (records_.GetSize() == 0) return names;
  names.ReserveEmpty(records_.GetSize());
  for (std::uint32_t i = 0; i < records_.GetSize(); ++i) names.PushBack(records_[i]->file);
  return names;
}

}  // namespace Orvan
