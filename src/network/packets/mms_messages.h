// The fixed layouts of the match-making messages, each a record and its writer and reader over
// the format-letter packer. Writers return the packer's result, readers true when it is 0.
#pragma once

#include <cstdint>

#include "core/text/engine_string.h"
#include "network/packets/buffer_io.h"

namespace Orvan::Network {

// Bytes of the ticket a client presents, passed on for validation.
inline constexpr std::uint32_t kMmsLoginDataSize = 128;

// "HLLass": port, game id, address, slave flag, login, key (the wire order is not the record's).
// Port and address hold their network-order values: their bytes go out low byte first.
struct TMmsDedicatedInitMessage {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  std::uint32_t gameId = 0;
  bool slave = false;
  TOrvString<char> login;
  TOrvString<char> dedicatedKey;
};

// "Q#v": the player's id and the ticket it presented.
struct TMmsValidatePlayerMessage {
  std::uint64_t id = 0;
  std::uint8_t loginData[kMmsLoginDataSize] = {};
};

// "QB": the player's id and the verdict (0 accepts).
struct TMmsValidatePlayerAnswer {
  std::uint64_t id = 0;
  std::uint8_t verdict = 0;
};

// "s": the game information text.
struct TMmsGameInfoMessage {
  TOrvString<char> gameInfo;
};

// "a": the server is available again.
struct TMmsSlaveStatusMessage {
  bool available = false;
};

// "QL": the client to wait for and the player limit of the session it hosts.
struct TMmsSlaveUpdateMessage {
  std::uint64_t id = 0;
  std::uint32_t value = 0;
};

// "BsQ": the init result code, the game information, the server's address id.
struct TMmsDedicatedInitAnswer {
  std::uint8_t result = 0;
  TOrvString<char> gameInfo;
  std::uint64_t addressId = 0;
};

std::uint32_t WriteMmsDedicatedInitMessage(IBufferWriter& writer, const TMmsDedicatedInitMessage& message);
bool ReadMmsDedicatedInitMessage(IBufferReader& reader, TMmsDedicatedInitMessage& message);
std::uint32_t WriteMmsValidatePlayerMessage(IBufferWriter& writer, const TMmsValidatePlayerMessage& message);
bool ReadMmsValidatePlayerMessage(IBufferReader& reader, TMmsValidatePlayerMessage& message);
std::uint32_t WriteMmsValidatePlayerAnswer(IBufferWriter& writer, const TMmsValidatePlayerAnswer& message);
bool ReadMmsValidatePlayerAnswer(IBufferReader& reader, TMmsValidatePlayerAnswer& message);
std::uint32_t WriteMmsGameInfoMessage(IBufferWriter& writer, const TMmsGameInfoMessage& message);
bool ReadMmsGameInfoMessage(IBufferReader& reader, TMmsGameInfoMessage& message);
std::uint32_t WriteMmsSlaveStatusMessage(IBufferWriter& writer, const TMmsSlaveStatusMessage& message);
bool ReadMmsSlaveStatusMessage(IBufferReader& reader, TMmsSlaveStatusMessage& message);
std::uint32_t WriteMmsSlaveUpdateMessage(IBufferWriter& writer, const TMmsSlaveUpdateMessage& message);
bool ReadMmsSlaveUpdateMessage(IBufferReader& reader, TMmsSlaveUpdateMessage& message);
std::uint32_t WriteMmsDedicatedInitAnswer(IBufferWriter& writer, const TMmsDedicatedInitAnswer& message);
bool ReadMmsDedicatedInitAnswer(IBufferReader& reader, TMmsDedicatedInitAnswer& message);

}  // namespace Orvan::Network
