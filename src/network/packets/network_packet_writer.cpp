// The growing packet builder.
#include "network/packets/network_packet_writer.h"

#include <algorithm>
#include <cstring>

#include "core/text/positional_format.h"
#include "network/logging/network_hooks.h"

namespace Orvan::Network {

namespace {

std::size_t InitialCapacity(std::uint32_t initialPayload) {
  return (std::size_t{initialPayload} + TPacketBuffer::kHeaderSize + 15) & ~std::size_t{15};
}

}  // namespace

TNetworkPacketWriter::TNetworkPacketWriter(std::uint32_t initialPayload) {
  const std::size_t capacity = InitialCapacity(initialPayload);
  start_ = static_cast<std::uint8_t*>(AllocateNetworkBlock(capacity));
  std::memset(start_, 0, TPacketBuffer::kHeaderSize);
  position_ = start_ + TPacketBuffer::kHeaderSize;
  end_ = start_ + capacity;
}

TNetworkPacketWriter::~TNetworkPacketWriter() { FreeBlock(); }

void TNetworkPacketWriter::FreeBlock() {
  if (start_ != nullptr) FreeNetworkBlock(start_);
  start_ = position_ = end_ = nullptr;
}

std::uint32_t TNetworkPacketWriter::GetPayloadSize() const {
  return start_ == nullptr ? 0 : static_cast<std::uint32_t>(position_ - start_ - TPacketBuffer::kHeaderSize);
}

std::uint32_t TNetworkPacketWriter::GetCapacity() const { return static_cast<std::uint32_t>(end_ - start_); }

void TNetworkPacketWriter::Grow(std::uint32_t size) {
  if (start_ == nullptr) {
    const std::size_t capacity = InitialCapacity(size);
    start_ = static_cast<std::uint8_t*>(AllocateNetworkBlock(capacity));
    std::memset(start_, 0, TPacketBuffer::kHeaderSize);
    position_ = start_ + TPacketBuffer::kHeaderSize;
    end_ = start_ + capacity;
    return;
  }
  const std::size_t used = static_cast<std::size_t>(position_ - start_);
  const std::size_t capacity = static_cast<std::size_t>(end_ - start_);
  const std::size_t grown = std::max(2 * capacity, used + size);
  start_ = static_cast<std::uint8_t*>(ReallocateNetworkBlock(start_, grown));
  position_ = start_ + used;
  end_ = start_ + grown;
}

void TNetworkPacketWriter::Write(const void* data, std::uint32_t size) {
  if (static_cast<std::size_t>(end_ - position_) < size) Grow(size);
  if (size != 0) std::memcpy(position_, data, size);
  position_ += size;
}

TPacketBufferPtr TNetworkPacketWriter::Finish(std::uint8_t channel) {
  if (start_ == nullptr) Grow(0);
  const std::size_t payload = static_cast<std::size_t>(position_ - start_) - TPacketBuffer::kHeaderSize;
  if (payload > TPacketBuffer::kMaximumPayload) {
    NetworkLog(kNetworkLogError, FormatValues("TNetworkPacketWriter::Finish() -> payload of %1 bytes is above the "
                                              "65535 bytes of a packet: packet dropped",
                                              payload));
    FreeBlock();
    return TPacketBufferPtr();
  }
  auto* packet = reinterpret_cast<TPacketBuffer*>(start_);
  packet->length = static_cast<std::uint16_t>(payload);
  packet->refCount = 0;
  packet->channel = channel;
  start_ = position_ = end_ = nullptr;
  return TPacketBufferPtr(packet);
}

}  // namespace Orvan::Network

namespace Orvan::Network {

void TNetworkPacketWriterIntoStream::Write(const void* data, std::uint32_t size) { stream_->Write(data, size); }

TPacketBufferPtr TNetworkPacketWriterIntoStream::Finish(std::uint8_t channel) {
  const std::uint32_t size = stream_->GetSize();
  TPacketBufferPtr packet;
  if (size > TPacketBuffer::kMaximumPayload) {
    NetworkLog(kNetworkLogError, FormatValues("TNetworkPacketWriterIntoStream::Finish() -> stream of %1 bytes is above "
                                              "the 65535 bytes of a packet: packet dropped",
                                              size));
  } else {
    CreatePacketBuffer(packet, nullptr, static_cast<std::uint16_t>(size));
    stream_->SetPosition(0);
    const std::int32_t read = size == 0 ? 0 : stream_->Read(packet->GetPayload(), size);
    if (read != static_cast<std::int32_t>(size)) {
      NetworkLog(kNetworkLogError, FormatValues("TNetworkPacketWriterIntoStream::Finish() -> %1 of the %2 bytes "
                                                "could be read back: packet dropped",
                                                read, size));
      packet.Reset();
    } else {
      packet->channel = channel;
    }
  }
  stream_->SetSize(0);
  stream_->SetPosition(0);
  return packet;
}

}  // namespace Orvan::Network
