// Accepting with a pause after failures and a spare descriptor.
#include "network/sockets/listen_acceptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "network/logging/network_hooks.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/native_socket.h"
#include "network/sockets/socket_utilities.h"

namespace Orvan::Network {

namespace {

constexpr TTimeStamp kNanosecondsPerMillisecond = 1000000;

TOrvString<char> Decimal(std::uint32_t value) { return TOrvString<char>(std::to_string(value)); }

}  // namespace

EAcceptFailure ClassifyAcceptError(int error) noexcept {
  switch (error) {
    case EINTR:
    case ECONNABORTED:
    case ECONNRESET:
    case ETIMEDOUT:
    case EPROTO:
    case ENETDOWN:
    case ENETUNREACH:
    case ENOPROTOOPT:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ENONET:
    case EOPNOTSUPP:
    case EPERM:
      return EAcceptFailure::kRetry;
    default:
      // EMFILE, ENFILE, ENOBUFS and ENOMEM, and what says the listen socket is broken (EBADF,
      // EINVAL, ENOTSOCK, EFAULT): taking the next connection at once would fail again at once.
      return EAcceptFailure::kPause;
  }
}

TListenAcceptor::TListenAcceptor(TFailureLine failureLine) : failureLine_(failureLine) {}

TListenAcceptor::~TListenAcceptor() {
  Stop();
  if (spare_ != -1) ::close(spare_);
}

void TListenAcceptor::Start(TSocketInterfaceManagerForLibEvent* manager, TNativeSocket* socket,
                            event_callback_fn callback, void* argument) {
  Stop();
  manager_ = manager;
  socket_ = socket;
  callback_ = callback;
  argument_ = argument;
  paused_ = false;
  if (spare_ == -1) OpenSpare();
  ApplyWatch();
}

void TListenAcceptor::Stop() {
  if (watching_ && socket_ != nullptr) manager_->RemoveSocket(socket_);
  watching_ = false;
  socket_ = nullptr;
}

void TListenAcceptor::SetHeld(bool held) {
  held_ = held;
  ApplyWatch();
}

void TListenAcceptor::Update(TTimeStamp now) {
  if (retried_ != 0 && now >= nextRetriedLine_) LogRetried(now);
  if (paused_ && now >= pauseEnd_) {
    paused_ = false;
    if (spare_ == -1) OpenSpare();
  }
  ApplyWatch();
}

void TListenAcceptor::ApplyWatch() {
  const bool wanted = socket_ != nullptr && !socket_->IsClosed() && !held_ && !paused_;
  if (wanted == watching_) return;
  if (wanted) {
    // A socket that could not be watched is tried again at the next call (the next loop pass).
    watching_ = manager_->SetCallbackForSocket(socket_, true, false, -1, callback_, argument_);
  } else {
    manager_->RemoveSocket(socket_);
    watching_ = false;
  }
}

int TListenAcceptor::Accept(sockaddr_storage& address) {
  if (socket_ == nullptr || socket_->IsClosed() || paused_) return -1;
  for (;;) {
    socklen_t length = sizeof(address);
    const int descriptor = ::accept(socket_->GetDescriptor(), reinterpret_cast<sockaddr*>(&address), &length);
    if (descriptor != -1) {
      nextPause_ = kAcceptPauseShortestMilliseconds;
      retriedInARow_ = 0;
      return descriptor;
    }
    const int error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN || error == EWOULDBLOCK) return -1;
    TTimeStamp now;
    GetTimeStamp(now);
    if (!HandleFailure(error, now)) return -1;
  }
}

bool TListenAcceptor::HandleFailure(int error, TTimeStamp now) {
  if (ClassifyAcceptError(error) == EAcceptFailure::kPause || ++retriedInARow_ >= kAcceptRetriesInARow) {
    Pause(error, now);
    return false;
  }
  ++retried_;
  retriedError_ = error;
  if (now >= nextRetriedLine_) LogRetried(now);
  return true;
}

void TListenAcceptor::LogRetried(TTimeStamp now) {
  NetworkLog(kNetworkLogWarning, failureLine_(retriedError_) + " [" + Decimal(retried_) +
                                     (retried_ == 1 ? " failure" : " failures") +
                                     " of a single connection since the last such line; went on to the next one]");
  retried_ = 0;
  nextRetriedLine_ = now + TTimeStamp{kAcceptRetriedLineMilliseconds} * kNanosecondsPerMillisecond;
}

void TListenAcceptor::Pause(int error, TTimeStamp now) {
  ++failures_;
  retriedInARow_ = 0;
  // Plain concatenation only: no descriptor may be free here, and a sanitizer's check of a virtual
  // call needs some.
  TOrvString<char> line = failureLine_(error) + " [" + Decimal(failures_) +
                          (failures_ == 1 ? " failure" : " failures") + " since the last line";
  if (error == EMFILE || error == ENFILE) {
    const bool hadSpare = spare_ != -1;
    const TOrvString<char> closed = CloseOldestWaiting();
    if (!closed.IsEmpty()) {
      line += "; the oldest waiting connection, from " + closed + ", closed";
    } else if (!hadSpare) {
      line += "; no spare descriptor to close the oldest waiting connection with";
    }
  }
  const std::uint32_t pause = nextPause_;
  nextPause_ = std::min(pause * 2, kAcceptPauseLongestMilliseconds);
  pauseEnd_ = now + pause * kNanosecondsPerMillisecond;
  paused_ = true;
  ApplyWatch();
  NetworkLog(kNetworkLogWarning, line + "; not accepting for " + Decimal(pause) + " ms]");
  failures_ = 0;
}

TOrvString<char> TListenAcceptor::CloseOldestWaiting() {
  if (spare_ == -1) return TOrvString<char>();
  ::close(spare_);
  spare_ = -1;
  sockaddr_storage address{};
  socklen_t length = sizeof(address);
  const int descriptor = ::accept(socket_->GetDescriptor(), reinterpret_cast<sockaddr*>(&address), &length);
  TOrvString<char> peer;
  if (descriptor != -1) {
    peer = SockAddrToString(reinterpret_cast<const sockaddr*>(&address));
    ::close(descriptor);
  }
  OpenSpare();
  return peer;
}

void TListenAcceptor::OpenSpare() { spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

}  // namespace Orvan::Network
