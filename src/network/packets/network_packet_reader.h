// Packet readers: bytes taken from the front of a packet's payload, never past its end, and the
// length-prefixed text of chat packets.
#pragma once

#include <cstdint>

#include "core/streams/stream.h"
#include "core/text/engine_string.h"
#include "network/packets/buffer_io.h"
#include "network/packets/packet_buffer.h"

namespace Orvan::Network {

class INetworkPacketReader {
 public:
  virtual ~INetworkPacketReader() = default;
  // False, with nothing consumed, when fewer than `size` bytes remain.
  virtual bool Read(void* data, std::uint32_t size) = 0;
};

// Reads a packet's payload from the front; holds one reference for its whole life.
class TNetworkPacketReader final : public INetworkPacketReader {
 public:
  explicit TNetworkPacketReader(const TPacketBufferPtr& packet);

  bool Read(void* data, std::uint32_t size) override;
  bool CanRead(std::uint32_t size) const { return GetRemainingSize() >= size; }
  std::uint32_t GetRemainingSize() const { return static_cast<std::uint32_t>(end_ - position_); }

 private:
  TPacketBufferPtr packet_;
  const std::uint8_t* position_ = nullptr;
  const std::uint8_t* end_ = nullptr;
};

// Reads a stream (not owned) from its position: false, with nothing consumed, when fewer bytes
// remain before its size, a position past the size included.
class TNetworkPacketReaderFromStream final : public INetworkPacketReader {
 public:
  explicit TNetworkPacketReaderFromStream(TStream* stream) : stream_(stream) {}
  bool Read(void* data, std::uint32_t size) override;

 private:
  TStream* stream_;
};

// The format-letter unpacker's source over a packet reader: 2 when the reader is short.
class TNetworkPacketBufferReader final : public IBufferReader {
 public:
  explicit TNetworkPacketBufferReader(INetworkPacketReader& reader) : reader_(reader) {}
  std::uint32_t Read(void* data, std::uint32_t size) override {
    return reader_.Read(data, size) ? kBufferOk : kBufferReaderShort;
  }

 private:
  INetworkPacketReader& reader_;
};

// Lengths from this one on are read through a block of the thread's stack-based allocator
// instead of the call stack.
inline constexpr std::uint32_t kLengthPrefixedStackLimit = 16402;

// A u16 length in little-endian order (unlike the big-endian format letters), then that many
// bytes, stored into `out` as one string of exactly that length. False when either read fails;
// `out` is then unchanged.
bool ReadLengthPrefixedString(INetworkPacketReader& reader, TOrvString<char>& out);

}  // namespace Orvan::Network
