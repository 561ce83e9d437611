// The native TCP socket.
#include "network/sockets/native_socket.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "core/text/positional_format.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Network {

namespace {

void LogOversizedRequest(const char* operation, std::uint32_t size) {
  NetworkLog(kNetworkLogError, FormatValues("TPacketHelperBase::%1() -> %2 bytes asked, more than the %3-byte "
                                            "receive buffer",
                                            operation, size, TNativeSocket::kReceiveBufferSize));
}

}  // namespace

TNativeSocket::TNativeSocket(int descriptor, TSocketInterfaceManager* manager)
    : descriptor_(descriptor, manager, this) {}

TNativeSocket::~TNativeSocket() { descriptor_.Close(this); }

void TNativeSocket::Close() { descriptor_.Close(this); }

TNativeSocket::EFill TNativeSocket::Fill(std::uint32_t target, int& error) {
  while (buffered_ < target) {
    if (peerClosed_) return EFill::kClosed;
    const ssize_t received = ::recv(descriptor_.Get(), buffer_ + buffered_, target - buffered_, 0);
    if (received == -1) {
      if (errno == EINTR) continue;
      error = errno;
      return error == EAGAIN || error == EWOULDBLOCK ? EFill::kWouldBlock : EFill::kError;
    }
    if (received == 0) {
      peerClosed_ = true;
      return EFill::kClosed;
    }
    buffered_ += static_cast<std::uint32_t>(received);
  }
  return EFill::kDone;
}

void TNativeSocket::FailReception(EFill why, int error) {
  if (why == EFill::kError) {
    NetworkLog(kNetworkLogInformation,
               "TPacketHelperBase::CheckIfProblemDuringReceiving() -> error while recv data (" + GetErrorString(error) +
                   ")");
  } else {
    NetworkLog(kNetworkLogInformation, "TPacketHelperBase::CheckIfProblemDuringReceiving() -> connection closed");
  }
  buffered_ = 0;
}

std::uint32_t TNativeSocket::CheckIfProblemDuringReceiving(std::uint32_t size) {
  if (size > kReceiveBufferSize) {
    LogOversizedRequest("CheckIfProblemDuringReceiving", size);
    return kReceiveFailure;
  }
  int error = 0;
  const EFill fill = Fill(size, error);
  switch (fill) {
    case EFill::kDone:
      return kReceiveReady;
    case EFill::kWouldBlock:
      return kReceiveNotYet;
    case EFill::kError:
    case EFill::kClosed:
      // Bytes left by a closed peer can no longer grow into what is asked for.
      FailReception(fill, error);
      return kReceiveFailure;
  }
  return kReceiveFailure;
}

std::uint32_t TNativeSocket::Read(void* data, std::uint32_t size) {
  if (size > kReceiveBufferSize) {
    LogOversizedRequest("Read", size);
    return 0;
  }
  if (buffered_ < size) {
    int error = 0;
    const EFill fill = Fill(size, error);
    if (fill == EFill::kError || (fill == EFill::kClosed && buffered_ == 0)) {
      FailReception(fill, error);
      return 0;
    }
  }
  const std::uint32_t delivered = buffered_ < size ? buffered_ : size;
  if (delivered != 0) std::memcpy(data, buffer_, delivered);
  buffered_ -= delivered;
  if (buffered_ != 0) std::memmove(buffer_, buffer_ + delivered, buffered_);
  return delivered;
}

bool TNativeSocket::Write(const void* data, std::uint32_t size) {
  for (;;) {
    // MSG_NOSIGNAL: a peer gone away is an error result here, never SIGPIPE.
    const ssize_t sent = ::send(descriptor_.Get(), data, size, MSG_NOSIGNAL);
    if (sent == static_cast<ssize_t>(size)) return true;
    if (sent == -1 && errno == EINTR) continue;
    if (sent == -1) {
      NetworkLog(kNetworkLogInformation,
                 "TPacketHelperBase::SendPacket() -> Erreur lors d'un send (" + GetErrorString(errno) + ")");
    } else {
      NetworkLog(kNetworkLogInformation,
                 FormatValues("TPacketHelperBase::SendPacket() -> send took %1 of %2 bytes: the rest cannot follow",
                              static_cast<std::uint64_t>(sent), size));
    }
    return false;
  }
}

}  // namespace Orvan::Network
