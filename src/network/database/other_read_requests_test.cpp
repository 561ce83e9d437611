// Leaderboard views, pack documents and the changes feed: answers as tables, then each read from
// pouchdb-server.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "network/database/game_info_request.h"
#include "network/database/leaderboard_request.h"
#include "network/database/pack_info_request.h"
#include "support/database_test_helpers.h"
#include "support/network_test_helpers.h"
#include "support/pouchdb_server_peer.h"

namespace {

using namespace Orvan::Network;
using OrvTest::TCapturedNetworkLog;
using OrvTest::TEventLog;
using TTexts = std::vector<std::string>;
using TDocuments = std::map<std::string, std::map<std::string, std::string>>;

TDocuments DocumentsOf(const TDbRequestGetGameInfo& request) {
  TDocuments documents;
  for (const auto& document : request.GetDocuments()) {
    auto& members = documents[document.key.c_str()];
    for (const auto& member : document.value) members[member.key.c_str()] = member.value.c_str();
  }
  return documents;
}

std::vector<std::uint32_t> GamesOf(const TDbRequestGetPackInfo& request) {
  return std::vector<std::uint32_t>(request.GetGameNumbers().begin(), request.GetGameNumbers().end());
}

TEST(LeaderboardRequestTest, UrlEscapesTheViewAndTheStartKey) {
  TDbRequestGetLeaderboard plain("http://db/ladder/", "elo", 10, true);
  EXPECT_STREQ(plain.BuildUrl("http://ignored/").c_str(), "http://db/ladder/_design/LB/_view/elo?descending=true&limit=10");
  TDbRequestGetLeaderboard keyed("http://db/ladder/", "by rank/2", 4294967295u, false, "[1500,\"bob\"]");
  EXPECT_STREQ(keyed.BuildUrl("http://ignored/").c_str(),
               "http://db/ladder/_design/LB/_view/by%20rank%2F2?descending=false&limit=4294967295"
               "&startkey=%5B1500%2C%22bob%22%5D");
}

TEST(LeaderboardRequestTest, CountsAreReadAndEveryRowNeedsAKeyArray) {
  const struct {
    const char* name;
    std::int32_t status;
    const char* text;
    TEventLog errors;
    TTexts log;
    std::uint64_t totalRows;
    std::uint64_t offset;
  } cases[] = {
      {"rows with keys", 200, R"({"total_rows": 12, "offset": 3, "rows": [{"key": [1, "a"]}, {"key": []}]})", {}, {},
       12, 3},
      {"no rows", 200, R"({"total_rows": 0, "offset": 0})", {}, {}, 0, 0},
      {"row without key array", 200, R"({"total_rows": 2, "offset": 1, "rows": [{"key": [1]}, {"key": 5}, {}]})",
       {"error 0"}, {"TDbRequestGetLeaderboard : missing key key"}, 2, 1},
      {"counts missing, failing once", 200, R"({"rows": [{"id": 1}]})", {"error 0"},
       {"TDbRequestGetLeaderboard : missing total_rows key", "TDbRequestGetLeaderboard : missing offset key",
        "TDbRequestGetLeaderboard : missing key key"},
       0, 0},
      {"not found", 404, "{}", {"error 2"}, {}, 0, 0},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TCapturedNetworkLog captured;
    OrvTest::TAnswerProbe probe;
    TDbRequestGetLeaderboard request("http://db/", "elo", 10, true);
    EXPECT_EQ(probe.Interpret(request, test.status, test.text), test.errors);
    EXPECT_EQ(TCapturedNetworkLog::Texts(), test.log);
    EXPECT_EQ(request.GetTotalRows(), test.totalRows);
    EXPECT_EQ(request.GetOffset(), test.offset);
  }
}

TEST(PackInfoRequestTest, GameListGivesTheGameNumbersInOrder) {
  const struct {
    const char* name;
    std::int32_t status;
    const char* text;
    TEventLog errors;
    TTexts log;
    std::vector<std::uint32_t> games;
  } cases[] = {
      {"games", 200, R"({"_id": "p", "game_list": [7, 3, 4294967295]})", {}, {}, {7, 3, 4294967295u}},
      {"empty list", 200, R"({"game_list": []})", {}, {}, {}},
      {"other elements passed over", 200, R"({"game_list": [1, "x", null, 2]})", {}, {}, {1, 2}},
      {"no list", 200, R"({"games": [1]})", {"error 2"}, {"TDbRequestGetPackInfo : missing game_list key"}, {}},
      {"not found", 404, "", {"error 2"}, {}, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TCapturedNetworkLog captured;
    OrvTest::TAnswerProbe probe;
    TDbRequestGetPackInfo request("pack");
    EXPECT_EQ(probe.Interpret(request, test.status, test.text), test.errors);
    EXPECT_EQ(TCapturedNetworkLog::Texts(), test.log);
    EXPECT_EQ(GamesOf(request), test.games);
  }
  TDbRequestGetPackInfo hostile("../userdb/x y");
  EXPECT_STREQ(hostile.BuildUrl("http://db/").c_str(), "http://db/packdb/..%2Fuserdb%2Fx%20y");
}

TEST(GameInfoRequestTest, ChangesKeepEachDocumentsPublicTextMembers) {
  const struct {
    const char* name;
    std::int32_t status;
    const char* text;
    TEventLog errors;
    TTexts log;
    std::uint32_t lastSequence;
    TDocuments documents;
  } cases[] = {
      {"one deleted, one document", 200,
       R"({"results": [{"id": "g1", "deleted": true}, )"
       R"({"id": "g2", "doc": {"_id": "g2", "_rev": "1-x", "map": "hills", "size": 4, "mode": "ranked"}}], "last_seq": 9})",
       {}, {}, 9, {{"g2", {{"map", "hills"}, {"mode", "ranked"}}}}},
      {"a later change of the same id replaces it", 200,
       R"({"results": [{"doc": {"_id": "g", "a": "1", "b": "2"}}, {"doc": {"_id": "g", "c": "3"}}], "last_seq": 2})",
       {}, {}, 2, {{"g", {{"c", "3"}}}}},
      {"document without id", 200, R"({"results": [{"doc": {"a": "1"}}], "last_seq": 1})", {}, {}, 1,
       {{"", {{"a", "1"}}}}},
      {"result without doc", 200, R"({"results": [{"id": "x"}, {"doc": {"_id": "y"}}], "last_seq": 4})", {"error 0"},
       {"TDbRequestGetGameInfo : missing key \"doc\""}, 4, {{"y", {}}}},
      {"no last sequence", 200, R"({"results": []})", {"error 0"}, {"TDbRequestGetGameInfo : missing last_seq key"},
       0, {}},
      {"no results", 200, R"({"last_seq": 6})", {"error 0"}, {"TDbRequestGetGameInfo : failed to parse rows"}, 6, {}},
      {"conflict status", 409, "{}", {"error 0"},
       {"TDbRequestGetGameInfo::InterpretRequestResult() error : request failed with httpCode : 409"}, 3, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TCapturedNetworkLog captured;
    OrvTest::TAnswerProbe probe;
    TDbRequestGetGameInfo request(3);
    EXPECT_EQ(probe.Interpret(request, test.status, test.text), test.errors);
    EXPECT_EQ(TCapturedNetworkLog::Texts(), test.log);
    EXPECT_EQ(request.GetLastSequence(), test.lastSequence);
    EXPECT_EQ(DocumentsOf(request), test.documents);
  }
  TDbRequestGetGameInfo request(17);
  EXPECT_STREQ(request.BuildUrl("http://db/").c_str(),
               "http://db/gamedb/_changes?feed=longpoll&include_docs=true&heartbeat=60000&since=17");
}

TEST(OtherReadRequestsRoundTripTest, LeaderboardPackAndChangesFromTheDatabase) {
  OrvTest::TPouchDbServerPeer database;
  ASSERT_TRUE(database.Start({"ladder", "packdb", "gamedb"}))
      << "pouchdb-server did not start from tests/peers/node_modules";
  ASSERT_EQ(database.PutJson("ladder/_design/LB", R"({"views": {"by elo": {"map": )"
                                                  R"("function (doc) { if (doc.elo) emit([doc.elo, doc._id], null); }"}}})"),
            201);
  for (const char* player : {R"({"_id": "a", "elo": 1200})", R"({"_id": "b", "elo": 1500})",
                             R"({"_id": "c", "elo": 1700})"}) {
    const std::string id(1, player[9]);
    ASSERT_EQ(database.PutJson("ladder/" + id, player), 201);
  }
  ASSERT_EQ(database.PutJson("packdb/summer%20pack", R"({"game_list": [11, 12, 13]})"), 201);
  ASSERT_EQ(database.PutJson("gamedb/first", R"({"map": "hills", "players": 2})"), 201);

  Orvan::Network::TOperationWithTimeOutManager operations;
  TCouchDBDatabaseAccesser accesser(database.Url().c_str(), TCouchDBDatabaseAccesser::kServerPoolSize);
  accesser.Init();
  TDbRequestGetLeaderboard top(database.Url("ladder/").c_str(), "by elo", 2, true);
  TDbRequestGetLeaderboard from(database.Url("ladder/").c_str(), "by elo", 5, false, "[1500]");
  TDbRequestGetPackInfo pack("summer pack");
  TDbRequestGetGameInfo changes(0);
  TEventLog log;
  ASSERT_TRUE(OrvTest::RunBatch(operations, accesser, {&top, &from, &pack, &changes}, log));
  EXPECT_EQ(log, TEventLog{"terminated"});
  EXPECT_EQ(top.GetTotalRows(), 3u);
  EXPECT_EQ(top.GetOffset(), 0u);
  EXPECT_EQ(from.GetTotalRows(), 3u);
  EXPECT_EQ(from.GetOffset(), 0u);  // this server counts only rows skipped by "skip", which is not sent
  EXPECT_EQ(GamesOf(pack), (std::vector<std::uint32_t>{11, 12, 13}));
  EXPECT_EQ(DocumentsOf(changes), (TDocuments{{"first", {{"map", "hills"}}}}));
  ASSERT_GT(changes.GetLastSequence(), 0u);

  // Polling on from the last sequence waits until a document changes; the heartbeats in between
  // are blank lines of the same answer.
  TDbRequestGetGameInfo next(changes.GetLastSequence());
  TEventLog nextLog;
  OrvTest::TRecordingListener listener(&nextLog);
  auto* operation = new TOperationOnDatabase(&operations, &accesser, &listener);
  operation->AddRequest(&next);
  ASSERT_GE(operation->Launch(), 0);
  const auto pump = [&](int milliseconds) {
    return OrvTest::PumpUntil(
        accesser.GetMultiHandle(), [&] { accesser.Perform(); }, [&] { return listener.terminations == 1; }, nullptr,
        milliseconds);
  };
  EXPECT_FALSE(pump(300));  // nothing changed yet: the feed holds its answer
  ASSERT_EQ(database.PutJson("gamedb/second", R"({"map": "coast", "players": 3})"), 201);
  ASSERT_TRUE(pump(20000));
  EXPECT_EQ(nextLog, TEventLog{"terminated"});
  EXPECT_EQ(DocumentsOf(next), (TDocuments{{"second", {{"map", "coast"}}}}));
  EXPECT_GT(next.GetLastSequence(), changes.GetLastSequence());
}

}  // namespace
