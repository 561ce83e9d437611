// The session's side of the admitted clients' protocol: the reading loop that dispatches their
// packets by channel, the game messages of channel 194 with the chat and its log, the relay to the
// players, and the ping answers of channel 197.
#include <cstring>
#include <string>
#include <vector>

#include "dedicated/clients/client_packet_bodies.h"
#include "dedicated/clients/client_packet_sending.h"
#include "dedicated/clients/dedicated_user.h"
#include "dedicated/game/states/dedicated_session_state_manager.h"
#include "dedicated/game/user_action_buffer.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/logging/control_character_escape.h"
#include "network/logging/network_hooks.h"
#include "network/packets/buffer_io.h"
#include "network/packets/network_packet_reader.h"
#include "network/packets/packet_buffer.h"
#include "network/packets/packet_helper.h"
#include "network/packets/value_packing.h"
#include "network/sockets/buffer_event_socket.h"

namespace Orvan::Dedicated {

namespace {

// The game message letters this piece acts on; every other one only goes to the current phase.
constexpr std::uint8_t kGameMessageChat = 'e';
// A player's game message; past 12 bytes it starts with the tick the player reached, and its
// state checksum for that tick is at byte 8.
constexpr std::uint8_t kGameMessageGame = 'g';
constexpr std::uint32_t kGameMessageTickedSize = 12;
// A player's orders for the next tick.
constexpr std::uint8_t kGameMessageActions = 'd';
// A game message follows its u32 recipient.
constexpr std::uint32_t kRecipientSize = 4;

void LogInformation(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogInformation, text); }
void LogWarning(const TOrvString<char>& text) { Network::NetworkLog(Network::kNetworkLogWarning, text); }

TOrvString<char> Decimal(unsigned value) { return TOrvString<char>(std::to_string(value)); }

// The clients write these in their own (little-endian) order.
std::uint32_t ReadHostU32(const std::uint8_t* bytes) {
  std::uint32_t value;
  std::memcpy(&value, bytes, sizeof(value));
  return value;
}

// By address only: the user may already have been deleted by its disconnect.
bool IsAdmitted(const TVector<TDedicatedUser*>& clients, const TDedicatedUser* user) {
  for (const TDedicatedUser* client : clients) {
    if (client == user) return true;
  }
  return false;
}

// A packet of its own holding a copy of the bytes, with that channel.
Network::TPacketBufferPtr CopyPacket(const std::uint8_t* bytes, std::uint32_t size, std::uint8_t channel) {
  Network::TPacketBufferPtr packet;
  Network::CreatePacketBuffer(packet, size != 0 ? bytes : nullptr, static_cast<std::uint16_t>(size));
  packet->channel = channel;
  return packet;
}

void LogSendFailure(const TDedicatedUser* user) {
  LogWarning("Failed to send client data packet to client with id " + user->GetNetworkId().ToString());
}

// A player past what one tick lets it send is removed, not throttled. The user is gone from the
// session afterwards: only the phase is still told of the message, as of every message.
void KickFlooder(TDedicatedUser* user) {
  LogWarning("Disconnecting client " + user->GetNetworkId().ToString());
  user->Disconnect(ClientDisconnectReason::Kicked);
}

// A state request or command within the client's rate; the others are dropped before they are
// logged or carried out.
bool AdmitClientRequest(TDedicatedUser* user) {
  TTimeStamp now;
  return user->AdmitRequest(GetTimeStamp(now));
}

void LogDecodeFailure(const TOrvString<char>& playerId, const char* channelName) {
  LogWarning("Drop packet received from client " + playerId + "(reason : decode packet failed, channel : " +
             channelName + ")");
}

}  // namespace

bool TDedicatedSession::OnClientPacket(TDedicatedUser* user) { return OnClientPacket(user, user->GetConnection()); }

bool TDedicatedSession::OnClientPacket(TDedicatedUser* user, Network::IStreamInterface* stream) {
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr || stream == nullptr) return true;
  Network::TPacketHelperBase* framer = task->GetClientFramer();
  // A frame's handling may disconnect the user (and delete it): from then on its frames are not
  // read, and the user is not touched again.
  while (IsAdmitted(clients_, user)) {
    std::uint16_t received = 0;
    if (!framer->ReceivePacket(stream, user->PendingFrameLength(), received)) {
      user->Disconnect(ClientDisconnectReason::ConnectionLost);
      return false;
    }
    if (received == 0) return true;
    // Out of the framer's buffer, which any send made while handling the frame may reuse.
    const std::uint8_t* body = framer->GetReceiveBuffer();
    const Network::TPacketBufferPtr packet = CopyPacket(body + 1, received - 1u, body[0]);
    const TOrvString<char> playerId = user->GetNetworkId().ToString();
    Network::TNetworkPacketReader reader(packet);
    Network::TNetworkPacketBufferReader source(reader);
    switch (packet->channel) {
      case kChannelGameData: {
        std::uint32_t recipient = 0;
        // The type letter and at least one data byte.
        if (Network::UnpackValues(source, "I", &recipient) != Network::kBufferOk || reader.GetRemainingSize() < 2) {
          LogWarning("Invalid client packet data received from " + playerId);
          break;
        }
        const std::uint8_t* letter = packet->GetPayload() + kRecipientSize;
        const Network::TPacketBufferPtr message =
            CopyPacket(letter + 1, packet->length - kRecipientSize - 1u, *letter);
        OnClientGameData(user, message, recipient);
        break;
      }
      case kChannelIgnored:
        break;
      case kChannelSystemMessage: {
        TSystemMessage message;
        if (!ReadSystemMessage(source, message)) {
          LogDecodeFailure(playerId, "NETWORK_CHANNEL_DEDICATED_SYSTEM_MSG");
          break;
        }
        OnClientSystemMessage(user, message.command, message.value);
        break;
      }
      case kChannelPlayerCommand: {
        TPlayerCommandPacket command;
        if (!ReadPlayerCommand(source, command)) {
          LogDecodeFailure(playerId, "NETWORK_CHANNEL_DEDICATED_PLAYER_COMMAND");
          break;
        }
        if (AdmitClientRequest(user)) ExecuteClientCommand(user, command.commandLine);
        break;
      }
      case kChannelStateWillChange: {
        TStateRequestPacket request;
        if (!ReadStateRequest(source, request)) {
          LogDecodeFailure(playerId, "NETWORK_CHANNEL_DEDICATED_STATE_WILL_CHANGE");
          break;
        }
        if (stateManager_ != nullptr && AdmitClientRequest(user)) {
          stateManager_->OnClientStateRequest(user, request.stateId);
        }
        break;
      }
      default:
        LogWarning("Drop packet received from client " + playerId + " (reason : invalid channel, channel " +
                   Decimal(packet->channel) + ")");
        break;
    }
  }
  return false;
}

void TDedicatedSession::OnClientNetworkError(TDedicatedUser* user, const TOrvString<char>& eventText) {
  LogInformation("Network error with client " + user->GetNetworkId().ToString() + " at IP " +
                 user->GetAddressText() + " -> " + eventText);
  user->Disconnect(ClientDisconnectReason::ConnectionLost);
}

void TDedicatedSession::OnClientGameData(TDedicatedUser* user, const Network::TPacketBufferPtr& message,
                                         std::uint32_t recipient) {
  if (!IsAdmitted(clients_, user) || message.IsNull()) return;
  if (message->channel == kGameMessageChat) {
    // Read within the message: a text longer than what arrived is refused, not read past.
    Network::TNetworkPacketReader reader(message);
    std::uint8_t unused[4];
    TOrvString<char> text;
    TTimeStamp now;
    if (!reader.Read(unused, sizeof(unused)) || !Network::ReadLengthPrefixedString(reader, text)) {
      LogWarning("Invalid client packet data received from " + user->GetNetworkId().ToString());
    } else if (user->AdmitChatLine(GetTimeStamp(now))) {
      TMainServerTask* task = TMainServerTask::GetInstance();
      if (task != nullptr) task->WriteChatLog(user->GetNetworkId().ToString() + ": " + Network::EscapeControlCharacters(text));
      RelayToPlayingClients(user, message, recipient);
    }
  } else if (message->channel == kGameMessageGame) {
    if (IsGameRunning() && !user->IsSpectator()) {
      if (!user->GetActionBuffer()->ChargeGameMessage(message->length)) {
        KickFlooder(user);
      } else {
        if (message->length > kGameMessageTickedSize) {
          const std::uint8_t* data = message->GetPayload();
          const std::uint32_t tick = ReadHostU32(data);
          user->SetLastReportedTick(tick);
          RecordTickChecksum(tick, ReadHostU32(data + 8));
        }
        RelayToPlayingClients(user, message, recipient);
      }
    }
  } else if (message->channel == kGameMessageActions) {
    if (IsGameRunning()) {
      if (user->IsSpectator()) {
        LogWarning("Drop packet received from client " + user->GetNetworkId().ToString() +
                   " (reason : client is spectator and is trying to send packet reserved for playing client !)");
      } else if (!user->GetActionBuffer()->Append(message->GetPayload(), message->length)) {
        KickFlooder(user);
      }
    }
  }
  // Every message, whatever became of it, then goes to the current phase.
  if (stateManager_ != nullptr) stateManager_->OnClientMessage(user, message);
}

void TDedicatedSession::OnClientSystemMessage(TDedicatedUser* user, std::uint8_t command, std::uint32_t value) {
  if (command == kSystemCommandPingAnswer) {
    user->OnPingAnswer(value, GetLastPingCycle());
    return;
  }
  LogWarning("Drop packet received from client " + user->GetNetworkId().ToString() +
             " (reason : invalid system command " + Decimal(command) + ")");
}

void TDedicatedSession::RelayToPlayingClients(TDedicatedUser* sender, const Network::TPacketBufferPtr& message,
                                              std::uint32_t recipient) {
  if (message.IsNull()) return;
  // Every recipient is sent the same bytes: the frame is laid out once.
  std::vector<std::uint8_t> frame;
  const bool framed = AppendFrameWithData(frame, kChannelGameData, sender->GetNetworkId(),
                                          message->GetChannelAndPayload(), message->length + 1u);
  for (TDedicatedUser* client : clients_) {
    if (client->IsSpectator()) continue;
    if (recipient != kEveryPlayer && client->GetUserSessionId() != recipient) continue;
    if (framed) {
      SendClientFrames(client, frame.data(), static_cast<std::uint32_t>(frame.size()), 1, false);
    } else if (client->IsConnected()) {
      LogSendFailure(client);
    }
  }
}

bool TDedicatedSession::SendClientData(TDedicatedUser* sender, TDedicatedUser* user,
                                       const Network::TPacketBufferPtr& message) {
  if (message.IsNull() || !user->IsConnected()) return false;
  // The type letter travels as the first byte, then the data, as received.
  std::vector<std::uint8_t> frame;
  if (!AppendFrameWithData(frame, kChannelGameData, sender->GetNetworkId(), message->GetChannelAndPayload(),
                           message->length + 1u)) {
    LogSendFailure(user);
    return false;
  }
  return SendClientFrames(user, frame.data(), static_cast<std::uint32_t>(frame.size()), 1, false);
}

bool TDedicatedSession::SendClientFrames(TDedicatedUser* user, const void* frames, std::uint32_t size,
                                         std::uint32_t frameCount, bool now) {
  TMainServerTask* task = TMainServerTask::GetInstance();
  if (task == nullptr || !user->IsConnected()) return false;
  const iovec piece{const_cast<void*>(frames), size};
  if (SendFrames(task->GetClientFramer(), user->GetConnection(), kChannelGameData, &piece, 1, now)) return true;
  // Each frame is a message the user did not get.
  for (std::uint32_t i = 0; i < frameCount; ++i) LogSendFailure(user);
  return false;
}

}  // namespace Orvan::Dedicated
