// The stream socket of game clients and console connections: a libevent bufferevent on an accepted
// descriptor, plain or over TLS, whose buffering and callbacks libevent runs inside the event loop.
#pragma once

#include <event2/bufferevent.h>
#include <event2/dns.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>

#include "core/text/engine_string.h"
#include "network/sockets/socket_interface.h"

namespace Orvan::Network {

class TSocketInterfaceManagerForLibEvent;

class TBufferEventSocket final : public IStreamInterface {
 public:
  // Plain: the socket owns the descriptor from here on (it is closed with the socket, or at once
  // when no bufferevent can be made, which leaves the socket closed).
  TBufferEventSocket(int descriptor, TSocketInterfaceManagerForLibEvent* manager);
  // TLS, accepting (isServer) or connecting, with the manager's context of that side. Without that
  // context, or when the TLS state cannot be made, the socket is closed and so is the descriptor.
  // A descriptor of -1 is given later by ConnectToAddress or ConnectToHost.
  TBufferEventSocket(int descriptor, TSocketInterfaceManagerForLibEvent* manager, bool isServer);
  ~TBufferEventSocket() override;
  TBufferEventSocket(const TBufferEventSocket&) = delete;
  TBufferEventSocket& operator=(const TBufferEventSocket&) = delete;

  // Leaves the manager and frees the bufferevent, which closes the descriptor once libevent has
  // finished with it; nothing when already closed.
  void Close() override;
  bool IsClosed() const override { return bufferEvent_ == nullptr; }
  int GetDescriptor() const override;
  // 1 while fewer than `size` bytes wait in the input buffer, else 0; 3 only for a closed socket.
  // Connection failures arrive through the event callback instead.
  std::uint32_t CheckIfProblemDuringReceiving(std::uint32_t size) override;
  std::uint32_t Read(void* data, std::uint32_t size) override;
  // True when the bytes are queued for sending.
  bool Write(const void* data, std::uint32_t size) override;
  // Bytes that are to leave now rather than at the next pass of the loop: behind bytes still queued
  // they are queued too; otherwise the system is handed them in one write and only what it does
  // not take is queued. A TLS connection queues them all. A failed write leaves them queued, so
  // that the loop's write reports the failure through the event callback as for any other bytes.
  // Bytes written here are not counted by the rate-limit group. True when every byte was written
  // or queued.
  bool WriteNow(const iovec* pieces, int count);

  // Bytes queued for sending that the system has not taken yet (0 when closed).
  std::size_t GetQueuedSize() const;

  bool IsTls() const;
  bufferevent* GetBufferEvent() const { return bufferEvent_; }
  TSocketInterfaceManagerForLibEvent* GetManager() const { return manager_; }

  // The manager stores callbacks and their argument, then installs them with ApplyCallbacks.
  void SetReadCallback(bufferevent_data_cb callback) { readCallback_ = callback; }
  void SetWriteCallback(bufferevent_data_cb callback) { writeCallback_ = callback; }
  void SetEventCallback(bufferevent_event_cb callback) { eventCallback_ = callback; }
  void SetCallbackArgument(void* argument) { callbackArgument_ = argument; }
  void ApplyCallbacks();

  // Read and write time-outs of whole seconds; below 1 removes both.
  void SetTimeouts(int seconds);

  // Connects to an IPv4 address; address and port in network byte order. libevent's result.
  int ConnectToAddress(std::uint16_t family, std::uint32_t address, std::uint16_t port);
  // Resolves the host through the DNS base and connects; libevent's result (0 = under way).
  int ConnectToHost(evdns_base* dns, int family, const char* host, std::uint16_t port);

 private:
  // Adopts a newly made bufferevent: registration and reading and writing enabled.
  void Start();

  TSocketInterfaceManagerForLibEvent* manager_;
  bufferevent* bufferEvent_ = nullptr;
  bufferevent_data_cb readCallback_ = nullptr;
  bufferevent_data_cb writeCallback_ = nullptr;
  bufferevent_event_cb eventCallback_ = nullptr;
  void* callbackArgument_ = nullptr;
};

// The log text of a bufferevent's event flags: the direction, then the cause. Reads errno, so call
// it before anything else can change it.
TOrvString<char> BufferEventErrorToString(bufferevent* bufferEvent, short events);

}  // namespace Orvan::Network
