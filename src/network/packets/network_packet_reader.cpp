// Packet readers and the length-prefixed string.
#include "network/packets/network_packet_reader.h"

#include <cstring>

#include "core/memory/stack_based_allocator.h"

namespace Orvan::Network {

TNetworkPacketReader::TNetworkPacketReader(const TPacketBufferPtr& packet) : packet_(packet) {
  if (packet_.IsNull()) return;
  position_ = packet_->GetPayload();
  end_ = position_ + packet_->length;
}

bool TNetworkPacketReader::Read(void* data, std::uint32_t size) {
  if (!CanRead(size)) return false;
  if (size != 0) std::memcpy(data, position_, size);
  position_ += size;
  return true;
}

bool TNetworkPacketReaderFromStream::Read(void* data, std::uint32_t size) {
  const std::uint32_t position = stream_->GetPosition();
  const std::uint32_t total = stream_->GetSize();
  // Position first: past the size, "size minus position" would wrap to a huge room.
  if (position > total || total - position < size) return false;
  if (size == 0) return true;
  return stream_->Read(data, size) == static_cast<std::int32_t>(size);
}

bool ReadLengthPrefixedString(INetworkPacketReader& reader, TOrvString<char>& out) {
  std::uint8_t lengthBytes[2];
  if (!reader.Read(lengthBytes, 2)) return false;
  const std::uint32_t length = lengthBytes[0] | (std::uint32_t{lengthBytes[1]} << 8);
  if (length < kLengthPrefixedStackLimit) {
    char text[kLengthPrefixedStackLimit];
    if (!reader.Read(text, length)) return false;
    out = TOrvString<char>(text, length);
    return true;
  }
  TStackBasedBlock block(nullptr, length);
  if (!reader.Read(block.data, length)) return false;
  out = TOrvString<char>(static_cast<const char*>(block.data), length);
  return true;
}

}  // namespace Orvan::Network
