#include "network/database/operation_on_database.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "network/database/empty_database_accesser.h"
#include "network/database/statistics_request.h"
#include "support/database_test_helpers.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"

namespace {

using namespace Orvan::Network;
using OrvTest::TEventLog;
using OrvTest::TManualAccesser;
using OrvTest::TRecordingListener;
using OrvTest::TRecordingRequest;

class OperationOnDatabaseTest : public ::testing::Test {
 protected:
  TRecordingRequest* Request(const std::string& name) {
    requests_.push_back(std::make_unique<TRecordingRequest>(name, name, &log_));
    return requests_.back().get();
  }
  TOperationOnDatabase* Operation(TDatabaseAccesser* accesser, std::initializer_list<IGenericDbStruct*> requests,
                                  double timeOut = 30000.0) {
    auto* operation = new TOperationOnDatabase(&operations_, accesser, &listener_, timeOut);
    for (IGenericDbStruct* request : requests) operation->AddRequest(request);
    return operation;
  }

  OrvTest::TManualClock clock_;
  TOperationWithTimeOutManager operations_;
  TEventLog log_;
  TRecordingListener listener_{&log_};
  std::vector<std::unique_ptr<TRecordingRequest>> requests_;
};

TEST_F(OperationOnDatabaseTest, WithoutADatabaseEachStatisticsRequestGetsItsDefaultInQueueOrder) {
  TEmptyDatabaseAccesser accesser;
  TDbRequestGetStatistics first("", 0, 7, UserDocument);
  TDbRequestGetStatistics second("", 3, 8, UserDocument);
  TDbRequestGetStatistics team("", 0, 9, TeamDocument);
  auto* operation = new TOperationOnDatabase(&operations_, &accesser, &listener_);
  operation->AddRequest(&first);
  operation->AddRequest(&second);
  operation->AddRequest(&team);
  ASSERT_GE(operation->Launch(), 0);
  EXPECT_EQ(accesser.GetQueuedCount(), 1u);  // one request at a time

  accesser.Perform();
  EXPECT_EQ(log_, (TEventLog{"error 0", "terminated"}));  // the team document has no default
  for (const TDbRequestGetStatistics* request : {&first, &second}) {
    EXPECT_FALSE(request->HasFailed());
    EXPECT_TRUE(request->IsReleased());
    EXPECT_EQ(request->GetDocumentFields().Count(), 2u);
    EXPECT_STREQ(request->FindField("_id")->c_str(), "0");
  }
  EXPECT_STREQ(first.FindField("@name")->c_str(), "u0_7");
  EXPECT_STREQ(second.FindField("@name")->c_str(), "u3_8");
  EXPECT_TRUE(team.HasFailed());
  EXPECT_EQ(operations_.GetRegisteredCount(), 0u);
}

TEST_F(OperationOnDatabaseTest, EveryRequestRunsAfterFailuresAndTheListenerHearsEachError) {
  TEmptyDatabaseAccesser accesser;
  TRecordingRequest* missing = Request("a");
  missing->answer = [](TRecordingRequest& request) { request.Fail(TDbRequestError::NotFound); };
  TRecordingRequest* twice = Request("b");
  twice->answer = [](TRecordingRequest& request) {
    request.Fail(TDbRequestError::Generic);
    request.Fail(TDbRequestError::Conflict);
  };
  TRecordingRequest* fine = Request("c");
  fine->answer = [](TRecordingRequest&) {};
  ASSERT_GE(Operation(&accesser, {missing, twice, fine})->Launch(), 0);
  accesser.Perform();
  EXPECT_EQ(log_, (TEventLog{"a without database", "error 2", "b without database", "error 0", "error 3",
                             "c without database", "terminated"}));
  EXPECT_TRUE(missing->HasFailed());
  EXPECT_TRUE(twice->HasFailed());
  EXPECT_FALSE(fine->HasFailed());
}

TEST_F(OperationOnDatabaseTest, ATimeOutCancelsTheQueuedRequestAndTellsOnlyError1) {
  TManualAccesser accesser;
  TRecordingRequest* first = Request("a");
  TRecordingRequest* second = Request("b");
  ASSERT_GE(Operation(&accesser, {first, second})->Launch(), 0);
  accesser.AnswerFirst([](IGenericDbStruct&) {});
  ASSERT_EQ(accesser.queue, (std::vector<IGenericDbStruct*>{second}));

  OrvTest::TCapturedNetworkLog captured;
  OrvTest::TManualClock::AdvanceMilliseconds(30001);
  operations_.Update();
  EXPECT_EQ(log_, (TEventLog{"error 1"}));
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(),
            std::vector<std::string>{"TOperationOnDatabase::OnOperationTimeout() -> no answer within 30000 ms"});
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].level, 1);
  EXPECT_TRUE(accesser.queue.empty());
  EXPECT_TRUE(second->IsReleased());
  EXPECT_EQ(operations_.GetRegisteredCount(), 0u);
}

// Ended by a kill or by its requester, the operation drops its requests and tells the listener
// nothing.
TEST_F(OperationOnDatabaseTest, KillOrEarlyEndDropsTheRequestsSilently) {
  TManualAccesser accesser;
  TRecordingRequest* killed = Request("a");
  TRecordingRequest* ended = Request("b");
  const std::int32_t id = Operation(&accesser, {killed})->Launch();
  TOperationOnDatabase* byRequester = Operation(&accesser, {ended});
  ASSERT_GE(byRequester->Launch(), 0);
  ASSERT_EQ(accesser.queue.size(), 2u);

  operations_.CancelOperation(static_cast<std::uint32_t>(id));
  byRequester->TerminateOperation();
  EXPECT_TRUE(accesser.queue.empty());
  EXPECT_TRUE(killed->IsReleased());
  EXPECT_TRUE(ended->IsReleased());
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(operations_.GetRegisteredCount(), 0u);
}

TEST_F(OperationOnDatabaseTest, TheListenerMayStartANewOperationWhenTheBatchEnds) {
  TEmptyDatabaseAccesser accesser;
  TRecordingRequest* first = Request("a");
  first->answer = [](TRecordingRequest&) {};
  TRecordingRequest* next = Request("b");
  next->answer = [](TRecordingRequest&) {};
  listener_.onTerminated = [&] {
    if (listener_.terminations == 1) {
      EXPECT_GE(Operation(&accesser, {next})->Launch(), 0);
    }
  };
  ASSERT_GE(Operation(&accesser, {first})->Launch(), 0);
  accesser.Perform();
  EXPECT_EQ(log_, (TEventLog{"a without database", "terminated", "b without database", "terminated"}));
  EXPECT_EQ(operations_.GetRegisteredCount(), 0u);
}

// An empty batch would end inside its own launch, and there is nothing to run without an accesser.
TEST_F(OperationOnDatabaseTest, LaunchWithoutRequestsOrWithoutAccesserIsRefused) {
  OrvTest::TCapturedNetworkLog captured;
  TEmptyDatabaseAccesser accesser;
  EXPECT_EQ(Operation(&accesser, {})->Launch(), -1);
  EXPECT_EQ(Operation(nullptr, {Request("a")})->Launch(), -1);
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(),
            (std::vector<std::string>{"TOperationOnDatabase::OnOperationLaunched() -> no request to run",
                                      "TOperationOnDatabase::OnOperationLaunched() -> no database accesser"}));
  EXPECT_EQ(accesser.GetQueuedCount(), 0u);
  EXPECT_TRUE(log_.empty());
  EXPECT_EQ(operations_.GetRegisteredCount(), 0u);
}

TEST(EmptyDatabaseAccesserTest, CancelRequestsOfRemovesEveryRequestOfItsOwnerOnly) {
  TOperationWithTimeOutManager operations;
  TEmptyDatabaseAccesser accesser;
  TEventLog log;
  TRecordingListener listener(&log);
  // Owners that are never launched: only their addresses matter here.
  TOperationOnDatabase mine(&operations, &accesser, &listener);
  TOperationOnDatabase other(&operations, &accesser, &listener);
  TOperationOnDatabase idle(&operations, &accesser, &listener);
  TRecordingRequest a("a", "", &log), b("b", "", &log), c("c", "", &log), d("d", "", &log);
  accesser.QueueRequest(&other, &a);
  accesser.QueueRequest(&mine, &b);
  accesser.QueueRequest(&mine, &c);
  accesser.QueueRequest(&other, &d);

  accesser.CancelRequestsOf(&idle);
  EXPECT_EQ(accesser.GetQueuedCount(), 4u);
  accesser.CancelRequestsOf(&mine);
  EXPECT_EQ(accesser.GetQueuedCount(), 2u);
  EXPECT_TRUE(b.IsReleased());
  EXPECT_TRUE(c.IsReleased());
  EXPECT_FALSE(a.IsReleased());
  accesser.CancelRequestsOf(&other);
  EXPECT_EQ(accesser.GetQueuedCount(), 0u);
}

TEST(GenericDbStructTest, ARequestWithoutAnUploadBodyLogsWhenAskedForOne) {
  OrvTest::TCapturedNetworkLog captured;
  TEventLog log;
  TRecordingRequest request("a", "", &log);
  char buffer[16];
  EXPECT_EQ(request.GetUploadSize(), 0u);
  EXPECT_EQ(request.ReadUploadData(buffer, sizeof buffer), 0u);
  ASSERT_EQ(OrvTest::TCapturedNetworkLog::Lines().size(), 1u);
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].level, 1);
  EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].text,
            "ERROR : was asked PUT data to send in HTTP request but got no data to send!");
}

}  // namespace
