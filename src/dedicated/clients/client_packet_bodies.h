// The bodies of the game-client protocol: one record per body, with its packer and unpacker over the
// format letters (big-endian). Packers return the packer's result (0 done), unpackers true only when
// every field was read. The channels that carry them are listed here too.
#pragma once

#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/text/engine_string.h"
#include "network/packets/buffer_io.h"
#include "network/packets/mms_messages.h"
#include "network/packets/network_id.h"

namespace Orvan::Dedicated {

// Client channels. From the client: 193, 194, 196, 197, 203, 205; to it: 193, 194, 197, 199 to 208.
inline constexpr std::uint8_t kChannelInitConnection = 193;  // connect packet in, admission answer out
inline constexpr std::uint8_t kChannelGameData = 194;
inline constexpr std::uint8_t kChannelIgnored = 196;
inline constexpr std::uint8_t kChannelSystemMessage = 197;  // ping request out, ping answer in
inline constexpr std::uint8_t kChannelLastPacket = 199;
inline constexpr std::uint8_t kChannelClientEvent = 200;
inline constexpr std::uint8_t kChannelServerProperty = 201;
inline constexpr std::uint8_t kChannelPlayerVariable = 202;
inline constexpr std::uint8_t kChannelPlayerCommand = 203;
inline constexpr std::uint8_t kChannelPlayerNumbers = 204;
inline constexpr std::uint8_t kChannelStateWillChange = 205;  // state timer out, state request in
inline constexpr std::uint8_t kChannelNextState = 206;
inline constexpr std::uint8_t kChannelReplayStream = 207;
inline constexpr std::uint8_t kChannelPingTable = 208;

// "Q#vsas", channel 193 from the client: who it is, the ticket passed on to the match-making
// server untouched, its version, whether it asks to host (slave mode), the server password.
struct TClientConnectPacket {
  Network::OrvNetId playerId;
  std::uint8_t loginData[Network::kMmsLoginDataSize] = {};
  TOrvString<char> version;
  bool ask = false;
  TOrvString<char> password;
};

// "LaL", channel 193 to the client: 9 bytes.
struct TAdmissionAnswer {
  std::uint32_t userSessionId = 0;
  bool spectator = false;  // admitted outside the match-making state
  std::uint32_t stateId = 0;
};

// "BL": the ping request (command 1) and answer (command 0) on channel 197; on channel 199 the last
// packet before a kill, command 0 and the disconnect reason as the value.
struct TSystemMessage {
  std::uint8_t command = 0;
  std::uint32_t value = 0;
};
inline constexpr std::uint8_t kSystemCommandPingAnswer = 0;
inline constexpr std::uint8_t kSystemCommandPingRequest = 1;
inline constexpr std::uint8_t kLastPacketCommand = 0;

// "BQaL", channel 200: what happened to one user. The flag is the subject's spectator flag in a
// join event and 0 in a host event.
enum class ClientEventKind : std::uint8_t { Joined = 0, Ready = 1, Left = 2, Host = 3 };
struct TClientEvent {
  ClientEventKind kind = ClientEventKind::Joined;
  Network::OrvNetId playerId;
  bool flag = false;
  std::uint32_t userSessionId = 0;
};

// "ss", channel 201.
struct TServerPropertyPacket {
  TOrvString<char> name;
  TOrvString<char> value;
};

// "L" then "ss", channel 202: one variable of the user with that session id.
struct TPlayerVariablePacket {
  std::uint32_t userSessionId = 0;
  TOrvString<char> name;
  TOrvString<char> value;
};

// "s", channel 203 from the client.
struct TPlayerCommandPacket {
  TOrvString<char> commandLine;
};

// Channel 204: a u32 count, then per pair "L" "L".
struct TNumberPair {
  std::uint32_t userSessionId = 0;
  std::uint32_t value = 0;
};
using TNumberPairList = TVector<TNumberPair>;

// "LLL": the state timer (state id, seconds left, tick counter) on channel 205 and the next state
// (previous state id, new state id, tick counter) on channel 206.
struct TThreeValuesPacket {
  std::uint32_t values[3] = {};
};

// "L", channel 205 from the client.
struct TStateRequestPacket {
  std::uint32_t stateId = 0;
};

// "QL", channel 208.
struct TPingTableEntry {
  Network::OrvNetId playerId;
  std::uint32_t ping = 0;  // milliseconds
};

// The id list: a u32 count, then per entry "Q" "L" (12 bytes on the wire, 16 in memory).
struct TIdListEntry {
  std::uint64_t id = 0;
  std::uint32_t value = 0;
};
using TIdList = TVector<TIdListEntry>;

std::uint32_t WriteClientConnectPacket(Network::IBufferWriter& writer, const TClientConnectPacket& body);
bool ReadClientConnectPacket(Network::IBufferReader& reader, TClientConnectPacket& body);
std::uint32_t WriteAdmissionAnswer(Network::IBufferWriter& writer, const TAdmissionAnswer& body);
bool ReadAdmissionAnswer(Network::IBufferReader& reader, TAdmissionAnswer& body);
std::uint32_t WriteSystemMessage(Network::IBufferWriter& writer, const TSystemMessage& body);
bool ReadSystemMessage(Network::IBufferReader& reader, TSystemMessage& body);
std::uint32_t WriteClientEvent(Network::IBufferWriter& writer, const TClientEvent& body);
bool ReadClientEvent(Network::IBufferReader& reader, TClientEvent& body);
std::uint32_t WriteServerProperty(Network::IBufferWriter& writer, const TServerPropertyPacket& body);
bool ReadServerProperty(Network::IBufferReader& reader, TServerPropertyPacket& body);
std::uint32_t WritePlayerVariable(Network::IBufferWriter& writer, const TPlayerVariablePacket& body);
bool ReadPlayerVariable(Network::IBufferReader& reader, TPlayerVariablePacket& body);
std::uint32_t WritePlayerCommand(Network::IBufferWriter& writer, const TPlayerCommandPacket& body);
bool ReadPlayerCommand(Network::IBufferReader& reader, TPlayerCommandPacket& body);
std::uint32_t WriteThreeValues(Network::IBufferWriter& writer, const TThreeValuesPacket& body);
bool ReadThreeValues(Network::IBufferReader& reader, TThreeValuesPacket& body);
std::uint32_t WriteStateRequest(Network::IBufferWriter& writer, const TStateRequestPacket& body);
bool ReadStateRequest(Network::IBufferReader& reader, TStateRequestPacket& body);
std::uint32_t WritePingTableEntry(Network::IBufferWriter& writer, const TPingTableEntry& body);
bool ReadPingTableEntry(Network::IBufferReader& reader, TPingTableEntry& body);

// The lists append what they read to the caller's list and stop at the first field that cannot be
// read, keeping the entries read before it. The count read never reserves room: only entries
// actually there are stored.
std::uint32_t WriteNumberPairs(Network::IBufferWriter& writer, const TNumberPairList& pairs);
bool ReadNumberPairs(Network::IBufferReader& reader, TNumberPairList& pairs);
std::uint32_t WriteIdList(Network::IBufferWriter& writer, const TIdList& entries);
bool ReadIdList(Network::IBufferReader& reader, TIdList& entries);

}  // namespace Orvan::Dedicated
