// The one token-bucket rate limit that all client connections share: a libevent rate-limit group
// and its configuration, both owned here.
#pragma once

#include <event2/bufferevent.h>
#include <sys/time.h>

#include <cstddef>

namespace Orvan::Network {

class ISocketInterface;
class TBufferEventSocket;
class TSocketInterfaceManagerForLibEvent;

class TRateLimitGroup {
 public:
  TRateLimitGroup() = default;
  // Frees the group, then its configuration. Sockets leave the group when they close, so the group
  // can go before or after them.
  ~TRateLimitGroup();
  TRateLimitGroup(const TRateLimitGroup&) = delete;
  TRateLimitGroup& operator=(const TRateLimitGroup&) = delete;

  // Reading and writing both get `rate` bytes per tick with bursts of `burst` bytes. Makes the
  // group on the manager's event base the first time, reconfigures it afterwards. 0 on success,
  // -1 when libevent refuses.
  int SetRateLimit(TSocketInterfaceManagerForLibEvent* manager, std::size_t rate, std::size_t burst,
                   const timeval* tick);
  // False when the socket is closed, there is no group yet, or libevent refuses.
  bool AddSocket(TBufferEventSocket* socket);
  // True for a null or closed socket, or one that is not a buffered-event socket; otherwise
  // whether libevent took it out.
  bool RemoveSocket(ISocketInterface* socket);

  bufferevent_rate_limit_group* GetGroup() const { return group_; }

 private:
  bufferevent_rate_limit_group* group_ = nullptr;
  ev_token_bucket_cfg* configuration_ = nullptr;
};

}  // namespace Orvan::Network
