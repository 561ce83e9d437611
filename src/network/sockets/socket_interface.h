// What owns a descriptor and is watched by a socket manager (ISocketInterface), and what adds
// byte-stream operations to it (IStreamInterface): the native, UDP and buffered-event sockets.
#pragma once

#include <cstdint>

namespace Orvan::Network {

class ISocketInterface {
 public:
  virtual ~ISocketInterface() = default;
  virtual void Close() = 0;
  virtual bool IsClosed() const = 0;
  virtual int GetDescriptor() const = 0;
};

// Answers of CheckIfProblemDuringReceiving.
inline constexpr std::uint32_t kReceiveReady = 0;     // the bytes can be read now
inline constexpr std::uint32_t kReceiveNotYet = 1;    // not all of them have arrived
inline constexpr std::uint32_t kReceiveFailure = 3;   // error or closed connection: drop it

class IStreamInterface : public ISocketInterface {
 public:
  virtual std::uint32_t CheckIfProblemDuringReceiving(std::uint32_t size) = 0;
  // The bytes delivered (fewer than asked when fewer are there; 0 on failure).
  virtual std::uint32_t Read(void* data, std::uint32_t size) = 0;
  // False when not every byte could be handed to the system: the caller closes the connection.
  virtual bool Write(const void* data, std::uint32_t size) = 0;
};

}  // namespace Orvan::Network
