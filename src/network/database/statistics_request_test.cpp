#include "network/database/statistics_request.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/database_test_helpers.h"
#include "support/network_test_helpers.h"
#include "support/pouchdb_server_peer.h"

namespace {

using namespace Orvan::Network;
using OrvTest::TCapturedNetworkLog;
using OrvTest::TEventLog;
using TFields = std::map<std::string, std::string>;

TFields FieldsOf(const TDbRequestGetStatistics& request) {
  TFields fields;
  for (const auto& entry : request.GetDocumentFields()) fields[entry.key.c_str()] = entry.value.c_str();
  return fields;
}

TEST(StatisticsRequestTest, UrlsNameTheDocumentAfterTheBaseOrTheOverride) {
  const struct {
    TDbRequestGetStatistics request;
    const char* url;
  } cases[] = {
      {{"", 0, 5, UserDocument}, "http://db/stats/u0_5"},
      {{"", 12, 5, UserDocument}, "http://db/stats/u12_5"},
      {{"", 0, 42, TeamDocument}, "http://db/stats/t42"},
      {{"", 3, 0x0400000000000001ull, UserDocument}, "http://db/stats/u3_288230376151711745"},
      {{"", 4294967295u, 18446744073709551615ull, UserDocument},
       "http://db/stats/u4294967295_18446744073709551615"},
      {{"http://other/", 1, 2, UserDocument}, "http://other/u1_2"},
      {{"", 1, 2, 9}, "http://db/stats/"},
      {{"http://whole/url/doc", "doc"}, "http://whole/url/doc"},
  };
  for (auto& test : cases) {
    EXPECT_STREQ(const_cast<TDbRequestGetStatistics&>(test.request).BuildUrl("http://db/stats/").c_str(), test.url);
  }
}

TEST(StatisticsRequestTest, AnswersKeepTopLevelTextsAndNumbersAsWritten) {
  const std::string parseError = "TDbRequestGetStatistics : Error parsing JSON result\n";
  const struct {
    const char* name;
    std::int32_t status;
    std::string text;
    TFields fields;
    TEventLog errors;
    std::vector<std::string> logPrefixes;
  } cases[] = {
      {"mixed members",
       200,
       R"({"_id": "u0_5", "@name": "bob", "ELO": 1500, "nested": {"a": 1}, "flag": true, "list": [1], "none": null})",
       {{"_id", "u0_5"}, {"@name", "bob"}, {"ELO", "1500"}},
       {},
       {}},
      {"numbers as written", 200, R"({"a": 12.5, "b": -3, "c": 1e3, "d": 0.10})",
       {{"a", "12.5"}, {"b", "-3"}, {"c", "1e3"}, {"d", "0.10"}}, {}, {}},
      {"repeated key keeps the last", 201, R"({"a": "1", "a": "2"})", {{"a", "2"}}, {}, {}},
      {"empty object", 200, "{}", {}, {}, {}},
      {"conflict status is read too", 409, R"({"a": "x"})", {{"a", "x"}}, {}, {}},
      {"array root", 200, "[1, 2]", {}, {"error 0"}, {"TDbRequestGetStatistics : type error on root JSON object"}},
      {"text root", 200, R"("x")", {}, {"error 0"}, {"TDbRequestGetStatistics : type error on root JSON object"}},
      {"brace alone", 200, "{", {}, {"error 0"}, {parseError}},
      {"empty answer", 200, "", {}, {"error 0"}, {parseError}},
      {"trailing garbage", 200, "{} x", {}, {"error 0"}, {parseError}},
      {"too deeply nested", 200, std::string(600, '[') + std::string(600, ']'), {}, {"error 0"}, {parseError}},
      {"not found", 404, R"({"a": "x"})", {}, {"error 2"}, {}},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TCapturedNetworkLog captured;
    OrvTest::TAnswerProbe probe;
    TDbRequestGetStatistics request("", 0, 5, UserDocument);
    EXPECT_EQ(probe.Interpret(request, test.status, test.text.c_str()), test.errors);
    EXPECT_EQ(FieldsOf(request), test.fields);
    EXPECT_EQ(request.HasFailed(), !test.errors.empty());
    const auto& lines = TCapturedNetworkLog::Lines();
    ASSERT_EQ(lines.size(), test.logPrefixes.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      EXPECT_EQ(lines[i].text.rfind(test.logPrefixes[i], 0), 0u) << lines[i].text;
      EXPECT_EQ(lines[i].level, 1);
    }
    if (test.logPrefixes == std::vector<std::string>{parseError}) {
      EXPECT_GT(lines[0].text.size(), parseError.size());  // the parser's message follows
    }
  }
}

TEST(StatisticsRequestTest, WithoutADatabaseOnlyUserDocumentsGetADefault) {
  OrvTest::TAnswerProbe probe;
  TDbRequestGetStatistics user("", 0, 7, UserDocument);
  EXPECT_TRUE(probe.AnswerWithoutDatabase(user).empty());
  EXPECT_EQ(FieldsOf(user), (TFields{{"@name", "u0_7"}, {"_id", "0"}}));
  TDbRequestGetStatistics team("", 0, 7, TeamDocument);
  EXPECT_EQ(probe.AnswerWithoutDatabase(team), TEventLog{"error 0"});
  EXPECT_TRUE(FieldsOf(team).empty());
}

TEST(StatisticsRequestTest, UserAndTeamDocumentsComeBackFromTheDatabase) {
  OrvTest::TPouchDbServerPeer database;
  ASSERT_TRUE(database.Start({"stats"})) << "pouchdb-server did not start from tests/peers/node_modules";
  ASSERT_EQ(database.PutJson("stats/u0_5", R"({"@name": "bob", "ELO": 1500, "ratio": 0.75, "games": {"won": 3}})"),
            201);
  ASSERT_EQ(database.PutJson("stats/t42", R"({"@name": "red team", "rank": 2, "active": true})"), 201);

  Orvan::Network::TOperationWithTimeOutManager operations;
  TCouchDBDatabaseAccesser accesser(database.Url("stats/").c_str(), TCouchDBDatabaseAccesser::kServerPoolSize);
  accesser.Init();
  TDbRequestGetStatistics user("", 0, 5, UserDocument);
  TDbRequestGetStatistics team("", 0, 42, TeamDocument);
  TDbRequestGetStatistics absent("", 1, 5, UserDocument);
  TEventLog log;
  ASSERT_TRUE(OrvTest::RunBatch(operations, accesser, {&user, &team, &absent}, log));
  EXPECT_EQ(log, (TEventLog{"error 2", "terminated"}));

  TFields fields = FieldsOf(user);
  EXPECT_EQ(fields.erase("_rev"), 1u);
  EXPECT_EQ(fields, (TFields{{"_id", "u0_5"}, {"@name", "bob"}, {"ELO", "1500"}, {"ratio", "0.75"}}));
  fields = FieldsOf(team);
  EXPECT_EQ(fields.erase("_rev"), 1u);
  EXPECT_EQ(fields, (TFields{{"_id", "t42"}, {"@name", "red team"}, {"rank", "2"}}));
  EXPECT_TRUE(absent.HasFailed());
}

}  // namespace
