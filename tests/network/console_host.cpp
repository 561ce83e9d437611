// A remote console for the client tests: the registry with a test command, the listener on a port
// the system picks, and the event loop, run until standard input closes.
//
//   console_host PASSWORD
//
// Prints "port N" once listening; the library's log lines go to standard error. Commands: "echo"
// answers its whole line, "long N" answers N letters. Exits 0 after an orderly stop, 1 when
// it cannot listen, 2 when standard input stays open for two minutes.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "network/console/console_command_registry.h"
#include "network/console/rcon_server.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/native_socket.h"
#include "support/console_test_commands.h"
#include "support/engine_test_environment.h"

namespace {

using namespace Orvan;
using namespace Orvan::ServerTools;

// The longest a test may keep the host running.
constexpr auto kLifetimeLimit = std::chrono::minutes(2);

bool InputClosed() {
  pollfd input{STDIN_FILENO, POLLIN, 0};
  if (::poll(&input, 1, 0) != 1) return false;
  char chunk[64];
  return ::read(STDIN_FILENO, chunk, sizeof(chunk)) <= 0;
}

std::uint16_t ListeningPort(Network::TNativeSocket* listener) {
  sockaddr_in6 address{};
  socklen_t length = sizeof(address);
  if (::getsockname(listener->GetDescriptor(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return ntohs(address.sin6_port);
}

int Run(const char* password) {
  Network::TSocketInterfaceManagerForLibEvent manager(false);
  TConsoleCommandRegistry registry;
  registry.SetPassword(password);
  OrvTest::TEchoCommand echo;
  OrvTest::TLongReplyCommand longText;
  registry.RegisterCommand("echo", &echo);
  registry.RegisterCommand("long", &longText);
  RConServer server(&registry);
  server.Listen(&manager, 0);
  if (server.GetListenSocket() == nullptr) return 1;
  std::printf("port %u\n", static_cast<unsigned>(ListeningPort(server.GetListenSocket())));
  std::fflush(stdout);

  const auto deadline = std::chrono::steady_clock::now() + kLifetimeLimit;
  while (!InputClosed()) {
    if (std::chrono::steady_clock::now() > deadline) return 2;
    TTimeStamp now;
    GetTimeStamp(now);
    server.Update(now);
    manager.RunEventLoop(25);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PASSWORD\n", argv[0]);
    return 1;
  }
  ::signal(SIGPIPE, SIG_IGN);
  OrvTest::StartEngineForTests();
  Network::SetNetworkLogHandler([](int level, const char* text) { std::fprintf(stderr, "[%d] %s\n", level, text); });
  const int status = Run(argv[1]);
  OrvTest::StopEngineForTests();
  return status;
}
