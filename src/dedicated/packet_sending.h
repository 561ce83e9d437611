// The frames the server sends on client connections and on the match-making link: the channel byte
// and a body packed by its layout, framed by a packet helper. Every member of the family shares the
// checks and the framing of SendBodyFrame; the framer is an argument, so a send stamps the helper
// of the connection it goes to.
#pragma once

#include <cstdint>

#include "network/buffer_io.h"
#include "network/mms_messages.h"

namespace Orvan::Network {
class IStreamInterface;
class TPacketHelperBase;
}  // namespace Orvan::Network

namespace Orvan::Dedicated {

// Packs the body behind the pointer; the packer's result.
using TBodyWriter = std::uint32_t (*)(Network::IBufferWriter& writer, const void* body);

// A null or closed socket is logged with the channel and refused. A body that does not fit the
// framer's buffer is not sent: cut short it would reach the other side as a different message
// (`packFailurePrefix`, when given, is logged with the channel). Otherwise the framer's result.
bool SendBodyFrame(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                   TBodyWriter write, const void* body, const char* packFailurePrefix = nullptr);

// The server-available flag ("a"), on the match-making link's channel 229.
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const Network::TMmsSlaveStatusMessage& body);

}  // namespace Orvan::Dedicated
