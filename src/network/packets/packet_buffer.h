// The network packet: one block from the network hooks holding a 4-byte header (payload length,
// reference count, channel) and the payload, shared by counted handles so that one packet can sit
// in many clients' send queues. Packets live on the main thread only: the count is a plain byte.
#pragma once

#include <cstdint>

namespace Orvan::Network {

// Header in the machine's own byte order, then the payload. Blocks are 16-byte aligned, so the
// header fields are aligned and payload fields are not (read and write them with memcpy).
struct TPacketBuffer {
  // A packet holds at most this many payload bytes: the length is 16 bits.
  static constexpr std::uint32_t kMaximumPayload = 65535;
  // A packet is held by at most this many handles at a time: the count is 8 bits.
  static constexpr std::uint32_t kMaximumReferences = 255;
  static constexpr std::uint32_t kHeaderSize = 4;

  std::uint16_t length;
  std::uint8_t refCount;
  std::uint8_t channel;  // the message type; 0 until a writer sets one

  std::uint8_t* GetPayload() { return reinterpret_cast<std::uint8_t*>(this) + kHeaderSize; }
  const std::uint8_t* GetPayload() const { return reinterpret_cast<const std::uint8_t*>(this) + kHeaderSize; }
  // The channel byte followed by the payload: the body of a typed frame.
  const std::uint8_t* GetChannelAndPayload() const { return &channel; }
};
static_assert(sizeof(TPacketBuffer) == TPacketBuffer::kHeaderSize, "the header is 4 bytes before the payload");

// A handle of one pointer to a packet, or null. Every handle holds one reference; the last one
// to go frees the block through the free hook. A reference beyond the 255th ends the process.
class TPacketBufferPtr {
 public:
  TPacketBufferPtr() noexcept = default;
  // Adds one reference to the block (null allowed).
  explicit TPacketBufferPtr(TPacketBuffer* packet) : packet_(packet) { AddReference(packet_); }
  TPacketBufferPtr(const TPacketBufferPtr& other) : packet_(other.packet_) { AddReference(packet_); }
  TPacketBufferPtr(TPacketBufferPtr&& other) noexcept : packet_(other.packet_) { other.packet_ = nullptr; }
  ~TPacketBufferPtr() { Release(packet_); }

  // The new block gains its reference before the old one loses its own: self-assignment is safe.
  TPacketBufferPtr& operator=(const TPacketBufferPtr& other) {
    AddReference(other.packet_);
    Release(packet_);
    packet_ = other.packet_;
    return *this;
  }
  TPacketBufferPtr& operator=(TPacketBufferPtr&& other) noexcept {
    if (this != &other) {
      Release(packet_);
      packet_ = other.packet_;
      other.packet_ = nullptr;
    }
    return *this;
  }

  void Reset() noexcept {
    Release(packet_);
    packet_ = nullptr;
  }

  TPacketBuffer* Get() const noexcept { return packet_; }
  TPacketBuffer* operator->() const noexcept { return packet_; }
  bool IsNull() const noexcept { return packet_ == nullptr; }
  explicit operator bool() const noexcept { return packet_ != nullptr; }

 private:
  static void AddReference(TPacketBuffer* packet) {
    if (packet == nullptr) return;
    if (packet->refCount == TPacketBuffer::kMaximumReferences) RefuseReference();
    ++packet->refCount;
  }
  static void Release(TPacketBuffer* packet) noexcept {
    if (packet == nullptr) return;
    if (--packet->refCount == 0) FreePacket(packet);
  }
  [[noreturn]] static void RefuseReference();
  static void FreePacket(TPacketBuffer* packet) noexcept;

  TPacketBuffer* packet_ = nullptr;
};

// A new packet of `length` payload bytes with channel 0, held by `out` alone. The payload is a
// copy of `data`, or zeroes when data is null.
void CreatePacketBuffer(TPacketBufferPtr& out, const void* data, std::uint16_t length);

}  // namespace Orvan::Network
