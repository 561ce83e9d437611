// Packet builders: bytes appended one write at a time, then handed over as a packet with its
// channel. TNetworkPacketWriter grows one block from the network hooks and gives that very block
// away, so building a packet copies each byte once.
#pragma once

#include <cstdint>

#include "core/streams/stream.h"
#include "network/packets/buffer_io.h"
#include "network/packets/packet_buffer.h"

namespace Orvan::Network {

class INetworkPacketWriter {
 public:
  virtual ~INetworkPacketWriter() = default;
  virtual void Write(const void* data, std::uint32_t size) = 0;
  // The packet built so far with its channel; null when the bytes do not fit a packet.
  virtual TPacketBufferPtr Finish(std::uint8_t channel) = 0;
};

class TNetworkPacketWriter final : public INetworkPacketWriter {
 public:
  // Room for the header and `initialPayload` bytes, rounded up to a multiple of 16.
  explicit TNetworkPacketWriter(std::uint32_t initialPayload = 0);
  ~TNetworkPacketWriter() override;
  TNetworkPacketWriter(const TNetworkPacketWriter&) = delete;
  TNetworkPacketWriter& operator=(const TNetworkPacketWriter&) = delete;

  // Appends, doubling the block (or more, when the bytes need it) when they do not fit.
  void Write(const void* data, std::uint32_t size) override;
  // Hands the block over as a packet with count 1 and leaves the writer empty. A payload above
  // 65535 bytes is refused: logged, the block freed, null answered. Writing after Finish starts a
  // new packet.
  TPacketBufferPtr Finish(std::uint8_t channel) override;

  std::uint32_t GetPayloadSize() const;
  // The block's size, header included (0 after Finish).
  std::uint32_t GetCapacity() const;

 private:
  void Grow(std::uint32_t size);
  void FreeBlock();

  std::uint8_t* start_ = nullptr;
  std::uint8_t* position_ = nullptr;
  std::uint8_t* end_ = nullptr;
};

// Collects the bytes in a stream (not owned), then copies them into a new packet and empties the
// stream for the next one.
class TNetworkPacketWriterIntoStream final : public INetworkPacketWriter {
 public:
  explicit TNetworkPacketWriterIntoStream(TStream* stream) : stream_(stream) {}

  void Write(const void* data, std::uint32_t size) override;
  // A stream of more than 65535 bytes, or one that does not give all its bytes back, is refused:
  // logged, null answered. The stream is emptied either way.
  TPacketBufferPtr Finish(std::uint8_t channel) override;

 private:
  TStream* stream_;
};

// The format-letter packer's sink over a packet builder: every write succeeds.
class TNetworkPacketBufferWriter final : public IBufferWriter {
 public:
  explicit TNetworkPacketBufferWriter(INetworkPacketWriter& writer) : writer_(writer) {}
  std::uint32_t Write(const void* data, std::uint32_t size) override {
    writer_.Write(data, size);
    return kBufferOk;
  }

 private:
  INetworkPacketWriter& writer_;
};

}  // namespace Orvan::Network
