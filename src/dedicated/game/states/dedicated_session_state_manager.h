// The session's phase machine: it holds the phase in force, performs every change of phase, counts
// the phase's time down once a second, tells every client about changes and countdown steps, and
// hands client requests and session events to the phase.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/time/time_stamp.h"
#include "dedicated/game/states/dedicated_session_abstract_state.h"
#include "network/packets/packet_buffer.h"

namespace Orvan::Dedicated {

class TDedicatedSession;
class TDedicatedUser;

// The session events that PostEvent hands to the phase in force.
inline constexpr std::uint32_t kStateEventClientAdded = 0;
inline constexpr std::uint32_t kStateEventClientRemoved = 1;
inline constexpr std::uint32_t kStateEventGameInfoChanged = 3;
inline constexpr std::uint32_t kStateEventLaunch = 1000;
inline constexpr std::uint32_t kStateEventCancelLaunch = 1001;
// The program was asked to exit: from then on no game is launched.
inline constexpr std::uint32_t kStateEventExitRequested = 1002;

// The countdown steps when more than this has passed since its last step.
inline constexpr double kCountdownStepSeconds = 1.0;

class TDedicatedSessionStateManager {
 public:
  // No phase yet: the session's CreateStateManager enters the first one.
  explicit TDedicatedSessionStateManager(TDedicatedSession* session);
  // Deletes the phase in force, the one being entered and those left since the last Update.
  ~TDedicatedSessionStateManager();
  TDedicatedSessionStateManager(const TDedicatedSessionStateManager&) = delete;
  TDedicatedSessionStateManager& operator=(const TDedicatedSessionStateManager&) = delete;

  // Leaves the phase in force (kept alive until the end of the next Update, so a phase may change
  // the phase from inside its own operations), raises the players to the new id, tells every
  // connected client, publishes TimeLeft and GameState, records the change and enters `next`,
  // which the manager owns from here on. Called again from a phase's OnExit, the later phase
  // replaces the one being entered. Null is ignored.
  void ChangeState(TDedicatedSessionAbstractState* next);
  // One step: the phase's own update, at most one countdown step, the change once the players are
  // done, and the left phases deleted.
  void Update();
  // A client's request on channel 205, logged, then handed to the phase.
  void OnClientStateRequest(TDedicatedUser* user, std::uint32_t requestedStateId);
  void PostEvent(TDedicatedUser* user, std::uint32_t event);
  void OnClientMessage(TDedicatedUser* client, const Network::TPacketBufferPtr& message);

  // The phase in force's answers; before the first phase: no game, exit allowed, no id, no limit.
  bool IsGameRunning() const;
  std::uint32_t GetCurrentStateId() const;
  bool CanExit() const;
  std::uint32_t GetCurrentTimeLeft() const;

  TDedicatedSession* GetSession() const { return session_; }
  TDedicatedSessionAbstractState* GetCurrentState() const { return current_; }
  // Phases left since the last Update, not deleted yet.
  std::uint32_t GetRetiredCount() const { return retired_.GetSize(); }

 private:
  // Changes to the next phase when the phase in force says its players are done.
  void AdvanceIfUsersReady();
  // One countdown step of the phase in force. A launch due without a Ready match-making link waits
  // at 0 (said once) until the link is back, or until a cancel.
  void StepCountdown();
  // Whether the phase in force may be left now: a game may start only as the session allows.
  bool MayLeave(const TDedicatedSessionAbstractState* state) const;

  TDedicatedSession* session_;
  TDedicatedSessionAbstractState* current_ = nullptr;
  TDedicatedSessionAbstractState* pending_ = nullptr;
  TVector<TDedicatedSessionAbstractState*> retired_;
  TTimeStamp lastCountdownStep_ = 0;
};

}  // namespace Orvan::Dedicated
