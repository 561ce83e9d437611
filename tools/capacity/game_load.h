// One full-house game played against one server: its players and spectators as non-blocking
// sockets on an epoll set that a worker thread of the generator runs, each following the phases as
// a real client would, and the checks and figures of the game once it is over.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capacity/relay_ledger.h"

namespace OrvCapacity {

struct TGameSettings {
  int index = 0;               // the game's number in the run; also picks its clients' addresses
  std::uint16_t port = 0;      // the server's client port on 127.0.0.1
  pid_t serverPid = -1;
  std::string serverFolder;    // the server's working folder, where its replay is saved
  std::size_t players = 56;
  std::size_t spectators = 8;
  std::uint32_t ticks = 300;   // the players ask for the debriefing on tick ticks - 1
  std::uint64_t firstPlayerId = 1000;
  std::uint64_t firstSpectatorId = 2000;
  std::string version = "1.0";
  std::string password;
};

struct TGameFigures {
  int index = 0;
  pid_t serverPid = -1;
  bool ended = false;             // every client saw the return to match making
  std::int64_t ticks = 0;         // ticks relayed (the last tick + 1)
  double serverCpuPercent = 0.0;  // server CPU per game-second, in percent of one core
  long peakResidentKb = -1;
  double tickP50Ms = 0.0;
  double tickP99Ms = 0.0;
  double tickMaxMs = 0.0;
  std::uint64_t ordersDue = 0;    // deliveries due: orders that had to be relayed, times the players
  std::uint64_t ordersLost = 0;
  std::int64_t replayTicks = 0;
  std::uint64_t streamedBytes = 0;  // replay bytes the spectators received, all of them
  double firstTickAt = 0.0;       // monotonic seconds
  double lastTickAt = 0.0;
  std::vector<std::string> problems;
};

class TGameLoad {
 public:
  struct TClient;

  explicit TGameLoad(TGameSettings settings);
  ~TGameLoad();
  TGameLoad(const TGameLoad&) = delete;
  TGameLoad& operator=(const TGameLoad&) = delete;

  // Connects the players and sends their connect packets; their sockets join `epoll`, with the
  // client as the event's pointer.
  bool ConnectPlayers(int epoll);
  // One epoll event of a client of any game, whose pointer the event carries, at `now` (monotonic
  // seconds).
  static void Dispatch(void* client, std::uint32_t events, double now);
  // Between event batches: spectators join once the command phase has begun.
  void Step(int epoll, double now);
  // Every client is back in match making after the game, or one of them was removed.
  bool IsOver() const;
  // The figures and checks, once over (or at the run's deadline): closes every socket, reads the
  // server's peak memory and its saved replay (waiting up to `replayWaitSeconds` for it).
  TGameFigures Finish(double replayWaitSeconds);

  const TGameSettings& GetSettings() const { return settings_; }

 private:
  void OnEvent(TClient* client, std::uint32_t events, double now);
  bool Connect(int epoll, std::uint64_t playerId, std::size_t number, bool spectator);
  void OnFrame(TClient& client, const unsigned char* body, std::size_t size, double now);
  void OnNextState(TClient& client, std::uint32_t state, double now);
  void OnTick(TClient& client, std::uint32_t tick, double now);
  void Send(TClient& client, const std::string& data);
  void Flush(TClient& client);
  void Close(TClient& client);
  void Problem(std::string text);

  TGameSettings settings_;
  std::vector<std::unique_ptr<TClient>> clients_;
  int epoll_ = -1;
  bool commandBegun_ = false;
  bool spectatorsJoined_ = false;
  bool firstTickSeen_ = false;
  bool lastTickSeen_ = false;
  double cpuAtFirstTick_ = -1.0;
  double cpuAtLastTick_ = -1.0;
  double firstTickAt_ = 0.0;
  double lastTickAt_ = 0.0;
  std::vector<std::string> problems_;
};

}  // namespace OrvCapacity
