// Frame writing and reassembly.
#include "network/packets/packet_helper.h"

#include <arpa/inet.h>

#include "core/text/positional_format.h"
#include "network/logging/network_hooks.h"
#include "network/packets/buffer_io.h"
#include "network/packets/value_packing.h"

namespace Orvan::Network {

namespace {

// Out of line: the reception path of every frame stays free of the formatting.
[[gnu::cold, gnu::noinline]] void LogOversizedFrame(std::uint32_t length, std::uint32_t maximum) {
  NetworkLog(kNetworkLogWarning, FormatValues("TPacketHelperBase::ReceivePacket() -> frame of %1 bytes is above the "
                                              "%2 bytes accepted: connection dropped",
                                              length, maximum));
}

}  // namespace

TPacketHelperBase::TPacketHelperBase(std::uint32_t maximumSize)
    : maximumSize_(maximumSize), buffer_(new std::uint8_t[maximumSize]) {
  GetTimeStamp(lastSend_);
}

TPacketHelperBase::~TPacketHelperBase() { delete[] buffer_; }

bool TPacketHelperBase::SendRaw(IStreamInterface* stream, const void* data, std::uint16_t size) {
  if (!stream->Write(data, size)) return false;
  if (observer_ != nullptr) observer_->OnSent(stream, size);
  GetTimeStamp(lastSend_);
  return true;
}

void TPacketHelperBase::NoteFramesSent(IStreamInterface* stream, std::uint32_t bytes) {
  if (observer_ != nullptr) observer_->OnSent(stream, bytes);
  GetTimeStamp(lastSend_);
}

bool TPacketHelperBase::SendPacketWithSize(IStreamInterface* stream, const void* data, std::uint16_t size) {
  std::uint8_t lengthBytes[2];
  TFixedBufferWriter writer(lengthBytes, sizeof(lengthBytes));
  if (WriteUInt16(writer, size) != kBufferOk) return false;
  if (!stream->Write(lengthBytes, sizeof(lengthBytes))) return false;
  if (observer_ != nullptr) observer_->OnSent(stream, sizeof(lengthBytes));
  return SendRaw(stream, data, size);
}

bool TPacketHelperBase::SendPacketBody(IStreamInterface* stream, const void* data, std::uint16_t size) {
  return SendPacketWithSize(stream, data, size);
}

bool TPacketHelperBase::SendTypedPacket(IStreamInterface* stream, std::uint8_t channel, const void* payload,
                                        std::uint16_t length) {
  if (length > kMaximumTypedPayload) {
    NetworkLog(kNetworkLogError, FormatValues("TPacketHelperBase::SendTypedPacket() -> payload of %1 bytes and its "
                                              "channel do not fit a frame: packet not sent",
                                              static_cast<unsigned>(length)));
    return false;
  }
  TPacketBufferPtr packet;
  CreatePacketBuffer(packet, payload, length);
  packet->channel = channel;
  return SendTypedPacket(stream, packet);
}

bool TPacketHelperBase::SendTypedPacket(IStreamInterface* stream, const TPacketBufferPtr& packet) {
  if (packet.IsNull()) return false;
  if (packet->length > kMaximumTypedPayload) {
    NetworkLog(kNetworkLogError, FormatValues("TPacketHelperBase::SendTypedPacket() -> payload of %1 bytes and its "
                                              "channel do not fit a frame: packet not sent",
                                              static_cast<unsigned>(packet->length)));
    return false;
  }
  return SendPacketWithSize(stream, packet->GetChannelAndPayload(), static_cast<std::uint16_t>(packet->length + 1));
}

// One call takes at most one frame:
// 1. Without a pending length, the 2 length bytes are awaited and read; a length above the
//    maximum is refused (false). A zero-length frame carries nothing: it is taken and skipped.
// 2. The body is awaited; when it is all there it is read into the buffer and handed over.
// "Not yet" at either step returns true with nothing received; pendingSize keeps the length.
bool TPacketHelperBase::ReceivePacket(IStreamInterface* stream, std::uint16_t& pendingSize,
                                      std::uint16_t& receivedSize) {
  receivedSize = 0;
  while (pendingSize == 0) {
    const std::uint32_t lengthReady = stream->CheckIfProblemDuringReceiving(2);
    if (lengthReady == kReceiveNotYet) return true;
    if (lengthReady != kReceiveReady) return false;
    // The big-endian "H" of the format letters, decoded in place: this runs for every frame. The two
    // bytes are loaded one by one (volatile keeps the compiler from merging them): a stream's
    // memcpy of 2 bytes stores them as two overlapping pieces, which one 2-byte load cannot take
    // from the store buffer, and that stall cost more than the rest of the step.
    std::uint8_t lengthBytes[2];
    if (stream->Read(lengthBytes, sizeof(lengthBytes)) != sizeof(lengthBytes)) return false;
    const volatile std::uint8_t* wire = lengthBytes;
    const std::uint32_t length = (std::uint32_t{wire[0]} << 8) | wire[1];
    if (length > maximumSize_) {
      LogOversizedFrame(length, maximumSize_);
      return false;
    }
    if (length == 0 && observer_ != nullptr) observer_->OnReceived(stream, 2);
    pendingSize = static_cast<std::uint16_t>(length);
  }
  const std::uint32_t bodyReady = stream->CheckIfProblemDuringReceiving(pendingSize);
  if (bodyReady == kReceiveNotYet) return true;
  if (bodyReady != kReceiveReady) return false;
  // The stream has just said the whole body is there: fewer bytes would cut the frame.
  if (stream->Read(buffer_, pendingSize) != pendingSize) return false;
  receivedSize = pendingSize;
  if (observer_ != nullptr) observer_->OnReceived(stream, (receivedSize + 2u) & 0xFFFFu);
  pendingSize = 0;
  return true;
}

}  // namespace Orvan::Network
