#include "dedicated/game/game_result_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace Orvan::Dedicated {
namespace {

TEST(GameResultDocumentTest, ExactBytes) {
  const struct {
    const char* name;
    std::vector<std::uint64_t> players;
    std::int64_t time;
    std::uint32_t gameId;
    const char* map;
    const char* document;
  } cases[] = {
      {"no player: an empty line stands for the list; a map name is 0", {}, 1700000000, 24, "Northmoor_Plains_10v10",
       "{\n"
       "  \"invalid_users\": [],\n"
       "  \"expected_user_list\": [\n"
       "\n"
       "  ],\n"
       "  \"timestamp\" : \"1700000000\",\n"
       "  \"gameid\" : 24,\n"
       "  \"user_results\" : {\n"
       "    \"game\" : { \"map\": \"0\" }\n"
       "  }\n"
       "}\n"},
      {"two players: a comma after all but the last; unsigned ids, 64-bit time, a long map number capped",
       {72057594037927937ull, 18446744073709551615ull}, 4102444800, 4294967294u, "42949672950000",
       "{\n"
       "  \"invalid_users\": [],\n"
       "  \"expected_user_list\": [\n"
       "    \"72057594037927937\",\n"
       "    \"18446744073709551615\"\n"
       "  ],\n"
       "  \"timestamp\" : \"4102444800\",\n"
       "  \"gameid\" : 4294967294,\n"
       "  \"user_results\" : {\n"
       "    \"game\" : { \"map\": \"4294967295\" }\n"
       "  }\n"
       "}\n"},
      {"one player: no comma; a time before the epoch stays signed; the map's leading digits", {7}, -1, 0, "17b",
       "{\n"
       "  \"invalid_users\": [],\n"
       "  \"expected_user_list\": [\n"
       "    \"7\"\n"
       "  ],\n"
       "  \"timestamp\" : \"-1\",\n"
       "  \"gameid\" : 0,\n"
       "  \"user_results\" : {\n"
       "    \"game\" : { \"map\": \"17\" }\n"
       "  }\n"
       "}\n"},
      {"no Map text at all", {}, 0, 24, nullptr,
       "{\n"
       "  \"invalid_users\": [],\n"
       "  \"expected_user_list\": [\n"
       "\n"
       "  ],\n"
       "  \"timestamp\" : \"0\",\n"
       "  \"gameid\" : 24,\n"
       "  \"user_results\" : {\n"
       "    \"game\" : { \"map\": \"0\" }\n"
       "  }\n"
       "}\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TVector<std::uint64_t> players;
    for (std::uint64_t id : c.players) players.PushBack(id);
    const TOrvString<char> document = WriteGameResultDocument(players, c.time, c.gameId, c.map);
    EXPECT_EQ(std::string(document.c_str(), document.GetLength()), c.document);
  }
}

}  // namespace
}  // namespace Orvan::Dedicated
