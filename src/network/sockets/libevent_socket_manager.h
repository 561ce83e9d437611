// The server's one event loop: the libevent event base every socket runs on, the TLS contexts of
// the buffered-event sockets, and one persistent event per watched socket (listeners, UDP).
#pragma once

#include <event2/bufferevent.h>
#include <event2/event.h>
#include <openssl/types.h>
#include <sys/time.h>

#include <cstdint>

#include "core/containers/open_hash_map.h"
#include "core/memory/global_allocation.h"
#include "core/text/hash_functors.h"
#include "network/sockets/socket_interface_manager.h"

namespace Orvan::Network {

class TBufferEventSocket;

// The certificate chain and private key of the server's TLS context, relative to the working folder.
inline constexpr const char* kServerCertificateFile = "mmsserver.cert";
inline constexpr const char* kServerPrivateKeyFile = "mmsserver.pkey";

// A span of milliseconds as a valid timeval (microseconds below one million).
timeval MillisecondsToTimeval(std::uint32_t milliseconds);

class TSocketInterfaceManagerForLibEvent final : public TSocketInterfaceManager {
 public:
  // Server mode reads the certificate and key into a server TLS context; client mode makes a
  // client context instead. Everything that fails is logged; the manager works without it.
  explicit TSocketInterfaceManagerForLibEvent(bool serverMode);
  // Frees the base and the contexts. Events still registered are not freed: their sockets must
  // have closed before.
  ~TSocketInterfaceManagerForLibEvent();
  TSocketInterfaceManagerForLibEvent(const TSocketInterfaceManagerForLibEvent&) = delete;
  TSocketInterfaceManagerForLibEvent& operator=(const TSocketInterfaceManagerForLibEvent&) = delete;

  event_base* GetEventBase() const { return base_; }
  SSL_CTX* GetServerSslContext() const { return serverContext_; }
  SSL_CTX* GetClientSslContext() const { return clientContext_; }

  // Watches the socket's descriptor with a persistent event (read and/or write; a time-out when
  // above 0). A second call for the same socket replaces the first registration. False, logged and
  // with no registration left, when the event cannot be made or added (a descriptor the system
  // does not know).
  bool SetCallbackForSocket(ISocketInterface* socket, bool read, bool write, std::int32_t timeOutSeconds,
                            event_callback_fn callback, void* userData);
  // Frees the socket's event; nothing for a socket that is not watched.
  void RemoveSocket(ISocketInterface* socket) override;

  // Store one of the socket's callbacks (or its argument) and install them all at once.
  void SetCallbackForBufferEvent(TBufferEventSocket* socket, bool read, bool write, bufferevent_data_cb callback);
  void SetEventCallbackForBufferEvent(TBufferEventSocket* socket, bufferevent_event_cb callback);
  void SetUserDataForBufferEvent(TBufferEventSocket* socket, void* userData);
  // Read and write time-outs of whole seconds; none below 1.
  void SetTimeOutForBufferEvent(TBufferEventSocket* socket, std::int32_t seconds);

  // Runs the loop for about `milliseconds`, or less when nothing is left to wait for.
  void RunEventLoop(std::uint32_t milliseconds);

 private:
  // Keys are socket addresses: folded to 32 bits for the hash, compared whole.
  using TEventMap = TOpenHashMap<TKeyValueEntry<ISocketInterface*, event*>, TPointerHash, TWordEqual,
                                 default_allocator<unsigned char>>;

  void CreateServerContext();
  void LogStartUp();

  TEventMap events_;
  event_base* base_ = nullptr;
  SSL_CTX* serverContext_ = nullptr;
  SSL_CTX* clientContext_ = nullptr;
};

}  // namespace Orvan::Network
