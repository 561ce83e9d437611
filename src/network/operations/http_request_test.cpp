#include "network/operations/http_request.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "network/operations/answer_limit.h"
#include "support/curl_pump.h"
#include "support/http_endpoint_peer.h"
#include "support/manual_clock.h"
#include "support/network_test_helpers.h"

namespace {

using Orvan::Network::TCurlRequestManager;
using Orvan::Network::THttpRequest;
using Orvan::Network::TOperationWithTimeOutManager;
using OrvTest::THttpEndpointPeer;

// How a request ended, kept after the request deleted itself.
struct TEnd {
  std::string hook;
  long code = -1;
  std::string answer;
  CURLcode result = CURLE_OK;
};

// A GET of one URL that records its end under its name.
class TTestRequest final : public THttpRequest {
 public:
  TTestRequest(TOperationWithTimeOutManager* operations, TCurlRequestManager* requests, std::string url,
               std::string name, std::map<std::string, TEnd>* ends, bool prepares = true)
      : THttpRequest(operations, requests), target_(std::move(url)), name_(std::move(name)), ends_(ends),
        prepares_(prepares) {}

 protected:
  bool PrepareRequest() override {
    if (!prepares_) return false;
    url_ = target_.c_str();
    curl_easy_setopt(easy_, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &THttpRequest::WriteCallback);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, static_cast<THttpRequest*>(this));
    return true;
  }
  void VirtualOnOperationTerminated() override { Record("terminated"); }
  void VirtualOnOperationTimeout() override { Record("timeout"); }
  void VirtualOnOperationKilled() override { Record("killed"); }

 private:
  void Record(const char* hook) { (*ends_)[name_] = TEnd{hook, GetResponseCode(), GetAnswer(), GetTransferResult()}; }

  std::string target_;
  std::string name_;
  std::map<std::string, TEnd>* ends_;
  bool prepares_;
};

class HttpRequestTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(endpoint_.Start()) << "tests/peers/http_endpoint.py did not start"; }

  std::int32_t Launch(const std::string& name, bool prepares = true) {
    return (new TTestRequest(&operations_, &requests_, endpoint_.Url("/" + name), name, &ends_, prepares))->Launch();
  }
  bool PumpUntil(const std::function<bool()>& done, const std::function<void()>& afterPerform = {}) {
    return OrvTest::PumpUntil(
        requests_.GetMultiHandle(),
        [&] {
          requests_.Perform();
          if (afterPerform) afterPerform();
        },
        done, &endpoint_);
  }
  std::vector<std::string> RequestedPaths() {
    std::vector<std::string> paths;
    for (const auto& request : endpoint_.Requests()) paths.push_back(request.path);
    return paths;
  }

  THttpEndpointPeer endpoint_;
  TOperationWithTimeOutManager operations_;
  TCurlRequestManager requests_;
  std::map<std::string, TEnd> ends_;
};

TEST_F(HttpRequestTest, FifteenTransfersRunAndTheSixteenthStartsInThePerformWhereOneEnds) {
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "hold"})"));
  for (int i = 0; i < 16; ++i) ASSERT_GE(Launch("r" + std::to_string(i)), 0);
  EXPECT_EQ(requests_.GetQueuedCount(), 16u);  // nothing starts before the first Perform

  ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 15; }));
  EXPECT_EQ(requests_.GetActiveCount(), 15u);
  EXPECT_EQ(requests_.GetQueuedCount(), 1u);
  EXPECT_EQ(requests_.GetFreeHandleCount(), 0u);
  std::vector<std::string> paths = RequestedPaths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/r15"), 0);

  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "release", "count": 1})"));
  bool sixteenthStartedWithTheEnd = false;
  ASSERT_TRUE(PumpUntil([&] { return ends_.size() == 1; },
                        [&] {
                          if (ends_.size() == 1) {
                            sixteenthStartedWithTheEnd =
                                requests_.GetQueuedCount() == 0 && requests_.GetActiveCount() == 15;
                          }
                        }));
  EXPECT_TRUE(sixteenthStartedWithTheEnd);

  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "release"})"));
  ASSERT_TRUE(PumpUntil([&] { return ends_.size() == 16; }));
  for (const auto& [name, end] : ends_) {
    EXPECT_EQ(end.hook, "terminated") << name;
    EXPECT_EQ(end.code, 200) << name;
  }
  paths = RequestedPaths();
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "/r15"), 1);
  EXPECT_EQ(requests_.GetFreeHandleCount(), 15u);
  EXPECT_EQ(operations_.GetRegisteredCount(), 0u);
}

TEST_F(HttpRequestTest, RefusedPreparationEndsWithCodeZeroAndKeepsTheHandleInThePool) {
  ASSERT_GE(Launch("refused", false), 0);
  ASSERT_GE(Launch("behind"), 0);
  requests_.Perform();
  ASSERT_EQ(ends_.count("refused"), 1u);
  EXPECT_EQ(ends_["refused"].hook, "terminated");
  EXPECT_EQ(ends_["refused"].code, 0);
  EXPECT_EQ(requests_.GetActiveCount(), 1u);  // the one behind it started on the same handle
  EXPECT_EQ(requests_.GetFreeHandleCount(), 14u);

  ASSERT_TRUE(PumpUntil([&] { return ends_.size() == 2; }));
  EXPECT_EQ(ends_["behind"].code, 200);
  EXPECT_EQ(RequestedPaths(), std::vector<std::string>{"/behind"});
  EXPECT_EQ(requests_.GetFreeHandleCount(), 15u);
}

// Whatever the transfer's outcome, the request ends normally; the code and the answer tell.
TEST_F(HttpRequestTest, FinishedTransfersEndNormallyWithTheirCodeAndWholeAnswer) {
  ASSERT_TRUE(endpoint_.Command(
      R"({"cmd": "queue", "answers": [{"status": 500, "body": "boom"},)"
      R"({"status": 200, "chunks": ["first ", "second ", "third"]}]})"));
  ASSERT_GE(Launch("error"), 0);
  ASSERT_TRUE(PumpUntil([&] { return ends_.size() == 1; }));
  ASSERT_GE(Launch("chunked"), 0);
  ASSERT_TRUE(PumpUntil([&] { return ends_.size() == 2; }));
  // Every connection closes unanswered (libcurl retries a reused one once on a new connection).
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "close"})"));
  ASSERT_GE(Launch("closed"), 0);
  ASSERT_TRUE(PumpUntil([&] { return ends_.size() == 3; }));
  // Nothing listens on a port that was free a moment ago: the connection is refused.
  const int refusedPort = OrvTest::FindFreeLoopbackPort();
  ASSERT_GE((new TTestRequest(&operations_, &requests_, "http://127.0.0.1:" + std::to_string(refusedPort) + "/",
                              "refused", &ends_))
                ->Launch(),
            0);
  ASSERT_TRUE(PumpUntil([&] { return ends_.size() == 4; }));

  EXPECT_EQ(ends_["error"].hook, "terminated");
  EXPECT_EQ(ends_["error"].code, 500);
  EXPECT_EQ(ends_["error"].answer, "boom");
  EXPECT_EQ(ends_["chunked"].code, 200);
  EXPECT_EQ(ends_["chunked"].answer, "first second third");
  for (const char* name : {"closed", "refused"}) {
    EXPECT_EQ(ends_[name].hook, "terminated") << name;
    EXPECT_EQ(ends_[name].code, 0) << name;
    EXPECT_EQ(ends_[name].answer, "") << name;
  }
  EXPECT_EQ(requests_.GetFreeHandleCount(), 15u);
}

// An answer of exactly the cap is taken whole; one byte more ends the transfer as failed, logged
// once with the URL, and the handle goes back to the pool.
TEST_F(HttpRequestTest, AnswersEndAsFailedPastSixteenMebibytes) {
  const struct {
    const char* name;
    std::size_t size;
    bool over;
  } cases[] = {{"at-cap", Orvan::Network::kMaxAnswerBytes, false},
               {"over-cap", Orvan::Network::kMaxAnswerBytes + 1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(endpoint_.Command(R"({"cmd": "answer", "fill": )" + std::to_string(c.size) + "}"));
    OrvTest::TCapturedNetworkLog captured;
    Launch(c.name);
    ASSERT_TRUE(PumpUntil([&] { return ends_.count(c.name) != 0; }));
    const TEnd& end = ends_[c.name];
    EXPECT_EQ(end.hook, "terminated");
    EXPECT_EQ(end.result, c.over ? CURLE_WRITE_ERROR : CURLE_OK);
    if (c.over) {
      EXPECT_LE(end.answer.size(), Orvan::Network::kMaxAnswerBytes);
      EXPECT_EQ(OrvTest::TCapturedNetworkLog::Texts(),
                std::vector<std::string>{"THttpRequest::AppendToAnswer() -> answer from " + endpoint_.Url("/over-cap") +
                                         " exceeds 16777216 bytes: transfer failed"});
      EXPECT_EQ(OrvTest::TCapturedNetworkLog::Lines()[0].level, 1);
    } else {
      EXPECT_EQ(end.answer, std::string(c.size, 'x'));
      EXPECT_TRUE(OrvTest::TCapturedNetworkLog::Texts().empty());
    }
    EXPECT_EQ(requests_.GetFreeHandleCount(), TCurlRequestManager::kHandlePoolSize);
  }
}

// A queued request that is killed leaves the others their turn; a killed or timed-out transfer gives
// its handle back.
TEST_F(HttpRequestTest, KillsAndTimeOutsReleaseTheirPlaceInOrder) {
  OrvTest::TManualClock clock;
  ASSERT_TRUE(endpoint_.Command(R"({"cmd": "hold"})"));
  std::vector<std::int32_t> running;
  for (int i = 0; i < 15; ++i) running.push_back(Launch("r" + std::to_string(i)));
  const std::int32_t first = Launch("q0");
  Launch("q1");
  Launch("q2");
  ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 15; }));

  operations_.CancelOperation(static_cast<std::uint32_t>(first));
  EXPECT_EQ(ends_["q0"].hook, "killed");
  EXPECT_EQ(requests_.GetQueuedCount(), 2u);

  operations_.CancelOperation(static_cast<std::uint32_t>(running[0]));
  EXPECT_EQ(ends_["r0"].hook, "killed");
  EXPECT_EQ(requests_.GetActiveCount(), 14u);
  EXPECT_EQ(requests_.GetFreeHandleCount(), 1u);
  ASSERT_TRUE(PumpUntil([&] { return endpoint_.Count("held") == 16; }));
  EXPECT_EQ(endpoint_.Requests().back().path, "/q1");  // first in, first started
  EXPECT_EQ(requests_.GetQueuedCount(), 1u);

  OrvTest::TManualClock::AdvanceMilliseconds(THttpRequest::kTimeOutMilliseconds + 1);
  operations_.Update();
  EXPECT_EQ(ends_.size(), 18u);
  for (const auto& [name, end] : ends_) {
    if (name != "q0" && name != "r0") {
      EXPECT_EQ(end.hook, "timeout") << name;
    }
  }
  EXPECT_EQ(requests_.GetActiveCount(), 0u);
  EXPECT_EQ(requests_.GetQueuedCount(), 0u);
  EXPECT_EQ(requests_.GetFreeHandleCount(), 15u);
}

}  // namespace
