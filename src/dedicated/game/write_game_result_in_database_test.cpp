#include "dedicated/game/write_game_result_in_database.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "dedicated/game/game_result_document.h"
#include "dedicated/program/main_server_task.h"
#include "dedicated/session/strivex_dedicated_session.h"
#include "network/operations/operation_with_time_out.h"
#include "support/curl_pump.h"
#include "support/dedicated_test_helpers.h"
#include "support/event_loop_test_helpers.h"
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

// An environment variable set (or unset, with null) while it lives, then as it was.
class TScopedVariable {
 public:
  TScopedVariable(const char* name, const char* value) : name_(name) {
    if (const char* former = std::getenv(name)) former_ = former;
    if (value != nullptr) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~TScopedVariable() {
    if (former_) {
      ::setenv(name_, former_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  TScopedVariable(const TScopedVariable&) = delete;
  TScopedVariable& operator=(const TScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> former_;
};

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

// Over plain HTTP, and over TLS with a certificate of a private CA that SSL_CERT_FILE names in
// place of the system's trust store.
class WriteGameResultInDatabaseSchemeTest : public WriteGameResultInDatabaseTest,
                                            public ::testing::WithParamInterface<bool> {};

TEST_P(WriteGameResultInDatabaseSchemeTest, ReportsArriveAsThreeFormFieldsAndTheirCodeIsLogged) {
  std::optional<TScopedVariable> trustStore;
  if (GetParam()) {
    ASSERT_TRUE(
        OrvTest::GenerateCertificateSignedByTestCa(folder_.Path(), "report.cert", "report.pkey", "IP:127.0.0.1"));
    ASSERT_TRUE(endpoint_.Start(folder_.Path("report.cert"), folder_.Path("report.pkey")));
    trustStore.emplace("SSL_CERT_FILE", folder_.Path("ca.cert").c_str());
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

// A transfer that fails ends the upload with result 0 and libcurl's error text: a connection refused,
// and endpoints whose certificate does not check out, to which the key is never sent (they see no
// request): a self-signed one against the system's trust store and against a private CA's, and one
// of that CA for another host.
TEST_F(WriteGameResultInDatabaseTest, FailedTransfersLogResultZeroWithLibcurlsError) {
  ASSERT_TRUE(OrvTest::GenerateSelfSignedCertificate(folder_.Path(), "self.cert", "self.pkey"));
  ASSERT_TRUE(OrvTest::GenerateCertificateSignedByTestCa(folder_.Path(), "other.cert", "other.pkey", "DNS:other.test"));
  const std::string testCa = folder_.Path("ca.cert");
  const struct {
    const char* name;
    const char* certificate;  // null: plain HTTP to a closed port
    const char* trustStore;   // SSL_CERT_FILE, null: the system's
    const char* errorText;    // in libcurl's error text
  } cases[] = {
      {"refused", nullptr, nullptr, "onnect"},
      {"self-signed, system store", "self", nullptr, "certificate"},
      {"self-signed, private CA", "self", testCa.c_str(), "certificate"},
      {"another host's", "other", testCa.c_str(), "127.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TScopedVariable trustStore("SSL_CERT_FILE", c.trustStore);
    THttpEndpointPeer endpoint;
    std::string url = "http://127.0.0.1:" + OrvTest::ClosedPortText() + "/recorddedicatedgame";
    if (c.certificate != nullptr) {
      ASSERT_TRUE(endpoint.Start(folder_.Path(std::string(c.certificate) + ".cert"),
                                 folder_.Path(std::string(c.certificate) + ".pkey")));
      url = endpoint.Url("/recorddedicatedgame");
    }
    const std::size_t logged = Lines().size();
    ASSERT_GE((new TReport(task_, url, Document({1})))->Launch(), 0);
    ASSERT_TRUE(PumpUntil([&] { return task_->GetOperationManager()->GetRegisteredCount() == 0; }));
    const std::vector<std::string> lines = LinesFrom(logged);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], kTerminated0);
    const std::string failed = "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> upload to " + url + " failed: ";
    EXPECT_EQ(lines[1].rfind(failed, 0), 0u) << lines[1];
    EXPECT_NE(lines[1].find(c.errorText, failed.size()), std::string::npos) << lines[1];
    EXPECT_EQ(LevelOf(lines[1]), 1);
    if (c.certificate != nullptr) {
      endpoint.ReadEvents(100);
      EXPECT_EQ(endpoint.Count("request"), 0u);
    }
    ExpectAllEnded();
  }
}

// An answer outside 2xx means the endpoint did not take the result, which is not sent again: a
// warning names the URL and the status, after the result line.
TEST_F(WriteGameResultInDatabaseTest, AnswersOutside2xxAreWarnedWithTheUrlAndStatus) {
  ASSERT_TRUE(endpoint_.Start());
  const std::string url = endpoint_.Url("/recorddedicatedgame");
  const struct {
    int status;
    bool lost;
  } cases[] = {{201, false}, {299, false}, {302, true}, {404, true}, {500, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    ASSERT_TRUE(endpoint_.Command(R"({"cmd": "answer", "status": )" + std::to_string(c.status) + "}"));
    const std::size_t logged = Lines().size();
    ASSERT_GE((new TReport(task_, url, Document({1})))->Launch(), 0);
    ASSERT_TRUE(PumpUntil([&] { return task_->GetOperationManager()->GetRegisteredCount() == 0; }, &endpoint_));
    std::vector<std::string> expected = {
        "TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> result: " + std::to_string(c.status)};
    if (c.lost) {
      expected.push_back("TWriteGameResultInDatabase::VirtualOnOperationTerminated() -> upload to " + url +
                         " failed: HTTP status " + std::to_string(c.status));
      EXPECT_EQ(LevelOf(expected.back()), 1);
    }
    EXPECT_EQ(LinesFrom(logged), expected);
  }
  ExpectAllEnded();
}

// After a first exit request the loop ends only once no upload is in flight: at the answer of one
// the endpoint answers, at the time-out of one it never answers.
TEST_F(WriteGameResultInDatabaseTest, ExitWaitsForTheUploadInFlight) {
  OrvTest::TManualClock clock;
  ASSERT_TRUE(endpoint_.Start());
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "hold"})"));
  EXPECT_TRUE(task_->IsReadyToExit());
  const std::string url = endpoint_.Url("/recorddedicatedgame");
  ASSERT_GE((new TReport(task_, url, Document({1})))->Launch(), 0);
  EXPECT_FALSE(task_->IsReadyToExit()) << "queued";
  ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 1; }, &endpoint_));
  EXPECT_FALSE(task_->IsReadyToExit()) << "transferring";
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "release", "count": 1})"));
  ASSERT_TRUE(PumpUntil([&] { return task_->GetOperationManager()->GetRegisteredCount() == 0; }, &endpoint_));
  EXPECT_TRUE(Logged(kTerminated200));
  EXPECT_TRUE(task_->IsReadyToExit());

  ASSERT_GE((new TReport(task_, url, Document({2})))->Launch(), 0);
  ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 2; }, &endpoint_));
  OrvTest::TManualClock::AdvanceMilliseconds(Network::THttpRequest::kTimeOutMilliseconds + 1);
  task_->GetOperationManager()->Update();
  EXPECT_TRUE(Logged(kTimedOut));
  EXPECT_TRUE(task_->IsReadyToExit());
  ExpectAllEnded();
}

// A kill ends a queued or a running upload; the operation manager's tick times out one that runs too
// long. Each logs its own line and a warning naming the URL, as the result is lost.
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
  const std::string abandoned = "TWriteGameResultInDatabase::VirtualOnOperationKilled() -> upload to " + url +
                                " abandoned";
  EXPECT_EQ(LinesFrom(logged), (std::vector<std::string>{kKilled, abandoned, kKilled, abandoned}));
  OrvTest::TManualClock::AdvanceMilliseconds(Network::THttpRequest::kTimeOutMilliseconds + 1);
  operations->Update();
  const std::string noAnswer = "TWriteGameResultInDatabase::VirtualOnOperationTimeout() -> upload to " + url +
                               " failed: no answer within 120 s";
  EXPECT_EQ(LinesFrom(logged),
            (std::vector<std::string>{kKilled, abandoned, kKilled, abandoned, kTimedOut, noAnswer}));
  EXPECT_EQ(LevelOf(abandoned), 1);
  EXPECT_EQ(LevelOf(noAnswer), 1);
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
