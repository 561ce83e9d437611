// What one player saw of one game's relay, checked as it arrives: the ticks in order, each with
// every player's actions once; every player's orders once and in sequence; every player's tick
// reports in order with the shared checksum. Kept small (counters, not the frames), since a run
// holds thousands of these for hundreds of ticks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace OrvCapacity {

// Problems kept per ledger: the first ones tell what went wrong.
inline constexpr std::size_t kMaxProblems = 20;

class TRelayLedger {
 public:
  enum class EActions { kNotActions, kSameTick, kNewTick };

  // Players are numbered firstPlayerId, firstPlayerId + 1, ... (players of them).
  TRelayLedger(std::uint64_t firstPlayerId, std::size_t players);

  // A relayed actions frame body (channel byte, sender, 'd', payload) that arrived at `now`
  // (seconds); kNewTick when it began a tick.
  EActions OnActions(const unsigned char* body, std::size_t size, double now);
  // A relayed tick report (channel byte, sender, 'g', data).
  void OnTickReport(const unsigned char* body, std::size_t size);
  // Call once the game is over: checks the last tick too.
  void Finish();

  // Orders of the players that did not arrive in sequence: due[i] is how many of player i's
  // orders had to be relayed (the ones it sent before the relay of those was certain).
  std::uint64_t CountLost(const std::vector<std::uint32_t>& due) const;
  std::int64_t GetLastTick() const { return lastTick_; }
  const std::vector<double>& GetTickTimes() const { return tickTimes_; }
  std::int64_t GetLastReport(std::size_t player) const { return lastReport_[player]; }
  const std::vector<std::string>& GetProblems() const { return problems_; }

 private:
  void Problem(std::string text);
  // Index of a player id, or players_ when it is none of them.
  std::size_t IndexOf(std::uint64_t playerId) const;
  void CloseTick();

  std::uint64_t firstPlayerId_;
  std::size_t players_;
  std::int64_t lastTick_ = -1;
  std::size_t framesOfTick_ = 0;
  std::vector<double> tickTimes_;
  std::vector<std::int64_t> senderTick_;     // the last tick each player's actions came with
  std::vector<std::uint32_t> nextSequence_;  // the order expected next from each player
  std::vector<std::int64_t> lastReport_;     // the last tick each player reported
  std::uint64_t skipped_ = 0;                // orders jumped over by a gap in a sequence
  std::vector<std::string> problems_;
};

}  // namespace OrvCapacity
