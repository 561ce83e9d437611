#include "network/files/save_file_writer.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "network/packets/user_actions_packet.h"
#include "support/event_loop_test_helpers.h"
#include "support/peer_process.h"
#include "support/save_file_recorder.h"
#include "support/temporary_folder.h"

namespace Orvan {
namespace {

using OrvTest::Tag;
using OrvTest::TRecordedChunk;
using OrvTest::WalkSaveFile;

std::string Bytes(const TMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.GetData()), stream.GetSize());
}

std::string BigEndian(std::uint32_t value) {
  return {char(value >> 24), char(value >> 16), char(value >> 8), char(value)};
}

// SHA-224 in one call, independent of the writer's running digest.
std::string OneShotSha224(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha224(), nullptr), 1);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : bytes) {
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

TEST(SaveFileWriter, BeginThenFinishGivesTheFortyByteHeaderWithTheDigestOfNothing) {
  TSaveFileWriter writer;
  ASSERT_TRUE(writer.Begin());
  EXPECT_EQ(Bytes(*writer.GetStream()), "ESAV" + BigEndian(1) + std::string(32, '\0'));
  ASSERT_TRUE(writer.Finish());
  EXPECT_EQ(writer.GetState(), TSaveFileWriter::kFinished);
  EXPECT_EQ(writer.GetError(), TSaveFileWriter::kNoError);

  const std::string bytes = Bytes(*writer.GetStream());
  ASSERT_EQ(bytes.size(), 40u);
  EXPECT_EQ(bytes.substr(0, 12), "ESAV" + BigEndian(1) + BigEndian(40));
  EXPECT_EQ(bytes.substr(12), OneShotSha224(""));
  EXPECT_EQ(Hex(bytes.substr(12)), "d14a028c2a3a2bc9476102bb288234c415a2b01f828ea62ac5b3e42f");
  EXPECT_EQ(WalkSaveFile(*writer.GetStream()).calls, (std::vector<std::string>{"header", "end intact"}));
}

TEST(SaveFileWriter, RecordsAreBigEndianHeadsAndTheirBytesSealedBySizeAndDigest) {
  TSaveFileWriter writer;
  ASSERT_TRUE(writer.Begin());
  ASSERT_TRUE(writer.AddChunk(Tag("rply"), 0, "{}", 2));
  ASSERT_TRUE(writer.AddChunk(Tag("abcd"), 0xA1B2C3D4, nullptr, 0));
  ASSERT_TRUE(writer.AddChunk(Tag("pact"), 7, "\x01\x02\x03", 3));
  const std::string records = "rply" + BigEndian(0) + BigEndian(2) + BigEndian(0) + "{}" +  //
                              "abcd" + BigEndian(0xA1B2C3D4) + BigEndian(0) + BigEndian(0) +  // 16 bytes
                              "pact" + BigEndian(7) + BigEndian(3) + BigEndian(0) + "\x01\x02\x03";
  EXPECT_EQ(Bytes(*writer.GetStream()).substr(40), records);
  ASSERT_TRUE(writer.Finish());

  const std::string bytes = Bytes(*writer.GetStream());
  EXPECT_EQ(bytes, "ESAV" + BigEndian(1) + BigEndian(40 + records.size()) + OneShotSha224(records) + records);
  const TCountedPtr<TMemoryView> view = writer.GetMemoryView();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view->GetData()), view->GetSize()), bytes);

  const OrvTest::TSaveFileRecorder read = WalkSaveFile(*writer.GetStream());
  EXPECT_EQ(read.Ending(), "end intact");
  EXPECT_EQ(read.chunks, (std::vector<TRecordedChunk>{
                             {Tag("rply"), 0, "{}"}, {Tag("abcd"), 0xA1B2C3D4, ""}, {Tag("pact"), 7, "\x01\x02\x03"}}));
}

TEST(SaveFileWriter, CallsOutOfOrderFailWithErrorThreeAndChangeNothing) {
  // Each sequence ends with the call that must fail.
  using TCall = std::function<bool(TSaveFileWriter&)>;
  const TCall begin = [](TSaveFileWriter& w) { return w.Begin(); };
  const TCall add = [](TSaveFileWriter& w) { return w.AddChunk(Tag("abcd"), 1, "x", 1); };
  const TCall finish = [](TSaveFileWriter& w) { return w.Finish(); };
  const struct {
    const char* name;
    std::vector<TCall> calls;
  } cases[] = {
      {"second Begin", {begin, add, begin}},
      {"AddChunk before Begin", {add}},
      {"Finish before Begin", {finish}},
      {"AddChunk after Finish", {begin, finish, add}},
      {"second Finish", {begin, add, finish, finish}},
      {"Begin after Finish", {begin, finish, begin}},
  };
  for (const auto& c : cases) {
    TSaveFileWriter writer;
    for (std::size_t i = 0; i + 1 < c.calls.size(); ++i) ASSERT_TRUE(c.calls[i](writer)) << c.name;
    const std::string before = Bytes(*writer.GetStream());
    const std::uint32_t state = writer.GetState();
    EXPECT_FALSE(c.calls.back()(writer)) << c.name;
    EXPECT_EQ(writer.GetError(), TSaveFileWriter::kOutOfOrder) << c.name;
    EXPECT_EQ(writer.GetState(), state) << c.name;
    EXPECT_EQ(Bytes(*writer.GetStream()), before) << c.name;
  }
}

TEST(SaveFileWriter, ARefusedChunkSetsErrorFourAndWritesNothing) {
  TSaveFileWriter writer;
  ASSERT_TRUE(writer.Begin());
  EXPECT_FALSE(writer.AddChunk(Tag("abcd"), 1, "xyz", 3, true));
  EXPECT_EQ(writer.GetError(), TSaveFileWriter::kChunkRefused);
  EXPECT_EQ(writer.GetStream()->GetSize(), 40u);
  // The error is the last one; the writer goes on.
  ASSERT_TRUE(writer.AddChunk(Tag("next"), 2, "ok", 2));
  ASSERT_TRUE(writer.Finish());
  const OrvTest::TSaveFileRecorder read = WalkSaveFile(*writer.GetStream());
  EXPECT_EQ(read.chunks, (std::vector<TRecordedChunk>{{Tag("next"), 2, "ok"}}));
  EXPECT_EQ(read.Ending(), "end intact");
}

TEST(SaveFileWriter, AChunkTheStreamCannotHoldLeavesNoHalfRecord) {
  TSaveFileWriter writer;
  ASSERT_TRUE(writer.Begin());
  ASSERT_TRUE(writer.AddChunk(Tag("abcd"), 1, "first", 5));
  const std::string before = Bytes(*writer.GetStream());
  // Ending at 4 GiB - 1 the sizes could tell it, but no stream that large can be had.
  const std::uint32_t size = 0xFFFFFFFFu - 61 - 16;
  EXPECT_THROW(writer.AddChunk(Tag("bigg"), 2, "never read", size), std::bad_alloc);
  EXPECT_EQ(Bytes(*writer.GetStream()), before);
  EXPECT_EQ(writer.GetError(), TSaveFileWriter::kNoError);
  // One byte more and it is refused before the stream is asked.
  EXPECT_FALSE(writer.AddChunk(Tag("bigg"), 2, "never read", size + 1));
  EXPECT_EQ(writer.GetError(), TSaveFileWriter::kChunkRefused);
  ASSERT_TRUE(writer.AddChunk(Tag("last"), 3, "x", 1));
  ASSERT_TRUE(writer.Finish());
  const OrvTest::TSaveFileRecorder read = WalkSaveFile(*writer.GetStream());
  EXPECT_EQ(read.chunks, (std::vector<TRecordedChunk>{{Tag("abcd"), 1, "first"}, {Tag("last"), 3, "x"}}));
  EXPECT_EQ(read.Ending(), "end intact");
}

TEST(SaveFileWriter, WritesIntoAStreamItIsGivenAndKeepsItsOptionWord) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  {
    TSaveFileWriter writer(stream);
    EXPECT_EQ(writer.GetStream(), stream);
    EXPECT_EQ(writer.GetOptionWord(), 1u);
    ASSERT_TRUE(writer.Begin());
    ASSERT_TRUE(writer.AddChunk(Tag("abcd"), 0, "x", 1));
    ASSERT_TRUE(writer.Finish());
  }
  // The writer's reference is gone, the caller's stream holds the container.
  EXPECT_EQ(stream->GetSize(), 57u);
  EXPECT_EQ(WalkSaveFile(*stream).Ending(), "end intact");
  EXPECT_EQ(TSaveFileWriter(7u).GetOptionWord(), 7u);
}

std::string LittleEndian(std::uint32_t value) {
  return {char(value), char(value >> 8), char(value >> 16), char(value >> 24)};
}

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

// Reads the container at argv[2] with the test peers' reader (found in argv[1]) and prints what it
// found, then prints a container that the peers' own tests build field by field.
constexpr const char* kPeerReaderScript = R"(
import json, sys
sys.path.insert(0, sys.argv[1])
import replay_reader, replay_reader_test
with open(sys.argv[2], 'rb') as handle:
    replay = replay_reader.read_replay(handle.read())
print('digest_ok', replay.digest_ok, 'size', replay.size_field, 'problems', replay.problems)
for tag, value, payload in replay.chunks:
    print('chunk', tag.decode('latin-1'), value, payload.hex())
print('header', json.dumps(replay.header, sort_keys=True))
for tick in replay.ticks:
    print('tick', tick['tick'], len(tick['records']), tick['end']['departed'])
    for actions in tick['actions']:
        print('actions', actions['player_number'], actions['count'], actions['actions'].hex())
print('sample', replay_reader_test.sample_replay().hex())
)";

TEST(SaveFileWriter, TheTestPeersReaderAndThisOneAgreeOnTheFormat) {
  // One tick of a replay: the header, the tick's states (none), two players' actions, departures.
  const std::string header = R"({"game":{"ServerName":"x"},"player_7":{"PlayerName":"a"}})";
  const std::string states = LittleEndian(0) + LittleEndian(0);
  TCountedPtr<TMemoryStream> buffered(new TMemoryStream);
  buffered->Write("0123456789", 10);
  std::uint32_t count = 3;
  const Network::TPacketBufferPtr seven = Network::MakeUserActionsPacket(*buffered, count, 0, 7);
  const Network::TPacketBufferPtr three = Network::MakeUserActionsPacket(*buffered, count, 0, 3);
  ASSERT_FALSE(seven.IsNull() || three.IsNull());
  const std::string departed = LittleEndian(0) + LittleEndian(1u << 3) + LittleEndian(1u << 8);  // players 3 and 40
  const struct {
    const char* tag;
    std::string data;
  } chunks[] = {
      {"rply", header},
      {"star", states},
      {"pact", std::string(reinterpret_cast<const char*>(seven->GetPayload()), seven->length)},
      {"pact", std::string(reinterpret_cast<const char*>(three->GetPayload()), three->length)},
      {"endt", departed},
  };
  TSaveFileWriter writer;
  ASSERT_TRUE(writer.Begin());
  std::vector<std::string> expected;
  for (const auto& chunk : chunks) {
    const char tag[5] = {chunk.tag[0], chunk.tag[1], chunk.tag[2], chunk.tag[3], '\0'};
    ASSERT_TRUE(writer.AddChunk(Tag(tag), 0, chunk.data.data(), static_cast<std::uint32_t>(chunk.data.size())));
    expected.push_back(std::string("chunk ") + chunk.tag + " 0 " + Hex(chunk.data));
  }
  ASSERT_TRUE(writer.Finish());
  const std::uint32_t size = writer.GetStream()->GetSize();
  expected.insert(expected.begin(), "digest_ok True size " + std::to_string(size) + " problems []");
  expected.push_back(R"(header {"game": {"ServerName": "x"}, "player_7": {"PlayerName": "a"}})");
  expected.push_back("tick 0 0 [3, 40]");
  expected.push_back("actions 7 3 " + Hex("0123456789"));
  expected.push_back("actions 3 0 ");

  OrvTest::TTemporaryFolder folder("orv_save_file");
  const std::string path = folder.Path("lastreplay001.orvgamerpl2");
  {
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(writer.GetStream()->GetData()), size);
  }
  OrvTest::TPeerProcess peer;
  ASSERT_TRUE(peer.Start({ORV_PYTHON3, "-c", kPeerReaderScript, OrvTest::SourcePath("tests/peers"), path}));
  std::vector<std::string> lines;
  std::string line;
  while (peer.ReadLine(line, 30000)) lines.push_back(line);
  ASSERT_FALSE(lines.empty());
  const std::string sample = lines.back();
  lines.pop_back();
  EXPECT_EQ(lines, expected);

  // The other way round: the peers' container, written field by field, read here.
  ASSERT_EQ(sample.rfind("sample ", 0), 0u) << sample;
  TCountedPtr<TMemoryStream> theirs(new TMemoryStream);
  const std::string bytes = FromHex(sample.substr(7));
  theirs->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  const OrvTest::TSaveFileRecorder read = WalkSaveFile(*theirs);
  EXPECT_EQ(read.Ending(), "end intact");
  std::vector<std::uint32_t> tags;
  for (const TRecordedChunk& chunk : read.chunks) tags.push_back(chunk.tag);
  EXPECT_EQ(tags, (std::vector<std::uint32_t>{Tag("rply"), Tag("star"), Tag("pact"), Tag("pact"), Tag("endt"),
                                              Tag("star"), Tag("endt")}));
}

}  // namespace
}  // namespace Orvan
