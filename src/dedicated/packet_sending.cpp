// The shared frame sending.
#include "dedicated/packet_sending.h"

#include <string>

#include "network/network_hooks.h"
#include "network/packet_helper.h"
#include "network/socket_interface.h"

namespace Orvan::Dedicated {

namespace {

// Every frame is built in one buffer of this size; the framers accept no larger frame.
constexpr std::uint32_t kFrameBufferSize = 4096;

TOrvString<char> ChannelText(std::uint8_t channel) { return TOrvString<char>(std::to_string(channel)); }

}  // namespace

bool SendBodyFrame(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                   TBodyWriter write, const void* body, const char* packFailurePrefix) {
  if (socket == nullptr) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Trying to send a packet to null socket in channel " + ChannelText(channel));
    return false;
  }
  if (socket->IsClosed()) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Trying to send a packet to a closed socket in channel " + ChannelText(channel));
    return false;
  }
  std::uint8_t buffer[kFrameBufferSize];
  const std::uint32_t capacity = framer->GetMaximumSize() < kFrameBufferSize ? framer->GetMaximumSize()
                                                                             : kFrameBufferSize;
  Network::TFixedBufferWriter writer(buffer, capacity);
  if (writer.Write(&channel, 1) != Network::kBufferOk || write(writer, body) != Network::kBufferOk) {
    if (packFailurePrefix != nullptr) {
      Network::NetworkLog(Network::kNetworkLogWarning, packFailurePrefix + ChannelText(channel));
    }
    return false;
  }
  return framer->SendPacketWithSize(socket, buffer, static_cast<std::uint16_t>(writer.GetPosition()));
}

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const Network::TMmsSlaveStatusMessage& body) {
  return SendBodyFrame(
      framer, socket, channel,
      [](Network::IBufferWriter& writer, const void* message) {
        return Network::WriteMmsSlaveStatusMessage(writer, *static_cast<const Network::TMmsSlaveStatusMessage*>(message));
      },
      &body);
}

}  // namespace Orvan::Dedicated
