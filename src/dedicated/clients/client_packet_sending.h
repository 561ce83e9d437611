// The one family through which the session sends every packet to a client (and the server-available
// message to the match-making server): one member per body, each framing the channel byte and the
// packed body through the given framer. A member answers false, having sent nothing and logged why,
// for a null or closed socket or a body that does not fit the framer's buffer.
#pragma once

#include <sys/uio.h>

#include <cstdint>
#include <vector>

#include "dedicated/clients/client_packet_bodies.h"
#include "network/packets/buffer_io.h"
#include "network/packets/mms_messages.h"
#include "network/packets/network_id.h"

namespace Orvan::Network {
class IStreamInterface;
class TBufferEventSocket;
class TPacketHelperBase;
}  // namespace Orvan::Network

namespace Orvan::Dedicated {

// Packs the body behind the pointer; the packer's result.
using TBodyWriter = std::uint32_t (*)(Network::IBufferWriter& writer, const void* body);

// The core every member shares: the socket checks, then the channel byte and the packed body in one
// frame of at most the framer's size. A body that does not fit is not sent and is logged: with
// `packFailurePrefix` followed by the channel when given, else with the "does not fit" line.
bool SendBodyFrame(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                   TBodyWriter write, const void* body, const char* packFailurePrefix = nullptr);

bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const Network::TMmsSlaveStatusMessage& body);
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TNumberPairList& body);
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TClientEvent& body);
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TServerPropertyPacket& body);
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TPlayerVariablePacket& body);
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TAdmissionAnswer& body);
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TSystemMessage& body);
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TPingTableEntry& body);
bool SendPacket(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                const TThreeValuesPacket& body);

// A head packed "Q" (the relayed game message) or "I" (the replay stream), then the bytes as they
// are. These frames are built in a packet of their own, not in the framer's buffer.
bool SendPacketWithData(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                        const Network::OrvNetId& head, const void* data, std::uint32_t size);
bool SendPacketWithData(Network::TPacketHelperBase* framer, Network::IStreamInterface* socket, std::uint8_t channel,
                        std::uint32_t head, const void* data, std::uint32_t size);

// ---- Frames laid out once and written to many sockets: every player is sent the same relayed
// frames. Laid out, a frame holds exactly the bytes SendPacketWithData sends.

// Appends the start of one frame of the head and `size` more bytes: the u16 length, the channel,
// the head; the caller's bytes complete it. False, logged, with nothing appended, when such a frame
// cannot be made.
bool AppendFrameHead(std::vector<std::uint8_t>& frames, std::uint8_t channel, const Network::OrvNetId& head,
                     std::uint32_t size);
bool AppendFrameHead(std::vector<std::uint8_t>& frames, std::uint8_t channel, std::uint32_t head, std::uint32_t size);
// The whole frame: its start, then the bytes.
bool AppendFrameWithData(std::vector<std::uint8_t>& frames, std::uint8_t channel, const Network::OrvNetId& head,
                         const void* data, std::uint32_t size);

// Laid-out frames, the pieces in order, written to the socket whole: with `now` at once when
// nothing is queued before them, in one socket write (TBufferEventSocket::WriteNow), else queued
// for the loop. The socket checks and lines of the "with data" members come first (`channel` is
// the one they print); false when the bytes could not be queued.
bool SendFrames(Network::TPacketHelperBase* framer, Network::TBufferEventSocket* socket, std::uint8_t channel,
                const iovec* pieces, int count, bool now);

}  // namespace Orvan::Dedicated
