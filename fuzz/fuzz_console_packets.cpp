// Fuzz target of the remote console's packet handling. Input: a flags byte (bit 0: authenticate
// with the right password first), then chunks, each a length byte and that many bytes. Each chunk
// is written into one end of a socket pair whose other end a console wraps, and the event loop runs
// until the console has taken it. What the console sends back, and whether it closed, must match
// a plain model of the protocol fed the same chunks.
#include <event2/event.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

#include "network/console/console_command_registry.h"
#include "network/console/rcon_server.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "support/console_test_commands.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using namespace Orvan;
using namespace Orvan::ServerTools;
using OrvTest::FuzzCheck;

constexpr const char* kPassword = "fuzz-pw";
// Loop slices without progress after which the console is taken to be idle.
constexpr int kIdleRounds = 3;
constexpr int kMaxRounds = 256;

void PutLittleEndian(std::string& bytes, std::int32_t value) {
  const auto word = static_cast<std::uint32_t>(value);
  for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(word >> shift);
}

std::int32_t GetLittleEndian(const std::string& bytes, std::size_t at) {
  std::uint32_t word = 0;
  for (int i = 3; i >= 0; --i) word = word << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return static_cast<std::int32_t>(word);
}

// A reply as packets: pieces of at most 4086 bytes, one empty packet for an empty text.
std::string Packets(std::int32_t id, std::int32_t type, const std::string& text) {
  std::string bytes;
  std::size_t offset = 0;
  do {
    const std::string piece = text.substr(offset, kRConMaxBodyPiece);
    PutLittleEndian(bytes, static_cast<std::int32_t>(piece.size()) + kRConMinPacketSize);
    PutLittleEndian(bytes, id);
    PutLittleEndian(bytes, type);
    bytes += piece;
    bytes += std::string(2, '\0');
    offset += piece.size();
  } while (offset < text.size());
  return bytes;
}

// The protocol as the console should follow it, one read event per chunk.
class TConsoleModel {
 public:
  void Receive(const std::string& chunk) {
    if (closed_) return;
    buffer_ += chunk;
    for (;;) {
      if (buffer_.empty()) return;
      if (pending_ == 0) {
        if (buffer_.size() < 4) return;
        pending_ = GetLittleEndian(buffer_, 0);
        buffer_.erase(0, 4);
        if (pending_ < kRConMinPacketSize || pending_ > kRConMaxPacketSize) {
          closed_ = true;
          return;
        }
      }
      const auto size = static_cast<std::size_t>(pending_);
      if (buffer_.size() < size) return;
      const std::string packet = buffer_.substr(0, size);
      buffer_.erase(0, size);
      pending_ = 0;
      const std::int32_t id = GetLittleEndian(packet, 0);
      const std::int32_t type = GetLittleEndian(packet, 4);
      const std::string room = packet.substr(8);
      const std::string body = room.substr(0, room.find('\0'));
      if (type == kRConTypeCommand) {
        if (!authenticated_) {
          closed_ = true;
          return;
        }
        const std::string word = body.substr(0, body.find(' '));
        if (word == "echo") {
          expected_ += Packets(id, kRConTypeResponse, body);
        } else if (word == "long") {
          expected_ += Packets(id, kRConTypeResponse, OrvTest::LongReplyText(body));
        } else {
          expected_ += Packets(id, kRConTypeResponse, "Unknown command");
        }
      } else if (type == kRConTypeAuthenticate) {
        if (authenticated_) return;
        expected_ += Packets(id, kRConTypeResponse, "");
        if (body != kPassword) {
          expected_ += Packets(-1, kRConTypeAuthAnswer, "");
          closed_ = true;
          return;
        }
        expected_ += Packets(id, kRConTypeAuthAnswer, "");
        authenticated_ = true;
      }
    }
  }
  bool Closed() const { return closed_; }
  const std::string& Expected() const { return expected_; }

 private:
  std::string buffer_;
  std::string expected_;
  std::int32_t pending_ = 0;
  bool authenticated_ = false;
  bool closed_ = false;
};

// The engine starts before the members that need it; the fixture lives for the whole run.
bool StartEngine() {
  std::signal(SIGPIPE, SIG_IGN);
  OrvTest::StartEngineForTests();
  Network::SetNetworkLogHandler([](int, const char*) {});
  return true;
}

struct TFixture {
  TFixture() {
    registry.SetPassword(kPassword);
    registry.RegisterCommand("echo", &echo);
    registry.RegisterCommand("long", &longText);
  }
  bool started = StartEngine();
  Network::TSocketInterfaceManagerForLibEvent* manager = new Network::TSocketInterfaceManagerForLibEvent(false);
  TConsoleCommandRegistry registry;
  OrvTest::TEchoCommand echo;
  OrvTest::TLongReplyCommand longText;
};

TFixture& Fixture() {
  static TFixture* fixture = new TFixture;
  return *fixture;
}

// The client end: what arrived, and whether the console's end has closed.
struct TClientEnd {
  explicit TClientEnd(int end) : descriptor(end) {}
  int descriptor;
  std::string received;
  bool closed = false;
  // True when bytes or the end arrived.
  bool Drain() {
    bool progressed = false;
    char chunk[16384];
    for (;;) {
      const ssize_t n = ::recv(descriptor, chunk, sizeof(chunk), MSG_DONTWAIT);
      if (n > 0) {
        received.append(chunk, static_cast<std::size_t>(n));
        progressed = true;
        continue;
      }
      if (n == 0 && !closed) closed = progressed = true;
      return progressed;
    }
  }
};

// Runs the loop until nothing is left to read on the console's side and nothing more comes back.
void Pump(event_base* base, int consoleDescriptor, TClientEnd& client) {
  int idle = 0;
  for (int round = 0; round < kMaxRounds && idle < kIdleRounds; ++round) {
    event_base_loop(base, EVLOOP_NONBLOCK);
    int unread = 0;
    const bool readable = !client.closed && ::ioctl(consoleDescriptor, FIONREAD, &unread) == 0 && unread > 0;
    idle = client.Drain() || readable ? 0 : idle + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TFixture& fixture = Fixture();
  if (size == 0) return 0;
  event_base* base = fixture.manager->GetEventBase();

  int ends[2];
  FuzzCheck(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0, "socket pair");
  TClientEnd client(ends[1]);
  TConsoleModel model;
  {
    RConServer server(&fixture.registry);
    sockaddr unnamed{};
    unnamed.sa_family = AF_UNIX;
    server.OnNewConnection(new Network::TBufferEventSocket(ends[0], fixture.manager), &unnamed, false);

    std::string authentication;
    if ((data[0] & 1) != 0) {
      const std::string body = kPassword;
      PutLittleEndian(authentication, static_cast<std::int32_t>(body.size()) + kRConMinPacketSize);
      PutLittleEndian(authentication, 1);
      PutLittleEndian(authentication, kRConTypeAuthenticate);
      authentication += body + std::string(2, '\0');
    }
    std::size_t at = 1;
    bool first = true;
    while (!model.Closed()) {
      std::string chunk;
      if (first && !authentication.empty()) {
        chunk = authentication;
      } else {
        if (at >= size) break;
        const std::size_t length = data[at++];
        const std::size_t available = size - at < length ? size - at : length;
        chunk.assign(reinterpret_cast<const char*>(data + at), available);
        at += available;
      }
      first = false;
      if (chunk.empty()) continue;
      FuzzCheck(
          ::send(client.descriptor, chunk.data(), chunk.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(chunk.size()),
          "the whole chunk is written");
      model.Receive(chunk);
      Pump(base, ends[0], client);
    }

    FuzzCheck(client.received == model.Expected(), "the console sends what the protocol says");
    FuzzCheck((server.GetConnectionCount() == 0) == model.Closed(), "the console closes when the protocol says");
    FuzzCheck(client.closed == model.Closed(), "the client sees the end exactly when the console closed");
  }
  // The server is gone with its console; the descriptor closes in the next loop slice.
  Pump(base, ends[0], client);
  FuzzCheck(client.closed, "deleting the server closes the connection");
  ::close(ends[1]);
  return 0;
}
