// The match-making layouts.
#include "network/packets/mms_messages.h"

#include "network/packets/value_packing.h"

namespace Orvan::Network {

std::uint32_t WriteMmsDedicatedInitMessage(IBufferWriter& writer, const TMmsDedicatedInitMessage& message) {
  return PackValues(writer, "HLLass", message.port, message.gameId, message.address, message.slave, &message.login,
                    &message.dedicatedKey);
}

bool ReadMmsDedicatedInitMessage(IBufferReader& reader, TMmsDedicatedInitMessage& message) {
  return UnpackValues(reader, "HLLass", &message.port, &message.gameId, &message.address, &message.slave,
                      &message.login, &message.dedicatedKey) == kBufferOk;
}

std::uint32_t WriteMmsValidatePlayerMessage(IBufferWriter& writer, const TMmsValidatePlayerMessage& message) {
  return PackValues(writer, "Q#v", message.id, kMmsLoginDataSize, message.loginData);
}

bool ReadMmsValidatePlayerMessage(IBufferReader& reader, TMmsValidatePlayerMessage& message) {
  return UnpackValues(reader, "Q#v", &message.id, kMmsLoginDataSize, message.loginData) == kBufferOk;
}

std::uint32_t WriteMmsValidatePlayerAnswer(IBufferWriter& writer, const TMmsValidatePlayerAnswer& message) {
  return PackValues(writer, "QB", message.id, message.verdict);
}

bool ReadMmsValidatePlayerAnswer(IBufferReader& reader, TMmsValidatePlayerAnswer& message) {
  return UnpackValues(reader, "QB", &message.id, &message.verdict) == kBufferOk;
}

std::uint32_t WriteMmsGameInfoMessage(IBufferWriter& writer, const TMmsGameInfoMessage& message) {
  return PackValues(writer, "s", &message.gameInfo);
}

bool ReadMmsGameInfoMessage(IBufferReader& reader, TMmsGameInfoMessage& message) {
  return UnpackValues(reader, "s", &message.gameInfo) == kBufferOk;
}

std::uint32_t WriteMmsSlaveStatusMessage(IBufferWriter& writer, const TMmsSlaveStatusMessage& message) {
  return PackValues(writer, "a", message.available);
}

bool ReadMmsSlaveStatusMessage(IBufferReader& reader, TMmsSlaveStatusMessage& message) {
  return UnpackValues(reader, "a", &message.available) == kBufferOk;
}

std::uint32_t WriteMmsSlaveUpdateMessage(IBufferWriter& writer, const TMmsSlaveUpdateMessage& message) {
  return PackValues(writer, "QL", message.id, message.value);
}

bool ReadMmsSlaveUpdateMessage(IBufferReader& reader, TMmsSlaveUpdateMessage& message) {
  return UnpackValues(reader, "QL", &message.id, &message.value) == kBufferOk;
}

std::uint32_t WriteMmsDedicatedInitAnswer(IBufferWriter& writer, const TMmsDedicatedInitAnswer& message) {
  return PackValues(writer, "BsQ", message.result, &message.gameInfo, message.addressId);
}

bool ReadMmsDedicatedInitAnswer(IBufferReader& reader, TMmsDedicatedInitAnswer& message) {
  return UnpackValues(reader, "BsQ", &message.result, &message.gameInfo, &message.addressId) == kBufferOk;
}

}  // namespace Orvan::Network
