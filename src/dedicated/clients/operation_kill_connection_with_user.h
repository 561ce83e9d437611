// The polite end of a client's connection: one last packet carrying the disconnect reason, then a
// short wait for the client to close its end, after which the connection is closed and the user or
// waiting client it belonged to is deleted, whichever way the wait ended.
#pragma once

#include <event2/bufferevent.h>

#include <cstddef>

#include "dedicated/clients/client_disconnect_reason.h"
#include "network/operations/operation_with_time_out.h"
#include "network/packets/network_id.h"

namespace Orvan::Network {
class TBufferEventSocket;
}  // namespace Orvan::Network

namespace Orvan::Dedicated {

// What a kill ends: an admitted user or a client waiting for its login. From the launch on, the
// operation owns it: it calls CloseKillTarget once and then deletes it.
class IConnectionKillTarget {
 public:
  virtual ~IConnectionKillTarget() = default;
  // The id named when the last packet cannot be sent (still invalid before identification).
  virtual Network::OrvNetId GetKillTargetId() const = 0;
  // Null when the target has no connection (any more).
  virtual Network::TBufferEventSocket* GetKillTargetConnection() const = 0;
  // Closes and deletes the connection, and ends whatever else the target runs.
  virtual void CloseKillTarget() = 0;
  // A target not written about (a flood's connection): its kill writes no line either.
  virtual bool IsKillTargetQuiet() const { return false; }
};

// A client that has not closed its end this long after its last packet is closed by the server
// (the operation manager's tick, driven by the main loop, ends the wait).
inline constexpr double kConnectionKillTimeOutMilliseconds = 1000.0;
// The most the connection buffers from the client while it is being killed; nothing of it is read.
inline constexpr std::size_t kKilledConnectionInputLimit = 4096;

class TOperationKillConnectionWithUser final : public Network::TOperationWithTimeOut {
 public:
  TOperationKillConnectionWithUser(Network::TOperationWithTimeOutManager* manager, IConnectionKillTarget* target,
                                   ClientDisconnectReason reason);
  // The target is released by the ends, not here.
  ~TOperationKillConnectionWithUser() override;

  // Of the target; an invalid id and null once it has been released.
  Network::OrvNetId GetTargetId() const;
  Network::TBufferEventSocket* GetTargetConnection() const;
  ClientDisconnectReason GetReason() const { return reason_; }

 protected:
  // Refused (false) when the target has no open connection: the target is released at once, as the
  // caller handed it over and will not look at it again.
  bool OnOperationLaunched() override;
  void OnOperationTerminated() override;
  void OnOperationTimeout() override;
  void OnOperationKilled() override;
  void OnOperationUpdate() override {}

 private:
  // Any event of the connection (end of file, error, its own time-outs) ends the wait.
  static void OnKilledConnectionEvent(bufferevent* bufferEvent, short events, void* operation);
  void ReleaseTarget();

  IConnectionKillTarget* target_;
  ClientDisconnectReason reason_;
};

}  // namespace Orvan::Dedicated
