// The base of the session's phases: each phase is one object that the state manager enters, counts
// down, asks whether its players are done and leaves, and that hands over the phase that follows it.
#pragma once

#include <cstdint>

#include "network/packets/packet_buffer.h"

namespace Orvan::Dedicated {

class TDedicatedSession;
class TDedicatedSessionStateManager;
class TDedicatedUser;

// The phase ids: what the clients are told on channels 193, 205 and 206 and ask for on 205.
inline constexpr std::uint32_t kMatchMakingStateId = 0;
inline constexpr std::uint32_t kLoadingStateId = 51;
inline constexpr std::uint32_t kDeploymentStateId = 52;
inline constexpr std::uint32_t kCommandStateId = 53;
inline constexpr std::uint32_t kDebriefingStateId = 101;
// The previous phase id of the first change, when there was none.
inline constexpr std::uint32_t kNoStateId = 0xFFFFFFFF;
// A phase's time left when it has no limit: its countdown never reaches 0.
inline constexpr std::uint32_t kNoTimeLimit = 0xFFFFFFFF;

class TDedicatedSessionAbstractState {
 public:
  // Starts without a time limit: a phase sets its own in OnEnter.
  explicit TDedicatedSessionAbstractState(TDedicatedSessionStateManager* manager) : manager_(manager) {}
  virtual ~TDedicatedSessionAbstractState() = default;
  TDedicatedSessionAbstractState(const TDedicatedSessionAbstractState&) = delete;
  TDedicatedSessionAbstractState& operator=(const TDedicatedSessionAbstractState&) = delete;

  // ---- What each phase supplies, in this order.
  virtual void OnEnter() = 0;
  virtual void OnExit() = 0;
  // On every pass of the session's update.
  virtual void Update() = 0;
  virtual std::uint32_t GetStateId() const = 0;
  // A session event with its user (or null): the manager's kStateEvent* values.
  virtual void OnEvent(TDedicatedUser* user, std::uint32_t event) = 0;
  // A game message of channel 194: the type letter, then its data.
  virtual void OnClientMessage(TDedicatedUser* client, const Network::TPacketBufferPtr& message) = 0;
  // The phase that follows this one; the caller owns it.
  virtual TDedicatedSessionAbstractState* CreateNextState() = 0;
  // True once the phase's players are done with it. Phases that wait on their players answer with
  // the rule defined here: false with no client at all, else true once no player (spectators do
  // not count) still requests this phase's id.
  virtual bool AreUsersReady() = 0;
  virtual bool IsGameRunning() const = 0;
  // A client asks for a phase: a phase stores the ids it accepts as the client's requested state
  // and ignores the others.
  virtual void OnClientRequestState(TDedicatedUser* user, std::uint32_t requestedStateId) = 0;
  // Whether the program may stop in this phase.
  virtual bool CanExit() const { return false; }

  TDedicatedSessionStateManager* GetManager() const { return manager_; }
  TDedicatedSession* GetSession() const;
  // Seconds left in this phase; kNoTimeLimit for none.
  std::uint32_t GetTimeLeft() const { return timeLeft_; }
  void SetTimeLeft(std::uint32_t seconds) { timeLeft_ = seconds; }
  // Set by a phase to end its countdown at the next step: the time left then becomes unlimited.
  bool GetStopCountdown() const { return stopCountdown_; }
  void SetStopCountdown(bool stop) { stopCountdown_ = stop; }

 private:
  TDedicatedSessionStateManager* manager_;
  std::uint32_t timeLeft_ = kNoTimeLimit;
  bool stopCountdown_ = false;
};

}  // namespace Orvan::Dedicated
