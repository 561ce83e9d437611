// What the load generator's clients say to the server and read back: length-prefixed frames whose
// body starts with a channel byte, fields in big-endian format letters, the game data's payloads in
// host (little-endian) order. Written here on its own rather than borrowed from the network library,
// so the generator builds and runs whatever shape the server's sources take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace OrvCapacity {

inline constexpr std::uint8_t kChannelConnect = 193;   // connect packet out, admission back
inline constexpr std::uint8_t kChannelGameData = 194;  // game messages out, relays back
inline constexpr std::uint8_t kChannelSystem = 197;    // pings
inline constexpr std::uint8_t kChannelLastPacket = 199;
inline constexpr std::uint8_t kChannelState = 205;     // state request out, state timer back
inline constexpr std::uint8_t kChannelNextState = 206;
inline constexpr std::uint8_t kChannelReplayStream = 207;

inline constexpr std::uint32_t kStateMatchMaking = 0;
inline constexpr std::uint32_t kStateLoading = 51;
inline constexpr std::uint32_t kStateDeployment = 52;
inline constexpr std::uint32_t kStateCommand = 53;
inline constexpr std::uint32_t kStateDebriefing = 101;

inline constexpr std::uint8_t kPingRequest = 1;
inline constexpr std::uint8_t kPingAnswer = 0;
inline constexpr std::uint32_t kAllRecipients = 0xFFFFFFFFu;
// The login ticket is sent as exactly this many raw bytes.
inline constexpr std::size_t kTicketSize = 128;
// The checksum every player reports: the same everywhere, so no desync is recorded.
inline constexpr std::uint32_t kSharedChecksum = 0x5EED5EEDu;
// An order: the sender's player id and its sequence number in the game (12 bytes, little-endian).
inline constexpr std::size_t kOrderSize = 12;
// A relayed actions payload starts with tick, player number, count (u32 each) and size (u16).
inline constexpr std::size_t kActionsHeadSize = 14;
// A relayed frame body: channel, the sender's id (u64), the message letter, then its data.
inline constexpr std::size_t kRelayHeadSize = 10;
// A tick report's data: tick, 0, checksum, 0 (u32 each, little-endian).
inline constexpr std::size_t kTickReportSize = 16;

// Appends one frame (u16 length, then the body) to `out`.
void AppendFrame(std::string& out, std::string_view body);

std::string EncodeConnect(std::uint64_t playerId, std::string_view version, std::string_view password);
std::string EncodePingAnswer(std::uint32_t value);
std::string EncodeStateRequest(std::uint32_t state);
// A player's answer to a tick: its order and its tick report, two frames.
std::string EncodeOrderAndReport(std::uint64_t playerId, std::uint32_t sequence, std::uint32_t tick);

inline std::uint16_t ReadBig16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
inline std::uint32_t ReadBig32(const unsigned char* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
inline std::uint64_t ReadBig64(const unsigned char* p) {
  return std::uint64_t{ReadBig32(p)} << 32 | ReadBig32(p + 4);
}
inline std::uint16_t ReadLittle16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t ReadLittle32(const unsigned char* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
inline std::uint64_t ReadLittle64(const unsigned char* p) {
  return std::uint64_t{ReadLittle32(p)} | std::uint64_t{ReadLittle32(p + 4)} << 32;
}

}  // namespace OrvCapacity
