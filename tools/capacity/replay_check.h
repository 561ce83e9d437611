// Checks of a saved replay against what the players were relayed: the container's digest, and a
// tick record for every tick from 0 on, each holding one actions chunk per player of that tick.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace OrvCapacity {

// The container's header: magic, version, size, SHA-224 of everything after it.
inline constexpr std::size_t kReplayHeaderSize = 40;

struct TReplayCheck {
  bool digestOk = false;
  std::int64_t ticks = 0;
  std::vector<std::string> problems;
};

TReplayCheck CheckReplay(std::string_view data, std::size_t players);

// Whether a spectator's stream is the start of the saved replay (the size and digest of the header,
// bytes 8 to 39, are written at the save and so differ).
bool IsStreamOfReplay(std::string_view stream, std::string_view replay);

}  // namespace OrvCapacity
