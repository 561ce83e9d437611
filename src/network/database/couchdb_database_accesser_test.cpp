#include "network/database/couchdb_database_accesser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "network/database/statistics_request.h"
#include "network/database/user_record_requests.h"
#include "network/operations/answer_limit.h"
#include "support/database_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"
#include "support/pouchdb_server_peer.h"

namespace {

using namespace Orvan::Network;
using Orvan::TOrvString;
using OrvTest::TEventLog;
using OrvTest::TRecordingListener;
using OrvTest::TRecordingRequest;

// The accesser pointed at the recording endpoint, whose answers the test holds and releases.
class CouchDbAccesserEndpointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(endpoint_.Start()) << "tests/peers/http_endpoint.py did not start";
    accesser_ = std::make_unique<TCouchDBDatabaseAccesser>(endpoint_.Url("/").c_str(),
                                                           TCouchDBDatabaseAccesser::kServerPoolSize);
    accesser_->Init();
  }
  // One operation of one request, answered with a success.
  TRecordingRequest* Launch(const std::string& name) {
    requests_.push_back(std::make_unique<TRecordingRequest>(name, name, &log_));
    TRecordingRequest* request = requests_.back().get();
    auto* operation = new TOperationOnDatabase(&operations_, accesser_.get(), &listener_);
    operation->AddRequest(request);
    EXPECT_GE(operation->Launch(), 0);
    return request;
  }
  bool PumpUntil(const std::function<bool()>& done, const std::function<void()>& afterPerform = {}) {
    return OrvTest::PumpUntil(
        accesser_->GetMultiHandle(),
        [&] {
          accesser_->Perform();
          if (afterPerform) afterPerform();
        },
        done, &endpoint_);
  }
  std::size_t Count(const std::string& entry) const { return std::count(log_.begin(), log_.end(), entry); }

  OrvTest::THttpEndpointPeer endpoint_;
  TOperationWithTimeOutManager operations_;
  std::unique_ptr<TCouchDBDatabaseAccesser> accesser_;
  TEventLog log_;
  TRecordingListener listener_{&log_};
  std::vector<std::unique_ptr<TRecordingRequest>> requests_;
};

// The freed handle serves the request that waited longest, also when the listener queues another
// from its callback in the same Perform.
TEST_F(CouchDbAccesserEndpointTest, TwentyTransfersRunAndTheTwentyFirstTakesTheFirstFreedHandle) {
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "hold"})"));
  for (int i = 0; i < 21; ++i) Launch("r" + std::to_string(i));
  EXPECT_EQ(accesser_->GetBusyHandleCount(), 20u);  // started by the queueing itself
  EXPECT_EQ(accesser_->GetQueuedCount(), 1u);
  ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 20; }));

  listener_.onTerminated = [&] {
    if (listener_.terminations == 1) Launch("late");
  };
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "release", "count": 1})"));
  bool waitingRequestStartedFirst = false;
  ASSERT_TRUE(PumpUntil([&] { return listener_.terminations == 1; },
                        [&] {
                          if (listener_.terminations == 1) {
                            waitingRequestStartedFirst =
                                accesser_->GetBusyHandleCount() == 20 && accesser_->GetQueuedCount() == 1;
                          }
                        }));
  EXPECT_TRUE(waitingRequestStartedFirst);
  // The one that waited went out; the late one waits for the next free handle.
  ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 21; }));
  EXPECT_EQ(endpoint_.Requests().back().path, "/r20");
  EXPECT_EQ(accesser_->GetQueuedCount(), 1u);

  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "release"})"));
  ASSERT_TRUE(PumpUntil([&] { return listener_.terminations == 22; }));
  EXPECT_EQ(Count("late 200 "), 1u);
  EXPECT_EQ(Count("r20 200 "), 1u);
  EXPECT_EQ(endpoint_.Count("request"), 22u);
  EXPECT_EQ(accesser_->GetFreeHandleCount(), 20u);
  EXPECT_EQ(operations_.GetRegisteredCount(), 0u);
}

TEST_F(CouchDbAccesserEndpointTest, StatusesDecideBetweenTheAnswerAndAFailure) {
  struct TCase {
    const char* answer;  // the endpoint's answer
    TEventLog expected;
    std::vector<std::string> logLines;
  };
  const TCase cases[] = {
      {R"({"status": 200, "body": "ok"})", {"req 200 ok", "terminated"}, {}},
      {R"({"status": 201, "body": "made"})", {"req 201 made", "terminated"}, {}},
      {R"({"status": 409, "body": "taken"})", {"req 409 taken", "terminated"}, {}},
      {R"({"status": 404, "body": "none"})", {"error 2", "terminated"}, {}},
      {R"({"status": 500, "body": "down"})", {"error 0", "terminated"}, {"Curl HTTP 500 error"}},
      {R"({"status": 202, "body": "later"})", {"error 0", "terminated"}, {"Curl HTTP 202 error"}},
      {R"({"close": true})", {"error 0", "terminated"}, {"Curl HTTP 0 error"}},
      // One byte over the cap: cut short, never interpreted.
      {R"({"status": 200, "fill": 16777217})",
       {"error 0", "terminated"},
       {"TCouchDBDatabaseAccesser::WriteCallback() -> answer from " + endpoint_.Url("/doc") +
        " exceeds 16777216 bytes: transfer failed"}},
  };
  static_assert(kMaxAnswerBytes == 16777216);
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.answer);
    ASSERT_TRUE(endpoint_.Command(std::string(R"({"cmd": "answer", )") + (test.answer + 1)));
    OrvTest::TCapturedNetworkLog captured;
    TEventLog log;
    TRecordingRequest request("req", "doc", &log);
    ASSERT_TRUE(OrvTest::RunBatch(operations_, *accesser_, {&request}, log, &endpoint_));
    EXPECT_EQ(log, test.expected);
    EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(), test.logLines);
    EXPECT_EQ(endpoint_.Requests().back().method, "GET");
    EXPECT_EQ(endpoint_.Requests().back().path, "/doc");
  }
}

// Answers that are one small document (statistics, game information) are held to 1 MiB, the
// others to 16 MiB; the memory of a large answer is not kept by its slot once it is read.
TEST_F(CouchDbAccesserEndpointTest, DocumentAnswersAreCappedAtOneMebibyte) {
  static_assert(kMaxDocumentAnswerBytes == 1048576);
  struct TCase {
    std::size_t limit;
    std::size_t fill;
    bool kept;
  };
  const TCase cases[] = {
      {kMaxDocumentAnswerBytes, kMaxDocumentAnswerBytes, true},
      {kMaxDocumentAnswerBytes, kMaxDocumentAnswerBytes + 1, false},
      {kMaxAnswerBytes, kMaxDocumentAnswerBytes + 1, true},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.fill);
    ASSERT_TRUE(endpoint_.Command(R"({"cmd": "answer", "status": 200, "fill": )" + std::to_string(test.fill) + "}"));
    OrvTest::TCapturedNetworkLog captured;
    TEventLog log;
    TRecordingRequest request("req", "doc", &log);
    request.answerLimit = test.limit;
    ASSERT_TRUE(OrvTest::RunBatch(operations_, *accesser_, {&request}, log, &endpoint_));
    ASSERT_EQ(log.size(), 2u);
    if (test.kept) {
      EXPECT_EQ(log[0].size(), std::string("req 200 ").size() + test.fill);
      EXPECT_TRUE(OrvTest::TCapturedNetworkLog::Texts().empty());
    } else {
      EXPECT_EQ(log[0], "error 0");
      EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(),
                std::vector<std::string>{"TCouchDBDatabaseAccesser::WriteCallback() -> answer from " +
                                         endpoint_.Url("/doc") + " exceeds 1048576 bytes: transfer failed"});
    }
  }
  TDbRequestGetStatistics statistics(TOrvString<char>(), 0, 1, 0);
  EXPECT_EQ(statistics.GetAnswerLimit(), kMaxDocumentAnswerBytes);
}

// A peer that takes the request and never answers. The operation's time-out, run by its manager's
// tick, cancels the transfer and gives the handle back, the listener hearing error 1 only; where no
// tick runs, libcurl's own limit, the operation's time-out, ends the transfer as failed.
TEST_F(CouchDbAccesserEndpointTest, SilentPeerEndsByTheOperationsTimeOut) {
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "hold"})"));
  OrvTest::TCapturedNetworkLog captured;
  TEventLog log;
  TRecordingListener listener(&log);
  TRecordingRequest hour("req", "hour", &log);
  TRecordingRequest shortOne("req", "short", &log);
  const auto launch = [&](TRecordingRequest& request, double timeOutMilliseconds) {
    auto* operation = new TOperationOnDatabase(&operations_, accesser_.get(), &listener, timeOutMilliseconds);
    operation->AddRequest(&request);
    return operation->Launch() >= 0;
  };
  {
    OrvTest::TManualClock clock;
    ASSERT_TRUE(launch(hour, 3600000.0));
    ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 1; }));
    EXPECT_EQ(accesser_->GetBusyHandleCount(), 1u);
    OrvTest::TManualClock::AdvanceMilliseconds(3600000.0 + 1);
    operations_.Update();
    EXPECT_EQ(log, TEventLog{"error 1"});
    EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(),
              std::vector<std::string>{"TOperationOnDatabase::OnOperationTimeout() -> no answer within 3600000 ms"});
    EXPECT_TRUE(hour.IsReleased());
    EXPECT_EQ(operations_.GetRegisteredCount(), 0u);
    EXPECT_EQ(accesser_->GetBusyHandleCount(), 0u);
    EXPECT_EQ(accesser_->GetFreeHandleCount(), TCouchDBDatabaseAccesser::kServerPoolSize);
  }
  log.clear();
  OrvTest::TCapturedNetworkLog::Lines().clear();
  ASSERT_TRUE(launch(shortOne, 300.0));
  ASSERT_TRUE(PumpUntil([&] { return listener.terminations == 1; }));
  EXPECT_EQ(log, (TEventLog{"error 0", "terminated"}));
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(), std::vector<std::string>{"Curl HTTP 0 error"});
  EXPECT_EQ(accesser_->GetFreeHandleCount(), TCouchDBDatabaseAccesser::kServerPoolSize);
}

class CouchDbAccesserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(database_.Start({"userdb"})) << "pouchdb-server did not start from tests/peers/node_modules";
  }
  OrvTest::TPouchDbServerPeer database_;
  TOperationWithTimeOutManager operations_;
};

TEST_F(CouchDbAccesserTest, MissingDocumentFailsNotFoundSilentlyAndEscapedNamesAreFound) {
  TCouchDBDatabaseAccesser accesser(database_.Url().c_str(), 2);
  accesser.Init();
  accesser.Init();
  EXPECT_EQ(accesser.GetFreeHandleCount(), 2u);

  // Stored under an id that needs escaping; looked up by a name that is lower-cased, then escaped.
  ASSERT_EQ(database_.PutJson("userdb/a%2Fb%20c%3F%23%25", R"({"mms_id": 4, "salt_count": 2,)"
                                                             R"("salt": "000102030405060708090a0b0c0d0e0f",)"
                                                             R"("passwd": "00000000000000000000000000000000000000000000000000000000"})"),
            201);
  OrvTest::TCapturedNetworkLog captured;
  TEventLog log;
  TDbRequestGetUserLoginInfo escaped("A/B c?#%");
  TDbRequestGetUserLoginInfo missing("nobody");
  ASSERT_TRUE(OrvTest::RunBatch(operations_, accesser, {&missing, &escaped}, log));
  EXPECT_EQ(log, (TEventLog{"error 2", "terminated"}));
  EXPECT_TRUE(OrvTest::TCapturedNetworkLog::Lines().empty());
  EXPECT_FALSE(escaped.HasFailed());
  EXPECT_EQ(escaped.GetMmsId(), 4u);
  EXPECT_TRUE(missing.HasFailed());
}

TEST_F(CouchDbAccesserTest, CancelledRequestsFreeTheirHandleAndNeverGetAnAnswer) {
  TCouchDBDatabaseAccesser accesser(database_.Url().c_str(), 1);
  accesser.Init();
  TEventLog log;
  TRecordingListener listener(&log);
  TOperationOnDatabase owner(&operations_, &accesser, &listener);  // never launched: its address is enough
  TRecordingRequest running("running", "userdb", &log);
  TRecordingRequest queued("queued", "userdb", &log);
  accesser.QueueRequest(&owner, &running);
  accesser.QueueRequest(&owner, &queued);
  ASSERT_EQ(accesser.GetBusyHandleCount(), 1u);
  ASSERT_EQ(accesser.GetQueuedCount(), 1u);

  accesser.CancelRequestsOf(&owner);
  EXPECT_EQ(accesser.GetBusyHandleCount(), 0u);
  EXPECT_EQ(accesser.GetQueuedCount(), 0u);
  EXPECT_EQ(accesser.GetFreeHandleCount(), 1u);
  EXPECT_TRUE(running.IsReleased());
  EXPECT_TRUE(queued.IsReleased());

  // A later batch on the same handle ends; the cancelled transfer's answer never came.
  TRecordingRequest later("later", "userdb", &log);
  ASSERT_TRUE(OrvTest::RunBatch(operations_, accesser, {&later}, log));
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].rfind("later 200 ", 0), 0u);
  EXPECT_EQ(log[1], "terminated");
}

// A destroyed accesser lets go of what it still holds but deletes nothing: the requests are
// their requesters'.
TEST_F(CouchDbAccesserTest, DestructionReleasesRunningAndQueuedRequestsWithoutDeletingThem) {
  TEventLog log;
  TRecordingListener listener(&log);
  TRecordingRequest running("running", "userdb", &log);
  TRecordingRequest queued("queued", "userdb", &log);
  {
    TCouchDBDatabaseAccesser accesser(database_.Url().c_str(), 1);
    accesser.Init();
    TOperationOnDatabase owner(&operations_, &accesser, &listener);
    accesser.QueueRequest(&owner, &running);
    accesser.QueueRequest(&owner, &queued);
  }
  EXPECT_TRUE(running.IsReleased());
  EXPECT_TRUE(queued.IsReleased());
  EXPECT_TRUE(log.empty());
}

TEST(CouchDbEscapeUrlTest, EscapesEveryByteButTheUnreservedOnes) {
  const struct {
    const char* text;
    const char* escaped;
  } cases[] = {
      {"a/b c", "a%2Fb%20c"},
      {"ABCxyz019-_.~", "ABCxyz019-_.~"},
      {"\xE9t\xE9", "%E9t%E9"},
      {"?#%&+=", "%3F%23%25%26%2B%3D"},
      {"\x01\x7F", "%01%7F"},
      {"", ""},
  };
  for (const auto& test : cases) {
    EXPECT_STREQ(TCouchDBDatabaseAccesser::EscapeUrl(test.text).c_str(), test.escaped) << test.text;
  }
}

}  // namespace
