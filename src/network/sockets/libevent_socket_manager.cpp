// The libevent socket manager.
#include "network/sockets/libevent_socket_manager.h"

#include <openssl/ssl.h>

#include <new>

#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"

namespace Orvan::Network {

namespace {

constexpr const char* kCertificateHint =
    "Couldn't read 'pkey' or 'cert' file.  To generate a key\n"
    "and self-signed certificate, run:\n"
    "  openssl genrsa -out pkey 2048\n"
    "  openssl req -new -key pkey -out cert.req\n"
    "  openssl x509 -req -days 365 -in cert.req -signkey pkey -out cert";

// The feature bits worth a line; libevent may report more.
struct TFeatureLine {
  int bit;
  const char* text;
};
constexpr TFeatureLine kFeatureLines[] = {
    {EV_FEATURE_ET, "  Edge-triggered events are supported."},
    {EV_FEATURE_O1, "  O(1) event notification is supported."},
    {EV_FEATURE_FDS, "  All FD types are supported."},
};

}  // namespace

timeval MillisecondsToTimeval(std::uint32_t milliseconds) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(milliseconds / 1000);
  value.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
  return value;
}

TSocketInterfaceManagerForLibEvent::TSocketInterfaceManagerForLibEvent(bool serverMode) {
  OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
  if (serverMode) {
    CreateServerContext();
  } else {
    clientContext_ = SSL_CTX_new(TLS_client_method());
    if (clientContext_ != nullptr) SSL_CTX_set_options(clientContext_, SSL_OP_NO_SSLv2);
  }
  base_ = event_base_new();
  LogStartUp();
}

TSocketInterfaceManagerForLibEvent::~TSocketInterfaceManagerForLibEvent() {
  if (base_ != nullptr) event_base_free(base_);
  if (serverContext_ != nullptr) SSL_CTX_free(serverContext_);
  if (clientContext_ != nullptr) SSL_CTX_free(clientContext_);
}

void TSocketInterfaceManagerForLibEvent::CreateServerContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context != nullptr && SSL_CTX_use_certificate_chain_file(context, kServerCertificateFile) == 1 &&
      SSL_CTX_use_PrivateKey_file(context, kServerPrivateKeyFile, SSL_FILETYPE_PEM) == 1) {
    SSL_CTX_set_options(context, SSL_OP_NO_SSLv2);
    serverContext_ = context;
    return;
  }
  NetworkLog(kNetworkLogError, kCertificateHint);
  if (context != nullptr) SSL_CTX_free(context);
}

void TSocketInterfaceManagerForLibEvent::LogStartUp() {
  NetworkLog(kNetworkLogInformation, TOrvString<char>("Starting Libevent ") + event_get_version() + ".");
  NetworkLog(kNetworkLogInformation, "Available methods are : ");
  TOrvString<char> methods;
  const char** names = event_get_supported_methods();
  for (int i = 0; names != nullptr && names[i] != nullptr; ++i) {
    if (i != 0) methods += '\n';
    methods += "    ";
    methods += names[i];
  }
  NetworkLog(kNetworkLogInformation, methods);

  if (base_ == nullptr) {
    NetworkLog(kNetworkLogError, "Failed to create event_base : network probably won't work (and crash) !");
    return;
  }
  NetworkLog(kNetworkLogInformation,
             TOrvString<char>("Using Libevent with backend method ") + event_base_get_method(base_));
  const int features = event_base_get_features(base_);
  for (const TFeatureLine& line : kFeatureLines) {
    if ((features & line.bit) != 0) NetworkLog(kNetworkLogInformation, line.text);
  }
}

bool TSocketInterfaceManagerForLibEvent::SetCallbackForSocket(ISocketInterface* socket, bool read, bool write,
                                                              std::int32_t timeOutSeconds, event_callback_fn callback,
                                                              void* userData) {
  short flags = EV_PERSIST;
  if (read) flags |= EV_READ;
  if (write) flags |= EV_WRITE;
  timeval timeOut{};
  if (timeOutSeconds > 0) {
    flags |= EV_TIMEOUT;
    timeOut.tv_sec = timeOutSeconds;
  }

  TEventMap::TEntryType* entry;
  if (events_.FindOrInsert(socket, &entry)) {
    ::new (static_cast<void*>(entry)) TEventMap::TEntryType{socket, nullptr};
  } else if (entry->value != nullptr) {
    event_free(entry->value);
    entry->value = nullptr;
  }

  const int descriptor = socket->GetDescriptor();
  if (descriptor == -1) {
    NetworkLog(kNetworkLogError,
               "TSocketInterfaceManagerForLibEvent::SetCallbackForSocket() -> parSocket is not valid !");
  }
  event* watched = event_new(base_, descriptor, flags, callback, userData);
  if (watched == nullptr) {
    events_.Erase(socket);
    NetworkLog(kNetworkLogError,
               "TSocketInterfaceManagerForLibEvent::SetCallbackForSocket() -> Failed to create event !");
    return false;
  }
  if (event_add(watched, timeOutSeconds > 0 ? &timeOut : nullptr) != 0) {
    event_free(watched);
    events_.Erase(socket);
    NetworkLog(kNetworkLogError,
               "TSocketInterfaceManagerForLibEvent::SetCallbackForSocket() -> Failed to add event !");
    return false;
  }
  entry->value = watched;
  return true;
}

void TSocketInterfaceManagerForLibEvent::RemoveSocket(ISocketInterface* socket) {
  if (events_.IsEmpty()) return;
  TEventMap::TEntryType* entry = events_.Find(socket);
  if (entry == nullptr) return;
  if (entry->value != nullptr) event_free(entry->value);
  events_.Erase(socket);
}

void TSocketInterfaceManagerForLibEvent::SetCallbackForBufferEvent(TBufferEventSocket* socket, bool read, bool write,
                                                                   bufferevent_data_cb callback) {
  if (read) socket->SetReadCallback(callback);
  if (write) socket->SetWriteCallback(callback);
  socket->ApplyCallbacks();
}

void TSocketInterfaceManagerForLibEvent::SetEventCallbackForBufferEvent(TBufferEventSocket* socket,
                                                                        bufferevent_event_cb callback) {
  socket->SetEventCallback(callback);
  socket->ApplyCallbacks();
}

void TSocketInterfaceManagerForLibEvent::SetUserDataForBufferEvent(TBufferEventSocket* socket, void* userData) {
  socket->SetCallbackArgument(userData);
  socket->ApplyCallbacks();
}

void TSocketInterfaceManagerForLibEvent::SetTimeOutForBufferEvent(TBufferEventSocket* socket, std::int32_t seconds) {
  socket->SetTimeouts(seconds);
}

void TSocketInterfaceManagerForLibEvent::RunEventLoop(std::uint32_t milliseconds) {
  if (base_ == nullptr) return;
  const timeval limit = MillisecondsToTimeval(milliseconds);
  event_base_loopexit(base_, &limit);
  event_base_dispatch(base_);
}

}  // namespace Orvan::Network
