#include "network/sockets/buffer_event_socket.h"

#include <arpa/inet.h>
#include <event2/buffer.h>
#include <event2/bufferevent_struct.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/rate_limit_group.h"
#include "network/sockets/socket_utilities.h"
#include "support/event_loop_test_helpers.h"
#include "support/network_test_helpers.h"
#include "support/peer_process.h"

namespace Orvan::Network {
namespace {

using OrvTest::RunLoopUntil;
using OrvTest::TCapturedNetworkLog;

// libevent's allocations pass through here (installed before main, ahead of any libevent call),
// so a test can make the next one fail.
struct TLibEventAllocations {
  static inline int untilFailure = -1;  // allocations left before one fails; -1: none fails
  static bool FailNow() {
    if (untilFailure < 0) return false;
    return untilFailure-- == 0;
  }
  static void* Allocate(std::size_t size) { return FailNow() ? nullptr : std::malloc(size); }
  static void* Reallocate(void* block, std::size_t size) { return FailNow() ? nullptr : std::realloc(block, size); }
  static void Free(void* block) { std::free(block); }
};
[[maybe_unused]] const bool g_libEventAllocationsInstalled =
    (event_set_mem_functions(&TLibEventAllocations::Allocate, &TLibEventAllocations::Reallocate,
                             &TLibEventAllocations::Free),
     true);

bool DescriptorIsOpen(int descriptor) { return ::fcntl(descriptor, F_GETFD) != -1; }

// What the callbacks of a socket saw; the callback argument of every test socket.
struct TSocketLog {
  std::string received;
  std::vector<short> events;
  bool Has(short flag) const {
    for (short seen : events) {
      if ((seen & flag) != 0) return true;
    }
    return false;
  }
};

void CollectInput(bufferevent* bufferEvent, void* log) {
  char chunk[512];
  std::size_t n;
  while ((n = bufferevent_read(bufferEvent, chunk, sizeof(chunk))) != 0) {
    static_cast<TSocketLog*>(log)->received.append(chunk, n);
  }
}

void CollectEvent(bufferevent*, short events, void* log) { static_cast<TSocketLog*>(log)->events.push_back(events); }

void Watch(TSocketInterfaceManagerForLibEvent& manager, TBufferEventSocket& socket, TSocketLog& log) {
  manager.SetCallbackForBufferEvent(&socket, true, false, &CollectInput);
  manager.SetEventCallbackForBufferEvent(&socket, &CollectEvent);
  manager.SetUserDataForBufferEvent(&socket, &log);
}

std::string ReceiveSome(int descriptor) {
  if (!OrvTest::WaitReadable(descriptor)) return {};
  char chunk[256];
  const ssize_t n = ::recv(descriptor, chunk, sizeof(chunk), 0);
  return n > 0 ? std::string(chunk, static_cast<std::size_t>(n)) : std::string();
}

class BufferEventSocketTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { OrvTest::IgnoreSigpipe(); }
  TCapturedNetworkLog log_;
  TSocketInterfaceManagerForLibEvent manager_{false};
  OrvTest::TSocketPair pair_;
};

TEST_F(BufferEventSocketTest, ReceiveChecksReadsAndWritesGoThroughTheBuffers) {
  TBufferEventSocket socket(pair_.TakeFirst(), &manager_);
  ASSERT_FALSE(socket.IsClosed());
  EXPECT_FALSE(socket.IsTls());
  EXPECT_NE(socket.GetDescriptor(), -1);

  ASSERT_EQ(::write(pair_.second, "a", 1), 1);
  ASSERT_TRUE(RunLoopUntil(manager_, [&] { return socket.CheckIfProblemDuringReceiving(1) == kReceiveReady; }));
  EXPECT_EQ(socket.CheckIfProblemDuringReceiving(2), kReceiveNotYet);
  ASSERT_EQ(::write(pair_.second, "b", 1), 1);
  ASSERT_TRUE(RunLoopUntil(manager_, [&] { return socket.CheckIfProblemDuringReceiving(2) == kReceiveReady; }));
  char bytes[4] = {};
  EXPECT_EQ(socket.Read(bytes, sizeof(bytes)), 2u);
  EXPECT_STREQ(bytes, "ab");

  EXPECT_TRUE(socket.Write("xyz", 3));
  manager_.RunEventLoop(0);
  EXPECT_EQ(ReceiveSome(pair_.second), "xyz");

  socket.Close();
  socket.Close();
  EXPECT_TRUE(socket.IsClosed());
  EXPECT_EQ(socket.GetDescriptor(), -1);
  EXPECT_EQ(socket.CheckIfProblemDuringReceiving(1), kReceiveFailure);
  EXPECT_EQ(socket.Read(bytes, 1), 0u);
  EXPECT_FALSE(socket.Write("x", 1));
  // The descriptor closes once libevent has let go of the bufferevent, in the next loop slice.
  manager_.RunEventLoop(0);
  EXPECT_EQ(ReceiveSome(pair_.second), "");
}

// Bytes written now leave without the loop when nothing is queued before them; behind queued bytes,
// or past what the system takes, they wait in the queue in their order; a write that fails leaves
// them queued, for the loop's write to report.
TEST_F(BufferEventSocketTest, WriteNowSendsAtOnceOrQueuesInOrder) {
  TBufferEventSocket socket(pair_.TakeFirst(), &manager_);
  // As the client listener leaves an accepted connection: the loop's writes must not block.
  ASSERT_TRUE(SetSocketNonBlocking(socket.GetDescriptor()));
  TSocketLog seen;
  Watch(manager_, socket, seen);
  evbuffer* output = bufferevent_get_output(socket.GetBufferEvent());
  char ab[] = "ab";
  char cd[] = "cd";
  const iovec pieces[] = {{ab, 2}, {cd, 2}};

  EXPECT_TRUE(socket.WriteNow(pieces, 2));
  EXPECT_EQ(evbuffer_get_length(output), 0u);
  EXPECT_EQ(ReceiveSome(pair_.second), "abcd");

  EXPECT_TRUE(socket.Write("1", 1));
  EXPECT_TRUE(socket.WriteNow(pieces, 2));
  EXPECT_EQ(evbuffer_get_length(output), 5u);
  EXPECT_FALSE(OrvTest::WaitReadable(pair_.second, 0));
  std::string received;
  auto drain = [&] {
    char chunk[65536];
    ssize_t n;
    while ((n = ::recv(pair_.second, chunk, sizeof(chunk), MSG_DONTWAIT)) > 0) {
      received.append(chunk, static_cast<std::size_t>(n));
    }
  };
  ASSERT_TRUE(RunLoopUntil(manager_, [&] {
    drain();
    return received.size() >= 5;
  }));
  EXPECT_EQ(received, "1abcd");

  // A send buffer far smaller than the bytes: the system takes a part, the rest follows it.
  const int small = 4096;
  ASSERT_EQ(::setsockopt(socket.GetDescriptor(), SOL_SOCKET, SO_SNDBUF, &small, sizeof(small)), 0);
  std::string big(1 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i % 251);
  const iovec one{big.data(), big.size()};
  EXPECT_TRUE(socket.WriteNow(&one, 1));
  EXPECT_GT(evbuffer_get_length(output), 0u);
  EXPECT_LT(evbuffer_get_length(output), big.size());
  received.clear();
  ASSERT_TRUE(RunLoopUntil(manager_, [&] {
    drain();
    return received.size() >= big.size();
  }));
  EXPECT_TRUE(received == big);

  pair_.CloseSecond();
  EXPECT_TRUE(socket.WriteNow(pieces, 2));
  EXPECT_EQ(evbuffer_get_length(output), 4u);
  ASSERT_TRUE(RunLoopUntil(manager_, [&] { return !seen.events.empty(); }));

  socket.Close();
  EXPECT_FALSE(socket.WriteNow(pieces, 2));
}

TEST_F(BufferEventSocketTest, CallbacksAndTheirArgumentAreInstalledThroughTheManager) {
  TBufferEventSocket socket(pair_.TakeFirst(), &manager_);
  TSocketLog seen;
  Watch(manager_, socket, seen);
  ASSERT_EQ(::write(pair_.second, "hello", 5), 5);
  ASSERT_TRUE(RunLoopUntil(manager_, [&] { return seen.received == "hello"; }));

  pair_.CloseSecond();
  ASSERT_TRUE(RunLoopUntil(manager_, [&] { return !seen.events.empty(); }));
  EXPECT_EQ(seen.events[0], BEV_EVENT_READING | BEV_EVENT_EOF);
  errno = 0;
  EXPECT_STREQ(BufferEventErrorToString(socket.GetBufferEvent(), seen.events[0]).c_str(),
               "Error during reading. End of file received.");
}

TEST_F(BufferEventSocketTest, TimeoutsAreWholeSecondsOrNone) {
  TBufferEventSocket socket(pair_.TakeFirst(), &manager_);
  const bufferevent* bufferEvent = socket.GetBufferEvent();
  socket.SetTimeouts(10000);
  EXPECT_EQ(bufferEvent->timeout_read.tv_sec, 10000);
  EXPECT_EQ(bufferEvent->timeout_read.tv_usec, 0);
  EXPECT_EQ(bufferEvent->timeout_write.tv_sec, 10000);
  EXPECT_EQ(bufferEvent->timeout_write.tv_usec, 0);
  for (int none : {0, -3}) {
    manager_.SetTimeOutForBufferEvent(&socket, 7);
    EXPECT_EQ(bufferEvent->timeout_write.tv_sec, 7);
    manager_.SetTimeOutForBufferEvent(&socket, none);
    EXPECT_FALSE(evutil_timerisset(&bufferEvent->timeout_read)) << none;
    EXPECT_FALSE(evutil_timerisset(&bufferEvent->timeout_write)) << none;
  }
}

TEST_F(BufferEventSocketTest, ErrorTextsNameTheDirectionAndTheCause) {
  TBufferEventSocket plain(pair_.TakeFirst(), &manager_);
  OrvTest::TSocketPair other;
  TBufferEventSocket timed(other.TakeFirst(), &manager_);
  timed.SetTimeouts(30);
  const std::string reset = std::string("LibEvent: ") + std::strerror(ECONNRESET);
  struct TCase {
    TBufferEventSocket* socket;
    short events;
    int error;
    std::string text;
  };
  const TCase cases[] = {
      {&plain, BEV_EVENT_READING | BEV_EVENT_EOF, 0, "Error during reading. End of file received."},
      {&plain, BEV_EVENT_WRITING | BEV_EVENT_ERROR, ECONNRESET, "Error during writing. " + reset},
      {&plain, BEV_EVENT_READING | BEV_EVENT_WRITING | BEV_EVENT_ERROR | BEV_EVENT_EOF, ECONNRESET,
       "Error during reading. " + reset},
      {&plain, BEV_EVENT_ERROR, 0, "Error of unspecified type. Unknown error"},
      {&plain, BEV_EVENT_TIMEOUT, 0, "Error of unspecified type. Unwanted timeout."},
      {&timed, BEV_EVENT_READING | BEV_EVENT_TIMEOUT, EAGAIN, "Error during reading. Unhandled timeout."},
      {&plain, BEV_EVENT_CONNECTED, 0, "Error of unspecified type. Connected event received while not expected."},
      {&plain, BEV_EVENT_WRITING, 0, "Error during writing. Unknown error."},
      {nullptr, BEV_EVENT_ERROR | BEV_EVENT_TIMEOUT, 0, "Error of unspecified type. Unknown error"},
      {nullptr, BEV_EVENT_TIMEOUT, 0, "Error of unspecified type. Unwanted timeout."},
  };
  for (const TCase& test : cases) {
    bufferevent* bufferEvent = test.socket != nullptr ? test.socket->GetBufferEvent() : nullptr;
    errno = test.error;
    EXPECT_EQ(std::string(BufferEventErrorToString(bufferEvent, test.events).c_str()), test.text)
        << "events " << test.events;
  }
}

TEST_F(BufferEventSocketTest, ASocketThatCannotBeSetUpIsClosedAndSoIsItsDescriptor) {
  struct TCase {
    const char* name;
    int tls;           // -1 plain, 0 TLS connecting, 1 TLS accepting
    int untilFailure;  // libevent allocations before the failing one; -1: none fails
    const char* logged;
  };
  const TCase cases[] = {
      {"plain bufferevent", -1, 0, "TBufferEventSocket::TBufferEventSocket() -> Failed to create bufferevent !"},
      {"TLS bufferevent", 0, 0, "TBufferEventSocket::TBufferEventSocket() -> Failed to create SSL bufferevent !"},
      {"no server context", 1, -1,
       "TBufferEventSocket::TBufferEventSocket() -> No server SSL context, connection refused !"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.name);
    OrvTest::TSocketPair pair;
    const int descriptor = pair.TakeFirst();
    TCapturedNetworkLog::Lines().clear();
    TLibEventAllocations::untilFailure = test.untilFailure;
    TBufferEventSocket socket = test.tls < 0 ? TBufferEventSocket(descriptor, &manager_)
                                             : TBufferEventSocket(descriptor, &manager_, test.tls == 1);
    TLibEventAllocations::untilFailure = -1;
    EXPECT_TRUE(socket.IsClosed());
    EXPECT_EQ(socket.GetDescriptor(), -1);
    EXPECT_FALSE(socket.IsTls());
    EXPECT_FALSE(DescriptorIsOpen(descriptor));
    EXPECT_EQ(TCapturedNetworkLog::Texts(), std::vector<std::string>{test.logged});
  }
}

TEST_F(BufferEventSocketTest, ConnectToAddressConnectsAPlainSocketToALoopbackPeer) {
  OrvTest::TLoopbackListener listener;
  ASSERT_NE(listener.port, 0);
  TBufferEventSocket socket(-1, &manager_);
  TSocketLog seen;
  Watch(manager_, socket, seen);
  ASSERT_EQ(socket.ConnectToAddress(AF_INET, htonl(INADDR_LOOPBACK), htons(listener.port)), 0);
  ASSERT_TRUE(RunLoopUntil(manager_, [&] { return seen.Has(BEV_EVENT_CONNECTED); }));
  EXPECT_NE(socket.GetDescriptor(), -1);
  const int accepted = listener.Accept();
  ASSERT_NE(accepted, -1);
  EXPECT_TRUE(socket.Write("over tcp", 8));
  manager_.RunEventLoop(0);
  EXPECT_EQ(ReceiveSome(accepted), "over tcp");
  ::close(accepted);
}

TEST_F(BufferEventSocketTest, ConnectToHostResolvesThroughTheDnsBase) {
  // The name is in the DNS base's own hosts table, so no query leaves the machine.
  OrvTest::TTemporaryFolder folder;
  std::ofstream(folder.Path("hosts")) << "127.0.0.1 console.test\n";
  evdns_base* dns = evdns_base_new(manager_.GetEventBase(), 0);
  ASSERT_NE(dns, nullptr);
  ASSERT_EQ(evdns_base_load_hosts(dns, folder.Path("hosts").c_str()), 0);
  OrvTest::TLoopbackListener listener;
  {
    TBufferEventSocket socket(-1, &manager_);
    TSocketLog seen;
    Watch(manager_, socket, seen);
    ASSERT_EQ(socket.ConnectToHost(dns, AF_INET, "console.test", listener.port), 0);
    ASSERT_TRUE(RunLoopUntil(manager_, [&] { return seen.Has(BEV_EVENT_CONNECTED | BEV_EVENT_ERROR); }));
    EXPECT_TRUE(seen.Has(BEV_EVENT_CONNECTED));
    const int accepted = listener.Accept();
    EXPECT_NE(accepted, -1);
    ::close(accepted);
  }
  evdns_base_free(dns, 1);
  manager_.RunEventLoop(0);
}

TEST_F(BufferEventSocketTest, RateLimitGroupTakesSocketsThatLeaveItWhenTheyClose) {
  const timeval tick{1, 0};
  {
    TRateLimitGroup unconfigured;
    TBufferEventSocket socket(pair_.TakeFirst(), &manager_);
    EXPECT_FALSE(unconfigured.AddSocket(&socket));
  }

  auto* group = new TRateLimitGroup;
  ASSERT_EQ(group->SetRateLimit(&manager_, 0x40000000, 0x40000000, &tick), 0);
  ASSERT_NE(group->GetGroup(), nullptr);
  bufferevent_rate_limit_group* configured = group->GetGroup();
  EXPECT_EQ(group->SetRateLimit(&manager_, 4096, 8192, &tick), 0);
  EXPECT_EQ(group->GetGroup(), configured);

  OrvTest::TSocketPair pairs[3];
  std::vector<TBufferEventSocket*> sockets;
  for (OrvTest::TSocketPair& pair : pairs) {
    sockets.push_back(new TBufferEventSocket(pair.TakeFirst(), &manager_));
    EXPECT_TRUE(group->AddSocket(sockets.back()));
  }
  EXPECT_TRUE(group->RemoveSocket(sockets[0]));
  EXPECT_TRUE(group->RemoveSocket(nullptr));

  // Closing is enough to leave the group: libevent frees closed bufferevents only later, and the
  // group is freed before it has had the chance.
  for (TBufferEventSocket* socket : sockets) socket->Close();
  EXPECT_TRUE(group->RemoveSocket(sockets[1]));
  EXPECT_FALSE(group->AddSocket(sockets[2]));
  delete group;
  for (TBufferEventSocket* socket : sockets) delete socket;
  manager_.RunEventLoop(0);
}

// ---- TLS, with a certificate made for the test; Python's ssl module is the peer.

constexpr const char* kTlsClient = R"(
import socket, ssl, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
context.check_hostname = False
context.load_verify_locations(sys.argv[2])
with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=10) as raw:
    with context.wrap_socket(raw) as tls:
        tls.sendall(b"hello over tls\n")
        data = b""
        while not data.endswith(b"\n"):
            chunk = tls.recv(100)
            if not chunk:
                break
            data += chunk
        print(data.decode().strip(), tls.version(), flush=True)
)";

constexpr const char* kTlsServer = R"(
import socket, ssl, sys
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(sys.argv[1], sys.argv[2])
with socket.socket() as listener:
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    listener.settimeout(10)
    print(listener.getsockname()[1], flush=True)
    connection, _ = listener.accept()
    connection.settimeout(10)
    with context.wrap_socket(connection, server_side=True) as tls:
        data = b""
        while not data.endswith(b"\n"):
            chunk = tls.recv(100)
            if not chunk:
                break
            data += chunk
        tls.sendall(b"echo: " + data)
        print(data.decode().strip(), flush=True)
)";

class BufferEventSocketTlsTest : public OrvTest::TCertificateSuiteTest {
 protected:
  void SetUp() override { CopyCertificateFiles({kServerCertificateFile, kServerPrivateKeyFile}); }
  static std::string Certificate() { return certificate_->Certificate(); }
  static std::string Key() { return certificate_->Key(); }

  TCapturedNetworkLog log_;
};

// Echoes every complete line back.
void EchoLines(bufferevent* bufferEvent, void* log) {
  auto* seen = static_cast<TSocketLog*>(log);
  CollectInput(bufferEvent, log);
  const std::size_t newline = seen->received.find('\n');
  if (newline == std::string::npos) return;
  bufferevent_write(bufferEvent, seen->received.data(), newline + 1);
}

TEST_F(BufferEventSocketTlsTest, AServerFormSocketCompletesAHandshakeAndEchoes) {
  TSocketInterfaceManagerForLibEvent manager(true);
  ASSERT_NE(manager.GetServerSslContext(), nullptr);
  OrvTest::TLoopbackListener listener;
  OrvTest::TPeerProcess client;
  ASSERT_TRUE(client.Start({ORV_PYTHON3, "-c", kTlsClient, std::to_string(listener.port), Certificate()}));
  const int accepted = listener.Accept();
  ASSERT_NE(accepted, -1);

  TBufferEventSocket socket(accepted, &manager, true);
  ASSERT_FALSE(socket.IsClosed());
  EXPECT_TRUE(socket.IsTls());
  TSocketLog seen;
  manager.SetCallbackForBufferEvent(&socket, true, false, &EchoLines);
  manager.SetEventCallbackForBufferEvent(&socket, &CollectEvent);
  manager.SetUserDataForBufferEvent(&socket, &seen);
  // The client prints what came back once its line has made the round trip.
  std::string echoed;
  ASSERT_TRUE(RunLoopUntil(manager, [&] { return client.TryReadLine(echoed); }));
  EXPECT_EQ(seen.received, "hello over tls\n");
  EXPECT_EQ(echoed.rfind("hello over tls TLSv1.", 0), 0u) << echoed;
  socket.Close();
  manager.RunEventLoop(0);
}

TEST_F(BufferEventSocketTlsTest, AClientFormSocketConnectsToATlsServer) {
  TSocketInterfaceManagerForLibEvent manager(false);
  OrvTest::TPeerProcess server;
  ASSERT_TRUE(server.Start({ORV_PYTHON3, "-c", kTlsServer, Certificate(), Key()}));
  std::string port;
  ASSERT_TRUE(server.ReadLine(port, 10000));

  TBufferEventSocket socket(-1, &manager, false);
  ASSERT_FALSE(socket.IsClosed());
  EXPECT_TRUE(socket.IsTls());
  TSocketLog seen;
  Watch(manager, socket, seen);
  ASSERT_EQ(
      socket.ConnectToAddress(AF_INET, htonl(INADDR_LOOPBACK), htons(static_cast<std::uint16_t>(std::stoi(port)))), 0);
  EXPECT_TRUE(socket.Write("ping\n", 5));
  ASSERT_TRUE(RunLoopUntil(manager, [&] { return seen.received == "echo: ping\n"; }));
  EXPECT_TRUE(seen.Has(BEV_EVENT_CONNECTED));
  std::string received;
  ASSERT_TRUE(server.ReadLine(received, 10000));
  EXPECT_EQ(received, "ping");
  socket.Close();
  manager.RunEventLoop(0);
}

TEST_F(BufferEventSocketTlsTest, AClearTextPeerFailsTheHandshakeWithAnOpenSslError) {
  TSocketInterfaceManagerForLibEvent manager(true);
  OrvTest::TLoopbackListener listener;
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(listener.port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  const int accepted = listener.Accept();
  ASSERT_NE(accepted, -1);
  TBufferEventSocket socket(accepted, &manager, true);
  struct TFailure {
    short events = 0;
    std::string text;
  } failure;
  manager.SetEventCallbackForBufferEvent(&socket, [](bufferevent* bufferEvent, short events, void* argument) {
    auto* seen = static_cast<TFailure*>(argument);
    seen->events = events;
    errno = 0;  // the text then comes from the TLS layer's own error
    seen->text = BufferEventErrorToString(bufferEvent, events).c_str();
  });
  manager.SetUserDataForBufferEvent(&socket, &failure);
  const char request[] = "GET / HTTP/1.0\r\n\r\n";
  ASSERT_EQ(::send(client, request, sizeof(request) - 1, 0), static_cast<ssize_t>(sizeof(request) - 1));
  ASSERT_TRUE(RunLoopUntil(manager, [&] { return failure.events != 0; }));
  EXPECT_NE(failure.events & BEV_EVENT_ERROR, 0);
  EXPECT_NE(failure.text.find(". OpenSSL: error:"), std::string::npos) << failure.text;
  socket.Close();
  manager.RunEventLoop(0);
  ::close(client);
}

}  // namespace
}  // namespace Orvan::Network
