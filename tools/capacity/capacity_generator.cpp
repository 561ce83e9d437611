// The capacity load generator: starts G servers on loopback (pinned to the server cores with
// taskset), one shared statistics database and one match-making peer, and plays a full-house game
// on each at once from this one process; prints each run's figures as a table and writes them as
// JSON. With --ladder it runs G = 1, 4, 16, 32, 64, ... until a game misses the on-time rule.
//
//   capacity_generator --server build/release/DedicatedServer [--games G | --ladder] [--ticks 300]
//                      [--server-cores 2] [--out build/capacity] [--players 56] [--spectators 8]
//                      [--threads N] [--ignore-timing]
#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capacity/game_load.h"
#include "capacity/process_figures.h"
#include "support/peer_process.h"
#include "support/pouchdb_server_peer.h"

namespace OrvCapacity {
namespace {

// The on-time rule: the 99th percentile of the interval between ticks, as clients see it, within
// the 200 ms tick and 20 ms of slack, and no order lost.
constexpr double kOnTimeP99Ms = 220.0;
constexpr std::uint32_t kGameId = 24;  // the server's default game id: its statistics documents' prefix
// How long a server may take to link up with the match-making peer, and all players to be admitted.
constexpr double kStartSeconds = 60.0;
constexpr double kReplayWaitSeconds = 30.0;
// Events taken from epoll at once by a worker.
constexpr int kEventBatch = 512;

struct TOptions {
  std::string server;
  std::string out = "build/capacity";
  std::vector<int> games;       // the runs: one G, or the ladder's
  bool ladder = false;
  int maxGames = 512;           // the ladder stops here at the latest
  std::uint32_t ticks = 300;
  int serverCores = 2;
  std::size_t players = 56;
  std::size_t spectators = 8;
  int threads = 0;              // 0: one per generator core, at most one per game
  // Judge the games by their checks alone: a Debug or sanitizer build of the server cannot keep
  // the tick's time, and the tests run one of those.
  bool ignoreTiming = false;
};

struct TRun {
  int games = 0;
  std::vector<TGameFigures> figures;
  double serversCpuPercent = 0.0;    // sum of the servers' CPU per game-second: cores they keep busy
  double generatorCpuPercent = 0.0;  // the generator's CPU over the games' span, in percent of one core
  double serverCoresBusyPercent = 0.0;  // how busy the servers' cores were, by anything, over the span
  int generatorThreads = 0;
  double generatorLongestPassMs = 0.0;  // the longest any worker took over one batch of events
  bool held = false;
  std::vector<std::string> problems;  // of the run itself (servers that did not start)
};

// A game held: it ended for every client with nothing lost or broken, every tick relayed, on time.
bool Held(const TOptions& options, const TGameFigures& game) {
  return game.ended && game.problems.empty() && game.ordersLost == 0 &&
         game.ticks >= static_cast<std::int64_t>(options.ticks) &&
         (options.ignoreTiming || game.tickP99Ms <= kOnTimeP99Ms);
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double OwnCpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A port free for TCP and UDP at once (the server listens on both); bound on every local address, as
// the server's listeners are, though nothing but loopback is ever sent to.
int FreePortPair() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const int tcp = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    socklen_t size = sizeof address;
    if (::bind(tcp, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(tcp, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
      ::close(tcp);
      continue;
    }
    const int udp = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool both = ::bind(udp, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(udp);
    ::close(tcp);
    if (both) return ntohs(address.sin_port);
  }
  return -1;
}

std::string CoreList(int first, int last) {
  return first == last ? std::to_string(first) : std::to_string(first) + "-" + std::to_string(last);
}

// The server's settings for a full house: the game launches once every player is in, and the phases
// end by the players' requests (their maximum times are only a backstop).
std::string VariablesIni(std::size_t players) {
  return "NbMaxPlayer=64\nNbMinPlayer=" + std::to_string(players) +
         "\nWarmupCountdown=10\nLoadingTimeMax=60\nDeploiementTimeMax=30\nDebriefingTimeMax=10\nTimeLimit=0\n";
}

struct TServer {
  OrvTest::TPeerProcess process;
  std::string folder;
  int port = -1;
};

// The statistics database and the match-making peer, shared by every server of every run.
class TSharedPeers {
 public:
  bool Start(const TOptions& options) {
    if (!database_.Start({"capacity"})) {
      std::fprintf(stderr, "capacity: pouchdb-server did not start (is tests/peers/node_modules there?)\n");
      return false;
    }
    for (std::size_t i = 0; i < options.players + options.spectators; ++i) {
      const std::uint64_t id = i < options.players ? 1000 + i : 2000 + (i - options.players);
      for (std::uint32_t prefix : {0u, kGameId}) {
        std::string name = "u";
        name += std::to_string(prefix);
        name += "_";
        name += std::to_string(id);
        if (database_.PutJson("capacity/" + name, "{}") != 201) {
          std::fprintf(stderr, "capacity: could not write the statistics document %s\n", name.c_str());
          return false;
        }
      }
    }
    if (!matchMaking_.Start({"python3", "-u", OrvTest::SourcePath("tests/peers/mms_peer.py"), "--demo",
                             "--stats-url", database_.Url("capacity/")})) {
      std::fprintf(stderr, "capacity: the match-making peer did not start\n");
      return false;
    }
    std::string line;
    const std::string key = "\"port\": ";
    if (!matchMaking_.ReadLine(line, 30000) || line.find(key) == std::string::npos) {
      std::fprintf(stderr, "capacity: the match-making peer did not listen: %s\n", line.c_str());
      return false;
    }
    matchMakingPort_ = std::atoi(line.c_str() + line.find(key) + key.size());
    matchMaking_.DiscardOutput();
    return true;
  }

  int GetMatchMakingPort() const { return matchMakingPort_; }

 private:
  OrvTest::TPouchDbServerPeer database_;
  OrvTest::TPeerProcess matchMaking_;
  int matchMakingPort_ = -1;
};

bool StartServer(const TOptions& options, int matchMakingPort, const std::string& folder, TServer& server,
                 std::vector<int>& takenPorts) {
  std::filesystem::create_directories(folder);
  std::ofstream(folder + "/variables.ini") << VariablesIni(options.players);
  server.folder = folder;
  // A port is free once chosen, until its server binds it: one chosen for an earlier server of the
  // run may come again before that server has started.
  do {
    server.port = FreePortPair();
  } while (server.port > 0 && std::find(takenPorts.begin(), takenPorts.end(), server.port) != takenPorts.end());
  takenPorts.push_back(server.port);
  std::vector<std::string> argv;
  if (options.serverCores > 0) argv = {"taskset", "-c", CoreList(0, options.serverCores - 1)};
  argv.insert(argv.end(), {options.server, "+port", std::to_string(server.port), "+ip_mms", "127.0.0.1",
                           "+port_mms", std::to_string(matchMakingPort), "+login", "capacity", "+key", "capacity"});
  return server.port > 0 && server.process.Start(argv, folder);
}

enum class EReadiness { kReady, kPortTaken, kNotReady };

// Until the server has linked up and knows its statistics source: only then does it take clients.
EReadiness WaitUntilReady(TServer& server, double deadline) {
  std::string line;
  while (Now() < deadline) {
    if (!server.process.ReadLine(line, 200)) {
      if (server.process.GetOutputDescriptor() == -1) return EReadiness::kNotReady;
      continue;
    }
    if (line.find(" as CouchDB stats source") != std::string::npos) {
      server.process.DiscardOutput();
      return EReadiness::kReady;
    }
    // Taken between the choice and the bind (by anything on the machine, or sockets of an earlier run
    // still closing on it).
    if (line.find("Failed to bind client socket") != std::string::npos) return EReadiness::kPortTaken;
  }
  return EReadiness::kNotReady;
}

// Plays its games until they are over; returns its longest pass over a batch of events in
// milliseconds: the clients read last in a long pass are read late, which shows as the generator's
// own delay in the tick intervals.
double RunWorker(const std::vector<TGameLoad*>& games, double deadline) {
  const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
  for (TGameLoad* game : games) game->ConnectPlayers(epoll);
  epoll_event events[kEventBatch];
  double longest = 0.0;
  for (;;) {
    bool over = true;
    for (TGameLoad* game : games) over = over && game->IsOver();
    if (over || Now() > deadline) break;
    const int count = ::epoll_wait(epoll, events, kEventBatch, 20);
    const double taken = Now();
    // Each client's frames are stamped when it is read, not when the batch was taken.
    for (int i = 0; i < count; ++i) TGameLoad::Dispatch(events[i].data.ptr, events[i].events, Now());
    const double now = Now();
    for (TGameLoad* game : games) game->Step(epoll, now);
    longest = std::max(longest, 1000.0 * (now - taken));
  }
  ::close(epoll);
  return longest;
}

TRun RunGames(const TOptions& options, const TSharedPeers& peers, int gameCount, int generatorCores) {
  TRun run;
  run.games = gameCount;
  const std::string folder = options.out + "/run-" + std::to_string(gameCount);
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::vector<std::unique_ptr<TServer>> servers;
  std::vector<int> takenPorts;
  for (int i = 0; i < gameCount; ++i) {
    servers.push_back(std::make_unique<TServer>());
    if (!StartServer(options, peers.GetMatchMakingPort(), folder + "/game-" + std::to_string(i), *servers.back(),
                     takenPorts)) {
      run.problems.push_back("server " + std::to_string(i) + " did not start");
    }
  }
  const double readyBy = Now() + kStartSeconds;
  for (int i = 0; i < gameCount; ++i) {
    EReadiness readiness = WaitUntilReady(*servers[i], readyBy);
    // A port taken meanwhile: started again on another, a few times at most.
    for (int attempt = 0; attempt < 3 && readiness == EReadiness::kPortTaken; ++attempt) {
      std::fprintf(stderr, "capacity: port %d of server %d was taken; starting it on another\n", servers[i]->port, i);
      servers[i]->process.Stop();
      const std::string serverFolder = servers[i]->folder;
      servers[i] = std::make_unique<TServer>();
      if (!StartServer(options, peers.GetMatchMakingPort(), serverFolder, *servers[i], takenPorts)) break;
      readiness = WaitUntilReady(*servers[i], readyBy);
    }
    if (readiness != EReadiness::kReady) {
      run.problems.push_back("server " + std::to_string(i) + " did not link up with the match-making peer (see " +
                             servers[i]->folder + "/serverlog.txt)");
    }
  }
  if (!run.problems.empty()) return run;

  std::vector<std::unique_ptr<TGameLoad>> games;
  for (int i = 0; i < gameCount; ++i) {
    TGameSettings settings;
    settings.index = i;
    settings.port = static_cast<std::uint16_t>(servers[i]->port);
    settings.serverPid = servers[i]->process.GetPid();
    settings.serverFolder = servers[i]->folder;
    settings.players = options.players;
    settings.spectators = options.spectators;
    settings.ticks = options.ticks;
    games.push_back(std::make_unique<TGameLoad>(settings));
  }
  int threads = options.threads > 0 ? options.threads : std::max(1, generatorCores);
  threads = std::min(threads, gameCount);
  std::vector<std::vector<TGameLoad*>> shares(threads);
  for (int i = 0; i < gameCount; ++i) shares[i % threads].push_back(games[i].get());
  // A game lasts its ticks of 200 ms; twice that, and the start, is the most a run waits for.
  const double deadline = Now() + kStartSeconds + 10.0 + 2 * 0.2 * options.ticks;
  // Sampled while the games run: (time, the generator's CPU seconds) and the server cores' times.
  std::vector<std::pair<double, double>> ownCpu;
  std::vector<double> coresIdle;
  const int measuredCores = options.serverCores > 0 ? options.serverCores
                                                     : static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
  std::atomic<int> running{threads};
  std::vector<std::thread> workers;
  std::vector<double> longestPasses(threads, 0.0);
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&shares, &longestPasses, t, deadline, &running] {
      longestPasses[t] = RunWorker(shares[t], deadline);
      --running;
    });
  }
  while (running.load() > 0) {
    ownCpu.emplace_back(Now(), OwnCpuSeconds());
    coresIdle.push_back(ReadCoresIdleSeconds(measuredCores));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (std::thread& worker : workers) worker.join();
  ownCpu.emplace_back(Now(), OwnCpuSeconds());
  coresIdle.push_back(ReadCoresIdleSeconds(measuredCores));
  run.generatorThreads = threads;
  run.generatorLongestPassMs = *std::max_element(longestPasses.begin(), longestPasses.end());

  // Figures of every game; the replays are read in parallel, one thread per share.
  run.figures.resize(gameCount);
  std::vector<std::thread> finishers;
  for (auto& share : shares) {
    finishers.emplace_back([&share, &run] {
      for (TGameLoad* game : share) run.figures[game->GetSettings().index] = game->Finish(kReplayWaitSeconds);
    });
  }
  for (std::thread& finisher : finishers) finisher.join();
  for (auto& server : servers) server->process.Stop();

  double from = 0.0;
  double to = 0.0;
  run.held = true;
  for (const TGameFigures& game : run.figures) {
    run.serversCpuPercent += game.serverCpuPercent;
    from = from == 0.0 ? game.firstTickAt : std::min(from, game.firstTickAt);
    to = std::max(to, game.lastTickAt);
    run.held = run.held && Held(options, game);
  }
  // The generator's own CPU over the span from the first game's first tick to the last game's last.
  auto at = [&ownCpu](double time) {
    for (std::size_t i = 0; i < ownCpu.size(); ++i) {
      if (ownCpu[i].first >= time) return i;
    }
    return ownCpu.size() - 1;
  };
  const std::size_t start = at(from);
  const std::size_t end = at(to);
  if (ownCpu[end].first > ownCpu[start].first) {
    run.generatorCpuPercent =
        100.0 * (ownCpu[end].second - ownCpu[start].second) / (ownCpu[end].first - ownCpu[start].first);
  }
  const double wall = (ownCpu[end].first - ownCpu[start].first) * measuredCores;
  if (wall > 0.0 && coresIdle[start] >= 0.0 && coresIdle[end] >= 0.0) {
    run.serverCoresBusyPercent = std::max(0.0, 100.0 * (1.0 - (coresIdle[end] - coresIdle[start]) / wall));
  }
  return run;
}

void PrintRun(const TOptions& options, const TRun& run) {
  std::printf("\ncapacity: %d game%s of %zu players and %zu spectators, %u ticks, servers on %d core%s\n", run.games,
              run.games == 1 ? "" : "s", options.players, options.spectators, options.ticks, options.serverCores,
              options.serverCores == 1 ? "" : "s");
  std::printf("%6s %8s %14s %10s %9s %9s %9s %7s %12s %6s\n", "game", "pid", "CPU/game-s", "peak RSS", "tick p50",
              "p99", "max", "ticks", "orders lost", "held");
  for (const TGameFigures& game : run.figures) {
    const bool held = Held(options, game);
    std::printf("%6d %8d %12.2f %% %7.1f MB %6.1f ms %6.1f ms %6.1f ms %7lld %5llu of %-5llu %6s\n", game.index,
                static_cast<int>(game.serverPid), game.serverCpuPercent, game.peakResidentKb / 1024.0,
                game.tickP50Ms, game.tickP99Ms, game.tickMaxMs, static_cast<long long>(game.ticks),
                static_cast<unsigned long long>(game.ordersLost), static_cast<unsigned long long>(game.ordersDue),
                held ? "yes" : "NO");
    for (std::size_t i = 0; i < game.problems.size() && i < 5; ++i) {
      std::printf("         problem: %s\n", game.problems[i].c_str());
    }
  }
  for (const std::string& problem : run.problems) std::printf("  run problem: %s\n", problem.c_str());
  std::printf("%6s servers %.1f %% of a core (%.2f cores), generator %.1f %% of a core (%d threads, longest pass "
              "%.1f ms); %s\n", "all", run.serversCpuPercent, run.serversCpuPercent / 100.0, run.generatorCpuPercent,
              run.generatorThreads, run.generatorLongestPassMs, run.held ? "every game held" : "a game MISSED");
  std::printf("%6s the servers' cores were %.1f %% busy, by the servers and anything else running there\n", "",
              run.serverCoresBusyPercent);
  std::fflush(stdout);
}

std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
      continue;
    }
    out += c;
  }
  return out + "\"";
}

bool WriteJson(const TOptions& options, const std::vector<TRun>& runs, int largestHeld, const std::string& path) {
  std::ofstream file(path);
  file << "{\n  \"ticks\": " << options.ticks << ",\n  \"players\": " << options.players
       << ",\n  \"spectators\": " << options.spectators << ",\n  \"server_cores\": " << options.serverCores
       << ",\n  \"largest_games_held\": " << largestHeld << ",\n  \"runs\": [";
  for (std::size_t r = 0; r < runs.size(); ++r) {
    const TRun& run = runs[r];
    file << (r ? "," : "") << "\n    {\"games\": " << run.games << ", \"held\": " << (run.held ? "true" : "false")
         << ", \"servers_cpu_percent\": " << run.serversCpuPercent
         << ", \"generator_cpu_percent\": " << run.generatorCpuPercent
         << ", \"server_cores_busy_percent\": " << run.serverCoresBusyPercent
         << ", \"generator_threads\": " << run.generatorThreads
         << ", \"generator_longest_pass_ms\": " << run.generatorLongestPassMs << ", \"servers\": [";
    for (std::size_t g = 0; g < run.figures.size(); ++g) {
      const TGameFigures& game = run.figures[g];
      file << (g ? "," : "") << "\n      {\"game\": " << game.index << ", \"cpu_percent_per_game_second\": "
           << game.serverCpuPercent << ", \"peak_rss_kb\": " << game.peakResidentKb
           << ", \"tick_interval_ms\": {\"p50\": " << game.tickP50Ms << ", \"p99\": " << game.tickP99Ms
           << ", \"max\": " << game.tickMaxMs << "}, \"ticks\": " << game.ticks
           << ", \"replay_ticks\": " << game.replayTicks << ", \"orders_due\": " << game.ordersDue
           << ", \"orders_lost\": " << game.ordersLost << ", \"streamed_bytes\": " << game.streamedBytes
           << ", \"ended\": " << (game.ended ? "true" : "false") << ", \"problems\": [";
      for (std::size_t p = 0; p < game.problems.size(); ++p) file << (p ? ", " : "") << JsonText(game.problems[p]);
      file << "]}";
    }
    file << "], \"problems\": [";
    for (std::size_t p = 0; p < run.problems.size(); ++p) file << (p ? ", " : "") << JsonText(run.problems[p]);
    file << "]}";
  }
  file << "\n  ]\n}\n";
  return static_cast<bool>(file);
}

int Usage() {
  std::fprintf(stderr,
               "usage: capacity_generator --server PATH [--games G | --ladder [--max-games N]] [--ticks N]\n"
               "                          [--server-cores N] [--players N] [--spectators N] [--threads N]\n"
               "                          [--ignore-timing] [--out FOLDER]\n");
  return 2;
}

bool ParseOptions(int argc, char** argv, TOptions& options) {
  int games = 1;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--ladder" || name == "--ignore-timing") {
      (name == "--ladder" ? options.ladder : options.ignoreTiming) = true;
      continue;
    }
    if (i + 1 >= argc) return false;
    const std::string value = argv[++i];
    const long number = std::strtol(value.c_str(), nullptr, 10);
    if (name == "--server") {
      options.server = value;
    } else if (name == "--out") {
      options.out = value;
    } else if (name == "--games" && number > 0) {
      games = static_cast<int>(number);
    } else if (name == "--max-games" && number > 0) {
      options.maxGames = static_cast<int>(number);
    } else if (name == "--ticks" && number > 1) {
      options.ticks = static_cast<std::uint32_t>(number);
    } else if (name == "--server-cores" && number >= 0) {
      options.serverCores = static_cast<int>(number);
    } else if (name == "--players" && number > 0 && number <= 64) {
      options.players = static_cast<std::size_t>(number);
    } else if (name == "--spectators" && number >= 0 && number <= 64) {
      options.spectators = static_cast<std::size_t>(number);
    } else if (name == "--threads" && number > 0) {
      options.threads = static_cast<int>(number);
    } else {
      return false;
    }
  }
  if (options.server.empty() || options.players + options.spectators > 64) return false;
  // Each server runs in a folder of its own: the paths must not depend on the working folder.
  options.server = std::filesystem::absolute(options.server).string();
  options.out = std::filesystem::absolute(options.out).string();
  if (!options.ladder) {
    options.games = {games};
    return true;
  }
  // 1, 4, 16, 32, then doubling.
  for (int g : {1, 4, 16}) {
    if (g <= options.maxGames) options.games.push_back(g);
  }
  for (int g = 32; g <= options.maxGames; g *= 2) options.games.push_back(g);
  return true;
}

// The generator on the cores the servers leave; returns how many that is.
int PinGenerator(int serverCores) {
  const int cores = static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
  if (serverCores <= 0 || serverCores >= cores) return std::max(1, cores - std::max(0, serverCores));
  cpu_set_t set;
  CPU_ZERO(&set);
  for (int core = serverCores; core < cores; ++core) CPU_SET(core, &set);
  if (::sched_setaffinity(0, sizeof set, &set) != 0) std::perror("capacity: sched_setaffinity");
  return cores - serverCores;
}

// Every client is a socket, and a run of G games holds 64 G of them.
void RaiseDescriptorLimit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

int Main(int argc, char** argv) {
  TOptions options;
  if (!ParseOptions(argc, argv, options)) return Usage();
  const int generatorCores = PinGenerator(options.serverCores);
  RaiseDescriptorLimit();
  std::filesystem::create_directories(options.out);
  TSharedPeers peers;
  if (!peers.Start(options)) return 1;

  std::vector<TRun> runs;
  int largestHeld = 0;
  for (int games : options.games) {
    runs.push_back(RunGames(options, peers, games, generatorCores - 1));
    PrintRun(options, runs.back());
    if (!runs.back().held) break;
    largestHeld = games;
  }
  const std::string json = options.out + "/capacity.json";
  if (!WriteJson(options, runs, largestHeld, json)) {
    std::fprintf(stderr, "capacity: could not write %s\n", json.c_str());
  }
  if (options.ladder) {
    std::printf("\ncapacity ladder, servers on %d cores, %u ticks:\n%6s %6s %10s %10s %12s %12s %12s %12s %14s\n",
                options.serverCores, options.ticks, "games", "held", "worst p99", "lost", "CPU/game max",
                "RSS max", "servers CPU", "cores busy", "generator CPU");
    for (const TRun& run : runs) {
      double p99 = 0.0;
      double cpu = 0.0;
      long rss = 0;
      unsigned long long lost = 0;
      for (const TGameFigures& game : run.figures) {
        p99 = std::max(p99, game.tickP99Ms);
        cpu = std::max(cpu, game.serverCpuPercent);
        rss = std::max(rss, game.peakResidentKb);
        lost += game.ordersLost;
      }
      std::printf("%6d %6s %7.1f ms %10llu %10.2f %% %9.1f MB %10.1f %% %10.1f %% %12.1f %%\n", run.games,
                  run.held ? "yes" : "NO", p99, lost, cpu, rss / 1024.0, run.serversCpuPercent,
                  run.serverCoresBusyPercent, run.generatorCpuPercent);
    }
    std::printf("capacity: largest G held on %d server cores: %d\n", options.serverCores, largestHeld);
  }
  std::printf("capacity: figures written to %s\n", json.c_str());
  return largestHeld > 0 ? 0 : 1;
}

}  // namespace
}  // namespace OrvCapacity

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  const int status = OrvCapacity::Main(argc, argv);
  curl_global_cleanup();
  return status;
}
