#include "capacity/replay_check.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <functional>
#include <string>
#include <vector>

namespace OrvCapacity {
namespace {

void PutBig32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift & 0xFF));
}

void PutLittle32(std::string& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i) & 0xFF));
}

struct TChunk {
  std::string tag;
  std::string payload;
};

std::string TickPayload(std::uint32_t tick, std::size_t extra) {
  std::string payload;
  PutLittle32(payload, tick);
  payload.append(extra, '\0');
  return payload;
}

// The chunks of a replay of `ticks` ticks of `players` players.
std::vector<TChunk> Chunks(std::uint32_t ticks, std::size_t players) {
  std::vector<TChunk> chunks = {{"rply", "{\"game\":{}}"}};
  for (std::uint32_t tick = 0; tick < ticks; ++tick) {
    chunks.push_back({"star", TickPayload(tick, 4)});
    for (std::size_t player = 0; player < players; ++player) chunks.push_back({"pact", TickPayload(tick, 10)});
    chunks.push_back({"endt", TickPayload(tick, 8)});
  }
  return chunks;
}

// The container around the chunks, with its size and digest as the server seals them.
std::string Container(const std::vector<TChunk>& chunks) {
  std::string records;
  for (const TChunk& chunk : chunks) {
    records += chunk.tag;
    PutBig32(records, 0);
    PutBig32(records, static_cast<std::uint32_t>(chunk.payload.size()));
    PutBig32(records, 0);
    records += chunk.payload;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(records.data(), records.size(), digest, &length, EVP_sha224(), nullptr);
  std::string data = "ESAV";
  PutBig32(data, 1);
  PutBig32(data, static_cast<std::uint32_t>(kReplayHeaderSize + records.size()));
  data.append(reinterpret_cast<const char*>(digest), length);
  return data + records;
}

struct TReplayCase {
  const char* name;
  std::function<std::string()> make;
  bool digestOk;
  std::int64_t ticks;
  const char* problem;  // part of the first problem; null: none
};

TEST(ReplayCheck, FindsMissingTicksAndActionsAndBrokenContainers) {
  const std::vector<TReplayCase> cases = {
      {"whole", [] { return Container(Chunks(3, 2)); }, true, 3, nullptr},
      {"a tick left out",
       [] {
         auto chunks = Chunks(3, 2);
         chunks.erase(chunks.begin() + 5, chunks.begin() + 9);  // tick 1's star, two pacts and endt
         return Container(chunks);
       },
       true, 2, "tick 2 after tick 0"},
      {"a player's actions left out",
       [] {
         auto chunks = Chunks(3, 2);
         chunks.erase(chunks.begin() + 6);
         return Container(chunks);
       },
       true, 3, "tick 1 holds 1 actions chunks"},
      {"actions of another tick",
       [] {
         auto chunks = Chunks(2, 2);
         chunks[2].payload = TickPayload(1, 10);
         return Container(chunks);
       },
       true, 2, "actions of tick 1 out of place"},
      {"the last tick without its end",
       [] {
         auto chunks = Chunks(2, 2);
         chunks.pop_back();
         return Container(chunks);
       },
       true, 1, "last tick 1 has no end"},
      {"a byte changed after the seal",
       [] {
         std::string data = Container(Chunks(2, 2));
         data[data.size() - 3] ^= 1;
         return data;
       },
       false, 2, "digest does not match"},
      {"cut short inside a record",
       [] {
         std::string data = Container(Chunks(2, 2));
         return data.substr(0, data.size() - 5);
       },
       false, 1, "size field differs"},
      {"not sealed yet", [] { return std::string("ESAV") + std::string(20, '\0'); }, false, 0, "no replay container"},
      {"no file", [] { return std::string(); }, false, 0, "no replay container"},
  };
  for (const TReplayCase& test : cases) {
    SCOPED_TRACE(test.name);
    const TReplayCheck check = CheckReplay(test.make(), 2);
    EXPECT_EQ(check.digestOk, test.digestOk);
    EXPECT_EQ(check.ticks, test.ticks);
    if (test.problem == nullptr) {
      EXPECT_TRUE(check.problems.empty()) << check.problems.front();
    } else {
      ASSERT_FALSE(check.problems.empty());
      EXPECT_NE(check.problems.front().find(test.problem), std::string::npos) << check.problems.front();
    }
  }
}

TEST(ReplayCheck, AStreamIsTheReplaysStartAsideFromTheSealedHeaderFields) {
  const std::string replay = Container(Chunks(4, 2));
  // While recording, the size and digest fields (bytes 8 to 39) are not written yet.
  std::string streamed = replay.substr(0, 200);
  for (std::size_t i = 8; i < kReplayHeaderSize; ++i) streamed[i] = 0;
  std::string changed = streamed;
  changed[150] ^= 1;
  std::string otherMagic = streamed;
  otherMagic[0] = 'X';
  const struct {
    const char* name;
    std::string stream;
    bool expected;
  } cases[] = {
      {"a start", streamed, true},
      {"the whole", replay, true},
      {"a changed byte", changed, false},
      {"another magic", otherMagic, false},
      {"the header alone", streamed.substr(0, kReplayHeaderSize), false},
      {"longer than the replay", replay + "x", false},
  };
  for (const auto& test : cases) {
    EXPECT_EQ(IsStreamOfReplay(test.stream, replay), test.expected) << test.name;
  }
}

}  // namespace
}  // namespace OrvCapacity
