// Fixed-buffer sinks and sources.
#include "network/packets/buffer_io.h"

#include <cstring>

namespace Orvan::Network {

std::uint32_t TFixedBufferWriter::Write(const void* data, std::uint32_t size) {
  if (size > capacity_ - position_) return kBufferWriterFull;
  if (size != 0) std::memcpy(buffer_ + position_, data, size);
  position_ += size;
  return kBufferOk;
}

std::uint32_t TFixedBufferReader::Read(void* data, std::uint32_t size) {
  if (size > capacity_ - position_) return kBufferReaderShort;
  if (size != 0) std::memcpy(data, buffer_ + position_, size);
  position_ += size;
  return kBufferOk;
}

}  // namespace Orvan::Network
