#include "dedicated/write_game_result_in_database.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dedicated/game_result_document.h"
#include "dedicated/main_server_task.h"
#include "dedicated/strivex_dedicated_session.h"
#include "network/operation_with_time_out.h"
#include "support/curl_pump.h"
#include "support/dedicated_test_helpers.h"
#include "support/http_endpoint_peer.h"
#include "support/manual_clock.h"

namespace Orvan::Dedicated {
namespace {

using OrvTest::TEndpointEvent;
using OrvTest::THttpEndpointPeer;

const std::string kTerminated200 = "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: 200";
const std::string kTerminated0 = "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: 0";
const std::string kKilled = "TWriteGameResultInDatabase::VirtualOnOperationKilled()";
const std::string kTimedOut = "TWriteGameResultInDatabase::VirtualOnOperationTimeout()";

// The upload with its preparation in reach and the answer it received kept after it is gone.
class TReport final : public TWriteGameResultInDatabase {
 public:
  TReport(TMainServerTask* task, const std::string& url, const TOrvString<char>& document,
          std::string* answer = nullptr)
      : TWriteGameResultInDatabase(task->GetOperationManager(), task->GetHttpManager(), url.c_str(), document),
        answer_(answer) {}

  bool Prepare() { return PrepareRequest(); }
  void Lend(CURL* easy) { easy_ = easy; }

 protected:
  void VirtualOnOperationTerminated() override {
    if (answer_ != nullptr) *answer_ = GetAnswer();
    TWriteGameResultInDatabase::VirtualOnOperationTerminated();
  }

 private:
  std::string* answer_;
};

TOrvString<char> Document(std::vector<std::uint64_t> ids) {
  TVector<std::uint64_t> players;
  for (std::uint64_t id : ids) players.PushBack(id);
  return WriteGameResultDocument(players, 1700000000, 24, "Northmoor_Plains_10v10");
}

std::string Text(const TOrvString<char>& text) { return std::string(text.c_str(), text.GetLength()); }

class WriteGameResultInDatabaseTest : public OrvTest::TDedicatedTest {
 protected:
  void SetUp() override {
    TDedicatedTest::SetUp();
    // Blanks and the characters an encoded form would escape arrive as they are in a multipart one.
    settings_.login = "server login";
    settings_.key = "k3y+&=%";
    task_ = OrvTest::CreateTask(settings_, &session_);
  }

  bool PumpUntil(const std::function<bool()>& done, THttpEndpointPeer* peer = nullptr) {
    Network::TCurlRequestManager* requests = task_->GetHttpManager();
    return OrvTest::PumpUntil(requests->GetMultiHandle(), [&] { requests->Perform(); }, done, peer);
  }
  // Every upload has ended and given its handle back.
  void ExpectAllEnded() {
    EXPECT_EQ(task_->GetOperationManager()->GetRegisteredCount(), 0u);
    EXPECT_EQ(task_->GetHttpManager()->GetActiveCount(), 0u);
    EXPECT_EQ(task_->GetHttpManager()->GetQueuedCount(), 0u);
    EXPECT_EQ(task_->GetHttpManager()->GetFreeHandleCount(), Network::TCurlRequestManager::kHandlePoolSize);
  }

  TStrivexDedicatedSession session_{24};
  OrvTest::TTaskSettings settings_;
  TMainServerTask* task_ = nullptr;
  THttpEndpointPeer endpoint_;
};

// Over plain HTTP and over TLS with a self-signed certificate for another name, which the upload
// takes as it is.
class WriteGameResultInDatabaseSchemeTest : public WriteGameResultInDatabaseTest,
                                            public ::testing::WithParamInterface<bool> {};

TEST_P(WriteGameResultInDatabaseSchemeTest, ReportsArriveAsThreeFormFieldsAndTheirCodeIsLogged) {
  if (GetParam()) {
    ASSERT_TRUE(OrvTest::GenerateSelfSignedCertificate(folder_.Path(), "report.cert", "report.pkey"));
    ASSERT_TRUE(endpoint_.Start(folder_.Path("report.cert"), folder_.Path("report.pkey")));
  } else {
    ASSERT_TRUE(endpoint_.Start());
  }
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "answer", "status": 200, "body": "recorded"})"));

  const TOrvString<char> documents[] = {Document({}), Document({72057594037927937ull, 72057594037927938ull})};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i == 0 ? "no expected player" : "two expected players");
    const std::size_t logged = Lines().size();
    std::string answer;
    ASSERT_GE((new TReport(task_, endpoint_.Url("/recorddedicatedgame"), documents[i], &answer))->Launch(), 0);
    ASSERT_TRUE(PumpUntil([&] { return task_->GetOperationManager()->GetRegisteredCount() == 0; }, &endpoint_));

    EXPECT_EQ(LinesFrom(logged), std::vector<std::string>{kTerminated200});
    EXPECT_EQ(LevelOf(kTerminated200), 0);
    EXPECT_EQ(answer, "recorded");
    const std::vector<TEndpointEvent> requests = endpoint_.Requests();
    ASSERT_EQ(requests.size(), i + 1);
    const TEndpointEvent& request = requests.back();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, "/recorddedicatedgame");
    EXPECT_EQ(request.Header("Content-Type").rfind("multipart/form-data; boundary=", 0), 0u)
        << request.Header("Content-Type");
    ASSERT_EQ(request.parts.size(), 3u);
    const struct {
      const char* name;
      std::string content;
    } fields[] = {{"game", Text(documents[i])}, {"login", settings_.login}, {"password", settings_.key}};
    for (std::size_t f = 0; f < 3; ++f) {
      EXPECT_EQ(request.parts[f].name, fields[f].name);
      EXPECT_EQ(request.parts[f].content, fields[f].content) << fields[f].name;
      EXPECT_FALSE(request.parts[f].hasFilename) << fields[f].name;
    }
  }
  ExpectAllEnded();
}

INSTANTIATE_TEST_SUITE_P(Schemes, WriteGameResultInDatabaseSchemeTest, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Https" : "Http"; });

// An endpoint that refuses the connection, and one that takes the report and never answers, which
// would hold a handle of the pool for good without the transfer's own limit.
TEST_F(WriteGameResultInDatabaseTest, RefusedOrStalledUploadLogsResultZeroAndNothingElse) {
  ASSERT_TRUE(endpoint_.Start());
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "hold"})"));
  const struct {
    const char* name;
    std::string url;
  } cases[] = {
      {"refused", "http://127.0.0.1:" + OrvTest::ClosedPortText() + "/recorddedicatedgame"},
      {"stalled", endpoint_.Url("/recorddedicatedgame")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t logged = Lines().size();
    TReport* report = new TReport(task_, c.url, Document({1}));
    report->SetTransferLimitMilliseconds(300);
    ASSERT_GE(report->Launch(), 0);
    ASSERT_TRUE(PumpUntil([&] { return task_->GetOperationManager()->GetRegisteredCount() == 0; }, &endpoint_));
    EXPECT_EQ(LinesFrom(logged), std::vector<std::string>{kTerminated0});
    ExpectAllEnded();
  }
  EXPECT_EQ(endpoint_.Count("held"), 1u);
}

// A kill ends a queued or a running upload; the operation manager's tick times out one that runs too
// long. Each logs its own line and nothing else.
TEST_F(WriteGameResultInDatabaseTest, KilledAndTimedOutUploadsLogTheirLine) {
  OrvTest::TManualClock clock;
  ASSERT_TRUE(endpoint_.Start());
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "hold"})"));
  Network::TOperationWithTimeOutManager* operations = task_->GetOperationManager();
  const std::string url = endpoint_.Url("/recorddedicatedgame");
  const std::int32_t running = (new TReport(task_, url, Document({1})))->Launch();
  const std::int32_t late = (new TReport(task_, url, Document({2})))->Launch();
  ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 2; }, &endpoint_));
  const std::int32_t queued = (new TReport(task_, url, Document({3})))->Launch();
  ASSERT_EQ(task_->GetHttpManager()->GetQueuedCount(), 1u);
  ASSERT_TRUE(running >= 0 && late >= 0 && queued >= 0);

  const std::size_t logged = Lines().size();
  operations->CancelOperation(static_cast<std::uint32_t>(queued));
  operations->CancelOperation(static_cast<std::uint32_t>(running));
  EXPECT_EQ(LinesFrom(logged), (std::vector<std::string>{kKilled, kKilled}));
  OrvTest::TManualClock::AdvanceMilliseconds(Network::THttpRequest::kTimeOutMilliseconds + 1);
  operations->Update();
  EXPECT_EQ(LinesFrom(logged), (std::vector<std::string>{kKilled, kKilled, kTimedOut}));
  EXPECT_EQ(LevelOf(kKilled), 0);
  EXPECT_EQ(LevelOf(kTimedOut), 0);
  ExpectAllEnded();
}

// Preparation needs a lent handle and the main task's account; preparing again replaces the form
// (the earlier one is freed, which the sanitizer build checks) and one form of three fields is sent.
TEST_F(WriteGameResultInDatabaseTest, PreparationNeedsAHandleAndSendsOneFormWhenRepeated) {
  ASSERT_TRUE(endpoint_.Start());
  CURL* easy = curl_easy_init();
  ASSERT_NE(easy, nullptr);
  TReport* report = new TReport(task_, endpoint_.Url("/recorddedicatedgame"), Document({}));
  EXPECT_FALSE(report->Prepare());
  report->Lend(easy);
  EXPECT_TRUE(report->Prepare());
  EXPECT_TRUE(report->Prepare());
  EXPECT_EQ(curl_easy_perform(easy), CURLE_OK);
  ASSERT_TRUE(endpoint_.WaitForEvents("request", 1));
  ASSERT_EQ(endpoint_.Requests().size(), 1u);
  const TEndpointEvent request = endpoint_.Requests()[0];
  ASSERT_EQ(request.parts.size(), 3u);
  EXPECT_EQ(request.parts[0].content, Text(Document({})));

  TMainServerTask::DestroyInstance();
  EXPECT_FALSE(report->Prepare());
  delete report;
  curl_easy_cleanup(easy);
}

}  // namespace
}  // namespace Orvan::Dedicated
