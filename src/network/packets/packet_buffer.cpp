// Packet creation and the handle's out-of-line paths.
#include "network/packets/packet_buffer.h"

#include <cstring>

#include "network/logging/network_hooks.h"

namespace Orvan::Network {

void TPacketBufferPtr::RefuseReference() {
  // Wrapping to 0 would free a packet that 255 handles still use.
  EndProcessOnNetworkFault("TPacketBufferPtr -> a packet cannot be held by more than 255 handles");
}

void TPacketBufferPtr::FreePacket(TPacketBuffer* packet) noexcept { FreeNetworkBlock(packet); }

void CreatePacketBuffer(TPacketBufferPtr& out, const void* data, std::uint16_t length) {
  void* block = AllocateNetworkBlock(std::size_t{length} + TPacketBuffer::kHeaderSize);
  auto* packet = static_cast<TPacketBuffer*>(block);
  packet->length = 0;
  packet->refCount = 0;
  packet->channel = 0;
  // The payload is zeroed rather than left as allocated: a packet never carries stale heap bytes.
  if (data != nullptr) {
    std::memcpy(packet->GetPayload(), data, length);
  } else {
    std::memset(packet->GetPayload(), 0, length);
  }
  out = TPacketBufferPtr(packet);
  packet->length = length;
}

}  // namespace Orvan::Network
