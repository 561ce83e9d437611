// Writing the game result document.
#include "dedicated/game/game_result_document.h"

#include <string>

#include "dedicated/admin/legacy_number_conversion.h"

namespace Orvan::Dedicated {

TOrvString<char> WriteGameResultDocument(const TVector<std::uint64_t>& expectedPlayers, std::int64_t timeSeconds,
                                         std::uint32_t gameId, const char* mapProperty) {
  std::string text = "{\n  \"invalid_users\": [],\n  \"expected_user_list\": [\n";
  const std::uint32_t count = expectedPlayers.GetSize();
  for (std::uint32_t i = 0; i < count; ++i) {
    text += "    \"" + std::to_string(expectedPlayers[i]) + "\"";
    if (i + 1 < count) text += ",\n";
  }
  // The last entry's line ends here; with no entry this newline leaves an empty line.
  text += "\n  ],\n";
  text += "  \"timestamp\" : \"" + std::to_string(timeSeconds) + "\",\n";
  text += "  \"gameid\" : " + std::to_string(gameId) + ",\n";
  text += "  \"user_results\" : {\n";
  text += "    \"game\" : { \"map\": \"" + std::to_string(ConvertDecimalToU32(mapProperty)) + "\" }\n";
  text += "  }\n}\n";
  return TOrvString<char>(text);
}

}  // namespace Orvan::Dedicated
