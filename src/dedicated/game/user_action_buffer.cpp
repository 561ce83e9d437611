// One player's orders between two ticks.
#include "dedicated/game/user_action_buffer.h"

#include "dedicated/clients/dedicated_user.h"
#include "network/logging/network_hooks.h"
#include "network/packets/user_actions_packet.h"

namespace Orvan::Dedicated {

namespace {

TOrvString<char> OwnerText(const TDedicatedUser* owner) {
  return owner != nullptr ? owner->GetNetworkId().ToString() : Network::OrvNetId().ToString();
}

}  // namespace

bool TUserActionBuffer::Append(const void* data, std::uint32_t size) {
  if (size == 0 || data == nullptr) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Dropping user action packet, invalid format (client " + OwnerText(owner_) + ")");
    return false;
  }
  if (std::uint64_t{bytes_.GetSize()} + size > kUserActionBufferLimit) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Dropping user action packet, flooding (client " + OwnerText(owner_) + ")");
    return false;
  }
  bytes_.SetPosition(bytes_.GetSize());
  bytes_.Write(data, size);
  ++actionCount_;
  return true;
}

bool TUserActionBuffer::ChargeGameMessage(std::uint32_t size) {
  const std::uint64_t frame = std::uint64_t{size} + kRelayedMessageOverhead;
  if (gameMessageBytes_ + frame > kUserActionBufferLimit) {
    Network::NetworkLog(Network::kNetworkLogWarning,
                        "Dropping game message, flooding (client " + OwnerText(owner_) + ")");
    return false;
  }
  gameMessageBytes_ += static_cast<std::uint32_t>(frame);
  return true;
}

Network::TPacketBufferPtr TUserActionBuffer::MakeUserActionsPacket(std::uint32_t tick, std::uint32_t playerNumber) {
  gameMessageBytes_ = 0;
  return Network::MakeUserActionsPacket(bytes_, actionCount_, tick, playerNumber);
}

void TUserActionBuffer::Reset() {
  gameMessageBytes_ = 0;
  actionCount_ = 0;
  bytes_.SetSize(0);
  bytes_.SetPosition(0);
}

std::uint32_t TUserActionBuffer::GetSize() const { return bytes_.GetSize(); }

}  // namespace Orvan::Dedicated
