// Socket descriptors and their registration.
#include "network/sockets/registered_descriptor.h"

#include <unistd.h>

namespace Orvan::Network {

TRegisteredDescriptor::TRegisteredDescriptor(int descriptor, TSocketInterfaceManager* manager, ISocketInterface* owner)
    : descriptor_(descriptor), manager_(manager) {
  if (manager_ != nullptr) manager_->AddSocket(owner);
}

void TRegisteredDescriptor::Close(ISocketInterface* owner) {
  if (descriptor_ == -1) return;
  if (manager_ != nullptr) manager_->RemoveSocket(owner);
  ::close(descriptor_);
  descriptor_ = -1;
}

}  // namespace Orvan::Network
