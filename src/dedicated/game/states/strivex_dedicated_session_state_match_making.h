// The phase in which players gather, pick alliances and say they are ready, and in which the game
// is launched: by itself once enough players are in, or by the host's order in a hosted game.
#pragma once

#include <cstdint>

#include "dedicated/game/states/dedicated_session_abstract_state.h"
#include "network/packets/packet_buffer.h"

namespace Orvan::Dedicated {

class TStrivexDedicatedSessionStateMatchMaking : public TDedicatedSessionAbstractState {
 public:
  explicit TStrivexDedicatedSessionStateMatchMaking(TDedicatedSessionStateManager* manager)
      : TDedicatedSessionAbstractState(manager) {}

  // Everyone becomes a player again; clients of another version go; a game without a host with
  // enough clients launches at once.
  void OnEnter() override;
  // A new seed and the player numbers, sent to every client.
  void OnExit() override { AssignPlayerNumbers(); }
  void Update() override {}
  std::uint32_t GetStateId() const override { return kMatchMakingStateId; }
  void OnEvent(TDedicatedUser* user, std::uint32_t event) override;
  void OnClientMessage(TDedicatedUser*, const Network::TPacketBufferPtr&) override {}
  TDedicatedSessionAbstractState* CreateNextState() override;
  // Only a hosted game ends its countdown early, once every player is ready.
  bool AreUsersReady() override;
  bool IsGameRunning() const override { return false; }
  // Accepts 52 and 0.
  void OnClientRequestState(TDedicatedUser* user, std::uint32_t requestedStateId) override;
  bool CanExit() const override { return true; }

  // Enough clients (spectators count) and every player ready or host.
  bool UsersReadyToLaunch() const;
  // Straight to loading in a hosted game whose players are all ready, else (again) the warm-up
  // countdown.
  void Launch();
  // The countdown stops at its next step.
  void CancelLaunch();
  // Disconnects every client whose version is not the Version property.
  void KickOtherVersions();
  void AssignPlayerNumbers();

 private:
  // A property as an unsigned decimal; 0 when absent or not a number.
  std::uint32_t ReadNumber(const char* name) const;
};

}  // namespace Orvan::Dedicated
