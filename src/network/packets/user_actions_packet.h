// The packet form of one player's buffered actions (channel 100): the actions the player sent
// since the last tick, as relayed to every player and recorded into the replay. Every integer is
// little-endian, unlike the big-endian format letters:
//   u32 first caller value (the tick), u32 second (the player's number), u32 action count,
//   u16 byte count n, then the n action bytes.
#pragma once

#include <cstdint>

#include "core/streams/memory_stream.h"
#include "network/packets/packet_buffer.h"

namespace Orvan::Network {

// The letter 'd'.
inline constexpr std::uint8_t kUserActionsChannel = 100;
inline constexpr std::uint32_t kUserActionsHeadSize = 14;
// Room reserved in the packet builder before it grows.
inline constexpr std::uint32_t kUserActionsInitialPayload = 60;

// Builds the packet from a player's action bytes and their count, then empties both (count 0,
// stream size and position 0). The byte count is 16 bits: the action buffer keeps far fewer bytes
// than that. A stream too long for one packet gives null (the builder logs it), emptied all the
// same.
TPacketBufferPtr MakeUserActionsPacket(TMemoryStream& actions, std::uint32_t& actionCount, std::uint32_t first,
                                       std::uint32_t second);

// Reads such a packet back: the action bytes are appended at the end of the stream (whose
// position then stands after them), the action count is added to `actionCount` and the caller
// values go to `first` and `second` (either may be null). False, with nothing changed, when the
// packet is shorter than its head or than the byte count it announces; bytes after the actions
// are ignored.
bool ReadUserActionsPacket(TMemoryStream& actions, std::uint32_t& actionCount, const TPacketBufferPtr& packet,
                           std::uint32_t* first, std::uint32_t* second);

}  // namespace Orvan::Network
