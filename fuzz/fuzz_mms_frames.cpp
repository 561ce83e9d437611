// Fuzz target of the match-making link's reception. Input: a flags byte (bit 0: slave mode, bit 1:
// start Ready instead of Connected), then chunks, each a length byte and that many bytes. Each chunk
// is fed to an in-memory stream and the read callback of the link's state runs, as libevent would
// run it: the init answer while Connected (one frame per read), every frame while Ready. What
// reaches the session (recorded) and the link's state must match a plain model of the protocol
// fed the same chunks: framing, the answer's layout and result, the game information's StatsURL,
// and the Ready channels.
#include <yajl/yajl_tree.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dedicated/program/main_server_task.h"
#include "network/database/json_tree.h"
#include "network/logging/network_hooks.h"
#include "support/engine_test_environment.h"
#include "support/fuzz_check.h"
#include "support/memory_link_stream.h"
#include "support/recording_session.h"

namespace {

using namespace Orvan;
using Orvan::Dedicated::MatchMakingLinkState;
using Orvan::Dedicated::TMainServerTask;
using OrvTest::FuzzCheck;

constexpr std::uint32_t kMaximumFrame = 4096;

void DropLog(int, const char*) {}

std::uint64_t BigEndian(const std::string& bytes, std::size_t at, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

// A length-prefixed text at `at` of `message`; false when it does not fit.
bool ReadText(const std::string& message, std::size_t& at, std::string& text) {
  if (message.size() < at + 4) return false;
  const std::uint64_t length = BigEndian(message, at, 4);
  if (message.size() - at - 4 < length) return false;
  text = message.substr(at + 4, length);
  at += 4 + length;
  return true;
}

bool HasStatsUrl(const std::string& json) {
  const Network::TJsonTree tree(json.c_str());
  if (!tree.IsValid() || !YAJL_IS_OBJECT(tree.GetRoot())) return false;
  const yajl_val root = tree.GetRoot();
  for (std::size_t i = 0; i < root->u.object.len; ++i) {
    if (std::string(root->u.object.keys[i]) == "StatsURL" && YAJL_IS_STRING(root->u.object.values[i])) return true;
  }
  return false;
}

// The link as the protocol has it.
class TLinkModel {
 public:
  TLinkModel(bool slave, MatchMakingLinkState state) : slave_(slave), state_(state) {}

  void Receive(const std::string& chunk) {
    if (state_ == MatchMakingLinkState::NotConnected) return;
    input_ += chunk;
    if (state_ == MatchMakingLinkState::Connected) {
      OnInitAnswer();
      if (state_ == MatchMakingLinkState::Ready) OnReady();
    } else {
      OnReady();
    }
  }

  std::vector<std::string> calls;
  MatchMakingLinkState State() const { return state_; }

 private:
  enum class EFrame { kNone, kFrame, kFailure };

  // The framing: a big-endian length (above the maximum fails, 0 is skipped), then the body.
  EFrame NextFrame(std::string& body) {
    while (pending_ == 0) {
      if (input_.size() < 2) return EFrame::kNone;
      const std::uint32_t length = static_cast<std::uint32_t>(BigEndian(input_, 0, 2));
      input_.erase(0, 2);
      if (length > kMaximumFrame) return EFrame::kFailure;
      pending_ = length;
    }
    if (input_.size() < pending_) return EFrame::kNone;
    body = input_.substr(0, pending_);
    input_.erase(0, pending_);
    pending_ = 0;
    return EFrame::kFrame;
  }

  void Close() {
    if (state_ == MatchMakingLinkState::Ready) calls.push_back("link down");
    // The accesser exists only when the link came up through an answer.
    if (accesser_) calls.push_back("end database work");
    accesser_ = false;
    state_ = MatchMakingLinkState::NotConnected;
  }

  void OnInitAnswer() {
    std::string body;
    if (NextFrame(body) != EFrame::kFrame || static_cast<std::uint8_t>(body[0]) != 225) return;
    const std::string message = body.substr(1);
    std::size_t at = 1;
    std::string info;
    if (message.empty() || !ReadText(message, at, info) || message.size() < at + 8) return;
    if (message[0] != 0 || !HasStatsUrl(info)) {
      Close();
      return;
    }
    state_ = MatchMakingLinkState::Ready;
    calls.push_back("link up");
    accesser_ = true;
  }

  void OnReady() {
    for (;;) {
      std::string body;
      const EFrame frame = NextFrame(body);
      if (frame == EFrame::kNone) return;
      if (frame == EFrame::kFailure) {
        Close();
        return;
      }
      const std::string message = body.substr(1);
      switch (static_cast<std::uint8_t>(body[0])) {
        case 228: {
          std::size_t at = 0;
          std::string info;
          if (ReadText(message, at, info) && HasStatsUrl(info)) calls.push_back("game info");
          break;
        }
        case 229:
          if (slave_ && message.size() >= 12) {
            calls.push_back("wait " + std::to_string(BigEndian(message, 0, 8)) + " " +
                            std::to_string(BigEndian(message, 8, 4)));
          }
          break;
        case 226:
          if (message.size() >= 9) {
            calls.push_back("verdict " + std::to_string(BigEndian(message, 0, 8)) + " " +
                            std::to_string(static_cast<std::uint8_t>(message[8])));
          }
          break;
        default:
          break;
      }
    }
  }

  bool slave_;
  MatchMakingLinkState state_;
  std::string input_;
  std::uint32_t pending_ = 0;
  bool accesser_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OrvTest::StartEngineOnce();
  Network::SetNetworkLogHandler(&DropLog);
  if (size == 0) return 0;
  const bool slave = (data[0] & 1) != 0;
  const MatchMakingLinkState start =
      (data[0] & 2) != 0 ? MatchMakingLinkState::Ready : MatchMakingLinkState::Connected;

  // One task for the process: making one per input would leave the engine's caches growing, which
  // the fuzzer would take for leaks.
  static OrvTest::TRecordingSession session;
  static TMainServerTask* task = TMainServerTask::CreateInstance(
      24, "", 10000, "127.0.0.1", "", &session, nullptr, nullptr, true, false, "", "", TOrvString<char>(),
      TOrvString<char>(), "ab", "c");
  session.calls.clear();
  task->SetSlaveForTests(slave);
  OrvTest::TMemoryLinkStream stream;
  task->AttachMatchMakingStream(&stream, start);
  TLinkModel model(slave, start);

  std::size_t at = 1;
  while (at < size && task->GetLinkState() != MatchMakingLinkState::NotConnected) {
    const std::size_t length = std::min<std::size_t>(data[at], size - at - 1);
    const std::string chunk(reinterpret_cast<const char*>(data + at + 1), length);
    at += 1 + length;
    stream.Feed(chunk);
    if (task->GetLinkState() == MatchMakingLinkState::Connected) {
      TMainServerTask::OnMatchMakingInitAnswerCallback(nullptr, nullptr);
    } else {
      TMainServerTask::OnMatchMakingPacketCallback(nullptr, nullptr);
    }
    model.Receive(chunk);
    FuzzCheck(session.calls == model.calls, "the session hears what the model says, in order");
    FuzzCheck(task->GetLinkState() == model.State(), "the link's state matches the model");
    FuzzCheck(stream.IsClosed() == (model.State() == MatchMakingLinkState::NotConnected),
              "the stream is closed exactly when the link dropped");
    FuzzCheck((task->GetDatabaseAccesser() != nullptr) == (task->GetLinkState() == MatchMakingLinkState::Ready &&
                                                            start == MatchMakingLinkState::Connected),
              "the database accesser lives while a link that came up is Ready");
  }
  // The accesser of a link left Ready goes now, with the input that made it.
  task->AttachMatchMakingStream(nullptr, MatchMakingLinkState::NotConnected);
  return 0;
}
