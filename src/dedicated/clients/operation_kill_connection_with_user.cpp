// The kill of a client connection: the last packet on channel 199, the wait for the client's close
// (capped in time and in what it may buffer) and the release of the target.
#include "dedicated/clients/operation_kill_connection_with_user.h"

#include <event2/buffer.h>

#include "core/text/positional_format.h"
#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/client_packet_sending.h"
#include "dedicated/program/main_server_task.h"
#include "network/logging/network_hooks.h"
#include "network/sockets/buffer_event_socket.h"
#include "network/sockets/libevent_socket_manager.h"

namespace Orvan::Dedicated {

TOperationKillConnectionWithUser::TOperationKillConnectionWithUser(Network::TOperationWithTimeOutManager* manager,
                                                                   IConnectionKillTarget* target,
                                                                   ClientDisconnectReason reason)
    : TOperationWithTimeOut(manager, kConnectionKillTimeOutMilliseconds), target_(target), reason_(reason) {}

TOperationKillConnectionWithUser::~TOperationKillConnectionWithUser() = default;

Network::OrvNetId TOperationKillConnectionWithUser::GetTargetId() const {
  return target_ != nullptr ? target_->GetKillTargetId() : Network::OrvNetId();
}

Network::TBufferEventSocket* TOperationKillConnectionWithUser::GetTargetConnection() const {
  return target_ != nullptr ? target_->GetKillTargetConnection() : nullptr;
}

bool TOperationKillConnectionWithUser::OnOperationLaunched() {
  Network::TBufferEventSocket* connection = GetTargetConnection();
  if (connection == nullptr || connection->IsClosed()) {
    ReleaseTarget();
    return false;
  }

  TMainServerTask* task = TMainServerTask::GetInstance();
  TSystemMessage lastPacket;
  lastPacket.command = kLastPacketCommand;
  lastPacket.value = static_cast<std::uint32_t>(reason_);
  if ((task == nullptr || !SendPacket(task->GetClientFramer(), connection, kChannelLastPacket, lastPacket)) &&
      !target_->IsKillTargetQuiet()) {
    Network::NetworkLog(Network::kNetworkLogInformation,
                        "TOperationKillConnectionWithUser::OnOperationLaunched() -> Failed to send packet to user " +
                            GetTargetId().ToString());
  }

  // From here nothing the client sends is read: what arrives stays in the input buffer, which stops
  // taking more once it holds the limit. What was left unread before is dropped, so that a full
  // buffer cannot hide the client's close. The output still drains, so the last packet goes out.
  Network::TSocketInterfaceManagerForLibEvent* manager = connection->GetManager();
  manager->SetCallbackForBufferEvent(connection, true, true, nullptr);
  manager->SetEventCallbackForBufferEvent(connection, &OnKilledConnectionEvent);
  manager->SetUserDataForBufferEvent(connection, this);
  evbuffer* input = bufferevent_get_input(connection->GetBufferEvent());
  evbuffer_drain(input, evbuffer_get_length(input));
  bufferevent_setwatermark(connection->GetBufferEvent(), EV_READ, 0, kKilledConnectionInputLimit);
  return true;
}

void TOperationKillConnectionWithUser::OnOperationTerminated() { ReleaseTarget(); }

void TOperationKillConnectionWithUser::OnOperationTimeout() {
  if (target_ != nullptr && !target_->IsKillTargetQuiet()) {
    Network::NetworkLog(Network::kNetworkLogInformation,
                        "TOperationKillConnectionWithUser::OnOperationTimeout() -> Client " +
                            GetTargetId().ToString() + " kept its connection open after its last packet: closed");
  }
  ReleaseTarget();
}

void TOperationKillConnectionWithUser::OnOperationKilled() { ReleaseTarget(); }

void TOperationKillConnectionWithUser::OnKilledConnectionEvent(bufferevent* /*bufferEvent*/, short /*events*/,
                                                               void* operation) {
  static_cast<TOperationKillConnectionWithUser*>(operation)->TerminateOperation();
}

void TOperationKillConnectionWithUser::ReleaseTarget() {
  if (target_ == nullptr) return;
  IConnectionKillTarget* target = target_;
  target_ = nullptr;
  target->CloseKillTarget();
  delete target;
}

}  // namespace Orvan::Dedicated
