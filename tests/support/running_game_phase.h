// A phase whose game runs until the test ends it: no time limit, its players never done, every event
// ignored. The relay and main-loop tests put the session in it to see ticks go on.
#pragma once

#include <cstdint>

#include "dedicated/game/states/dedicated_session_abstract_state.h"
#include "dedicated/game/states/phase_factories.h"

namespace OrvTest {

class TRunningGamePhase final : public Orvan::Dedicated::TDedicatedSessionAbstractState {
 public:
  using TDedicatedSessionAbstractState::TDedicatedSessionAbstractState;
  void OnEnter() override {}
  void OnExit() override {}
  void Update() override {}
  std::uint32_t GetStateId() const override { return Orvan::Dedicated::kCommandStateId; }
  void OnEvent(Orvan::Dedicated::TDedicatedUser*, std::uint32_t) override {}
  void OnClientMessage(Orvan::Dedicated::TDedicatedUser*, const Orvan::Network::TPacketBufferPtr&) override {}
  TDedicatedSessionAbstractState* CreateNextState() override {
    return Orvan::Dedicated::CreateMatchMakingPhase(GetManager());
  }
  bool AreUsersReady() override { return false; }
  bool IsGameRunning() const override { return true; }
  void OnClientRequestState(Orvan::Dedicated::TDedicatedUser*, std::uint32_t) override {}
};

}  // namespace OrvTest
