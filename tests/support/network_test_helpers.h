// Helpers of the network library's tests: the library's log lines captured, socket pairs and
// readiness waits on loopback, and a socket manager that counts.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "network/logging/network_hooks.h"
#include "network/sockets/socket_interface_manager.h"

namespace OrvTest {

// Peers that went away must show up as errors, not end the test program.
inline void IgnoreSigpipe() { ::signal(SIGPIPE, SIG_IGN); }

// An IPv4 peer address (host in host byte order), as the per-source tables key it.
inline sockaddr_storage Ipv4Peer(std::uint32_t host, std::uint16_t port = 4000) {
  sockaddr_storage storage{};
  auto* address = reinterpret_cast<sockaddr_in*>(&storage);
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  address->sin_addr.s_addr = htonl(host);
  return storage;
}

// Records every line of the network log hook while it lives, then puts the previous hook back.
class TCapturedNetworkLog {
 public:
  struct TLine {
    int level;
    std::string text;
  };
  TCapturedNetworkLog() : previous_(Orvan::Network::GetNetworkHooks().log) {
    Lines().clear();
    Orvan::Network::SetNetworkLogHandler(&Record);
  }
  ~TCapturedNetworkLog() { Orvan::Network::SetNetworkLogHandler(previous_); }
  TCapturedNetworkLog(const TCapturedNetworkLog&) = delete;
  TCapturedNetworkLog& operator=(const TCapturedNetworkLog&) = delete;

  static std::vector<TLine>& Lines() {
    static std::vector<TLine> lines;
    return lines;
  }
  static std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (const TLine& line : Lines()) texts.push_back(line.text);
    return texts;
  }

 private:
  static void Record(int level, const char* text) { Lines().push_back({level, text}); }
  Orvan::Network::TNetworkLogHook previous_;
};

// A connected pair of stream sockets, closed with the pair (a side handed away is set to -1).
struct TSocketPair {
  TSocketPair() {
    int descriptors[2] = {-1, -1};
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, descriptors) == 0) {
      first = descriptors[0];
      second = descriptors[1];
    }
  }
  ~TSocketPair() {
    if (first != -1) ::close(first);
    if (second != -1) ::close(second);
  }
  TSocketPair(const TSocketPair&) = delete;
  TSocketPair& operator=(const TSocketPair&) = delete;
  // Gives the first side away (to a socket that closes it).
  int TakeFirst() { return std::exchange(first, -1); }
  void CloseSecond() {
    if (second != -1) ::close(second);
    second = -1;
  }
  int first = -1;
  int second = -1;
};

// Waits until the descriptor has bytes (or an end) to read; false after the time-out.
inline bool WaitReadable(int descriptor, int timeoutMilliseconds = 5000) {
  pollfd watched{descriptor, POLLIN, 0};
  return ::poll(&watched, 1, timeoutMilliseconds) == 1;
}

// A listening TCP socket on 127.0.0.1 and a port the system picks (0 when none could be had). The
// kernel completes connections to it before any accept.
struct TLoopbackListener {
  TLoopbackListener() {
    descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(descriptor, reinterpret_cast<sockaddr*>(&address), length) == 0 && ::listen(descriptor, 4) == 0 &&
        ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port = ntohs(address.sin_port);
    }
  }
  ~TLoopbackListener() { Close(); }
  TLoopbackListener(const TLoopbackListener&) = delete;
  TLoopbackListener& operator=(const TLoopbackListener&) = delete;
  // The next connection (the caller closes it); -1 when none came within 5 s.
  int Accept() {
    if (!WaitReadable(descriptor)) return -1;
    return ::accept(descriptor, nullptr, nullptr);
  }
  // Stops listening: connections to the port are refused from here on.
  void Close() {
    if (descriptor != -1) ::close(descriptor);
    descriptor = -1;
  }
  int descriptor;
  std::uint16_t port = 0;
};

// A blocking TCP connection to 127.0.0.1 and the port (the caller closes it); -1 when it failed.
inline int ConnectLoopback(std::uint16_t port) {
  const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (descriptor != -1 && ::connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(descriptor);
    return -1;
  }
  return descriptor;
}

// Bytes as lower-case hex digits, two per byte, no separators.
inline std::string HexText(const void* data, std::size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned byte = static_cast<const unsigned char*>(data)[i];
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

// Counts the registrations of the sockets built on it.
class TCountingSocketManager final : public Orvan::Network::TSocketInterfaceManager {
 public:
  void AddSocket(Orvan::Network::ISocketInterface*) override { ++added; }
  void RemoveSocket(Orvan::Network::ISocketInterface*) override { ++removed; }
  int added = 0;
  int removed = 0;
};

}  // namespace OrvTest
