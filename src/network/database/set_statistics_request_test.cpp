#include "network/database/set_statistics_request.h"

#include <gtest/gtest.h>

#include <string>

#include "network/database/json_tree.h"
#include "network/database/statistics_request.h"
#include "support/database_test_helpers.h"

namespace {

using namespace Orvan::Network;
using OrvTest::TEventLog;

TEST(SetStatisticsRequestTest, FieldValuesAreEscapedSoTheBodyStaysOneJsonObject) {
  const struct {
    const char* value;
    const char* written;
  } cases[] = {
      {"plain", "plain"},
      {"say \"hi\"", R"(say \"hi\")"},
      {"back\\slash", R"(back\\slash)"},
      {"two\nlines\r\tend", R"(two\nlines\r\tend)"},
      {"\x01\x1f\x7f", "\\u0001\\u001F\x7f"},
      {"", ""},
  };
  for (const auto& test : cases) {
    TDbRequestSetStatistics request("http://db/", 0, 5, UserDocument);
    request.AddField("k", test.value);
    request.BuildUrl("http://ignored/");
    EXPECT_EQ(request.GetBody(), std::string("{\n\"_id\":\"u0_5\",\"k\":\"") + test.written + "\"}");
    const TJsonTree tree(request.GetBody().c_str());
    ASSERT_TRUE(tree.IsValid()) << test.value << ": " << tree.GetError();
    const yajl_val value = GetJsonMember(tree.GetRoot(), "k", yajl_t_string);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(YAJL_GET_STRING(value), test.value);
  }
}

TEST(SetStatisticsRequestTest, UrlAndFirstMemberFollowTheDocumentKind) {
  const struct {
    std::uint32_t number;
    std::uint64_t id;
    std::uint32_t kind;
    const char* url;
    const char* body;
  } cases[] = {
      {2, 5, UserDocument, "http://own/u2_5", "{\n\"_id\":\"u2_5\"}"},
      {2, 42, TeamDocument, "http://own/t42", "{\n\"_id\":\"t42\"}"},
      {2, 42, PlainDocument, "http://own/", "{\n\"_id\":\"\"}"},
  };
  for (const auto& test : cases) {
    TDbRequestSetStatistics request("http://own/", test.number, test.id, test.kind);
    EXPECT_STREQ(request.BuildUrl("http://accesser/").c_str(), test.url);
    EXPECT_EQ(request.GetBody(), test.body);
  }
}

TEST(SetStatisticsRequestTest, StatusesOfTheUpload) {
  const struct {
    std::int32_t status;
    TEventLog errors;
  } cases[] = {{200, {}}, {201, {}}, {299, {}}, {409, {"error 3"}}, {404, {"error 2"}}, {500, {"error 0"}}};
  for (const auto& test : cases) {
    OrvTest::TAnswerProbe probe;
    TDbRequestSetStatistics request("http://own/", 0, 1, UserDocument);
    EXPECT_EQ(probe.Interpret(request, test.status, ""), test.errors) << test.status;
  }
}

// The body goes up in the parts the transfer asks for, fields in the order they were added.
TEST(SetStatisticsRequestTest, UploadsTheBodyAsAPutOfExactlyItsBytes) {
  OrvTest::THttpEndpointPeer endpoint;
  ASSERT_TRUE(endpoint.Start()) << "tests/peers/http_endpoint.py did not start";
  ASSERT_TRUE(endpoint.Command(R"({"cmd": "answer", "status": 201, "body": "{\"ok\": true}"})"));
  Orvan::Network::TOperationWithTimeOutManager operations;
  TCouchDBDatabaseAccesser accesser("http://127.0.0.1:1/unused/", 2);
  accesser.Init();
  TDbRequestSetStatistics request(endpoint.Url("/stats/").c_str(), 0, 5, UserDocument);
  request.AddField("ELO", "1500");
  request.AddField("motto", "\"quoted\"\tand\\more");
  const std::string long_value(5000, 'x');  // more than one part of the transfer
  request.AddField("long", long_value.c_str());
  TEventLog log;
  ASSERT_TRUE(OrvTest::RunBatch(operations, accesser, {&request}, log, &endpoint));
  EXPECT_EQ(log, TEventLog{"terminated"});

  const std::string body = "{\n\"_id\":\"u0_5\",\"ELO\":\"1500\",\"motto\":\"\\\"quoted\\\"\\tand\\\\more\",\"long\":\"" +
                           long_value + "\"}";
  ASSERT_EQ(endpoint.Requests().size(), 1u);
  const OrvTest::TEndpointEvent put = endpoint.Requests()[0];
  EXPECT_EQ(put.method, "PUT");
  EXPECT_EQ(put.path, "/stats/u0_5");
  EXPECT_EQ(put.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(put.body, body);
  const TJsonTree tree(put.body.c_str());
  ASSERT_TRUE(tree.IsValid()) << tree.GetError();
  EXPECT_TRUE(YAJL_IS_OBJECT(tree.GetRoot()));
}

}  // namespace
