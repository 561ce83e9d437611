// A plain non-blocking TCP socket with a receive buffer of its own, so a frame's length and body
// can be asked for before they are taken: listening sockets and the engine's stream links.
#pragma once

#include <cstdint>

#include "network/sockets/registered_descriptor.h"
#include "network/sockets/socket_interface.h"
#include "network/sockets/socket_interface_manager.h"

namespace Orvan::Network {

class TNativeSocket final : public IStreamInterface {
 public:
  // Receive buffer size: the largest check or read; the framing never asks for more.
  static constexpr std::uint32_t kReceiveBufferSize = 4096;

  // Takes the descriptor and registers with the manager.
  TNativeSocket(int descriptor, TSocketInterfaceManager* manager);
  ~TNativeSocket() override;
  TNativeSocket(const TNativeSocket&) = delete;
  TNativeSocket& operator=(const TNativeSocket&) = delete;

  // Leaves the manager and closes the descriptor; nothing when already closed.
  void Close() override;
  bool IsClosed() const override { return descriptor_.IsClosed(); }
  int GetDescriptor() const override { return descriptor_.Get(); }

  // Receives toward `size` bytes, then: 0 when they are buffered, 1 when not yet, 3 after a receive
  // error or the peer's close (logged; the buffer is emptied), and 3 for more than the buffer.
  // Bytes buffered when the peer closed still answer 0 as long as they satisfy the request.
  std::uint32_t CheckIfProblemDuringReceiving(std::uint32_t size) override;
  // `size` buffered bytes, or, after one more receive, whatever is buffered; 0 on a receive error
  // or closed connection (logged, the buffer emptied) and for more than the buffer.
  std::uint32_t Read(void* data, std::uint32_t size) override;
  // One send of all the bytes. False, logged, when the system takes fewer of them or none: the
  // caller closes, since the stream would otherwise lose bytes in the middle.
  bool Write(const void* data, std::uint32_t size) override;

  std::uint32_t GetBufferedSize() const { return buffered_; }
  const std::uint8_t* GetBuffer() const { return buffer_; }

 private:
  enum class EFill { kDone, kWouldBlock, kError, kClosed };
  // Receives until `target` bytes are buffered, the socket has no more for now, or it fails.
  EFill Fill(std::uint32_t target, int& error);
  // Logs why reception ended and empties the buffer.
  void FailReception(EFill why, int error);

  std::uint8_t buffer_[kReceiveBufferSize];
  std::uint32_t buffered_ = 0;
  TRegisteredDescriptor descriptor_;
  bool peerClosed_ = false;
};

}  // namespace Orvan::Network
