// Helpers of the server's unit tests: a working folder of its own with the network log captured,
// the main task made from a few settings (the rest defaulted as the command line defaults them),
// and the match-making server's end of the link with the frames it sends, written byte by byte.
#pragma once

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/admin/dedicated_property_value.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/program/command_line.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/sockets/buffer_event_socket.h"
#include "support/event_loop_test_helpers.h"
#include "support/in_process_server.h"
#include "support/network_test_helpers.h"
#include "support/temporary_folder.h"

namespace OrvTest {

// A test in a fresh working folder (where the server reads and writes its files), with the
// network log captured and the exit request cleared; the main task, when one was made, goes with it.
class TDedicatedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    IgnoreSigpipe();
    Orvan::Dedicated::gExitRequested = 0;
  }
  void TearDown() override {
    Orvan::Dedicated::TMainServerTask::DestroyInstance();
    Orvan::Dedicated::gExitRequested = 0;
  }

  void WriteFile(const std::string& name, const std::string& text) { std::ofstream(folder_.Path(name)) << text; }

  static std::vector<std::string> Lines() { return TCapturedNetworkLog::Texts(); }
  static bool Logged(const std::string& line) {
    const std::vector<std::string> lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // The lines logged from index `from` on.
  static std::vector<std::string> LinesFrom(std::size_t from) {
    const std::vector<std::string> lines = Lines();
    return std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(std::min(from, lines.size())),
                                    lines.end());
  }
  static int LevelOf(const std::string& line) {
    for (const auto& entry : TCapturedNetworkLog::Lines()) {
      if (entry.text == line) return entry.level;
    }
    return -1;
  }

  TTemporaryFolder folder_;
  TScopedWorkingDirectory workingDirectory_{folder_.Path()};
  TCapturedNetworkLog log_;
};

// The task's settings that tests change; everything else as the command line leaves it.
struct TTaskSettings {
  std::uint32_t gameId = Orvan::Dedicated::kDefaultGameId;
  std::string ownAddress;
  std::uint16_t clientPort = 10000;
  std::string matchMakingAddress = Orvan::Dedicated::kDefaultMatchMakingAddress;
  std::string matchMakingPort;
  const char* forcedVersion = nullptr;
  bool slave = false;
  std::string rconPassword;
  std::string rconPort;
  std::string chatLogFile;  // none when empty
  std::string login = "ab";
  std::string key = "c";
  std::string gameReportingUrl = Orvan::Dedicated::kDefaultGameReportingUrl;
};

// The texts the task keeps pointers to live in the settings: keep them alive with the task.
inline Orvan::Dedicated::TMainServerTask* CreateTask(const TTaskSettings& settings,
                                                     Orvan::Dedicated::TDedicatedSession* session) {
  return Orvan::Dedicated::TMainServerTask::CreateInstance(
      settings.gameId, settings.ownAddress.c_str(), settings.clientPort, settings.matchMakingAddress.c_str(),
      settings.matchMakingPort.c_str(), session, nullptr, settings.forcedVersion, true, settings.slave,
      settings.rconPassword.c_str(), settings.rconPort.c_str(), settings.chatLogFile.c_str(),
      settings.gameReportingUrl.c_str(), settings.login.c_str(), settings.key.c_str());
}

// The server's side of the link as the test sees it: the listener the server connects to and the
// connection it made.
class TLinkPeer {
 public:
  ~TLinkPeer() { CloseAccepted(); }
  std::string PortText() const { return std::to_string(listener_.port); }
  // The connection the server made; -1 when none came in time.
  int Accept() {
    if (accepted_ == -1) accepted_ = listener_.Accept();
    return accepted_;
  }
  // Bytes received until `count` arrived or nothing came for `waitMilliseconds`.
  std::string Receive(std::size_t count, int waitMilliseconds = 5000) {
    std::string bytes;
    while (bytes.size() < count && OrvTest::WaitReadable(accepted_, waitMilliseconds)) {
      char buffer[512];
      const ssize_t got = ::recv(accepted_, buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
  }
  // True when every byte was handed to the system in one send.
  bool Send(const std::string& bytes) {
    return ::send(accepted_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  void CloseAccepted() {
    if (accepted_ != -1) ::close(accepted_);
    accepted_ = -1;
  }

 private:
  OrvTest::TLoopbackListener listener_;
  int accepted_ = -1;
};

// A port free right now for the server's client port, which the server binds on every address, for
// TCP and (the property query) for UDP. The TCP probe binds every address too: a port free on
// 127.0.0.1 alone may still be held on another loopback address, by a connection from 127.0.0.2 in
// TIME_WAIT say, and the server's bind would then fail. 0 when none was found.
inline std::uint16_t FreeClientPort() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int tcp = ::socket(AF_INET, SOCK_STREAM, 0);
    if (tcp < 0) return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t length = sizeof(address);
    if (::bind(tcp, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(tcp, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(tcp);
      continue;
    }
    const int udp = ::socket(AF_INET, SOCK_DGRAM, 0);
    const bool udpFree = udp >= 0 && ::bind(udp, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    if (udp >= 0) ::close(udp);
    ::close(tcp);
    if (udpFree) return ntohs(address.sin_port);
  }
  return 0;
}

// A port on which nothing listens: bound, then let go.
inline std::string ClosedPortText() {
  OrvTest::TLoopbackListener listener;
  listener.Close();
  return std::to_string(listener.port);
}

// The server properties the phase machine and admission read, as the phase tests' sessions
// declare them: everyone may read them, nobody but the server change them; Password hidden.
inline void DeclarePhaseTestProperties(Orvan::Dedicated::TDedicatedPropertyTable* table) {
  using Orvan::Dedicated::TDedicatedPropertyValue;
  const char* const names[][2] = {{"NbMaxPlayer", "20"},     {"NbPlayer", "0"},  {"WithHost", "0"},
                                  {"ServerProtocol", "0.0"}, {"TimeLeft", "0"},  {"Version", "0"},
                                  {"GameState", "0"},        {"NeedPassword", "0"}};
  for (const auto& name : names) {
    table->DeclareVariable(name[0], new TDedicatedPropertyValue(name[1], false, false, false, false));
  }
  table->DeclareVariable("Password", new TDedicatedPropertyValue("", false, false, true, true));
}

// A client connected over loopback through the listener: the server's end wrapped for the
// manager (the session takes it), the client's end in `clientEnd` (the caller closes it). Null, with
// the test failed, when no connection could be made.
inline Orvan::Network::TBufferEventSocket* AcceptLoopbackClient(TLoopbackListener& listener,
                                                                Orvan::Network::TSocketInterfaceManagerForLibEvent* manager,
                                                                int& clientEnd) {
  clientEnd = ConnectLoopback(listener.port);
  const int accepted = listener.Accept();
  if (clientEnd == -1 || accepted == -1) {
    ADD_FAILURE() << "no loopback connection";
    return nullptr;
  }
  return new Orvan::Network::TBufferEventSocket(accepted, manager);
}

// A client taken in on `connection` (null for none) and brought through its login as admission
// sees it: identified as `id` with version "1.0", its (empty) statistics arrived. The admitted user,
// or null with a test failure.
inline Orvan::Dedicated::TDedicatedUser* AdmitClient(Orvan::Dedicated::TDedicatedSession& session,
                                                     Orvan::Network::TBufferEventSocket* connection,
                                                     std::uint64_t id) {
  Orvan::Dedicated::TDedicatedUser* user =
      AdmitWithStatistics(session, connection, id, Orvan::Dedicated::TUserStatisticsDocuments());
  if (user == nullptr) ADD_FAILURE() << "client " << id << " not admitted";
  return user;
}

inline std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

// Big-endian values and length-prefixed texts as the format letters pack them.
inline std::string BigEndian(std::uint64_t value, int bytes) {
  std::string text;
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) text += static_cast<char>(value >> shift);
  return text;
}
inline std::string LengthPrefixed(const std::string& text) { return BigEndian(text.size(), 4) + text; }
// A frame: the u16 length, the channel byte, the message.
inline std::string Frame(std::uint8_t channel, const std::string& message) {
  return BigEndian(message.size() + 1, 2) + static_cast<char>(channel) + message;
}
inline std::string InitAnswerFrame(std::uint8_t result, const std::string& gameInfo, std::uint64_t addressId) {
  return Frame(225, static_cast<char>(result) + LengthPrefixed(gameInfo) + BigEndian(addressId, 8));
}
inline std::string GameInfoFrame(const std::string& gameInfo) { return Frame(228, LengthPrefixed(gameInfo)); }
inline std::string SlaveUpdateFrame(std::uint64_t clientId, std::uint32_t playerLimit) {
  return Frame(229, BigEndian(clientId, 8) + BigEndian(playerLimit, 4));
}
// A client's connect packet: "Q#vsas" on channel 193, the login data 128 bytes of 0x41.
inline std::string ConnectFrame(std::uint64_t player, const std::string& version, const std::string& password) {
  return Frame(193, BigEndian(player, 8) + std::string(128, 'A') + LengthPrefixed(version) + std::string(1, '\0') +
                        LengthPrefixed(password));
}
inline std::string VerdictFrame(std::uint64_t playerId, std::uint8_t verdict) {
  return Frame(226, BigEndian(playerId, 8) + static_cast<char>(verdict));
}
// An address id for 127.0.0.1 (kind 4, the address as a sockaddr_in holds it in the low word).
inline constexpr std::uint64_t kLoopbackAddressId = 0x0400000000000000ull | 0x0100007Fu;

}  // namespace OrvTest
