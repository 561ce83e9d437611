// The clients of one game: admission, the phases, an order and a tick report on every tick, the
// spectators' stream, and the checks of what each of them saw.
#include "capacity/game_load.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <thread>
#include <utility>

#include "capacity/load_wire.h"
#include "capacity/process_figures.h"
#include "capacity/replay_check.h"

namespace OrvCapacity {

namespace {

// A replay stream piece carries at most this many bytes.
constexpr std::size_t kLargestPiece = 4064;
// Bytes read from a socket at a time.
constexpr std::size_t kReadChunk = 65536;
constexpr double kTickSeconds = 0.2;

bool IsRunning(std::uint32_t state) {
  return state == kStateLoading || state == kStateDeployment || state == kStateCommand || state == kStateDebriefing;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

struct TGameLoad::TClient {
  TGameLoad* game = nullptr;
  int fd = -1;
  std::uint64_t playerId = 0;
  std::size_t number = 0;     // index among the game's players, or among its spectators
  bool spectator = false;     // the role it joins in
  bool keepStream = false;    // the first spectator keeps its stream for the comparison with the replay
  bool admitted = false;
  bool removed = false;
  bool inGame = false;
  bool ended = false;
  std::uint32_t state = std::numeric_limits<std::uint32_t>::max();
  std::vector<unsigned char> in;
  std::string out;
  bool watchingWrites = false;
  std::unique_ptr<TRelayLedger> ledger;
  std::uint32_t sent = 0;
  std::int64_t reported = -1;
  bool askedDebriefing = false;
  bool askedMatchMaking = false;
  std::uint32_t sentWhenAskedDebriefing = 0;
  std::int64_t reportedWhenAskedDebriefing = -1;
  std::size_t ticksAtDebriefing = std::numeric_limits<std::size_t>::max();
  std::string stream;
  std::uint64_t streamed = 0;
  std::vector<std::string> problems;

  void Problem(std::string text) {
    if (problems.size() < kMaxProblems) problems.push_back(std::move(text));
  }
};

TGameLoad::TGameLoad(TGameSettings settings) : settings_(std::move(settings)) {}

TGameLoad::~TGameLoad() {
  for (auto& client : clients_) Close(*client);
}

void TGameLoad::Problem(std::string text) {
  if (problems_.size() < kMaxProblems) problems_.push_back(std::move(text));
}

bool TGameLoad::ConnectPlayers(int epoll) {
  epoll_ = epoll;
  for (std::size_t i = 0; i < settings_.players; ++i) {
    if (!Connect(epoll, settings_.firstPlayerId + i, i, false)) return false;
  }
  return true;
}

bool TGameLoad::Connect(int epoll, std::uint64_t playerId, std::size_t number, bool spectator) {
  auto owned = std::make_unique<TClient>();
  TClient& client = *owned;
  client.game = this;
  client.playerId = playerId;
  client.number = number;
  client.spectator = spectator;
  client.keepStream = spectator && number == 0;
  // Each client from a loopback address of its own, as players come from machines of their own: the
  // server lets one address hold only a few connections that have not identified themselves.
  const std::size_t slot = number + (spectator ? settings_.players : 0);
  const int game = settings_.index;
  const std::string source = "127." + std::to_string(3 + game / 256) + "." + std::to_string(game % 256) + "." +
                             std::to_string(1 + slot);
  client.fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (client.fd < 0) {
    Problem(std::string("socket: ") + std::strerror(errno));
    return false;
  }
  sockaddr_in local{};
  local.sin_family = AF_INET;
  ::inet_pton(AF_INET, source.c_str(), &local.sin_addr);
  sockaddr_in remote{};
  remote.sin_family = AF_INET;
  remote.sin_port = htons(settings_.port);
  remote.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int one = 1;
  ::setsockopt(client.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (::bind(client.fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
      ::connect(client.fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) != 0) {
    Problem("connecting " + std::to_string(playerId) + " from " + source + ": " + std::strerror(errno));
    ::close(client.fd);
    client.fd = -1;
    return false;
  }
  ::fcntl(client.fd, F_SETFL, ::fcntl(client.fd, F_GETFL) | O_NONBLOCK);
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.ptr = &client;
  ::epoll_ctl(epoll, EPOLL_CTL_ADD, client.fd, &event);
  clients_.push_back(std::move(owned));
  Send(client, EncodeConnect(playerId, settings_.version, settings_.password));
  return true;
}

void TGameLoad::Send(TClient& client, const std::string& data) {
  if (client.fd < 0) return;
  client.out += data;
  Flush(client);
}

void TGameLoad::Flush(TClient& client) {
  while (!client.out.empty()) {
    const ssize_t written = ::send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
    if (written > 0) {
      client.out.erase(0, static_cast<std::size_t>(written));
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    client.Problem(std::string("send: ") + std::strerror(errno));
    client.removed = true;
    Close(client);
    return;
  }
  const bool wanted = !client.out.empty();
  if (wanted != client.watchingWrites) {
    epoll_event event{};
    event.events = EPOLLIN | (wanted ? EPOLLOUT : 0u);
    event.data.ptr = &client;
    ::epoll_ctl(epoll_, EPOLL_CTL_MOD, client.fd, &event);
    client.watchingWrites = wanted;
  }
}

void TGameLoad::Close(TClient& client) {
  if (client.fd < 0) return;
  if (epoll_ >= 0) ::epoll_ctl(epoll_, EPOLL_CTL_DEL, client.fd, nullptr);
  ::close(client.fd);
  client.fd = -1;
}

void TGameLoad::Dispatch(void* client, std::uint32_t events, double now) {
  TClient* target = static_cast<TClient*>(client);
  target->game->OnEvent(target, events, now);
}

void TGameLoad::OnEvent(TClient* client, std::uint32_t events, double now) {
  if (client->fd < 0) return;
  if ((events & EPOLLOUT) != 0) Flush(*client);
  if ((events & (EPOLLIN | EPOLLERR | EPOLLHUP)) == 0 || client->fd < 0) return;
  std::vector<unsigned char>& in = client->in;
  for (;;) {
    const std::size_t used = in.size();
    in.resize(used + kReadChunk);
    const ssize_t got = ::recv(client->fd, in.data() + used, kReadChunk, 0);
    in.resize(used + (got > 0 ? static_cast<std::size_t>(got) : 0));
    if (got > 0) continue;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    client->Problem(got == 0 ? "closed by the server" : std::string("recv: ") + std::strerror(errno));
    client->removed = true;
    Close(*client);
    break;
  }
  std::size_t position = 0;
  while (in.size() - position >= 2) {
    const std::size_t length = ReadBig16(in.data() + position);
    if (in.size() - position - 2 < length) break;
    if (length > 0) OnFrame(*client, in.data() + position + 2, length, now);
    position += 2 + length;
  }
  in.erase(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(position));
}

void TGameLoad::OnFrame(TClient& client, const unsigned char* body, std::size_t size, double now) {
  const std::uint8_t channel = body[0];
  if (channel == kChannelGameData) {
    if (size < kRelayHeadSize) {
      client.Problem("short relay frame");
      return;
    }
    if (client.spectator) {
      if (client.inGame && !client.ended) client.Problem("relayed game data received by a spectator");
      return;
    }
    if (!client.inGame || client.ended || !client.ledger) return;
    if (body[9] == 'd') {
      if (client.ledger->OnActions(body, size, now) == TRelayLedger::EActions::kNewTick && IsRunning(client.state)) {
        OnTick(client, static_cast<std::uint32_t>(client.ledger->GetLastTick()), now);
      }
    } else if (body[9] == 'g') {
      client.ledger->OnTickReport(body, size);
    } else {
      client.Problem(std::string("relayed message of letter ") + std::to_string(body[9]));
    }
    return;
  }
  switch (channel) {
    case kChannelSystem:
      if (size >= 6 && body[1] == kPingRequest) Send(client, EncodePingAnswer(ReadBig32(body + 2)));
      break;
    case kChannelConnect: {
      if (size < 10) {
        client.Problem("short admission answer");
        break;
      }
      const bool spectator = body[5] != 0;
      const std::uint32_t state = ReadBig32(body + 6);
      client.admitted = true;
      client.state = state;
      if (spectator != client.spectator) {
        client.Problem(std::string("admitted as a ") + (spectator ? "spectator" : "player"));
      }
      if (spectator && IsRunning(state)) client.inGame = true;
      break;
    }
    case kChannelNextState:
      if (size >= 13) OnNextState(client, ReadBig32(body + 5), now);
      break;
    case kChannelReplayStream:
      if (!client.spectator || !client.inGame) {
        client.Problem("replay stream piece received outside a spectator's game");
        break;
      }
      if (size < 5 || ReadBig32(body + 1) != 0 || size - 5 > kLargestPiece) {
        client.Problem("replay stream piece of " + std::to_string(size) + " bytes");
        break;
      }
      client.streamed += size - 5;
      if (client.keepStream) client.stream.append(reinterpret_cast<const char*>(body) + 5, size - 5);
      break;
    case kChannelLastPacket:
      client.Problem("sent away, reason " + std::to_string(size >= 6 ? ReadBig32(body + 2) : 0));
      client.removed = true;
      break;
    case 200:  // a client event: kind 2 is a departure, which no client of a good run sees
      if (size >= 10 && body[1] == 2) client.Problem("saw " + std::to_string(ReadBig64(body + 2)) + " leave");
      break;
    default:
      break;  // properties, variables, timers, player numbers and pings tables need no answer
  }
}

void TGameLoad::OnNextState(TClient& client, std::uint32_t state, double now) {
  (void)now;
  client.state = state;
  if (client.spectator) {
    if (state == kStateMatchMaking && client.inGame) client.ended = true;
    return;
  }
  switch (state) {
    case kStateLoading:
      if (client.ledger) {
        client.Problem("a second game began");
        return;
      }
      client.ledger = std::make_unique<TRelayLedger>(settings_.firstPlayerId, settings_.players);
      client.inGame = true;
      Send(client, EncodeStateRequest(kStateDeployment));
      break;
    case kStateDeployment:
      Send(client, EncodeStateRequest(kStateCommand));
      break;
    case kStateCommand:
      commandBegun_ = true;
      break;
    case kStateDebriefing:
      // The debriefing is left on its first tick, so a tick is known to have run after every order sent
      // before the request for it.
      if (client.ledger) client.ticksAtDebriefing = client.ledger->GetTickTimes().size();
      break;
    case kStateMatchMaking:
      if (client.inGame) client.ended = true;
      break;
    default:
      break;
  }
}

void TGameLoad::OnTick(TClient& client, std::uint32_t tick, double now) {
  if (!firstTickSeen_) {
    firstTickSeen_ = true;
    firstTickAt_ = now;
    cpuAtFirstTick_ = ReadCpuSeconds(settings_.serverPid);
  }
  if (tick + 1 == settings_.ticks && !lastTickSeen_) {
    lastTickSeen_ = true;
    lastTickAt_ = now;
    cpuAtLastTick_ = ReadCpuSeconds(settings_.serverPid);
  }
  ++client.sent;
  client.reported = tick;
  Send(client, EncodeOrderAndReport(client.playerId, client.sent, tick));
  if (client.state == kStateDebriefing && !client.askedMatchMaking) {
    client.askedMatchMaking = true;
    Send(client, EncodeStateRequest(kStateMatchMaking));
  }
  if (tick + 1 == settings_.ticks) {
    if (client.state != kStateCommand) {
      client.Problem("last tick " + std::to_string(tick) + " in state " + std::to_string(client.state));
    } else if (!client.askedDebriefing) {
      client.askedDebriefing = true;
      client.sentWhenAskedDebriefing = client.sent;
      client.reportedWhenAskedDebriefing = client.reported;
      Send(client, EncodeStateRequest(kStateDebriefing));
    }
  }
}

void TGameLoad::Step(int epoll, double now) {
  (void)now;
  if (!commandBegun_ || spectatorsJoined_) return;
  spectatorsJoined_ = true;
  for (std::size_t i = 0; i < settings_.spectators; ++i) {
    if (!Connect(epoll, settings_.firstSpectatorId + i, i, true)) break;
  }
}

bool TGameLoad::IsOver() const {
  bool everyoneEnded = spectatorsJoined_ || settings_.spectators == 0;
  for (const auto& client : clients_) {
    if (client->removed) return true;
    if (!client->ended) everyoneEnded = false;
  }
  return everyoneEnded && !clients_.empty();
}

TGameFigures TGameLoad::Finish(double replayWaitSeconds) {
  TGameFigures figures;
  figures.index = settings_.index;
  figures.serverPid = settings_.serverPid;
  figures.ended = IsOver();
  figures.firstTickAt = firstTickAt_;
  figures.lastTickAt = lastTickAt_;
  figures.peakResidentKb = ReadPeakResidentKilobytes(settings_.serverPid);
  if (cpuAtFirstTick_ >= 0.0 && cpuAtLastTick_ >= 0.0 && settings_.ticks > 1) {
    // From tick 0 to tick ticks - 1: that many game-seconds of 200 ms ticks.
    const double gameSeconds = (settings_.ticks - 1) * kTickSeconds;
    figures.serverCpuPercent = 100.0 * (cpuAtLastTick_ - cpuAtFirstTick_) / gameSeconds;
  }
  for (auto& client : clients_) Close(*client);

  std::vector<TClient*> players;
  for (auto& client : clients_) {
    if (!client->spectator) players.push_back(client.get());
    for (const std::string& text : client->problems) {
      Problem(std::to_string(client->playerId) + ": " + text);
    }
  }
  if (!figures.ended) Problem("the game did not end for every client");
  // What each player had to see of every other: the orders sent before it asked for the debriefing,
  // provided a tick came after the debriefing began; the tick reports up to that request.
  std::vector<std::uint32_t> due(settings_.players, 0);
  for (TClient* sender : players) {
    if (!sender->ledger) {
      Problem(std::to_string(sender->playerId) + " never saw the game begin");
      continue;
    }
    if (sender->ticksAtDebriefing >= sender->ledger->GetTickTimes().size()) {
      Problem(std::to_string(sender->playerId) + ": no tick after the debriefing began; its orders are unchecked");
      continue;
    }
    due[sender->number] = sender->sentWhenAskedDebriefing;
  }
  std::vector<double> intervals;
  std::int64_t lastTick = -1;
  for (TClient* receiver : players) {
    if (!receiver->ledger) continue;
    TRelayLedger& ledger = *receiver->ledger;
    ledger.Finish();
    for (const std::string& text : ledger.GetProblems()) Problem(std::to_string(receiver->playerId) + ": " + text);
    const std::vector<double>& times = ledger.GetTickTimes();
    for (std::size_t i = 1; i < times.size(); ++i) intervals.push_back(1000.0 * (times[i] - times[i - 1]));
    lastTick = std::max(lastTick, ledger.GetLastTick());
    for (std::uint32_t count : due) figures.ordersDue += count;
    figures.ordersLost += ledger.CountLost(due);
    for (TClient* sender : players) {
      const std::int64_t got = ledger.GetLastReport(sender->number);
      if (got < sender->reportedWhenAskedDebriefing || got > sender->reported) {
        Problem(std::to_string(receiver->playerId) + " received the tick reports of " +
                std::to_string(sender->playerId) + " up to " + std::to_string(got) + ", which reported up to " +
                std::to_string(sender->reported));
      }
    }
  }
  for (TClient* receiver : players) {
    if (receiver->ledger && receiver->ledger->GetLastTick() != lastTick) {
      Problem(std::to_string(receiver->playerId) + " received up to tick " +
              std::to_string(receiver->ledger->GetLastTick()) + " of " + std::to_string(lastTick));
    }
  }
  figures.ticks = lastTick + 1;
  figures.tickMaxMs = Percentile(intervals, 1.0);
  figures.tickP99Ms = Percentile(intervals, 0.99);
  figures.tickP50Ms = Percentile(intervals, 0.5);

  // The replay is sealed under its numbered name once the game is over.
  const std::string path = settings_.serverFolder + "/Replays/lastreplay001.orvgamerpl2";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(replayWaitSeconds);
  TReplayCheck replay;
  std::string data;
  for (;;) {
    data = ReadFile(path);
    replay = CheckReplay(data, settings_.players);
    if ((replay.digestOk && replay.problems.empty()) || std::chrono::steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  figures.replayTicks = replay.ticks;
  for (const std::string& text : replay.problems) Problem("replay: " + text);
  if (replay.digestOk && replay.ticks != figures.ticks) {
    Problem("the replay holds " + std::to_string(replay.ticks) + " ticks, " + std::to_string(figures.ticks) +
            " were relayed");
  }
  for (auto& client : clients_) {
    if (!client->spectator) continue;
    figures.streamedBytes += client->streamed;
    if (client->keepStream && replay.digestOk && !IsStreamOfReplay(client->stream, data)) {
      Problem("spectator " + std::to_string(client->playerId) + ": " + std::to_string(client->stream.size()) +
              " streamed bytes are not the replay's start");
    }
  }
  figures.problems = problems_;
  return figures;
}

}  // namespace OrvCapacity
