// The UDP socket.
#include "network/udp_socket.h"

#include <unistd.h>

namespace Orvan::Network {

TUdpSocket::TUdpSocket(int descriptor, TSocketInterfaceManager* manager) : descriptor_(descriptor), manager_(manager) {
  if (manager_ != nullptr) manager_->AddSocket(this);
}

TUdpSocket::~TUdpSocket() { CloseDescriptor(); }

void TUdpSocket::Close() { CloseDescriptor(); }

void TUdpSocket::CloseDescriptor() {
  if (descriptor_ == -1) return;
  if (manager_ != nullptr) manager_->RemoveSocket(this);
  ::close(descriptor_);
  descriptor_ = -1;
}

int TUdpSocket::ReceiveFrom(void* buffer, int length, sockaddr* from, socklen_t* fromLength) {
  if (length < 0) return -1;
  return static_cast<int>(::recvfrom(descriptor_, buffer, static_cast<std::size_t>(length), 0, from, fromLength));
}

int TUdpSocket::SendTo(const void* buffer, int length, const sockaddr* to, socklen_t toLength) {
  if (length < 0) return -1;
  return static_cast<int>(::sendto(descriptor_, buffer, static_cast<std::size_t>(length), 0, to, toLength));
}

}  // namespace Orvan::Network
