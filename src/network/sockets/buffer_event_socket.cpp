// The buffered-event socket and the log texts of its events.
#include "network/sockets/buffer_event_socket.h"

#include <event2/buffer.h>
#include <event2/bufferevent_ssl.h>
#include <event2/bufferevent_struct.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "network/logging/network_hooks.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Network {

namespace {

void LogCreationFailure(const char* what) {
  NetworkLog(kNetworkLogError, TOrvString<char>("TBufferEventSocket::TBufferEventSocket() -> ") + what);
}

void CloseDescriptor(int descriptor) {
  if (descriptor != -1) ::close(descriptor);
}

bool HasTimeouts(const bufferevent* bufferEvent) {
  return bufferEvent != nullptr &&
         (evutil_timerisset(&bufferEvent->timeout_read) || evutil_timerisset(&bufferEvent->timeout_write));
}

}  // namespace

TBufferEventSocket::TBufferEventSocket(int descriptor, TSocketInterfaceManagerForLibEvent* manager)
    : manager_(manager) {
  event_base* base = manager_->GetEventBase();
  if (base != nullptr) bufferEvent_ = bufferevent_socket_new(base, descriptor, BEV_OPT_CLOSE_ON_FREE);
  if (bufferEvent_ == nullptr) {
    LogCreationFailure("Failed to create bufferevent !");
    CloseDescriptor(descriptor);
    return;
  }
  Start();
}

TBufferEventSocket::TBufferEventSocket(int descriptor, TSocketInterfaceManagerForLibEvent* manager, bool isServer)
    : manager_(manager) {
  SSL_CTX* context = isServer ? manager_->GetServerSslContext() : manager_->GetClientSslContext();
  event_base* base = manager_->GetEventBase();
  if (context == nullptr || base == nullptr) {
    LogCreationFailure(isServer ? "No server SSL context, connection refused !" : "No client SSL context !");
    CloseDescriptor(descriptor);
    return;
  }
  SSL* ssl = SSL_new(context);
  if (ssl == nullptr) {
    LogCreationFailure("Failed to create SSL object !");
    CloseDescriptor(descriptor);
    return;
  }
  bufferEvent_ = bufferevent_openssl_socket_new(
      base, descriptor, ssl, isServer ? BUFFEREVENT_SSL_ACCEPTING : BUFFEREVENT_SSL_CONNECTING, BEV_OPT_CLOSE_ON_FREE);
  if (bufferEvent_ == nullptr) {
    // With BEV_OPT_CLOSE_ON_FREE libevent has freed the SSL object already.
    LogCreationFailure("Failed to create SSL bufferevent !");
    CloseDescriptor(descriptor);
    return;
  }
  Start();
}

TBufferEventSocket::~TBufferEventSocket() { Close(); }

void TBufferEventSocket::Start() {
  manager_->AddSocket(this);
  bufferevent_enable(bufferEvent_, EV_READ | EV_WRITE);
}

void TBufferEventSocket::Close() {
  if (bufferEvent_ == nullptr) return;
  manager_->RemoveSocket(this);
  // libevent frees the bufferevent later and only then leaves its rate-limit group, and a group
  // freed with members aborts the process: leave the group now (nothing for a socket in none).
  bufferevent_remove_from_rate_limit_group(bufferEvent_);
  bufferevent_free(bufferEvent_);
  bufferEvent_ = nullptr;
}

int TBufferEventSocket::GetDescriptor() const {
  return bufferEvent_ != nullptr ? static_cast<int>(bufferevent_getfd(bufferEvent_)) : -1;
}

std::uint32_t TBufferEventSocket::CheckIfProblemDuringReceiving(std::uint32_t size) {
  if (bufferEvent_ == nullptr) return kReceiveFailure;
  return evbuffer_get_length(bufferevent_get_input(bufferEvent_)) < size ? kReceiveNotYet : kReceiveReady;
}

std::uint32_t TBufferEventSocket::Read(void* data, std::uint32_t size) {
  if (bufferEvent_ == nullptr) return 0;
  return static_cast<std::uint32_t>(bufferevent_read(bufferEvent_, data, size));
}

bool TBufferEventSocket::Write(const void* data, std::uint32_t size) {
  return bufferEvent_ != nullptr && bufferevent_write(bufferEvent_, data, size) == 0;
}

bool TBufferEventSocket::WriteNow(const iovec* pieces, int count) {
  if (bufferEvent_ == nullptr) return false;
  std::size_t written = 0;
  const evutil_socket_t descriptor = bufferevent_getfd(bufferEvent_);
  // Bytes already queued go first, and a connection not writing (or writing through TLS) keeps
  // libevent's order of things.
  if (descriptor != -1 && evbuffer_get_length(bufferevent_get_output(bufferEvent_)) == 0 &&
      (bufferevent_get_enabled(bufferEvent_) & EV_WRITE) != 0 && !IsTls()) {
    msghdr message{};
    message.msg_iov = const_cast<iovec*>(pieces);
    message.msg_iovlen = static_cast<std::size_t>(count);
    const ssize_t sent = ::sendmsg(descriptor, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) written = static_cast<std::size_t>(sent);
  }
  for (int i = 0; i < count; ++i) {
    const std::size_t length = pieces[i].iov_len;
    if (written >= length) {
      written -= length;
      continue;
    }
    const auto* rest = static_cast<const std::uint8_t*>(pieces[i].iov_base) + written;
    if (bufferevent_write(bufferEvent_, rest, length - written) != 0) return false;
    written = 0;
  }
  return true;
}

std::size_t TBufferEventSocket::GetQueuedSize() const {
  return bufferEvent_ != nullptr ? evbuffer_get_length(bufferevent_get_output(bufferEvent_)) : 0;
}

bool TBufferEventSocket::IsTls() const {
  return bufferEvent_ != nullptr && bufferevent_openssl_get_ssl(bufferEvent_) != nullptr;
}

void TBufferEventSocket::ApplyCallbacks() {
  if (bufferEvent_ == nullptr) return;
  bufferevent_setcb(bufferEvent_, readCallback_, writeCallback_, eventCallback_, callbackArgument_);
}

void TBufferEventSocket::SetTimeouts(int seconds) {
  if (bufferEvent_ == nullptr) return;
  if (seconds < 1) {
    bufferevent_set_timeouts(bufferEvent_, nullptr, nullptr);
    return;
  }
  timeval timeOut{};
  timeOut.tv_sec = seconds;
  bufferevent_set_timeouts(bufferEvent_, &timeOut, &timeOut);
}

int TBufferEventSocket::ConnectToAddress(std::uint16_t family, std::uint32_t address, std::uint16_t port) {
  if (bufferEvent_ == nullptr) return -1;
  sockaddr_in target{};
  target.sin_family = family;
  target.sin_port = port;
  target.sin_addr.s_addr = address;
  return bufferevent_socket_connect(bufferEvent_, reinterpret_cast<sockaddr*>(&target), sizeof(target));
}

int TBufferEventSocket::ConnectToHost(evdns_base* dns, int family, const char* host, std::uint16_t port) {
  if (bufferEvent_ == nullptr) return -1;
  return bufferevent_socket_connect_hostname(bufferEvent_, dns, family, host, port);
}

TOrvString<char> BufferEventErrorToString(bufferevent* bufferEvent, short events) {
  const int error = errno;
  TOrvString<char> text;
  if ((events & BEV_EVENT_READING) != 0) {
    text = "Error during reading. ";
  } else if ((events & BEV_EVENT_WRITING) != 0) {
    text = "Error during writing. ";
  } else {
    text = "Error of unspecified type. ";
  }

  if ((events & BEV_EVENT_ERROR) != 0) {
    if (error != 0) return text + "LibEvent: " + GetErrorString(error);
    const unsigned long sslError = bufferEvent != nullptr ? bufferevent_get_openssl_error(bufferEvent) : 0;
    if (sslError == 0) return text + "Unknown error";
    char sslText[256];
    ERR_error_string_n(sslError, sslText, sizeof(sslText));
    return text + "OpenSSL: " + sslText;
  }
  if ((events & BEV_EVENT_EOF) != 0) return text + "End of file received.";
  if ((events & BEV_EVENT_TIMEOUT) != 0) {
    return text + (HasTimeouts(bufferEvent) ? "Unhandled timeout." : "Unwanted timeout.");
  }
  if ((events & BEV_EVENT_CONNECTED) != 0) return text + "Connected event received while not expected.";
  return text + "Unknown error.";
}

}  // namespace Orvan::Network
