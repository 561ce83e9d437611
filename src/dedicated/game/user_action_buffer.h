// One player's orders between two ticks: the data of each 'd' game message back to back, capped so
// that the tick's actions packet fits one frame; and the game messages ('g') it has had relayed in
// the tick, held to the same cap. A player who floods is disconnected, not throttled.
#pragma once

#include <cstdint>

#include "core/streams/memory_stream.h"
#include "network/packets/packet_buffer.h"

namespace Orvan::Dedicated {

class TDedicatedUser;

// The most one player's actions may take per tick: with the packet's 14-byte head, the relay's
// 8-byte sender id and the channel byte, 4063 + 23 stays within the framer's 4096-byte frame.
inline constexpr std::uint32_t kUserActionBufferLimit = 4063;

// What a relayed game message adds to its data on the wire to each player: the frame's length, the
// channel, the sender's id and the message's type letter.
inline constexpr std::uint32_t kRelayedMessageOverhead = 2 + 1 + 8 + 1;

class TUserActionBuffer {
 public:
  explicit TUserActionBuffer(TDedicatedUser* owner) : owner_(owner) {}

  // One message's data. False, logged, for an empty message or one that would pass the cap; the
  // caller then disconnects the player.
  bool Append(const void* data, std::uint32_t size);
  // One game message of `size` data bytes about to be relayed, counted as the frame each player is
  // sent of it (kRelayedMessageOverhead more), so that many small messages cannot multiply what is
  // relayed: a tick's messages are held to kUserActionBufferLimit bytes of frames, as the orders to
  // that many bytes of data. False, logged, for one that would pass it; the caller then disconnects
  // the player.
  bool ChargeGameMessage(std::uint32_t size);
  // The tick's actions packet (channel 100) for this player; the buffer is emptied and the tick's
  // game messages forgotten.
  Network::TPacketBufferPtr MakeUserActionsPacket(std::uint32_t tick, std::uint32_t playerNumber);
  void Reset();

  std::uint32_t GetActionCount() const { return actionCount_; }
  std::uint32_t GetSize() const;
  std::uint32_t GetGameMessageBytes() const { return gameMessageBytes_; }

 private:
  TMemoryStream bytes_;
  std::uint32_t actionCount_ = 0;
  std::uint32_t gameMessageBytes_ = 0;
  TDedicatedUser* owner_;
};

}  // namespace Orvan::Dedicated
