// A record the game session queues while a game is recorded (a state change or a state timer,
// with the packet it sent), and the list that holds them on the calling thread's heap.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"
#include "network/packets/packet_buffer.h"

namespace Orvan::Network {

struct TQueuedClientRecord {
  std::uint32_t kind = 0;
  TPacketBufferPtr packet;
  TOrvString<char> text;
  std::uint32_t values[5] = {};
};

using TQueuedClientRecordVector = TVector<TQueuedClientRecord, TThreadHeapStorage>;

}  // namespace Orvan::Network
