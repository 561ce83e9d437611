// The game-client bodies over the format-letter packer.
#include "dedicated/clients/client_packet_bodies.h"

#include "network/packets/value_packing.h"

namespace Orvan::Dedicated {

using Network::kBufferOk;
using Network::PackValues;
using Network::UnpackValues;

std::uint32_t WriteClientConnectPacket(Network::IBufferWriter& writer, const TClientConnectPacket& body) {
  return PackValues(writer, "Q#vsas", body.playerId.GetValue(), Network::kMmsLoginDataSize, body.loginData,
                    &body.version, body.ask, &body.password);
}

bool ReadClientConnectPacket(Network::IBufferReader& reader, TClientConnectPacket& body) {
  std::uint64_t playerId = 0;
  const std::uint32_t result = UnpackValues(reader, "Q#vsas", &playerId, Network::kMmsLoginDataSize, body.loginData,
                                            &body.version, &body.ask, &body.password);
  body.playerId = Network::OrvNetId::FromValue(playerId);
  return result == kBufferOk;
}

std::uint32_t WriteAdmissionAnswer(Network::IBufferWriter& writer, const TAdmissionAnswer& body) {
  return PackValues(writer, "LaL", body.userSessionId, body.spectator, body.stateId);
}

bool ReadAdmissionAnswer(Network::IBufferReader& reader, TAdmissionAnswer& body) {
  return UnpackValues(reader, "LaL", &body.userSessionId, &body.spectator, &body.stateId) == kBufferOk;
}

std::uint32_t WriteSystemMessage(Network::IBufferWriter& writer, const TSystemMessage& body) {
  return PackValues(writer, "BL", body.command, body.value);
}

bool ReadSystemMessage(Network::IBufferReader& reader, TSystemMessage& body) {
  return UnpackValues(reader, "BL", &body.command, &body.value) == kBufferOk;
}

std::uint32_t WriteClientEvent(Network::IBufferWriter& writer, const TClientEvent& body) {
  return PackValues(writer, "BQaL", static_cast<std::uint8_t>(body.kind), body.playerId.GetValue(), body.flag,
                    body.userSessionId);
}

bool ReadClientEvent(Network::IBufferReader& reader, TClientEvent& body) {
  std::uint8_t kind = 0;
  std::uint64_t playerId = 0;
  const std::uint32_t result = UnpackValues(reader, "BQaL", &kind, &playerId, &body.flag, &body.userSessionId);
  body.kind = static_cast<ClientEventKind>(kind);
  body.playerId = Network::OrvNetId::FromValue(playerId);
  return result == kBufferOk;
}

std::uint32_t WriteServerProperty(Network::IBufferWriter& writer, const TServerPropertyPacket& body) {
  return PackValues(writer, "ss", &body.name, &body.value);
}

bool ReadServerProperty(Network::IBufferReader& reader, TServerPropertyPacket& body) {
  return UnpackValues(reader, "ss", &body.name, &body.value) == kBufferOk;
}

std::uint32_t WritePlayerVariable(Network::IBufferWriter& writer, const TPlayerVariablePacket& body) {
  return PackValues(writer, "Lss", body.userSessionId, &body.name, &body.value);
}

bool ReadPlayerVariable(Network::IBufferReader& reader, TPlayerVariablePacket& body) {
  return UnpackValues(reader, "Lss", &body.userSessionId, &body.name, &body.value) == kBufferOk;
}

std::uint32_t WritePlayerCommand(Network::IBufferWriter& writer, const TPlayerCommandPacket& body) {
  return PackValues(writer, "s", &body.commandLine);
}

bool ReadPlayerCommand(Network::IBufferReader& reader, TPlayerCommandPacket& body) {
  return UnpackValues(reader, "s", &body.commandLine) == kBufferOk;
}

std::uint32_t WriteThreeValues(Network::IBufferWriter& writer, const TThreeValuesPacket& body) {
  return PackValues(writer, "LLL", body.values[0], body.values[1], body.values[2]);
}

bool ReadThreeValues(Network::IBufferReader& reader, TThreeValuesPacket& body) {
  return UnpackValues(reader, "LLL", &body.values[0], &body.values[1], &body.values[2]) == kBufferOk;
}

std::uint32_t WriteStateRequest(Network::IBufferWriter& writer, const TStateRequestPacket& body) {
  return PackValues(writer, "L", body.stateId);
}

bool ReadStateRequest(Network::IBufferReader& reader, TStateRequestPacket& body) {
  return UnpackValues(reader, "L", &body.stateId) == kBufferOk;
}

std::uint32_t WritePingTableEntry(Network::IBufferWriter& writer, const TPingTableEntry& body) {
  return PackValues(writer, "QL", body.playerId.GetValue(), body.ping);
}

bool ReadPingTableEntry(Network::IBufferReader& reader, TPingTableEntry& body) {
  std::uint64_t playerId = 0;
  const std::uint32_t result = UnpackValues(reader, "QL", &playerId, &body.ping);
  body.playerId = Network::OrvNetId::FromValue(playerId);
  return result == kBufferOk;
}

namespace {

// The lists: a u32 count, then the entries one after the other.
template <typename TEntry>
std::uint32_t WriteList(Network::IBufferWriter& writer, const TVector<TEntry>& list,
                        std::uint32_t (*writeEntry)(Network::IBufferWriter&, const TEntry&)) {
  std::uint32_t result = PackValues(writer, "L", list.GetSize());
  for (const TEntry& entry : list) {
    if (result != kBufferOk) break;
    result = writeEntry(writer, entry);
  }
  return result;
}

// Each entry is appended once whole; the first one that cannot be read ends the list.
template <typename TEntry>
bool ReadList(Network::IBufferReader& reader, TVector<TEntry>& list,
              bool (*readEntry)(Network::IBufferReader&, TEntry&)) {
  std::uint32_t count = 0;
  if (UnpackValues(reader, "L", &count) != kBufferOk) return false;
  for (std::uint32_t i = 0; i < count; ++i) {
    TEntry entry;
    if (!readEntry(reader, entry)) return false;
    list.PushBack(entry);
  }
  return true;
}

std::uint32_t WriteNumberPair(Network::IBufferWriter& writer, const TNumberPair& pair) {
  return PackValues(writer, "LL", pair.userSessionId, pair.value);
}

bool ReadNumberPair(Network::IBufferReader& reader, TNumberPair& pair) {
  return UnpackValues(reader, "LL", &pair.userSessionId, &pair.value) == kBufferOk;
}

std::uint32_t WriteIdListEntry(Network::IBufferWriter& writer, const TIdListEntry& entry) {
  return PackValues(writer, "QL", entry.id, entry.value);
}

bool ReadIdListEntry(Network::IBufferReader& reader, TIdListEntry& entry) {
  return UnpackValues(reader, "QL", &entry.id, &entry.value) == kBufferOk;
}

}  // namespace

std::uint32_t WriteNumberPairs(Network::IBufferWriter& writer, const TNumberPairList& pairs) {
  return WriteList(writer, pairs, &WriteNumberPair);
}

bool ReadNumberPairs(Network::IBufferReader& reader, TNumberPairList& pairs) {
  return ReadList(reader, pairs, &ReadNumberPair);
}

std::uint32_t WriteIdList(Network::IBufferWriter& writer, const TIdList& entries) {
  return WriteList(writer, entries, &WriteIdListEntry);
}

bool ReadIdList(Network::IBufferReader& reader, TIdList& entries) {
  return ReadList(reader, entries, &ReadIdListEntry);
}

}  // namespace Orvan::Dedicated
