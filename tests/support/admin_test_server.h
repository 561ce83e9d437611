// A whole server in process for the admin command and ban tests: the main task, this game's
// session started as the main loop starts it (files read, phase machine in match making) and
// clients admitted with a name, with or without a loopback connection whose client end the test
// reads. Several may be made one after the other in the same working folder, as restarts.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/operations/operation_with_time_out.h"
#include "network/packets/buffer_io.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
#include "support/network_test_helpers.h"
#include "support/scripted_stream.h"

namespace OrvTest {

class TAdminTestServer {
 public:
  TAdminTestServer() {
    settings_.clientPort = FreeClientPort();
    task_ = CreateTask(settings_, &session_);
    session_.Initialize();
    task_->AttachMatchMakingStream(&mms_, Orvan::Dedicated::MatchMakingLinkState::Ready);
    session_.CreateStateManager();
  }
  ~TAdminTestServer() {
    session_.Shutdown();
    session_.ClosePendingClients();
    // Kills still waiting for a client's close end here.
    task_->GetOperationManager()->CancelAll();
    session_.GetPropertyTable()->StopReporting();
    for (int descriptor : clientEnds_) ::close(descriptor);
    Orvan::Dedicated::TMainServerTask::DestroyInstance();
  }
  TAdminTestServer(const TAdminTestServer&) = delete;
  TAdminTestServer& operator=(const TAdminTestServer&) = delete;

  Orvan::Dedicated::TStrivexDedicatedSession& Session() { return session_; }
  Orvan::Dedicated::TMainServerTask& Task() { return *task_; }

  // Admits the client and names it (PlayerName, forced); with `connected`, over a loopback
  // connection whose client end ClientEnd(id) gives. Null, with a test failure, when refused.
  Orvan::Dedicated::TDedicatedUser* Admit(std::uint64_t id, const char* name = "Player", bool spectator = false,
                                          bool connected = false) {
    Orvan::Network::TBufferEventSocket* socket = nullptr;
    if (connected) {
      int client = -1;
      socket = AcceptLoopbackClient(listener_, task_->GetSocketManager(), client);
      if (socket == nullptr) return nullptr;
      clientEnds_.push_back(client);
      endIds_.push_back(id);
    }
    Orvan::Dedicated::TDedicatedUser* user = AdmitClient(session_, socket, id);
    if (user == nullptr) return nullptr;
    user->SetUserVariable("PlayerName", name, false, false, false, true);
    user->SetSpectator(spectator);
    return user;
  }
  Orvan::Dedicated::TDedicatedUser* Find(std::uint64_t id) const {
    return session_.FindClientById(Orvan::Network::OrvNetId::FromValue(id));
  }

  std::string Property(const char* name) const { return session_.GetPropertyTable()->GetValue(name).c_str(); }
  void SetProperty(const char* name, const char* value) {
    session_.GetPropertyTable()->SetVariable(name, value, false, false, false, true);
  }
  std::string Variable(std::uint64_t id, const char* name) const {
    const Orvan::Dedicated::TDedicatedUser* user = Find(id);
    return user != nullptr ? user->GetUserVariable(name)->GetValue().c_str() : "<gone>";
  }

  // The reason of the last packet (channel 199) that the client of `id` received before its
  // connection was closed, running the loop until it came; -1 when none came.
  std::int64_t ReceiveLastPacketReason(std::uint64_t id) {
    int descriptor = -1;
    for (std::size_t i = 0; i < endIds_.size(); ++i) {
      if (endIds_[i] == id) descriptor = clientEnds_[i];
    }
    if (descriptor == -1) return -1;
    std::string bytes;
    std::int64_t reason = -1;
    RunLoopUntil(*task_->GetSocketManager(), [&] {
      while (reason == -1 && WaitReadable(descriptor, 0)) {
        char buffer[4096];
        const ssize_t got = ::recv(descriptor, buffer, sizeof(buffer), 0);
        if (got <= 0) return true;
        bytes.append(buffer, static_cast<std::size_t>(got));
        reason = FindLastPacketReason(bytes);
      }
      return reason != -1;
    });
    return reason;
  }

 private:
  // The value of the first whole frame of channel 199 in the bytes; -1 when there is none.
  static std::int64_t FindLastPacketReason(const std::string& bytes) {
    std::size_t at = 0;
    while (bytes.size() >= at + 2) {
      const std::size_t length =
          (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
      if (length == 0 || bytes.size() < at + 2 + length) break;
      const auto* frame = reinterpret_cast<const std::uint8_t*>(bytes.data() + at + 2);
      if (frame[0] == Orvan::Dedicated::kChannelLastPacket) {
        Orvan::Network::TFixedBufferReader reader(frame + 1, static_cast<std::uint32_t>(length - 1));
        Orvan::Dedicated::TSystemMessage message;
        if (Orvan::Dedicated::ReadSystemMessage(reader, message)) return message.value;
      }
      at += 2 + length;
    }
    return -1;
  }

  TTaskSettings settings_;
  Orvan::Dedicated::TStrivexDedicatedSession session_{24};
  TScriptedStream mms_;
  Orvan::Dedicated::TMainServerTask* task_ = nullptr;
  TLoopbackListener listener_;
  std::vector<int> clientEnds_;
  std::vector<std::uint64_t> endIds_;
};

}  // namespace OrvTest
