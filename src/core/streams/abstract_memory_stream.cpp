// The provider operations of memory streams, answered from their bytes.
#include "core/streams/abstract_memory_stream.h"

#include "core/streams/memory_cursor.h"
#include "core/streams/memory_view.h"

namespace Orvan {

TCountedPtr<TMemoryViewProvider> TAbstractMemoryStream::GetMemoryView(std::uint64_t offset, std::uint32_t length) {
  return CreateMemoryView(offset, length, 0);
}

TCountedPtr<TMemoryView> TAbstractMemoryStream::CreateMemoryView(std::uint64_t offset, std::uint32_t length,
                                                                 std::uint8_t flag) {
  const MemoryCursor::TByteRange range = MemoryCursor::ClampRange(GetSize(), offset, length);
  std::uint8_t* data = GetData();
  return TCountedPtr<TMemoryView>(
      new TMemoryView(this, data != nullptr ? data + range.offset : nullptr, range.length, flag));
}

void TAbstractMemoryStream::ReadAt(void* destination, std::uint64_t offset, std::uint32_t count) const {
  MemoryCursor::CopyAt(GetData(), GetSize(), offset, destination, count);
}

}  // namespace Orvan
