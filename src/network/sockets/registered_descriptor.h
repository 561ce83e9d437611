// The descriptor a socket owns together with the manager it is registered with: the socket joins
// the manager when it takes the descriptor and leaves it once, when the descriptor is closed.
#pragma once

#include "network/sockets/socket_interface.h"
#include "network/sockets/socket_interface_manager.h"

namespace Orvan::Network {

class TRegisteredDescriptor {
 public:
  // Registers `owner` with the manager (null: no manager).
  TRegisteredDescriptor(int descriptor, TSocketInterfaceManager* manager, ISocketInterface* owner);
  TRegisteredDescriptor(const TRegisteredDescriptor&) = delete;
  TRegisteredDescriptor& operator=(const TRegisteredDescriptor&) = delete;

  // Unregisters `owner` and closes the descriptor; nothing when already closed. Owners call it from
  // their own Close and destructor, while they are still whole.
  void Close(ISocketInterface* owner);
  int Get() const { return descriptor_; }
  bool IsClosed() const { return descriptor_ == -1; }

 private:
  int descriptor_;
  TSocketInterfaceManager* manager_;
};

}  // namespace Orvan::Network
