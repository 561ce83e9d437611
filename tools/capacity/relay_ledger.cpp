// Checking one player's view of the relay as frames arrive.
#include "capacity/relay_ledger.h"

#include <utility>

#include "capacity/load_wire.h"

namespace OrvCapacity {

TRelayLedger::TRelayLedger(std::uint64_t firstPlayerId, std::size_t players)
    : firstPlayerId_(firstPlayerId),
      players_(players),
      senderTick_(players, -1),
      nextSequence_(players, 1),
      lastReport_(players, -1) {}

void TRelayLedger::Problem(std::string text) {
  if (problems_.size() < kMaxProblems) problems_.push_back(std::move(text));
}

std::size_t TRelayLedger::IndexOf(std::uint64_t playerId) const {
  return playerId >= firstPlayerId_ && playerId - firstPlayerId_ < players_ ? playerId - firstPlayerId_ : players_;
}

void TRelayLedger::CloseTick() {
  if (lastTick_ >= 0 && framesOfTick_ != players_) {
    Problem("tick " + std::to_string(lastTick_) + " brought " + std::to_string(framesOfTick_) + " actions of " +
            std::to_string(players_) + " players");
  }
}

TRelayLedger::EActions TRelayLedger::OnActions(const unsigned char* body, std::size_t size, double now) {
  if (size < kRelayHeadSize + kActionsHeadSize) {
    Problem("short actions frame of " + std::to_string(size) + " bytes");
    return EActions::kNotActions;
  }
  const std::uint64_t senderId = ReadBig64(body + 1);
  const std::size_t sender = IndexOf(senderId);
  const unsigned char* payload = body + kRelayHeadSize;
  const std::size_t payloadSize = size - kRelayHeadSize;
  const std::uint32_t tick = ReadLittle32(payload);
  const std::uint32_t count = ReadLittle32(payload + 8);
  const std::uint16_t dataSize = ReadLittle16(payload + 12);
  if (sender == players_) {
    Problem("actions of unknown sender " + std::to_string(senderId));
    return EActions::kNotActions;
  }
  if (dataSize != payloadSize - kActionsHeadSize || std::size_t{count} * kOrderSize != dataSize) {
    Problem("tick " + std::to_string(tick) + " from " + std::to_string(senderId) + ": count " + std::to_string(count) +
            ", size " + std::to_string(dataSize) + ", " + std::to_string(payloadSize - kActionsHeadSize) + " bytes");
  }
  EActions result = EActions::kSameTick;
  if (static_cast<std::int64_t>(tick) != lastTick_) {
    CloseTick();
    if (static_cast<std::int64_t>(tick) != lastTick_ + 1) {
      Problem("tick " + std::to_string(tick) + " after tick " + std::to_string(lastTick_));
    }
    lastTick_ = tick;
    framesOfTick_ = 0;
    tickTimes_.push_back(now);
    result = EActions::kNewTick;
  }
  if (senderTick_[sender] == static_cast<std::int64_t>(tick)) {
    Problem("tick " + std::to_string(tick) + ": actions of " + std::to_string(senderId) + " twice");
  }
  senderTick_[sender] = tick;
  ++framesOfTick_;
  for (std::size_t offset = kActionsHeadSize; offset + kOrderSize <= payloadSize; offset += kOrderSize) {
    const std::uint64_t player = ReadLittle64(payload + offset);
    const std::uint32_t sequence = ReadLittle32(payload + offset + 8);
    if (player != senderId) {
      Problem("tick " + std::to_string(tick) + ": order of " + std::to_string(player) + " relayed as " +
              std::to_string(senderId) + "'s");
      continue;
    }
    if (sequence != nextSequence_[sender]) {
      Problem("order " + std::to_string(sequence) + " of " + std::to_string(senderId) + " where " +
              std::to_string(nextSequence_[sender]) + " was due");
      // A repeat leaves the sequence where it was; a gap moves on, so one loss is reported once.
      if (sequence > nextSequence_[sender]) {
        skipped_ += sequence - nextSequence_[sender];
        nextSequence_[sender] = sequence + 1;
      }
      continue;
    }
    ++nextSequence_[sender];
  }
  return result;
}

void TRelayLedger::OnTickReport(const unsigned char* body, std::size_t size) {
  if (size != kRelayHeadSize + kTickReportSize) {
    Problem("tick report frame of " + std::to_string(size) + " bytes");
    return;
  }
  const std::uint64_t senderId = ReadBig64(body + 1);
  const std::size_t sender = IndexOf(senderId);
  if (sender == players_) {
    Problem("tick report of unknown sender " + std::to_string(senderId));
    return;
  }
  const std::uint32_t tick = ReadLittle32(body + kRelayHeadSize);
  const std::uint32_t checksum = ReadLittle32(body + kRelayHeadSize + 8);
  if (static_cast<std::int64_t>(tick) != lastReport_[sender] + 1 || checksum != kSharedChecksum) {
    Problem("tick report " + std::to_string(tick) + " of " + std::to_string(senderId) + " after " +
            std::to_string(lastReport_[sender]) + (checksum != kSharedChecksum ? ", checksum wrong" : ""));
  }
  lastReport_[sender] = tick;
}

void TRelayLedger::Finish() { CloseTick(); }

std::uint64_t TRelayLedger::CountLost(const std::vector<std::uint32_t>& due) const {
  std::uint64_t lost = skipped_;
  for (std::size_t player = 0; player < players_ && player < due.size(); ++player) {
    // Orders up to nextSequence_ - 1 arrived in sequence, or were skipped by a gap (counted apart).
    const std::uint32_t inSequence = nextSequence_[player] - 1;
    if (due[player] > inSequence) lost += due[player] - inSequence;
  }
  return lost;
}

}  // namespace OrvCapacity
