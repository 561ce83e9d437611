// The base socket manager: registration that watches nothing.
#include "network/sockets/socket_interface_manager.h"

namespace Orvan::Network {

void TSocketInterfaceManager::AddSocket(ISocketInterface*) {}
void TSocketInterfaceManager::RemoveSocket(ISocketInterface*) {}

}  // namespace Orvan::Network
