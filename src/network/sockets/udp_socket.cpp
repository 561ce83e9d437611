// The UDP socket.
#include "network/sockets/udp_socket.h"

#include <sys/socket.h>

namespace Orvan::Network {

TUdpSocket::TUdpSocket(int descriptor, TSocketInterfaceManager* manager) : descriptor_(descriptor, manager, this) {}

TUdpSocket::~TUdpSocket() { descriptor_.Close(this); }

void TUdpSocket::Close() { descriptor_.Close(this); }

int TUdpSocket::ReceiveFrom(void* buffer, int length, sockaddr* from, socklen_t* fromLength) {
  if (length < 0) return -1;
  return static_cast<int>(::recvfrom(descriptor_.Get(), buffer, static_cast<std::size_t>(length), 0, from, fromLength));
}

int TUdpSocket::SendTo(const void* buffer, int length, const sockaddr* to, socklen_t toLength) {
  if (length < 0) return -1;
  return static_cast<int>(::sendto(descriptor_.Get(), buffer, static_cast<std::size_t>(length), 0, to, toLength));
}

}  // namespace Orvan::Network
