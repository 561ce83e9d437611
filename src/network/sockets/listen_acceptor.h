// The accepting side of a listen socket, shared by the client and console listeners. It takes the
// waiting connections one at a time and never spins when accepting fails: out of descriptors or
// memory, the socket stays readable, so it is not watched for a pause that grows while the failure
// repeats, with one log line per pause. A spare descriptor lets the oldest waiting connection be
// taken and closed when the descriptor table is full. An error that belongs to one connection only
// (it was reset, its network went away) uses that connection up: the next one is taken at once.
#pragma once

#include <event2/event.h>
#include <sys/socket.h>

#include <cstdint>

#include "core/text/engine_string.h"
#include "core/time/time_stamp.h"

namespace Orvan::Network {

class TNativeSocket;
class TSocketInterfaceManagerForLibEvent;

// The pause after a failed accept: the shortest after a success, doubled by each failure that
// follows it, never longer than the longest. Connections arriving meanwhile wait in the backlog.
inline constexpr std::uint32_t kAcceptPauseShortestMilliseconds = 100;
inline constexpr std::uint32_t kAcceptPauseLongestMilliseconds = 1000;

// Lines about failures of single connections, which the acceptor goes past: at most one a second,
// with the count of those it held back.
inline constexpr std::uint32_t kAcceptRetriedLineMilliseconds = 1000;
// Single-connection failures in a row after which the socket is paused all the same: a failure the
// accept does not take the connection with (a security module's EPERM) would otherwise repeat
// without end. Loopback floods of reset connections never come near it.
inline constexpr std::uint32_t kAcceptRetriesInARow = 64;

enum class EAcceptFailure {
  // The failure is the waiting connection's own: it is gone, and the next one is taken at once.
  kRetry,
  // Out of descriptors or memory, or the listen socket itself is at fault: the next accept would
  // fail the same way, so the socket is paused.
  kPause
};

// What a failed accept's errno value calls for. Linux hands a new connection's pending network
// errors to accept itself; EPERM is a firewall's refusal of that one connection.
EAcceptFailure ClassifyAcceptError(int error) noexcept;

class TListenAcceptor {
 public:
  // The listener's own line for an accept that failed with the errno value; the acceptor adds
  // what it did about it.
  using TFailureLine = TOrvString<char> (*)(int error);

  explicit TListenAcceptor(TFailureLine failureLine);
  // Stops watching and closes the spare descriptor.
  ~TListenAcceptor();
  TListenAcceptor(const TListenAcceptor&) = delete;
  TListenAcceptor& operator=(const TListenAcceptor&) = delete;

  // Watches `socket` for readable events (persistent, no time-out) with the callback and its
  // argument, whenever it is neither held nor paused. The socket stays the caller's, who calls
  // Stop before closing it. A pause still running ends here.
  void Start(TSocketInterfaceManagerForLibEvent* manager, TNativeSocket* socket, event_callback_fn callback,
             void* argument);
  // No longer watches the socket and forgets it.
  void Stop();
  // While held the socket is not watched: connections wait in the backlog, neither accepted nor
  // refused.
  void SetHeld(bool held);
  // Ends a pause that has run its course at `now` (the engine's monotonic clock): called once per
  // loop pass.
  void Update(TTimeStamp now);
  // The descriptor of the next waiting connection, with its peer in `address`; -1 when none is
  // waiting, and -1 when accepting failed for the socket: the failure is then logged and the
  // socket paused. Past a failure of one connection it takes the next one.
  int Accept(sockaddr_storage& address);
  // What Accept does with a failed accept's errno value, at `now`: true when it goes on to the
  // next connection (the failure counted, a line at most once a second), else the socket is paused:
  // for the errors that call for it, and for the last of too many single-connection ones in a row.
  // Public for the errors loopback connections cannot be made to give.
  bool HandleFailure(int error, TTimeStamp now);

  bool IsWatching() const { return watching_; }
  bool IsHeld() const { return held_; }
  bool IsPaused() const { return paused_; }
  // When the running pause ends.
  TTimeStamp GetPauseEnd() const { return pauseEnd_; }
  // How long the next failure pauses the socket.
  std::uint32_t GetNextPauseMilliseconds() const { return nextPause_; }
  bool HasSpareDescriptor() const { return spare_ != -1; }

 private:
  // Watches the socket or not, as the socket, the hold and the pause say.
  void ApplyWatch();
  void Pause(int error, TTimeStamp now);
  // The line for the single-connection failures counted since the last one.
  void LogRetried(TTimeStamp now);
  // Frees the spare to take the oldest waiting connection and close it, then takes the spare back.
  // The peer's text, empty when nothing was taken.
  TOrvString<char> CloseOldestWaiting();
  void OpenSpare();

  TFailureLine failureLine_;
  TSocketInterfaceManagerForLibEvent* manager_ = nullptr;
  TNativeSocket* socket_ = nullptr;
  event_callback_fn callback_ = nullptr;
  void* argument_ = nullptr;
  int spare_ = -1;
  bool watching_ = false;
  bool held_ = false;
  bool paused_ = false;
  TTimeStamp pauseEnd_ = 0;
  std::uint32_t nextPause_ = kAcceptPauseShortestMilliseconds;
  // Failed accepts since the last line.
  std::uint32_t failures_ = 0;
  // Single-connection failures not yet in a line, the last one's errno, and when the next line
  // about them may be written.
  std::uint32_t retried_ = 0;
  // Single-connection failures since the last accepted connection or pause.
  std::uint32_t retriedInARow_ = 0;
  int retriedError_ = 0;
  TTimeStamp nextRetriedLine_ = 0;
};

}  // namespace Orvan::Network
