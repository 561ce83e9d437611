// Fuzz target of frame reassembly. Input: a byte picking the largest frame (16, 255 or 4096),
// then chunks, each a length byte and that many bytes. Every chunk is written into one end of a
// socket pair; the other end, a native socket, is read with ReceivePacket until it has no
// complete frame. The frames and the failure must match a plain parser of the same bytes; once
// the writer closes, the frames still complete come out and then reception fails.
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <vector>

#include "network/logging/network_hooks.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/native_socket.h"
#include "network/sockets/socket_utilities.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"

namespace {

using namespace Orvan;
using namespace Orvan::Network;
using Bytes = std::vector<std::uint8_t>;

using OrvTest::FuzzCheck;

void DropLog(int, const char*) {}

// The plain parser: frames out of the bytes so far; failed once a length is above the maximum.
class TReferenceParser {
 public:
  explicit TReferenceParser(std::uint32_t maximum) : maximum_(maximum) {}
  void Add(const std::uint8_t* bytes, std::size_t size) { pending_.insert(pending_.end(), bytes, bytes + size); }
  // The next frame, or false when none is complete (or the stream has failed).
  bool Next(Bytes& frame) {
    for (;;) {
      if (failed_ || pending_.size() < 2) return false;
      const std::uint32_t length = (std::uint32_t{pending_[0]} << 8) | pending_[1];
      if (length > maximum_) {
        failed_ = true;
        return false;
      }
      if (pending_.size() < 2 + length) return false;
      pending_.erase(pending_.begin(), pending_.begin() + 2);
      frame.assign(pending_.begin(), pending_.begin() + length);
      pending_.erase(pending_.begin(), pending_.begin() + length);
      if (length != 0) return true;
    }
  }
  bool Failed() const { return failed_; }

 private:
  std::uint32_t maximum_;
  std::deque<std::uint8_t> pending_;
  bool failed_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  std::signal(SIGPIPE, SIG_IGN);
  SetNetworkLogHandler(&DropLog);
  if (size < 1 || size > 65536) return 0;
  static const std::uint32_t kMaximums[] = {16, 255, 4096};
  const std::uint32_t maximum = kMaximums[data[0] % 3];

  int ends[2];
  FuzzCheck(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) == 0, "no socket pair");
  FuzzCheck(SetSocketNonBlocking(ends[0]), "not non-blocking");
  int bufferSize = 1 << 20;
  ::setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof(bufferSize));
  TPlainSocketInterfaceManager manager;
  TNativeSocket socket(ends[0], &manager);
  TPacketHelperBase helper(maximum);
  TReferenceParser reference(maximum);
  std::uint16_t pending = 0;
  bool failed = false;
  Bytes expected;

  // Takes every complete frame now readable and compares it; false once reception failed.
  auto drain = [&]() {
    for (;;) {
      std::uint16_t received = 0;
      if (!helper.ReceivePacket(&socket, pending, received)) return false;
      if (received == 0) {
        FuzzCheck(!reference.Next(expected), "a complete frame was not delivered");
        return true;
      }
      FuzzCheck(reference.Next(expected), "a frame the reference does not have");
      FuzzCheck(expected.size() == received && std::memcmp(expected.data(), helper.GetReceiveBuffer(), received) == 0,
            "a frame with other bytes");
    }
  };

  std::size_t at = 1;
  while (at < size && !failed) {
    const std::size_t chunk = data[at] < size - at - 1 ? data[at] : size - at - 1;
    const std::uint8_t* bytes = data + at + 1;
    at += 1 + chunk;
    if (chunk == 0) continue;
    FuzzCheck(::send(ends[1], bytes, chunk, 0) == static_cast<ssize_t>(chunk), "chunk not written");
    reference.Add(bytes, chunk);
    failed = !drain();
    if (failed) {
      FuzzCheck(!reference.Next(expected), "a complete frame was lost before the failure");
      FuzzCheck(reference.Failed(), "reception failed on a sound stream");
    }
  }
  if (!failed) {
    FuzzCheck(!reference.Failed(), "a bad length was accepted");
    ::close(ends[1]);
    ends[1] = -1;
    // What is complete still comes out; then the closed stream ends reception.
    FuzzCheck(!drain(), "reception went on after the writer closed");
    FuzzCheck(!reference.Next(expected), "a complete frame was lost at the close");
  }
  if (ends[1] != -1) ::close(ends[1]);
  return 0;
}
