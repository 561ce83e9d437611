// The client packet family: the socket checks, the frame built in the framer's size and sent whole
// or not at all.
#include "dedicated/client_packet_sending.h"

#include <memory>

#include "core/text/positional_format.h"
#include "network/buffer_io.h"
#include "network/network_hooks.h"
#include "network/network_packet_writer.h"
#include "network/packet_buffer.h"
#include "network/packet_helper.h"
#include "network/socket_interface.h"
#include "network/value_packing.h"

namespace Orvan::Dedicated {

namespace {

// Frames up to this size are built on the stack; the server's framers hold 4096 bytes.
constexpr std::uint32_t kStackFrameSize = 4096;

bool CheckSocket(Network::IStreamInterface* socket, std::uint8_t channel, const char* nullText,
                 const char* closedText) {
  if (socket == nullptr) {
    Network::NetworkLog(Network::kNetworkLogWarning, FormatValues("%1%2", nullText, static_cast<unsigned>(channel)));
    return false;
  }
  if (socket->IsClosed()) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        FormatValues("%1%2", closedText, static_cast<unsigned>(channel)));
    return false;
  }
  return true;
}

void LogUnfit(std::uint8_t channel, std::uint32_t limit) {
  Network::NetworkLog(Network::kNetworkLogWarning,
                      FormatValues("Packet in channel %1 does not fit a frame of %2 bytes: not sent",
                                   static_cast<unsigned>(channel), limit));
}

// The channel byte and the body packed by `write` into one frame of at most the framer's size; a
// body cut short would reach the client as a different message, so nothing goes out unless it all
// fits.
template <typename TBody>
bool SendPackedBody(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                    const TBody& body, std::uint32_t (*write)(Network::IBufferWriter&, const TBody&)) {
  if (!CheckSocket(socket, channel, "Trying to send a packet to null socket in channel ",
                   "Trying to send a packet to a closed socket in channel ")) {
    return false;
  }
  // A frame's length travels in 16 bits.
  const std::uint32_t limit = framer->GetMaximumSize() < 0xFFFF ? framer->GetMaximumSize() : 0xFFFF;
  std::uint8_t stackBuffer[kStackFrameSize];
  std::unique_ptr<std::uint8_t[]> heapBuffer;
  std::uint8_t* buffer = stackBuffer;
  if (limit > kStackFrameSize) {
    heapBuffer.reset(new std::uint8_t[limit]);
    buffer = heapBuffer.get();
  }
  Network::TFixedBufferWriter writer(buffer, limit);
  if (writer.Write(&channel, 1) != Network::kBufferOk || write(writer, body) != Network::kBufferOk) {
    LogUnfit(channel, limit);
    return false;
  }
  return framer->SendPacketWithSize(socket, buffer, static_cast<std::uint16_t>(writer.GetPosition()));
}

// The head written by `writeHead`, then the bytes, in a packet sent as one typed frame.
template <typename THead>
bool SendHeadAndData(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                     THead head, std::uint32_t (*writeHead)(Network::IBufferWriter&, THead), const void* data,
                     std::uint32_t size) {
  if (!CheckSocket(socket, channel, "Trying to send a packet with data to null socket in channel ",
                   "Trying to send a packet with data to a closed socket in channel ")) {
    return false;
  }
  if (size > Network::TPacketBuffer::kMaximumPayload) {
    LogUnfit(channel, Network::TPacketBuffer::kMaximumPayload);
    return false;
  }
  Network::TNetworkPacketWriter packetWriter(size + 8);
  Network::TNetworkPacketBufferWriter writer(packetWriter);
  writeHead(writer, head);
  if (size != 0) packetWriter.Write(data, size);
  // A payload above a packet's limit comes back null and fails the send.
  return framer->SendTypedPacket(socket, packetWriter.Finish(channel));
}

}  // namespace

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const Network::TMmsSlaveStatusMessage& body) {
  return SendPackedBody(framer, socket, channel, body, &Network::WriteMmsSlaveStatusMessage);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TNumberPairList& body) {
  return SendPackedBody(framer, socket, channel, body, &WriteNumberPairs);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TClientEvent& body) {
  return SendPackedBody(framer, socket, channel, body, &WriteClientEvent);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TServerPropertyPacket& body) {
  return SendPackedBody(framer, socket, channel, body, &WriteServerProperty);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TPlayerVariablePacket& body) {
  return SendPackedBody(framer, socket, channel, body, &WritePlayerVariable);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TAdmissionAnswer& body) {
  return SendPackedBody(framer, socket, channel, body, &WriteAdmissionAnswer);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TSystemMessage& body) {
  return SendPackedBody(framer, socket, channel, body, &WriteSystemMessage);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TPingTableEntry& body) {
  return SendPackedBody(framer, socket, channel, body, &WritePingTableEntry);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TThreeValuesPacket& body) {
  return SendPackedBody(framer, socket, channel, body, &WriteThreeValues);
}

bool SendPacketWithData(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                        const Network::OrvNetId& head, const void* data, std::uint32_t size) {
  return SendHeadAndData<std::uint64_t>(framer, socket, channel, head.GetValue(), &Network::WriteUInt64, data, size);
}

bool SendPacketWithData(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                        std::uint32_t head, const void* data, std::uint32_t size) {
  return SendHeadAndData<std::uint32_t>(framer, socket, channel, head, &Network::WriteUInt32, data, size);
}

}  // namespace Orvan::Dedicated
