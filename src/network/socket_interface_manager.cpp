// The base socket manager: registration that watches nothing.
#include "network/socket_interface_manager.h"

namespace Orvan::Network {

void TSocketInterfaceManager::AddSocket(ISocketInterface*) {}
void TSocketInterfaceManager::RemoveSocket(ISocketInterface*) {}

}  // namespace Orvan::Network
