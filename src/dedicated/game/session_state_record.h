// What the phase machine did during one tick of a recorded game (a change of phase, a countdown
// step), kept by the session until the tick writes it into the replay.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"
#include "network/packets/packet_buffer.h"

namespace Orvan::Dedicated {

// Record kinds.
inline constexpr std::uint32_t kStateRecordStateChange = 5;
inline constexpr std::uint32_t kStateRecordStateTimer = 6;
// The value of a record field that does not apply.
inline constexpr std::uint32_t kStateRecordUnused = 0xFFFFFFFF;
inline constexpr std::uint32_t kStateRecordValueCount = 5;

// The packet and the text are counted handles: a record is copied by its members, never as bytes.
// A change: values unused, previous phase id, new phase id, unused, tick. A countdown step: unused,
// phase id, unused, seconds left, tick.
struct TStateRecord {
  std::uint32_t kind = 0;
  Network::TPacketBufferPtr packet;  // not written to the replay
  TOrvString<char> text;
  std::uint32_t values[kStateRecordValueCount] = {};
};
static_assert(sizeof(void*) != 8 || sizeof(TStateRecord) == 48, "a record holds two handles and six u32 values");

}  // namespace Orvan::Dedicated
