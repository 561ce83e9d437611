// The socket manager every socket registers with when it opens and leaves when it closes. The
// base does nothing with either call; the event-loop manager derives from it to watch sockets.
#pragma once

#include "network/sockets/socket_interface.h"

namespace Orvan::Network {

class TSocketInterfaceManager {
 public:
  virtual void AddSocket(ISocketInterface* socket);
  virtual void RemoveSocket(ISocketInterface* socket);

 protected:
  TSocketInterfaceManager() = default;
  // Not virtual, so never destroyed through the base: only derived managers are.
  ~TSocketInterfaceManager() = default;
  TSocketInterfaceManager(const TSocketInterfaceManager&) = default;
  TSocketInterfaceManager& operator=(const TSocketInterfaceManager&) = default;
};

// The manager for sockets that nothing watches.
class TPlainSocketInterfaceManager final : public TSocketInterfaceManager {};

}  // namespace Orvan::Network
