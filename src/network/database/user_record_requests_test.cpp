#include "network/database/user_record_requests.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "network/database/json_tree.h"
#include "support/database_test_helpers.h"
#include "support/network_test_helpers.h"
#include "support/pouchdb_server_peer.h"

namespace {

using namespace Orvan::Network;
using OrvTest::TCapturedNetworkLog;
using OrvTest::TEventLog;
using TBytes = std::vector<std::uint8_t>;
using TTexts = std::vector<std::string>;

constexpr char kHexSalt[] = "000102030405060708090a0b0c0d0e0f";
constexpr char kHexDigest[] = "101112131415161718191a1b1c1d1e1f202122232425262728292a2b";
// The same bytes in base64, without their padding as the records keep them.
constexpr char kBase64Salt[] = "AAECAwQFBgcICQoLDA0ODw";
constexpr char kBase64Digest[] = "EBESExQVFhcYGRobHB0eHyAhIiMkJSYnKCkqKw";

TBytes Range(std::uint8_t first, std::uint32_t count) {
  TBytes bytes;
  for (std::uint32_t i = 0; i < count; ++i) bytes.push_back(static_cast<std::uint8_t>(first + i));
  return bytes;
}

std::string Record(const std::string& salt, const std::string& digest, const std::string& more = "") {
  return R"({"mms_id": 77, "salt_count": 9, "salt": ")" + salt + R"(", "passwd": ")" + digest + "\"" + more + "}";
}

TEST(UserLoginInfoRequestTest, UrlHoldsTheLowerCasedEscapedName) {
  TDbRequestGetUserLoginInfo plain("Bob_42");
  EXPECT_STREQ(plain.BuildUrl("http://db/").c_str(), "http://db/userdb/bob_42");
  EXPECT_STREQ(plain.GetName().c_str(), "bob_42");
  TDbRequestGetUserLoginInfo hostile("Ev/il?x#1 %");
  EXPECT_STREQ(hostile.BuildUrl("http://db/").c_str(), "http://db/userdb/ev%2Fil%3Fx%231%20%25");
}

TEST(UserLoginInfoRequestTest, RecordsInHexOrBase64FormAndTheirFaults) {
  const TBytes salt = Range(0x00, 16);
  const TBytes digest = Range(0x10, 28);
  const TBytes noSalt(16, 0);
  const TBytes noDigest(28, 0);
  TBytes shortDigest = digest;
  shortDigest[27] = 0;
  const struct {
    const char* name;
    std::int32_t status;
    std::string text;
    TEventLog errors;
    TTexts log;
    bool hexForm;
    TBytes salt;
    TBytes digest;
  } cases[] = {
      {"hex form", 200, Record(kHexSalt, kHexDigest), {}, {}, true, salt, digest},
      {"base64 form", 200, Record(kBase64Salt, kBase64Digest), {}, {}, false, salt, digest},
      {"conflict status is read too", 409, Record(kHexSalt, kHexDigest), {}, {}, true, salt, digest},
      {"longer hex digest keeps its first bytes", 200, Record(kHexSalt, std::string(kHexDigest) + "ff"), {}, {},
       true, salt, digest},
      {"short hex digest", 200, Record(kHexSalt, std::string(kHexDigest, 54)), {"error 0"},
       {"TDbRequestGetUserLoginInfo : passwd holds fewer than 28 bytes"}, true, salt,
       shortDigest},
      {"short base64 salt", 200, Record("AAECAwQFBgc", kBase64Digest), {"error 0"},
       {"TDbRequestGetUserLoginInfo : salt holds fewer than 16 bytes"}, false, noSalt, digest},
      {"short base64 digest", 200, Record(kBase64Salt, "EBESExQV"), {"error 0"},
       {"TDbRequestGetUserLoginInfo : passwd holds fewer than 28 bytes"}, false, salt, noDigest},
      {"every key missing or mistyped", 200, R"({"mms_id": "77", "salt": 5})", {"error 0"},
       {"TDbRequestGetUserLoginInfo : missing mms_id key", "TDbRequestGetUserLoginInfo : missing salt_count key",
        "TDbRequestGetUserLoginInfo : missing salt key", "TDbRequestGetUserLoginInfo : missing passwd key"},
       false, noSalt, noDigest},
      {"not found", 404, Record(kHexSalt, kHexDigest), {"error 2"}, {}, false, noSalt, noDigest},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TCapturedNetworkLog captured;
    OrvTest::TAnswerProbe probe;
    TDbRequestGetUserLoginInfo request("bob");
    EXPECT_EQ(probe.Interpret(request, test.status, test.text.c_str()), test.errors);
    EXPECT_EQ(TCapturedNetworkLog::Texts(), test.log);
    EXPECT_EQ(request.IsHexForm(), test.hexForm);
    EXPECT_EQ(TBytes(request.GetSalt(), request.GetSalt() + 16), test.salt);
    EXPECT_EQ(TBytes(request.GetPasswordDigest(), request.GetPasswordDigest() + 28), test.digest);
    if (test.errors.empty()) {
      EXPECT_EQ(request.GetMmsId(), 77u);
      EXPECT_EQ(request.GetSaltCount(), 9u);
    }
  }
}

TEST(UserLoginInfoRequestTest, OptionalMembersAndUnreadableAnswers) {
  TCapturedNetworkLog captured;
  OrvTest::TAnswerProbe probe;
  TDbRequestGetUserLoginInfo bare("bob");
  EXPECT_TRUE(probe.Interpret(bare, 200, Record(kHexSalt, kHexDigest).c_str()).empty());
  EXPECT_EQ(bare.GetBanEndDate(), 0u);
  EXPECT_TRUE(bare.GetDedicatedKey().IsEmpty());
  EXPECT_FALSE(bare.IsPlaceholder());

  TDbRequestGetUserLoginInfo full("bob");
  EXPECT_TRUE(probe
                  .Interpret(full, 200,
                             Record(kHexSalt, kHexDigest, R"(, "ban_end_date": 1700000000, "dedicated_key": "k3y")")
                                 .c_str())
                  .empty());
  EXPECT_EQ(full.GetBanEndDate(), 1700000000u);
  EXPECT_STREQ(full.GetDedicatedKey().c_str(), "k3y");

  TDbRequestGetUserLoginInfo numericKey("bob");
  EXPECT_TRUE(probe.Interpret(numericKey, 200, Record(kHexSalt, kHexDigest, R"(, "dedicated_key": 5)").c_str())
                  .empty());
  EXPECT_TRUE(numericKey.GetDedicatedKey().IsEmpty());
  EXPECT_TRUE(TCapturedNetworkLog::Lines().empty());

  TDbRequestGetUserLoginInfo garbled("bob");
  EXPECT_EQ(probe.Interpret(garbled, 200, "{\"mms_id\":"), TEventLog{"error 0"});
  ASSERT_EQ(TCapturedNetworkLog::Lines().size(), 1u);
  EXPECT_EQ(TCapturedNetworkLog::Lines()[0].text.rfind("TDbRequestGetUserLoginInfo : Error parsing JSON result\n", 0),
            0u);
}

TEST(UserLoginInfoRequestTest, PlaceholderRecordsWithoutADatabaseTakeTheNextNumbers) {
  OrvTest::TAnswerProbe probe;
  TDbRequestGetUserLoginInfo first("a");
  TDbRequestGetUserLoginInfo second("b");
  EXPECT_TRUE(probe.AnswerWithoutDatabase(first).empty());
  EXPECT_TRUE(probe.AnswerWithoutDatabase(second).empty());
  EXPECT_EQ(second.GetMmsId(), first.GetMmsId() + 1);
  EXPECT_EQ(TDbRequestGetUserLoginInfo::NextPlaceholderMmsId(), second.GetMmsId() + 1);
  EXPECT_TRUE(second.IsPlaceholder());
  EXPECT_TRUE(second.IsHexForm());
  EXPECT_EQ(second.GetSaltCount(), 12u);
  EXPECT_EQ(TBytes(second.GetSalt(), second.GetSalt() + 3), (TBytes{0x5c, 0x1d, 0x09}));
  EXPECT_EQ(TBytes(second.GetPasswordDigest() + 25, second.GetPasswordDigest() + 28), (TBytes{0x03, 0xb7, 0xc4}));

  EXPECT_TRUE(second.SetSaltFromHex(kHexSalt));
  EXPECT_TRUE(second.SetPasswordDigestFromHex(kHexDigest));
  EXPECT_EQ(TBytes(second.GetPasswordDigest(), second.GetPasswordDigest() + 28), Range(0x10, 28));
  EXPECT_FALSE(second.SetSaltFromHex("0011"));
}

TEST(HighestMmsIdRequestTest, TheFirstRowOfTheViewGivesTheHighestNumber) {
  const struct {
    const char* name;
    std::int32_t status;
    const char* text;
    TEventLog errors;
    TTexts log;
    std::uint64_t highest;
  } cases[] = {
      {"one row", 200, R"({"total_rows": 3, "offset": 0, "rows": [{"key": 42, "id": "bob"}]})", {}, {}, 42},
      {"no user", 200, R"({"total_rows": 0, "rows": []})", {}, {"TDbRequestGetHighestMmsId : No user in database"}, 0},
      {"missing total", 200, R"({"rows": []})", {"error 0"}, {"TDbRequestGetHighestMmsId : missing total_rows key"}, 0},
      {"missing rows", 200, R"({"total_rows": 3})", {"error 0"}, {"TDbRequestGetHighestMmsId : failed to parse rows"},
       0},
      {"row without key", 200, R"({"total_rows": 3, "rows": [{"id": "bob"}]})", {"error 0"},
       {"TDbRequestGetHighestMmsId : missing key \"key\""}, 0},
      {"rows empty despite the total", 200, R"({"total_rows": 3, "rows": []})", {"error 0"},
       {"TDbRequestGetHighestMmsId : missing key \"key\""}, 0},
      {"not found", 404, "{}", {"error 2"}, {"TDbRequestGetHighestMmsId : resultCode is HttpCodeNotFound"}, 0},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    TCapturedNetworkLog captured;
    OrvTest::TAnswerProbe probe;
    TDbRequestGetHighestMmsId request;
    EXPECT_EQ(probe.Interpret(request, test.status, test.text), test.errors);
    EXPECT_EQ(TCapturedNetworkLog::Texts(), test.log);
    EXPECT_EQ(request.GetHighestMmsId(), test.highest);
    if (!test.log.empty()) {
      EXPECT_EQ(TCapturedNetworkLog::Lines()[0].level, test.errors.empty() ? 0 : 1);
    }
  }
  TDbRequestGetHighestMmsId request;
  EXPECT_STREQ(request.BuildUrl("http://db/").c_str(),
               "http://db/userdb/_design/user/_view/by_mms_id?descending=true&limit=1");
}

TEST(CreateAccountRequestTest, AnyStatusOutsideTwoHundredsFails) {
  for (const std::int32_t status : {200, 201, 299, 409, 500}) {
    TCapturedNetworkLog captured;
    OrvTest::TAnswerProbe probe;
    TDbRequestCreateAccount request("bob", 1, "s", 1, "d");
    const bool ok = status <= 299;
    EXPECT_EQ(probe.Interpret(request, status, ""), ok ? TEventLog{} : TEventLog{"error 0"}) << status;
    EXPECT_EQ(TCapturedNetworkLog::Texts(),
              ok ? TTexts{}
                 : TTexts{"TDbRequestCreateAccount::InterpretRequestResult() error : request failed with httpCode : " +
                          std::to_string(status)});
  }
}

// The record goes up as a PUT of exactly its body, to the escaped name.
TEST(CreateAccountRequestTest, UploadsTheRecordAsOneJsonObject) {
  OrvTest::THttpEndpointPeer endpoint;
  ASSERT_TRUE(endpoint.Start()) << "tests/peers/http_endpoint.py did not start";
  ASSERT_TRUE(endpoint.Command(R"({"cmd": "answer", "status": 201, "body": "{\"ok\": true}"})"));
  Orvan::Network::TOperationWithTimeOutManager operations;
  TCouchDBDatabaseAccesser accesser(endpoint.Url("/").c_str(), 2);
  accesser.Init();
  TDbRequestCreateAccount request("New User", 18446744073709551615ull, kBase64Salt, 200, kBase64Digest);
  const std::string body = std::string("{\n\"mms_id\":18446744073709551615,\"salt_count\":200,\"passwd\":\"") +
                           kBase64Digest + "\",\"salt\":\"" + kBase64Salt + "\"\n}";
  EXPECT_EQ(request.GetBody(), body);
  TEventLog log;
  ASSERT_TRUE(OrvTest::RunBatch(operations, accesser, {&request}, log, &endpoint));
  EXPECT_EQ(log, TEventLog{"terminated"});

  ASSERT_EQ(endpoint.Requests().size(), 1u);
  const OrvTest::TEndpointEvent put = endpoint.Requests()[0];
  EXPECT_EQ(put.method, "PUT");
  EXPECT_EQ(put.path, "/userdb/New%20User");
  EXPECT_EQ(put.Header("Content-Length"), std::to_string(body.size()));
  EXPECT_EQ(put.body, body);
  const TJsonTree tree(put.body.c_str());
  ASSERT_TRUE(tree.IsValid()) << tree.GetError();
  EXPECT_TRUE(YAJL_IS_OBJECT(tree.GetRoot()));
}

TEST(UserRecordRoundTripTest, LoginInformationAndTheHighestNumberFromTheDatabase) {
  OrvTest::TPouchDbServerPeer database;
  ASSERT_TRUE(database.Start({"userdb"})) << "pouchdb-server did not start from tests/peers/node_modules";
  ASSERT_EQ(database.PutJson("userdb/_design/user",
                             R"({"views": {"by_mms_id": {"map": "function (doc) { if (doc.mms_id) emit(doc.mms_id, null); }"}}})"),
            201);
  ASSERT_EQ(database.PutJson("userdb/hexuser", Record(kHexSalt, kHexDigest, R"(, "ban_end_date": 12)")), 201);
  ASSERT_EQ(database.PutJson("userdb/b64user", R"({"mms_id": 1203, "salt_count": 4, "salt": ")" +
                                                   std::string(kBase64Salt) + R"(", "passwd": ")" + kBase64Digest +
                                                   R"(", "dedicated_key": "abc"})"),
            201);

  Orvan::Network::TOperationWithTimeOutManager operations;
  TCouchDBDatabaseAccesser accesser(database.Url().c_str(), TCouchDBDatabaseAccesser::kServerPoolSize);
  accesser.Init();
  TDbRequestGetUserLoginInfo hex("HexUser");
  TDbRequestGetUserLoginInfo base64("b64user");
  TDbRequestGetHighestMmsId highest;
  TEventLog log;
  ASSERT_TRUE(OrvTest::RunBatch(operations, accesser, {&hex, &base64, &highest}, log));
  EXPECT_EQ(log, TEventLog{"terminated"});

  EXPECT_TRUE(hex.IsHexForm());
  EXPECT_EQ(hex.GetMmsId(), 77u);
  EXPECT_EQ(hex.GetBanEndDate(), 12u);
  EXPECT_EQ(TBytes(hex.GetPasswordDigest(), hex.GetPasswordDigest() + 28), Range(0x10, 28));
  EXPECT_FALSE(base64.IsHexForm());
  EXPECT_EQ(base64.GetMmsId(), 1203u);
  EXPECT_EQ(base64.GetSaltCount(), 4u);
  EXPECT_EQ(TBytes(base64.GetSalt(), base64.GetSalt() + 16), Range(0x00, 16));
  EXPECT_EQ(TBytes(base64.GetPasswordDigest(), base64.GetPasswordDigest() + 28), Range(0x10, 28));
  EXPECT_STREQ(base64.GetDedicatedKey().c_str(), "abc");
  EXPECT_EQ(highest.GetHighestMmsId(), 1203u);
}

}  // namespace
