#include "network/files/save_file_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/objects/ref_counting.h"
#include "core/streams/memory_stream.h"
#include "network/files/save_file_writer.h"
#include "support/save_file_recorder.h"

namespace Orvan {
namespace {

using OrvTest::Tag;
using OrvTest::TRecordedChunk;
using OrvTest::TSaveFileRecorder;
using OrvTest::WalkSaveFile;

TCountedPtr<TMemoryStream> StreamOf(const std::string& bytes) {
  TCountedPtr<TMemoryStream> stream(new TMemoryStream);
  if (!bytes.empty()) stream->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  return stream;
}

void PutBigEndian(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<char>(value >> (24 - 8 * i));
}

// A container of three records; the last one's data is 5 bytes.
std::string SampleContainer() {
  TSaveFileWriter writer;
  writer.Begin();
  writer.AddChunk(Tag("rply"), 0, "{\"game\":{}}", 11);
  writer.AddChunk(Tag("star"), 3, nullptr, 0);
  writer.AddChunk(Tag("pact"), 4, "abcde", 5);
  writer.Finish();
  return std::string(reinterpret_cast<const char*>(writer.GetStream()->GetData()), writer.GetStream()->GetSize());
}

const std::vector<TRecordedChunk> kSampleChunks = {
    {Tag("rply"), 0, "{\"game\":{}}"}, {Tag("star"), 3, ""}, {Tag("pact"), 4, "abcde"}};
const std::string kEmptyMessageSha224(
    "\xd1\x4a\x02\x8c\x2a\x3a\x2b\xc9\x47\x61\x02\xbb\x28\x82\x34\xc4\x15\xa2\xb0\x1f\x82\x8e\xa6\x2a"
    "\xc5\xb3\xe4\x2f",
    28);
// Where the last record's head starts and where its size word lies.
constexpr std::size_t kLastRecord = 40 + 16 + 11 + 16;
constexpr std::size_t kLastSizeWord = kLastRecord + 8;

TEST(SaveFileReader, WalksAnIntactContainerRecordByRecord) {
  const TCountedPtr<TMemoryStream> stream = StreamOf(SampleContainer());
  std::uint32_t steps = 0;
  const TSaveFileRecorder read = WalkSaveFile(*stream, &steps);
  EXPECT_EQ(read.calls, (std::vector<std::string>{"header", "chunk", "chunk", "chunk", "end intact"}));
  EXPECT_EQ(read.chunks, kSampleChunks);
  EXPECT_EQ(steps, 4u);  // the header and three records; the fifth step ends the walk
  EXPECT_EQ(stream->GetPosition(), stream->GetSize());
}

TEST(SaveFileReader, BrokenContainersEndTheWalkOnceWithOnEndFalse) {
  const std::string good = SampleContainer();
  struct Case {
    const char* name;
    std::string bytes;
    std::size_t chunksBefore;  // records reported before the walk ends
  };
  std::vector<Case> cases;
  std::string flipped = good;
  flipped[kLastRecord + 17] ^= 0x01;
  cases.push_back({"one flipped data byte", flipped, 3});
  std::string flippedHead = good;
  flippedHead[kLastRecord + 4] ^= 0x80;  // the value word is guarded too
  cases.push_back({"one flipped head byte", flippedHead, 3});
  std::string flippedDigest = good;
  flippedDigest[20] ^= 0x01;
  cases.push_back({"one flipped digest byte", flippedDigest, 3});
  std::string huge = good;
  PutBigEndian(huge, kLastSizeWord, 0xFFFFFFFFu);
  cases.push_back({"size 0xFFFFFFFF", huge, 2});
  std::string oneTooMany = good;
  PutBigEndian(oneTooMany, kLastSizeWord, 6);  // remaining - 15: one byte more than remains
  cases.push_back({"size remaining - 15", oneTooMany, 2});
  cases.push_back({"truncated in the data", good.substr(0, good.size() - 1), 2});
  cases.push_back({"truncated in the head", good.substr(0, kLastRecord + 9), 2});
  cases.push_back({"a tail shorter than a head", good + std::string(15, '\0'), 3});
  cases.push_back({"a whole record too many", good + "xtra" + std::string(12, '\0'), 4});
  for (const Case& c : cases) {
    const TCountedPtr<TMemoryStream> stream = StreamOf(c.bytes);
    const TSaveFileRecorder read = WalkSaveFile(*stream);
    std::vector<std::string> expected{"header"};
    expected.insert(expected.end(), c.chunksBefore, "chunk");
    expected.push_back("end broken");
    EXPECT_EQ(read.calls, expected) << c.name;
    // Every case leaves the first two records alone.
    ASSERT_GE(read.chunks.size(), 2u) << c.name;
    EXPECT_TRUE(std::equal(kSampleChunks.begin(), kSampleChunks.begin() + 2, read.chunks.begin())) << c.name;
    TestSaveFile(*stream);  // returns
  }
}

TEST(SaveFileReader, AnUnreadableHeaderIsReportedByItsCode) {
  const std::string good = SampleContainer();
  std::string badMagic = good;
  badMagic[0] = 'e';
  std::string version2 = good;
  PutBigEndian(version2, 4, 2);
  std::string version0 = good.substr(0, 12) + kEmptyMessageSha224;
  PutBigEndian(version0, 4, 0);
  PutBigEndian(version0, 8, 40);
  const struct {
    const char* name;
    std::string bytes;
    std::vector<std::string> calls;
  } cases[] = {
      {"empty", "", {"error 2"}},
      {"magic only", "ESAV", {"error 2"}},
      {"bad magic", badMagic, {"error 0"}},
      {"short magic", "ESA", {"error 2"}},
      {"version 2", version2, {"error 1"}},
      {"no size", good.substr(0, 10), {"error 2"}},
      {"digest cut", good.substr(0, 39), {"error 2"}},
      // Older versions are read; this one holds no record and the digest of nothing.
      {"version 0", version0, {"header", "end intact"}},
      {"header only", good.substr(0, 40), {"header", "end broken"}},
  };
  for (const auto& c : cases) {
    const TCountedPtr<TMemoryStream> stream = StreamOf(c.bytes);
    EXPECT_EQ(WalkSaveFile(*stream).calls, c.calls) << c.name;
    TestSaveFile(*stream);  // stops at the error
  }
}

TEST(SaveFileReader, StepsAfterTheEndDoNothing) {
  const TCountedPtr<TMemoryStream> stream = StreamOf("EVAS");
  TSaveFileRecorder recorder;
  TSaveFileReader reader(*stream, recorder);
  EXPECT_FALSE(reader.Step());
  EXPECT_FALSE(reader.Step());
  EXPECT_TRUE(reader.HasEnded());
  EXPECT_EQ(recorder.calls, std::vector<std::string>{"error 0"});
}

TEST(SaveFileReader, TheTesterStopsAtTheEndOrAtAnError) {
  SaveFileReaderVisitorTester tester;
  EXPECT_FALSE(tester.IsDone() || tester.HasFailed());
  tester.OnEnd(false);
  EXPECT_TRUE(tester.IsDone());
  SaveFileReaderVisitorTester failing;
  failing.OnError(kSaveFileVersionTooHigh);
  EXPECT_TRUE(failing.HasFailed());
  EXPECT_EQ(failing.GetError(), kSaveFileVersionTooHigh);
}

}  // namespace
}  // namespace Orvan
