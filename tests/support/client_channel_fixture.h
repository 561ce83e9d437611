// A fixture for the admitted clients' protocol in process: users admitted over socket pairs (the
// server's end is the user's connection, the other end the test's), a chat log in the working
// folder, the frames each peer was sent, and bytes fed to a user's reading loop.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <ctime>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/operations/operation_with_time_out.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/buffer_event_socket.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
#include "support/network_test_helpers.h"
#include "support/scripted_stream.h"

namespace OrvTest {

inline constexpr char kChatLog[] = "chat.txt";
// Sent to a peer after the calls under test: what it received before this frame is what they sent.
inline constexpr std::uint8_t kFenceChannel = 255;

// A chat message's data: the u32 the server passes on untouched, the text's length in little-endian
// order, the text.
inline std::string ChatData(const std::string& text) {
  return std::string("\x0a\x0b\x0c\x0d", 4) + static_cast<char>(text.size() & 0xFF) +
         static_cast<char>(text.size() >> 8) + text;
}
// A game message on channel 194: recipient, type letter, data.
inline std::string GameFrame(std::uint32_t recipient, char letter, const std::string& data) {
  return Frame(194, BigEndian(recipient, 4) + letter + data);
}
// What a player is sent for it: channel 194, the sender's id, the letter and data as they came.
inline std::string RelayBody(std::uint64_t sender, char letter, const std::string& data) {
  return "\xc2" + BigEndian(sender, 8) + letter + data;
}

// Admitted users over socket pairs (the server's end is the user's connection, the other end the
// test's), a chat log in the working folder, and the frames each peer was sent.
template <typename TSession>
class TChannelTest : public TDedicatedTest {
 protected:
  struct TPeer {
    std::uint64_t id = 0;
    Orvan::Dedicated::TDedicatedUser* user = nullptr;
    std::unique_ptr<TSocketPair> pair;
    std::string bytes;  // received, not yet cut into frames
  };

  void SetUp() override {
    TDedicatedTest::SetUp();
    settings_.chatLogFile = kChatLog;
    task_ = CreateTask(settings_, &session_);
    session_.Initialize();
    task_->AttachMatchMakingStream(&mms_, Orvan::Dedicated::MatchMakingLinkState::Ready);
  }
  void TearDown() override {
    session_.Shutdown();
    session_.ClosePendingClients();
    // The kills of kicked users still waiting for their peer: the manager does not end them itself.
    task_->GetOperationManager()->CancelAll();
    peers_.clear();
    TDedicatedTest::TearDown();
  }

  // Admitted as a client is once its statistics have come; what admission sends it is read away.
  TPeer& Admit(std::uint64_t id, bool spectator = false) {
    auto peer = std::make_unique<TPeer>();
    peer->id = id;
    peer->pair = std::make_unique<TSocketPair>();
    auto* connection = new Orvan::Network::TBufferEventSocket(peer->pair->TakeFirst(), task_->GetSocketManager());
    session_.OnNewConnection(connection, PeerAddress());
    Orvan::Dedicated::TUserWaitingForLogin* pending = session_.GetPendingClients()->FindById(Orvan::Network::OrvNetId());
    EXPECT_NE(pending, nullptr);
    pending->SetClientId(Orvan::Network::OrvNetId::FromValue(id));
    pending->SetClientVersion("1.0");
    session_.OnPendingClientStats(pending, false, Orvan::Dedicated::TUserStatisticsDocuments());
    peer->user = session_.FindClientById(Orvan::Network::OrvNetId::FromValue(id));
    EXPECT_NE(peer->user, nullptr);
    peer->user->SetSpectator(spectator);
    peers_.push_back(std::move(peer));
    for (auto& each : peers_) {
      if (IsAdmitted(*each)) Received(*each);
    }
    return *peers_.back();
  }
  // Compared by address: a user disconnected with ConnectionLost is gone.
  bool IsAdmitted(const TPeer& peer) const {
    return session_.FindClientById(Orvan::Network::OrvNetId::FromValue(peer.id)) == peer.user;
  }

  // The frames (channel byte and body) the peer was sent since the last call.
  std::vector<std::string> Received(TPeer& peer) {
    const std::uint8_t fenceBody = 0;
    EXPECT_TRUE(task_->GetClientFramer()->SendTypedPacket(peer.user->GetConnection(), kFenceChannel, &fenceBody, 1));
    const std::string fence = std::string(1, static_cast<char>(kFenceChannel)) + '\0';
    std::vector<std::string> frames;
    bool fenced = false;
    RunLoopUntil(*task_->GetSocketManager(), [&] {
      char buffer[4096];
      while (WaitReadable(peer.pair->second, 0)) {
        const ssize_t got = ::recv(peer.pair->second, buffer, sizeof(buffer), 0);
        if (got <= 0) return true;
        peer.bytes.append(buffer, static_cast<std::size_t>(got));
      }
      while (peer.bytes.size() >= 2) {
        const std::size_t length = (static_cast<std::uint8_t>(peer.bytes[0]) << 8) | static_cast<std::uint8_t>(peer.bytes[1]);
        if (peer.bytes.size() < 2 + length) break;
        std::string body = peer.bytes.substr(2, length);
        peer.bytes.erase(0, 2 + length);
        if (body == fence) {
          fenced = true;
          return true;
        }
        frames.push_back(body);
      }
      return false;
    });
    EXPECT_TRUE(fenced) << "the fence frame did not come back";
    return frames;
  }

  // The user's loop over the bytes, as its read callback runs it.
  bool Feed(TPeer& peer, const std::string& bytes) {
    stream_.Arrive(TScriptedStream::Bytes(bytes.begin(), bytes.end()));
    return session_.OnClientPacket(peer.user, &stream_);
  }

  std::vector<std::string> ChatLogLines() {
    std::vector<std::string> lines;
    std::ifstream file(folder_.Path(kChatLog), std::ios::binary);
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    return lines;
  }
  // The line without its "[seconds] " stamp, which must lie between the two times.
  static std::string Unstamped(const std::string& line, std::time_t from, std::time_t to) {
    const std::size_t close = line.find("] ");
    if (line.empty() || line[0] != '[' || close == std::string::npos) return "unstamped: " + line;
    const long long stamp = std::stoll(line.substr(1, close - 1));
    EXPECT_GE(stamp, static_cast<long long>(from));
    EXPECT_LE(stamp, static_cast<long long>(to));
    return line.substr(close + 2);
  }
  static std::string InvalidDataLine(std::uint64_t id) {
    return "Invalid client packet data received from " + std::to_string(id);
  }

  TTaskSettings settings_;
  TSession session_{24};
  TScriptedStream mms_;
  TScriptedStream stream_;
  Orvan::Dedicated::TMainServerTask* task_ = nullptr;
  std::vector<std::unique_ptr<TPeer>> peers_;
};

}  // namespace OrvTest
