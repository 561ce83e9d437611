// The shared cursor's operations, cut at the block's size.
#include "core/streams/shared_memory_stream.h"

#include "core/streams/memory_cursor.h"

namespace Orvan {

std::int32_t TLWSharedMemoryStream::Read(void* destination, std::uint32_t count) noexcept {
  return MemoryCursor::CountAsResult(MemoryCursor::Read(block_, size_, position_, destination, count));
}

std::int32_t TLWSharedMemoryStream::Write(const void* source, std::uint32_t count) noexcept {
  return MemoryCursor::CountAsResult(MemoryCursor::WriteInPlace(block_, size_, position_, source, count));
}

std::uint32_t TLWSharedMemoryStream::ReadWithStatus(void* destination, std::uint32_t count,
                                                    std::uint32_t& status) noexcept {
  return MemoryCursor::ReadWithStatus(block_, size_, position_, destination, count, status);
}

void TLWSharedMemoryStream::Seek(std::uint32_t offset, std::uint32_t origin) noexcept {
  MemoryCursor::Seek(position_, size_, offset, origin);
}

}  // namespace Orvan
