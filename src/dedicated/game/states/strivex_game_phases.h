// The phases of a running game: loading (clients load the map), deployment (players place their
// forces; the players the game expects are fixed here), command (the battle) and debriefing (the
// result goes out, then everyone goes back to match making). Players that fall behind are removed:
// those that never finished loading, those whose game lags too far, and at the end those that did
// not ask to go back.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/time/time_stamp.h"
#include "dedicated/game/states/dedicated_session_abstract_state.h"

namespace Orvan::Dedicated {

// The longest lag, in milliseconds of game time, a player of the battle may have behind the
// session's tick counter.
inline constexpr double kMaxClientLagMilliseconds = 30000.0;
inline constexpr double kMillisecondsPerTick = 200.0;
// The lag check runs once this much has passed since the last one.
inline constexpr double kLagCheckMilliseconds = 1000.0;
// The debriefing lasts at least this long, so the clients see the result.
inline constexpr std::uint32_t kMinimumDebriefingSeconds = 10;

// What the game phases share: no events, no game messages, a running game, and the base rule for
// when the players are done.
class TStrivexGamePhase : public TDedicatedSessionAbstractState {
 public:
  using TDedicatedSessionAbstractState::TDedicatedSessionAbstractState;

  void OnEvent(TDedicatedUser*, std::uint32_t) override {}
  void OnClientMessage(TDedicatedUser*, const Network::TPacketBufferPtr&) override {}
  bool AreUsersReady() override { return TDedicatedSessionAbstractState::AreUsersReady(); }
  bool IsGameRunning() const override { return true; }

 protected:
  // A server property as an unsigned number: 0 when absent or not a number.
  std::uint32_t ReadSeconds(const char* property) const;
};

class TStrivexDedicatedSessionStateLoadingPhase final : public TStrivexGamePhase {
 public:
  using TStrivexGamePhase::TStrivexGamePhase;

  void OnEnter() override;
  // Removes the players that never finished loading.
  void OnExit() override { KickClientsNotLoaded(); }
  void Update() override {}
  std::uint32_t GetStateId() const override { return kLoadingStateId; }
  TDedicatedSessionAbstractState* CreateNextState() override;
  void OnClientRequestState(TDedicatedUser* user, std::uint32_t requestedStateId) override;

 private:
  void KickClientsNotLoaded();
};

class TStrivexDedicatedSessionStateDeploiementPhase final : public TStrivexGamePhase {
 public:
  using TStrivexGamePhase::TStrivexGamePhase;

  void OnEnter() override;
  void OnExit() override {}
  void Update() override {}
  std::uint32_t GetStateId() const override { return kDeploymentStateId; }
  TDedicatedSessionAbstractState* CreateNextState() override;
  void OnClientRequestState(TDedicatedUser* user, std::uint32_t requestedStateId) override;

  // Every client's network id value (spectators too), as they were on entering.
  const TVector<std::uint64_t>& GetExpectedPlayers() const { return expectedPlayers_; }

 private:
  TVector<std::uint64_t> expectedPlayers_;
};

class TStrivexDedicatedSessionStateCommandPhase final : public TStrivexGamePhase {
 public:
  TStrivexDedicatedSessionStateCommandPhase(TDedicatedSessionStateManager* manager,
                                            const TVector<std::uint64_t>& expectedPlayers)
      : TStrivexGamePhase(manager) {
    for (std::uint64_t player : expectedPlayers) expectedPlayers_.PushBack(player);
  }

  void OnEnter() override;
  void OnExit() override {}
  // Checks the players' lag once a second.
  void Update() override;
  std::uint32_t GetStateId() const override { return kCommandStateId; }
  TDedicatedSessionAbstractState* CreateNextState() override;
  void OnClientRequestState(TDedicatedUser* user, std::uint32_t requestedStateId) override;

  const TVector<std::uint64_t>& GetExpectedPlayers() const { return expectedPlayers_; }

 private:
  void CheckClientLag();

  bool lagChecked_ = false;
  TTimeStamp lastLagCheck_ = 0;
  TVector<std::uint64_t> expectedPlayers_;
};

class TStrivexDedicatedSessionStateDebriefingPhase final : public TStrivexGamePhase {
 public:
  TStrivexDedicatedSessionStateDebriefingPhase(TDedicatedSessionStateManager* manager,
                                               const TVector<std::uint64_t>& expectedPlayers)
      : TStrivexGamePhase(manager) {
    for (std::uint64_t player : expectedPlayers) expectedPlayers_.PushBack(player);
  }

  // Sets the countdown and sends the game's result on its way.
  void OnEnter() override;
  // Removes every client, spectators too, that did not ask to go back to match making.
  void OnExit() override { KickClientsNotReturned(); }
  void Update() override {}
  std::uint32_t GetStateId() const override { return kDebriefingStateId; }
  TDedicatedSessionAbstractState* CreateNextState() override;
  // A request to go back also marks the client ready for the next game.
  void OnClientRequestState(TDedicatedUser* user, std::uint32_t requestedStateId) override;

  const TVector<std::uint64_t>& GetExpectedPlayers() const { return expectedPlayers_; }

 private:
  void KickClientsNotReturned();

  TVector<std::uint64_t> expectedPlayers_;
};

}  // namespace Orvan::Dedicated
