// Framing of a byte stream: every message is a big-endian u16 length and that many bytes. The
// helper writes frames to a stream and reassembles them on the receiving side into a buffer of its
// own, whose size is also the largest frame it accepts. One helper serves many connections in
// turn: the length awaited on a connection is kept by the caller.
#pragma once

#include <cstdint>

#include "core/time/time_stamp.h"
#include "network/packets/packet_buffer.h"
#include "network/sockets/socket_interface.h"

namespace Orvan::Network {

// Told of every frame's bytes, length prefix included.
class IPacketTrafficObserver {
 public:
  virtual void OnReceived(IStreamInterface* stream, std::uint32_t bytes) = 0;
  virtual void OnSent(IStreamInterface* stream, std::uint32_t bytes) = 0;

 protected:
  ~IPacketTrafficObserver() = default;
};

class TPacketHelperBase {
 public:
  // The largest frame body a typed packet can make: the channel byte and 65534 payload bytes.
  static constexpr std::uint32_t kMaximumTypedPayload = 65534;

  explicit TPacketHelperBase(std::uint32_t maximumSize);
  virtual ~TPacketHelperBase();
  TPacketHelperBase(const TPacketHelperBase&) = delete;
  TPacketHelperBase& operator=(const TPacketHelperBase&) = delete;

  // One write of the bytes. On success: the observer is told, the send time is now.
  bool SendRaw(IStreamInterface* stream, const void* data, std::uint16_t size);
  // The 2-byte length, then the body.
  bool SendPacketWithSize(IStreamInterface* stream, const void* data, std::uint16_t size);
  // The same frame as SendPacketWithSize.
  bool SendPacketBody(IStreamInterface* stream, const void* data, std::uint16_t size);
  // A frame of the channel byte and the payload. A payload of 65535 bytes cannot be framed: false.
  bool SendTypedPacket(IStreamInterface* stream, std::uint8_t channel, const void* payload, std::uint16_t length);
  // The same frame made of a packet's own channel byte and payload, with no copy; a null packet (a
  // packet a writer refused) is a failed send.
  bool SendTypedPacket(IStreamInterface* stream, const TPacketBufferPtr& packet);

  // Frames written to the stream by other means (laid out once and written to many streams): the
  // observer is told of the bytes and the send time is now, as for frames sent here.
  void NoteFramesSent(IStreamInterface* stream, std::uint32_t bytes);

  // One step of reception; see the .cpp. False: drop the connection. True with receivedSize 0: no
  // complete frame yet. True with receivedSize > 0: the body is in GetReceiveBuffer() until the
  // next call. pendingSize is the caller's, per connection, starting at 0.
  bool ReceivePacket(IStreamInterface* stream, std::uint16_t& pendingSize, std::uint16_t& receivedSize);

  const std::uint8_t* GetReceiveBuffer() const { return buffer_; }
  std::uint32_t GetMaximumSize() const { return maximumSize_; }
  void SetTrafficObserver(IPacketTrafficObserver* observer) { observer_ = observer; }
  TTimeStamp GetLastSendTime() const { return lastSend_; }

 private:
  std::uint32_t maximumSize_;
  std::uint8_t* buffer_;
  IPacketTrafficObserver* observer_ = nullptr;
  TTimeStamp lastSend_ = 0;
};

}  // namespace Orvan::Network
