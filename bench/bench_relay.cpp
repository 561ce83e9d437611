// Cost of the game's 200 ms relay tick against the socket writes it cannot do without, and the heap
// an idle client connection holds once pending and once admitted against a bare libevent
// bufferevent. Every connection is a real TCP connection over 127.0.0.1; a reader thread drains
// the clients' ends while the relay runs.
#include <benchmark/benchmark.h>

#include <event2/buffer.h>
#include <event2/bufferevent.h>
#include <event2/event.h>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <arpa/inet.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "core/time/time_stamp.h"
#include "dedicated/clients/client_disconnect_reason.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/clients/pending_client_set.h"
#include "dedicated/clients/user_statistics_documents.h"
#include "dedicated/clients/user_waiting_for_login.h"
#include "dedicated/game/user_action_buffer.h"
#include "dedicated/program/command_line.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/files/spooled_save_file_writer.h"
#include "network/logging/network_hooks.h"
#include "network/packets/network_id.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"
#include "network/sockets/rate_limit_group.h"
#include "network/sockets/socket_utilities.h"
#include "support/temporary_folder.h"

namespace {

using namespace Orvan;
using namespace Orvan::Dedicated;
using Orvan::Network::OrvNetId;
using Orvan::Network::TBufferEventSocket;

// Each player's orders for one tick.
constexpr std::uint32_t kOrderSize = 16;
// A replay grows by about 3 kB per tick at 64 players: restarted this often its file stays a few megabytes,
// as a game of a few minutes makes it.
constexpr std::int64_t kTicksPerReplay = 1000;
// Ticks run before the timed ones, so that the replay's stream and every buffer have grown.
constexpr int kWarmUpTicks = 16;
// Players' ids start here (client ids: kind 0 in the top byte).
constexpr std::uint64_t kFirstClientId = 1000;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "bench_relay: %s\n", what);
  std::abort();
}

void DiscardLog(int, const char*) {}

// The network log is silenced while a server lives: admission and shutdown log a line per client.
class TSilencedNetworkLog {
 public:
  TSilencedNetworkLog() : previous_(Network::GetNetworkHooks().log) { Network::SetNetworkLogHandler(&DiscardLog); }
  ~TSilencedNetworkLog() { Network::SetNetworkLogHandler(previous_); }
  TSilencedNetworkLog(const TSilencedNetworkLog&) = delete;
  TSilencedNetworkLog& operator=(const TSilencedNetworkLog&) = delete;

 private:
  Network::TNetworkLogHook previous_;
};

// A TCP listener on 127.0.0.1 and the connections made to it: the server's end of each is handed
// over to the code under test, the client's end stays here (closed with this object).
class TLoopbackConnector {
 public:
  TLoopbackConnector() {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener_ == -1 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 16) != 0 || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      Fail("no loopback listener");
    }
    address_ = address;
  }
  ~TLoopbackConnector() {
    CloseClients();
    ::close(listener_);
  }
  TLoopbackConnector(const TLoopbackConnector&) = delete;
  TLoopbackConnector& operator=(const TLoopbackConnector&) = delete;

  // A new connection: the server's end, set up as the client listener sets up an accepted one
  // (non-blocking, no delay). The client's end is kept.
  int Connect() {
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    if (client == -1 || ::connect(client, reinterpret_cast<const sockaddr*>(&address_), sizeof(address_)) != 0) {
      Fail("loopback connect failed");
    }
    const int server = ::accept(listener_, nullptr, nullptr);
    if (server == -1) Fail("loopback accept failed");
    Network::SetSocketNonBlocking(server);
    Network::SetSocketNonBlocking(client);
    const int noDelay = 1;
    ::setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
    clients_.push_back(client);
    return server;
  }
  const std::vector<int>& Clients() const { return clients_; }
  void CloseClients() {
    for (int client : clients_) ::close(client);
    clients_.clear();
  }

 private:
  int listener_ = -1;
  sockaddr_in address_{};
  std::vector<int> clients_;
};

// Reads and drops everything that arrives on the clients' ends until it is stopped.
class TDrainingReader {
 public:
  explicit TDrainingReader(const std::vector<int>& descriptors)
      : epoll_(::epoll_create1(0)), descriptors_(descriptors), bytes_(descriptors.size()) {
    if (epoll_ == -1) Fail("no epoll");
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
      epoll_event watched{};
      watched.events = EPOLLIN;
      watched.data.u64 = i;
      if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, descriptors[i], &watched) != 0) Fail("epoll_ctl failed");
    }
    thread_ = std::thread([this] { Run(); });
  }
  ~TDrainingReader() {
    stop_.store(true, std::memory_order_relaxed);
    thread_.join();
    ::close(epoll_);
  }
  TDrainingReader(const TDrainingReader&) = delete;
  TDrainingReader& operator=(const TDrainingReader&) = delete;

  // Bytes read so far on each descriptor, in the order given.
  std::vector<std::uint64_t> BytesRead() const {
    std::vector<std::uint64_t> counts;
    for (const auto& count : bytes_) counts.push_back(count.load(std::memory_order_relaxed));
    return counts;
  }

 private:
  void Run() {
    static constexpr int kEventsPerWait = 64;
    epoll_event events[kEventsPerWait];
    std::vector<char> buffer(1 << 16);
    while (!stop_.load(std::memory_order_relaxed)) {
      const int ready = ::epoll_wait(epoll_, events, kEventsPerWait, 10);
      for (int i = 0; i < ready; ++i) {
        const std::size_t index = events[i].data.u64;
        for (;;) {
          const ssize_t got = ::recv(descriptors_[index], buffer.data(), buffer.size(), 0);
          if (got <= 0) break;
          bytes_[index].fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
        }
      }
    }
  }

  int epoll_;
  std::vector<int> descriptors_;
  std::vector<std::atomic<std::uint64_t>> bytes_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

sockaddr_storage LoopbackPeer() {
  sockaddr_storage storage{};
  auto* address = reinterpret_cast<sockaddr_in*>(&storage);
  address->sin_family = AF_INET;
  address->sin_port = htons(5000);
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return storage;
}

// The main task and the game session as the server makes them, with nothing listening and no
// match-making link: clients come in through `TLoopbackConnector`.
class TBenchServer {
 public:
  TBenchServer() {
    task_ = TMainServerTask::CreateInstance(kDefaultGameId, "", 10000, kDefaultMatchMakingAddress, "", &session_,
                                            nullptr, nullptr, true, false, "", "", "", kDefaultGameReportingUrl,
                                            "bench", "bench");
    session_.Initialize();
    session_.SetNbMaxPlayer(64, false, false, true, true);
  }
  ~TBenchServer() {
    session_.Shutdown();
    session_.ClosePendingClients();
    task_->GetOperationManager()->CancelAll();
    Settle();
    TMainServerTask::DestroyInstance();
  }
  TBenchServer(const TBenchServer&) = delete;
  TBenchServer& operator=(const TBenchServer&) = delete;

  TStrivexDedicatedSession& Session() { return session_; }
  event_base* Base() const { return task_->GetSocketManager()->GetEventBase(); }

  // The server's end wrapped as the client listener wraps an accepted connection.
  TBufferEventSocket* Wrap(int descriptor) {
    auto* connection = new TBufferEventSocket(descriptor, task_->GetSocketManager());
    task_->GetRateLimitGroup()->AddSocket(connection);
    return connection;
  }
  // A pending client, as the listener hands it to the session.
  void AddPending(int descriptor) { session_.OnNewConnection(Wrap(descriptor), LoopbackPeer()); }
  // A client taken through its login to admission, as the statistics' arrival admits it.
  TDedicatedUser* Admit(int descriptor, std::uint64_t id) {
    session_.OnNewConnection(Wrap(descriptor), LoopbackPeer());
    TUserWaitingForLogin* pending = session_.GetPendingClients()->FindById(OrvNetId());
    if (pending == nullptr) Fail("client not taken in");
    return Identify(pending, id, true);
  }
  // Admitted past the session's admission ceiling: the relay benchmark runs more clients than a
  // game takes, so the connection does not go through the pending set's count.
  TDedicatedUser* AdmitBeyondCeiling(int descriptor, std::uint64_t id) {
    return Identify(new TUserWaitingForLogin(Wrap(descriptor), LoopbackPeer()), id, false);
  }

  // Event-loop passes until every client's queued bytes are on the wire: none when nothing is
  // queued, as after a tick whose writes the system took whole.
  void Flush() {
    while (HasQueuedBytes()) event_base_loop(Base(), EVLOOP_NONBLOCK);
  }
  // One pass at least, which also runs the finalizers of the bufferevents freed since the last
  // (libevent frees them there), then the passes that write what is queued.
  void Settle() {
    event_base_loop(Base(), EVLOOP_NONBLOCK);
    Flush();
  }
  bool HasQueuedBytes() const {
    for (const TDedicatedUser* client : session_.GetClients()) {
      const TBufferEventSocket* connection = client->GetConnection();
      if (connection != nullptr && connection->GetBufferEvent() != nullptr &&
          evbuffer_get_length(bufferevent_get_output(connection->GetBufferEvent())) != 0) {
        return true;
      }
    }
    return false;
  }

 private:
  TDedicatedUser* Identify(TUserWaitingForLogin* pending, std::uint64_t id, bool inPendingSet) {
    pending->SetClientId(OrvNetId::FromValue(id));
    pending->SetClientVersion("1.0");
    pending->SetState(PendingClientState::FetchingStatistics);
    if (inPendingSet) {
      session_.OnPendingClientStats(pending, false, TUserStatisticsDocuments());
    } else {
      ClientDisconnectReason reason = ClientDisconnectReason::Success;
      if (!session_.AddClient(pending, TUserStatisticsDocuments(), reason)) Fail("client refused");
      pending->ReleaseConnection();
      pending->Close();
      delete pending;
    }
    TDedicatedUser* user = session_.FindClientById(OrvNetId::FromValue(id));
    if (user == nullptr) Fail("client not admitted");
    return user;
  }

  // The session writes its replays into the working folder: a folder of its own, gone afterwards.
  OrvTest::TTemporaryFolder folder_{"orv_bench_relay"};
  OrvTest::TScopedWorkingDirectory workingDirectory_{folder_.Path()};
  TSilencedNetworkLog silenced_;
  TStrivexDedicatedSession session_{kDefaultGameId};
  TMainServerTask* task_ = nullptr;
};

// A game of `players` players and as many spectators, recorded, every client's end drained.
class TRelayGame {
 public:
  explicit TRelayGame(int players) {
    for (int i = 0; i < 2 * players; ++i) {
      TDedicatedUser* user = server_.AdmitBeyondCeiling(connector_.Connect(), kFirstClientId + static_cast<std::uint64_t>(i));
      const bool spectator = i >= players;
      user->SetSpectator(spectator);
      if (!spectator) {
        user->SetPlayerNumber(i);
        players_.push_back(user);
      }
    }
    reader_ = std::make_unique<TDrainingReader>(connector_.Clients());
    server_.Flush();
    StartRecording();
    for (int i = 0; i < kWarmUpTicks; ++i) Tick();
  }
  ~TRelayGame() {
    server_.Flush();
    reader_.reset();
  }
  TRelayGame(const TRelayGame&) = delete;
  TRelayGame& operator=(const TRelayGame&) = delete;

  // A new replay; the spectators take it up from its current end, as spectators who are caught up.
  void StartRecording() {
    TTimeStamp now;
    GetTimeStamp(now);
    server_.Session().StartReplayRecording(now);
    const std::uint32_t size = server_.Session().GetReplayWriter()->GetSize();
    for (TDedicatedUser* client : server_.Session().GetClients()) {
      if (client->IsSpectator()) client->SetStreamingPosition(size);
    }
    ticksInReplay_ = 0;
  }
  bool ReplayIsFull() const { return ticksInReplay_ >= kTicksPerReplay; }

  // One order from every player, the tick, and the loop passes that put its bytes on the wire.
  void Tick() {
    for (std::size_t i = 0; i < players_.size(); ++i) {
      std::uint8_t order[kOrderSize] = {};
      order[0] = static_cast<std::uint8_t>(i);
      order[1] = static_cast<std::uint8_t>(ticksInReplay_);
      players_[i]->GetActionBuffer()->Append(order, kOrderSize);
    }
    server_.Session().RecordTick();
    server_.Flush();
    ++ticksInReplay_;
  }
  // The bytes each client receives in one tick, in admission order: what its reader got once
  // everything sent has arrived.
  std::vector<std::uint32_t> MeasureTickBytes() {
    WaitUntilDrained();
    const std::vector<std::uint64_t> before = reader_->BytesRead();
    Tick();
    WaitUntilDrained();
    const std::vector<std::uint64_t> after = reader_->BytesRead();
    std::vector<std::uint32_t> bytes;
    for (std::size_t i = 0; i < before.size(); ++i) bytes.push_back(static_cast<std::uint32_t>(after[i] - before[i]));
    return bytes;
  }
  std::vector<int> ServerDescriptors() {
    std::vector<int> descriptors;
    for (const TDedicatedUser* client : server_.Session().GetClients()) {
      descriptors.push_back(client->GetConnection()->GetDescriptor());
    }
    return descriptors;
  }

 private:
  // Nothing left in the server's send queues nor in the clients' receive queues.
  void WaitUntilDrained() {
    const std::vector<int> servers = ServerDescriptors();
    for (int attempt = 0; attempt < 1000; ++attempt) {
      bool drained = true;
      for (std::size_t i = 0; i < servers.size() && drained; ++i) {
        int queued = 0;
        drained = ::ioctl(servers[i], SIOCOUTQ, &queued) == 0 && queued == 0 &&
                  ::ioctl(connector_.Clients()[i], FIONREAD, &queued) == 0 && queued == 0;
      }
      if (drained) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Fail("the clients' ends were not drained");
  }

  TBenchServer server_;
  TLoopbackConnector connector_;
  std::unique_ptr<TDrainingReader> reader_;
  std::vector<TDedicatedUser*> players_;
  std::int64_t ticksInReplay_ = 0;
};

void BM_RelayTick_Session(benchmark::State& state) {
  TRelayGame game(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (game.ReplayIsFull()) {
      state.PauseTiming();
      game.StartRecording();
      state.ResumeTiming();
    }
    game.Tick();
  }
}

// One send() per client of the bytes that client gets in one of the session's ticks, on the same
// kind of sockets, straight to the descriptors.
void BM_RelayTick_SendFloor(benchmark::State& state) {
  TRelayGame game(static_cast<int>(state.range(0)));
  const std::vector<std::uint32_t> bytes = game.MeasureTickBytes();
  const std::vector<int> descriptors = game.ServerDescriptors();
  std::uint32_t largest = 0;
  for (std::uint32_t count : bytes) largest = count > largest ? count : largest;
  std::vector<char> payload(largest, 'x');
  std::uint64_t total = 0;
  for (auto _ : state) {
    for (std::size_t i = 0; i < descriptors.size(); ++i) {
      std::uint32_t sent = 0;
      while (sent < bytes[i]) {
        const ssize_t done = ::send(descriptors[i], payload.data() + sent, bytes[i] - sent, MSG_NOSIGNAL);
        if (done > 0) {
          sent += static_cast<std::uint32_t>(done);
        } else {
          // The reader is behind: wait for room as the event loop would.
          pollfd watched{descriptors[i], POLLOUT, 0};
          ::poll(&watched, 1, 100);
        }
      }
      total += sent;
    }
  }
  state.counters["bytes_per_tick"] = static_cast<double>(total) / static_cast<double>(state.iterations());
}

BENCHMARK(BM_RelayTick_Session)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RelayTick_SendFloor)->Arg(64)->Unit(benchmark::kMicrosecond);

// ---- Heap held per idle connection. mallinfo2 sees every malloc'ed byte, the engine's heaps,
// libevent's and OpenSSL's alike.
std::size_t HeapInUse() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

enum class ConnectionStage { Bare, Pending, Admitted };

// `count` connections at that stage; the heap they add, per connection. The same number are made
// and freed first, so that pools and tables have grown before the count.
void MeasureConnections(benchmark::State& state, ConnectionStage stage) {
  const int count = static_cast<int>(state.range(0));
  TBenchServer server;
  TLoopbackConnector connector;
  std::vector<bufferevent*> bare;
  bare.reserve(static_cast<std::size_t>(count));
  std::uint64_t nextId = kFirstClientId;
  auto create = [&] {
    for (int i = 0; i < count; ++i) {
      const int descriptor = connector.Connect();
      switch (stage) {
        case ConnectionStage::Bare: {
          bufferevent* bufferEvent = bufferevent_socket_new(server.Base(), descriptor, BEV_OPT_CLOSE_ON_FREE);
          bufferevent_enable(bufferEvent, EV_READ | EV_WRITE);
          bare.push_back(bufferEvent);
          break;
        }
        case ConnectionStage::Pending:
          server.AddPending(descriptor);
          break;
        case ConnectionStage::Admitted:
          server.Admit(descriptor, nextId++);
          break;
      }
    }
    // What admission sent goes out, so that only what an idle connection keeps is counted.
    server.Settle();
  };
  auto destroy = [&] {
    for (bufferevent* bufferEvent : bare) bufferevent_free(bufferEvent);
    bare.clear();
    server.Session().Shutdown();
    server.Session().ClosePendingClients();
    server.Settle();
    connector.CloseClients();
  };
  create();
  destroy();
  double perClient = 0;
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    create();
    const std::size_t after = HeapInUse();
    perClient = (static_cast<double>(after) - static_cast<double>(before)) / count;
    state.PauseTiming();
    destroy();
    state.ResumeTiming();
  }
  state.counters["bytes_per_client"] = perClient;
}

void BM_ClientMemory_Admitted(benchmark::State& state) { MeasureConnections(state, ConnectionStage::Admitted); }
void BM_ClientMemory_Pending(benchmark::State& state) { MeasureConnections(state, ConnectionStage::Pending); }
void BM_ClientMemory_BareBufferEvent(benchmark::State& state) { MeasureConnections(state, ConnectionStage::Bare); }

BENCHMARK(BM_ClientMemory_Admitted)->Arg(64)->Iterations(1);
BENCHMARK(BM_ClientMemory_Pending)->Arg(64)->Iterations(1);
BENCHMARK(BM_ClientMemory_BareBufferEvent)->Arg(64)->Iterations(1);

}  // namespace
