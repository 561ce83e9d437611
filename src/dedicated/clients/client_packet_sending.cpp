// The client packet family: the socket checks, the frame built in the framer's size and sent whole
// or not at all.
#include "dedicated/clients/client_packet_sending.h"

#include <cstring>
#include <memory>

#include "core/text/positional_format.h"
#include "network/logging/network_hooks.h"
#include "network/packets/buffer_io.h"
#include "network/packets/network_packet_writer.h"
#include "network/packets/packet_buffer.h"
#include "network/packets/packet_helper.h"
#include "network/packets/value_packing.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/socket_interface.h"

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

// Adapts a typed packer to the shared core.
template <typename TBody, std::uint32_t (*Write)(Network::IBufferWriter&, const TBody&)>
bool SendPackedBody(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                    const TBody& body) {
  return SendBodyFrame(
      framer, socket, channel,
      [](Network::IBufferWriter& writer, const void* packed) {
        return Write(writer, *static_cast<const TBody*>(packed));
      },
      &body);
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

// The frame's length, its channel and the head, packed as the "with data" members pack them.
template <typename THead>
bool AppendHead(std::vector<std::uint8_t>& frames, std::uint8_t channel, THead head,
                std::uint32_t (*writeHead)(Network::IBufferWriter&, THead), std::uint32_t size) {
  constexpr std::uint32_t kHeadSize = sizeof(THead);
  // The channel byte, the head and the bytes in a frame whose length travels in 16 bits.
  if (size > Network::TPacketHelperBase::kMaximumTypedPayload - kHeadSize) {
    LogUnfit(channel, Network::TPacketHelperBase::kMaximumTypedPayload + 1);
    return false;
  }
  const std::uint32_t frameSize = 1 + kHeadSize + size;
  const std::size_t start = frames.size();
  frames.resize(start + 3 + kHeadSize);
  std::uint8_t* at = frames.data() + start;
  at[0] = static_cast<std::uint8_t>(frameSize >> 8);
  at[1] = static_cast<std::uint8_t>(frameSize);
  at[2] = channel;
  Network::TFixedBufferWriter writer(at + 3, kHeadSize);
  writeHead(writer, head);
  return true;
}

}  // namespace

bool AppendFrameHead(std::vector<std::uint8_t>& frames, std::uint8_t channel, const Network::OrvNetId& head,
                     std::uint32_t size) {
  return AppendHead<std::uint64_t>(frames, channel, head.GetValue(), &Network::WriteUInt64, size);
}

bool AppendFrameHead(std::vector<std::uint8_t>& frames, std::uint8_t channel, std::uint32_t head, std::uint32_t size) {
  return AppendHead<std::uint32_t>(frames, channel, head, &Network::WriteUInt32, size);
}

bool AppendFrameWithData(std::vector<std::uint8_t>& frames, std::uint8_t channel, const Network::OrvNetId& head,
                         const void* data, std::uint32_t size) {
  if (!AppendFrameHead(frames, channel, head, size)) return false;
  if (size != 0) {
    const std::size_t start = frames.size();
    frames.resize(start + size);
    std::memcpy(frames.data() + start, data, size);
  }
  return true;
}

bool SendFrames(Network::TPacketHelperBase* framer, Network::TBufferEventSocket* socket, std::uint8_t channel,
                const iovec* pieces, int count, bool now) {
  if (!CheckSocket(socket, channel, "Trying to send a packet with data to null socket in channel ",
                   "Trying to send a packet with data to a closed socket in channel ")) {
    return false;
  }
  std::uint32_t size = 0;
  for (int i = 0; i < count; ++i) size += static_cast<std::uint32_t>(pieces[i].iov_len);
  bool written = true;
  if (now) {
    written = socket->WriteNow(pieces, count);
  } else {
    for (int i = 0; i < count && written; ++i) {
      if (pieces[i].iov_len != 0) {
        written = socket->Write(pieces[i].iov_base, static_cast<std::uint32_t>(pieces[i].iov_len));
      }
    }
  }
  if (written) framer->NoteFramesSent(socket, size);
  return written;
}

bool SendBodyFrame(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                   TBodyWriter write, const void* body, const char* packFailurePrefix) {
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
  // A body cut short would reach the other side as a different message, so nothing goes out unless
  // it all fits.
  Network::TFixedBufferWriter writer(buffer, limit);
  if (writer.Write(&channel, 1) != Network::kBufferOk || write(writer, body) != Network::kBufferOk) {
    if (packFailurePrefix != nullptr) {
      Network::NetworkLog(Network::kNetworkLogWarning,
                          FormatValues("%1%2", packFailurePrefix, static_cast<unsigned>(channel)));
    } else {
      LogUnfit(channel, limit);
    }
    return false;
  }
  return framer->SendPacketWithSize(socket, buffer, static_cast<std::uint16_t>(writer.GetPosition()));
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const Network::TMmsSlaveStatusMessage& body) {
  return SendPackedBody<Network::TMmsSlaveStatusMessage, &Network::WriteMmsSlaveStatusMessage>(framer, socket,
                                                                                              channel, body);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TNumberPairList& body) {
  return SendPackedBody<TNumberPairList, &WriteNumberPairs>(framer, socket, channel, body);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TClientEvent& body) {
  return SendPackedBody<TClientEvent, &WriteClientEvent>(framer, socket, channel, body);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TServerPropertyPacket& body) {
  return SendPackedBody<TServerPropertyPacket, &WriteServerProperty>(framer, socket, channel, body);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TPlayerVariablePacket& body) {
  return SendPackedBody<TPlayerVariablePacket, &WritePlayerVariable>(framer, socket, channel, body);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TAdmissionAnswer& body) {
  return SendPackedBody<TAdmissionAnswer, &WriteAdmissionAnswer>(framer, socket, channel, body);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TSystemMessage& body) {
  return SendPackedBody<TSystemMessage, &WriteSystemMessage>(framer, socket, channel, body);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TPingTableEntry& body) {
  return SendPackedBody<TPingTableEntry, &WritePingTableEntry>(framer, socket, channel, body);
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TThreeValuesPacket& body) {
  return SendPackedBody<TThreeValuesPacket, &WriteThreeValues>(framer, socket, channel, body);
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
