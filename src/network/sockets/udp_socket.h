// A UDP socket: the property queries arrive and are answered through it.
#pragma once

#include <sys/socket.h>

#include "network/sockets/registered_descriptor.h"
#include "network/sockets/socket_interface.h"
#include "network/sockets/socket_interface_manager.h"

namespace Orvan::Network {

class TUdpSocket final : public ISocketInterface {
 public:
  // Takes the descriptor and registers with the manager.
  TUdpSocket(int descriptor, TSocketInterfaceManager* manager);
  ~TUdpSocket() override;
  TUdpSocket(const TUdpSocket&) = delete;
  TUdpSocket& operator=(const TUdpSocket&) = delete;

  void Close() override;
  bool IsClosed() const override { return descriptor_.IsClosed(); }
  int GetDescriptor() const override { return descriptor_.Get(); }

  // recvfrom and sendto, results as the system gives them.
  int ReceiveFrom(void* buffer, int length, sockaddr* from, socklen_t* fromLength);
  int SendTo(const void* buffer, int length, const sockaddr* to, socklen_t toLength);

 private:
  TRegisteredDescriptor descriptor_;
};

}  // namespace Orvan::Network
