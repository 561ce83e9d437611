// What a replay holds besides the players' orders: its chunk tags, the header describing the game
// and its players, the payload of the state records and that of the players who left during a
// tick, and the names the saved replays take. Payload integers are little-endian.
#pragma once

#include <yajl/yajl_gen.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/containers/engine_vector.h"
#include "dedicated/game/session_state_record.h"

namespace Orvan::Dedicated {

class TDedicatedPropertyTable;
class TDedicatedUser;

// The chunk tags, as the four letters read big-endian; every chunk's value is 0.
inline constexpr std::uint32_t kReplayHeaderChunk = 0x72706C79;     // 'rply', once, first
inline constexpr std::uint32_t kReplayStateChunk = 0x73746172;      // 'star', once per tick, first
inline constexpr std::uint32_t kReplayActionsChunk = 0x70616374;    // 'pact', once per tick and player
inline constexpr std::uint32_t kReplayDepartedChunk = 0x656E6474;   // 'endt', once per tick, last

// Saved replays are numbered 1 to 100, then the oldest is overwritten.
inline constexpr std::uint32_t kReplayCount = 100;
inline constexpr const char* kReplayFolder = "Replays/";
// The replay of the running game, written as it is recorded; the save renames it to its number.
inline constexpr const char* kRecordingReplayFile = "Replays/recording.orvgamerpl2.part";

// The header: "game" with every visible property that has a value, in the table's order, then a
// "player_<number>" object of player variables for each connected player (spectators have none).
// Every value is a string. The first generator error stops the writing and is returned.
yajl_gen_status WriteReplayHeader(yajl_gen generator, const TDedicatedPropertyTable* properties,
                                  const TVector<TDedicatedUser*>& users);

// 'star': the tick, the record count, then each record as u32 kind, u16 text length, the text and
// the five u32 values (the packet handle stays in memory).
std::vector<std::uint8_t> MakeStateRecordsPayload(std::uint32_t tick, const TVector<TStateRecord>& records);

// 'endt': the tick, then the players who left as a 64-bit set, low word first: player p sets bit
// p & 31 of the high word when p & 32 is set, else of the low word.
std::vector<std::uint8_t> MakeDepartedPlayersPayload(std::uint32_t tick, const TVector<std::uint32_t>& departed);

// "Replays/<prefix><counter on at least 3 digits>.orvgamerpl2".
std::string ReplayFileName(const char* prefix, std::uint32_t counter);

}  // namespace Orvan::Dedicated
