// What the match-making server sends on the link: the init answer while Connected, then the game
// information updates, the player verdicts and the slave-mode wait orders while Ready. Frames are
// decoded by their channel; a bad frame is dropped with a line and the link stays up.
#include <string>

#include "core/containers/open_hash_map.h"
#include "core/text/hash_functors.h"
#include "dedicated/admin/dedicated_property_table.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/dedicated_session.h"
#include "network/database/json_tree.h"
#include "network/logging/network_hooks.h"
#include "network/packets/buffer_io.h"
#include "network/packets/mms_messages.h"
#include "network/packets/packet_helper.h"
#include "network/sockets/buffer_event_socket.h"

namespace Orvan::Dedicated {

namespace {

void LogMessage(int level, const TOrvString<char>& text) { Network::NetworkLog(level, text); }

// A frame body (the channel byte, then the message) as a reader over its message.
Network::TFixedBufferReader MessageReader(const std::uint8_t* body, std::uint16_t length) {
  return Network::TFixedBufferReader(body + 1, static_cast<std::uint32_t>(length) - 1);
}

}  // namespace

const char* GetMatchMakingInitResultName(std::uint8_t code) {
  static const char* const kNames[] = {"Success",  "Full",        "Failed",         "IpAlreadyUsed",
                                       "InvalidDedicatedLoginOrKey", "InvalidIp",   "Timeout",
                                       "ErrorDisconnect", "InternalError", nullptr, "InvalidGameId",
                                       "InvalidPort", "InvalidInitPacketReceived"};
  if (code < sizeof(kNames) / sizeof(kNames[0]) && kNames[code] != nullptr) return kNames[code];
  return "Unknown";
}

bool TMainServerTask::OnMatchMakingInitAnswer() {
  std::uint16_t received = 0;
  if (matchMakingStream_ == nullptr ||
      !matchMakingFramer_->ReceivePacket(matchMakingStream_, pendingFrameLength_, received)) {
    LogMessage(Network::kNetworkLogWarning, "Failed to received init packet from match making server !!!");
    return false;
  }
  if (received == 0) return true;
  const std::uint8_t* body = matchMakingFramer_->GetReceiveBuffer();
  if (body[0] != kMmsInitChannel) return false;

  Network::TMmsDedicatedInitAnswer answer;
  Network::TFixedBufferReader reader = MessageReader(body, received);
  if (!Network::ReadMmsDedicatedInitAnswer(reader, answer)) {
    LogMessage(Network::kNetworkLogWarning,
               "Drop init packet received from match making server (reason : decode packet failed, channel : "
               "NETWORK_CHANNEL_MMS_DEDICATED_INIT_MESSAGE)");
    return true;
  }
  if (answer.result != 0) {
    LogMessage(Network::kNetworkLogInformation, TOrvString<char>("Connection to mms failed (reason : ") +
                                                    GetMatchMakingInitResultName(answer.result) + ")");
    CloseMatchMakingLink();
    return false;
  }
  if (!ApplyGameInfo(answer.gameInfo)) {
    CloseMatchMakingLink();
    return false;
  }
  OnMatchMakingLinkValidated(Network::OrvNetId::FromValue(answer.addressId));
  return true;
}

bool TMainServerTask::ApplyGameInfo(const TOrvString<char>& json) {
  // At link-up a failure ends the link; an update that fails is dropped and the link stays up with
  // what it had, which its lines say rather than announcing a disconnection.
  const bool update = linkState_ == MatchMakingLinkState::Ready;
  const char* const outcome = update ? " -> update ignored, still connected to match making server"
                                     : " -> Disconnected from match making server !";
  const Network::TJsonTree tree(json.c_str());
  if (!tree.IsValid()) {
    LogMessage(Network::kNetworkLogWarning,
               TOrvString<char>("Error parsing game info received from match making server") + outcome);
    return false;
  }
  TOpenHashMap<TKeyValueEntry<TOrvString<char>, TOrvString<char>>, TStringHash, TStringEqual,
               default_allocator<unsigned char>>
      members;
  const yajl_val root = tree.GetRoot();
  if (YAJL_IS_OBJECT(root)) {
    for (std::size_t i = 0; i < root->u.object.len; ++i) {
      const yajl_val value = root->u.object.values[i];
      if (!YAJL_IS_STRING(value)) continue;
      const TOrvString<char> name(root->u.object.keys[i]);
      TKeyValueEntry<TOrvString<char>, TOrvString<char>>* entry;
      if (members.FindOrInsert(name, &entry)) {
        ::new (static_cast<void*>(entry)) TKeyValueEntry<TOrvString<char>, TOrvString<char>>{name, {}};
      }
      entry->value = TOrvString<char>(YAJL_GET_STRING(value));
    }
  }

  bool result = false;
  if (const auto* statsUrl = members.IsEmpty() ? nullptr : members.Find(TOrvString<char>("StatsURL"))) {
    statsUrl_ = statsUrl->value;
    LogMessage(Network::kNetworkLogInformation, "Stats URL for game " + statsUrl_);
    result = true;
  } else {
    LogMessage(Network::kNetworkLogWarning,
               TOrvString<char>("Failed to get game info from data received from match making server") + outcome);
  }
  if (!versionLocked_) {
    const auto* version = members.IsEmpty() ? nullptr : members.Find(TOrvString<char>("gameVersion"));
    if (version != nullptr) {
      if (session_ != nullptr && session_->GetPropertyTable() != nullptr) {
        session_->GetPropertyTable()->SetVariable("Version", version->value, false, false, false, true);
      }
    } else {
      LogMessage(Network::kNetworkLogWarning,
                 TOrvString<char>("Failed to get game version from data received from match making server") +
                     (update ? " -> Version unchanged" : outcome));
    }
  }
  members.Clear();
  return result;
}

void TMainServerTask::OnMatchMakingPacket() {
  for (;;) {
    // A handler may have closed the link (the session, or a drop below).
    if (matchMakingStream_ == nullptr || matchMakingStream_->IsClosed()) return;
    std::uint16_t received = 0;
    if (!matchMakingFramer_->ReceivePacket(matchMakingStream_, pendingFrameLength_, received)) {
      CloseMatchMakingLink();
      return;
    }
    if (received == 0) return;
    const std::uint8_t* body = matchMakingFramer_->GetReceiveBuffer();
    const std::uint8_t channel = body[0];
    Network::TFixedBufferReader reader = MessageReader(body, received);
    switch (channel) {
      case kMmsGameInfoChannel: {
        Network::TMmsGameInfoMessage message;
        if (!Network::ReadMmsGameInfoMessage(reader, message)) {
          LogMessage(Network::kNetworkLogError,
                     "Drop packet received from match making server (reason : failed to decode an update game "
                     "info message");
        } else if (ApplyGameInfo(message.gameInfo)) {
          if (session_ != nullptr) session_->OnGameInfoUpdated();
        } else {
          LogMessage(Network::kNetworkLogError,
                     "Drop packet received from match making server (reason : invalid game info received");
        }
        break;
      }
      case kMmsSlaveChannel: {
        Network::TMmsSlaveUpdateMessage message;
        if (!slave_) {
          LogMessage(Network::kNetworkLogWarning,
                     "Drop packet received from match making server (reason : dedicated server is not a mms "
                     "slave");
        } else if (!Network::ReadMmsSlaveUpdateMessage(reader, message)) {
          LogMessage(Network::kNetworkLogError,
                     "Drop packet received from match making server (reason : failed to decode a slave update "
                     "message");
        } else if (session_ != nullptr) {
          session_->OnWaitClientMessage(Network::OrvNetId::FromValue(message.id), message.value);
        }
        break;
      }
      case kMmsValidatePlayerChannel: {
        Network::TMmsValidatePlayerAnswer answer;
        if (!Network::ReadMmsValidatePlayerAnswer(reader, answer)) {
          LogMessage(Network::kNetworkLogError,
                     "Drop packet received from match making server (reason : failed to decode a validate player "
                     "message");
        } else {
          ForwardClientValidation(answer);
        }
        break;
      }
      default:
        LogMessage(Network::kNetworkLogError,
                   "Drop packet received from match making server (reason : invalid channel -> " +
                       TOrvString<char>(std::to_string(channel)) + ")");
        break;
    }
  }
}

void TMainServerTask::ForwardClientValidation(const Network::TMmsValidatePlayerAnswer& answer) {
  if (session_ != nullptr) session_->OnClientValidation(answer);
}

}  // namespace Orvan::Dedicated
