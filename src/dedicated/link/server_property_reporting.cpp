// The UDP property query: the socket's life, the published pairs and their cached reply text, and
// the answer to each query.
#include "dedicated/link/server_property_reporting.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "dedicated/program/main_server_task.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/socket_utilities.h"
#include "network/sockets/udp_socket.h"

namespace Orvan::Dedicated {

namespace {

bool IsPublishable(const TOrvString<char>& text) {
  const std::uint32_t length = text.GetLength();
  for (std::uint32_t i = 0; i < length; ++i) {
    if (static_cast<signed char>(text[i]) < 32) return false;
  }
  return true;
}

}  // namespace

TServerPropertyReporting::~TServerPropertyReporting() { DeleteSocket(); }

void TServerPropertyReporting::DeleteSocket() {
  if (socket_ == nullptr) return;
  socket_->Close();
  delete socket_;
  socket_ = nullptr;
}

bool TServerPropertyReporting::IsListening() const { return socket_ != nullptr && !socket_->IsClosed(); }

bool TServerPropertyReporting::StartListening() {
  DeleteSocket();
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr) return false;

  const int descriptor = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (descriptor == -1) {
    Network::NetworkLog(Network::kNetworkLogCritical, "Failed opening client reporting socket (error : " +
                                                          Network::GetErrorString(errno) + ")");
    return false;
  }
  if (evutil_make_socket_nonblocking(descriptor) != 0) {
    const int error = errno;
    ::close(descriptor);
    Network::NetworkLog(Network::kNetworkLogCritical, "Failed setting socket in non blocking mode (error : " +
                                                          Network::GetErrorString(error) + ")");
    return false;
  }
  socket_ = new Network::TUdpSocket(descriptor, task->GetSocketManager());

  const int reuse = 1;
  if (::setsockopt(descriptor, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof(reuse)) != 0) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Failed setting SO_REUSEADDR socket option for reporting socket (" +
                            Network::GetErrorString(errno) + ")");
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  address.sin_port = task->GetClientPort();  // already in network order
  if (::bind(descriptor, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int error = errno;
    socket_->Close();
    Network::NetworkLog(Network::kNetworkLogCritical,
                        "Failed to bind reporting socket (" + Network::GetErrorString(error) + ")");
    return false;
  }
  task->GetSocketManager()->SetCallbackForSocket(socket_, true, false, 0, &OnReadable, this);
  Network::NetworkLog(Network::kNetworkLogInformation, "ServerPropertyReporting listening for client !");
  return true;
}

bool TServerPropertyReporting::StopListening() {
  if (socket_ == nullptr) return false;
  DeleteSocket();
  return true;
}

bool TServerPropertyReporting::SetProperty(const TOrvString<char>& key, const TOrvString<char>& value) {
  if (!IsPublishable(key) || !IsPublishable(value)) return false;
  cachedReply_ = TOrvString<char>();
  properties_[key] = value;
  return true;
}

EPropertyPublication TServerPropertyReporting::CheckProperty(const TOrvString<char>& key,
                                                            const TOrvString<char>& value,
                                                            std::uint32_t reserve) const {
  if (!IsPublishable(key) || !IsPublishable(value)) return EPropertyPublication::kNotPrintableAscii;
  // The reply text: the leading separator, then key, separator, value, separator for each pair.
  std::uint64_t length = 1 + key.GetLength() + value.GetLength() + 2;
  for (const auto& [publishedKey, publishedValue] : properties_) {
    if (publishedKey == key) continue;
    length += publishedKey.GetLength() + publishedValue.GetLength() + 2;
  }
  const std::uint64_t largest = kPropertyReplyMaximum - kPropertyQueryChallengeSize;
  return length + reserve <= largest ? EPropertyPublication::kPublishable : EPropertyPublication::kTooLong;
}

void TServerPropertyReporting::RemoveProperty(const TOrvString<char>& key) {
  if (properties_.erase(key) != 0) cachedReply_ = TOrvString<char>();
}

const TOrvString<char>& TServerPropertyReporting::BuildReply() {
  if (!cachedReply_.IsEmpty() || properties_.empty()) return cachedReply_;
  std::string text(1, kPropertyReplySeparator);
  for (const auto& [key, value] : properties_) {
    text.append(key.c_str(), key.GetLength());
    text += kPropertyReplySeparator;
    text.append(value.c_str(), value.GetLength());
    text += kPropertyReplySeparator;
  }
  cachedReply_ = TOrvString<char>(text);
  return cachedReply_;
}

bool TServerPropertyReporting::IsPropertyQuery(const std::uint8_t* datagram, std::uint32_t length) {
  return length == kPropertyQueryPrefixSize + kPropertyQueryChallengeSize &&
         std::memcmp(datagram, kPropertyQueryPrefix, kPropertyQueryPrefixSize) == 0;
}

std::uint32_t TServerPropertyReporting::AnswerQuery(std::uint8_t* buffer, std::uint32_t received) {
  if (!IsPropertyQuery(buffer, received)) return 0;
  const TOrvString<char>& reply = BuildReply();
  const std::uint32_t length = reply.GetLength() + kPropertyQueryChallengeSize;
  if (length > kPropertyReplyMaximum) return 0;
  std::memmove(buffer, buffer + kPropertyQueryPrefixSize, kPropertyQueryChallengeSize);
  std::memcpy(buffer + kPropertyQueryChallengeSize, reply.c_str(), reply.GetLength());
  return length;
}

bool TServerPropertyReporting::AdmitQuery(const sockaddr* source, TTimeStamp now) {
  const Network::TTokenBucket fresh(kPropertyQueriesPerSourcePerSecond, kPropertyQueryBurstPerSource);
  Network::TTokenBucket* bucket = sources_.FindOrAdd(
      Network::GetSourceKey(source), fresh, [now](const Network::TTokenBucket& known) { return known.IsFull(now); });
  // The source's own limit first, so that a flooding source does not use up what the others share.
  if (bucket != nullptr && bucket->TryTake(now) && allSources_.TryTake(now)) return true;
  std::uint32_t ended = 0;
  drops_.Note(now, ended);
  LogDrops(ended);
  return false;
}

void TServerPropertyReporting::ReportDrops(TTimeStamp now) { LogDrops(drops_.TakeEnded(now)); }

void TServerPropertyReporting::LogDrops(std::uint32_t count) {
  if (count == 0) return;
  Network::NetworkLog(Network::kNetworkLogWarning,
                      "Dropped " + TOrvString<char>(std::to_string(count)) + " property queries over the rate limits");
}

void TServerPropertyReporting::OnReadable(evutil_socket_t /*descriptor*/, short events, void* reporting) {
  if ((events & EV_READ) != 0) static_cast<TServerPropertyReporting*>(reporting)->ReceiveQueries();
}

void TServerPropertyReporting::ReceiveQueries() {
  std::uint8_t buffer[kPropertyQueryBufferSize];
  TTimeStamp now;
  GetTimeStamp(now);
  for (std::uint32_t count = 0; count < kPropertyQueriesPerEvent && socket_ != nullptr; ++count) {
    sockaddr_in source{};
    socklen_t sourceLength = sizeof(source);
    const int received =
        socket_->ReceiveFrom(buffer, sizeof(buffer), reinterpret_cast<sockaddr*>(&source), &sourceLength);
    if (received < 0) {
      const int error = errno;
      if (error == EAGAIN || error == ECONNRESET) return;
      Network::NetworkLog(Network::kNetworkLogError,
                          "Error during recvfrom reporting socket (error : " + Network::GetErrorString(error) + ")");
      return;
    }
    if (received == 0) return;
    if (!IsPropertyQuery(buffer, static_cast<std::uint32_t>(received))) continue;
    if (!AdmitQuery(reinterpret_cast<const sockaddr*>(&source), now)) continue;
    const std::uint32_t length = AnswerQuery(buffer, static_cast<std::uint32_t>(received));
    // A reply too large for one datagram: the datagrams behind it wait for the next event.
    if (length == 0) return;
    socket_->SendTo(buffer, static_cast<int>(length), reinterpret_cast<const sockaddr*>(&source), sourceLength);
  }
}

}  // namespace Orvan::Dedicated
