// The shared rate-limit group of client connections.
#include "network/sockets/rate_limit_group.h"

#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"

namespace Orvan::Network {

TRateLimitGroup::~TRateLimitGroup() {
  if (group_ != nullptr) bufferevent_rate_limit_group_free(group_);
  if (configuration_ != nullptr) ev_token_bucket_cfg_free(configuration_);
}

int TRateLimitGroup::SetRateLimit(TSocketInterfaceManagerForLibEvent* manager, std::size_t rate, std::size_t burst,
                                  const timeval* tick) {
  // The group keeps a copy of the configuration, so the previous one can go first.
  if (configuration_ != nullptr) ev_token_bucket_cfg_free(configuration_);
  configuration_ = ev_token_bucket_cfg_new(rate, burst, rate, burst, tick);
  if (configuration_ == nullptr) return -1;
  if (group_ == nullptr) {
    if (manager->GetEventBase() == nullptr) return -1;
    group_ = bufferevent_rate_limit_group_new(manager->GetEventBase(), configuration_);
    return group_ != nullptr ? 0 : -1;
  }
  return bufferevent_rate_limit_group_set_cfg(group_, configuration_);
}

bool TRateLimitGroup::AddSocket(TBufferEventSocket* socket) {
  if (socket == nullptr || socket->IsClosed() || group_ == nullptr) return false;
  return bufferevent_add_to_rate_limit_group(socket->GetBufferEvent(), group_) == 0;
}

bool TRateLimitGroup::RemoveSocket(ISocketInterface* socket) {
  if (socket == nullptr || socket->IsClosed()) return true;
  auto* bufferSocket = dynamic_cast<TBufferEventSocket*>(socket);
  if (bufferSocket == nullptr) return true;
  return bufferevent_remove_from_rate_limit_group(bufferSocket->GetBufferEvent()) == 0;
}

}  // namespace Orvan::Network
