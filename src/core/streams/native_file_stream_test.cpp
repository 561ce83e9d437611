#include "core/streams/native_file_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "core/diagnostics/engine_exception_kinds.h"
#include "support/counted_objects_fixture.h"
#include "support/native_file_calls.h"
#include "support/test_file.h"

namespace Orvan {
namespace {

class NativeFileStreamTest : public OrvTest::CountedObjectsTest {
 protected:
  TCountedPtr<TNativeFileStream> OpenFile(const std::string& bytes) { return file_.Open(bytes); }
  std::string FileBytes() const { return file_.Bytes(); }

  OrvTest::TTestFile file_;
};

TEST_F(NativeFileStreamTest, SeekMovesOnlyToTargetsWithinTheFile) {
  const struct {
    const char* what;
    std::uint32_t offset;
    std::uint32_t origin;
    std::uint32_t position;  // from position 1 of a 4-byte file
  } cases[] = {
      {"past the end from the start", 5, kSeekFromStart, 1},
      {"to the end from the start", 4, kSeekFromStart, 4},
      {"1 back from the end", 1, kSeekFromEnd, 3},
      {"before the start from the end", 5, kSeekFromEnd, 1},
      {"on to the end", 3, kSeekFromPosition, 4},
      {"on past the end", 4, kSeekFromPosition, 1},
      {"origin 7 adds", 2, 7, 3},
      {"a huge step does not wrap", 0xFFFFFFFFu, kSeekFromPosition, 1},
  };
  TCountedPtr<TNativeFileStream> stream = OpenFile("abcd");
  for (const auto& c : cases) {
    stream->SetPosition(1);
    stream->Seek(c.offset, c.origin);
    EXPECT_EQ(stream->GetPosition(), c.position) << c.what;
  }
}

TEST_F(NativeFileStreamTest, ReadWithStatusTellsShortReadsAndErrors) {
  TCountedPtr<TNativeFileStream> stream = OpenFile("0123456789");
  char bytes[16] = {};
  std::uint32_t status = 99;
  EXPECT_EQ(stream->ReadWithStatus(bytes, 4, status), 4u);
  EXPECT_EQ(status, kStreamStatusDone);
  stream->SetPosition(8);
  EXPECT_EQ(stream->ReadWithStatus(bytes, 10, status), 2u);
  EXPECT_EQ(status, kStreamStatusShort);
  EXPECT_EQ(std::string(bytes, 2), "89");
  EXPECT_EQ(stream->ReadWithStatus(bytes, 10, status), 0u);
  EXPECT_EQ(status, kStreamStatusShort);
  stream->SetPosition(1);
  EXPECT_EQ(stream->Read(bytes, 3), 3);
  EXPECT_EQ(std::string(bytes, 3), "123");

  // A stream without a descriptor: every call fails.
  TCountedPtr<TNativeFileStream> none(new TNativeFileStream(-1, 0, 0));
  EXPECT_EQ(none->ReadWithStatus(bytes, 10, status), 0u);
  EXPECT_EQ(status, kStreamStatusError);
  EXPECT_EQ(none->Read(bytes, 10), -1);
  EXPECT_EQ(none->Write(bytes, 10), -1);
}

TEST_F(NativeFileStreamTest, SizesOfTwoGigabytesAndMoreWorkAndKeepThePosition) {
  TCountedPtr<TNativeFileStream> stream = OpenFile("abcdef");
  stream->SetPosition(2);
  EXPECT_EQ(stream->GetSize(), 6u);
  EXPECT_EQ(stream->GetPosition(), 2u);

  // A sparse file of 3 GiB: no disk space is taken.
  const std::uint32_t kThreeGiB = 0xC0000000u;
  stream->SetSize(kThreeGiB);
  EXPECT_EQ(stream->GetSize(), kThreeGiB);
  EXPECT_EQ(stream->GetSize64(), std::uint64_t{kThreeGiB});
  EXPECT_EQ(stream->GetPosition(), 2u);
  stream->Seek(1, kSeekFromEnd);
  EXPECT_EQ(stream->GetPosition(), kThreeGiB - 1);
  stream->SetSize(3);
  EXPECT_EQ(stream->GetSize(), 3u);
  EXPECT_EQ(FileBytes(), "abc");
}

TEST_F(NativeFileStreamTest, FullDeviceFailsWritesAndIgnoresSizes) {
  const int descriptor = ::open("/dev/full", O_WRONLY);
  ASSERT_NE(descriptor, -1);
  TCountedPtr<TNativeFileStream> stream(new TNativeFileStream(descriptor, 0, 0));
  const char bytes[] = "data";
  errno = 0;
  EXPECT_EQ(stream->Write(bytes, 4), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(stream->Write(bytes, 0), 0);
  // A device has no length to set: that failure is not a full volume.
  EXPECT_NO_THROW(stream->SetSize(10));
}

TEST_F(NativeFileStreamTest, WritesGoOnUntilEveryByteIsWritten) {
  const std::string data = "0123456789";
  const struct {
    const char* what;
    std::vector<long> steps;
    std::uint32_t count;
    std::int32_t result;
    std::string file;
    int calls;
  } cases[] = {
      {"short writes", {3, 3, 3, 3}, 10, 10, data, 4},
      {"interrupted calls are retried", {-EINTR, 4, -EINTR, 100}, 10, 10, data, 4},
      {"the first write fails", {-EIO}, 10, -1, "", 1},
      {"a later write fails", {4, -EIO}, 10, 4, "0123", 2},
      {"no progress ends the loop", {0}, 10, 0, "", 1},
      {"nothing to write", {}, 0, 0, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TCountedPtr<TNativeFileStream> stream = OpenFile("");
    OrvTest::TScriptedWrite script(c.steps);
    EXPECT_EQ(stream->Write(data.data(), c.count), c.result);
    EXPECT_EQ(script.Calls(), c.calls);
    EXPECT_EQ(FileBytes(), c.file);
  }
}

TEST_F(NativeFileStreamTest, OnlyAFullVolumeThrowsFromSetSize) {
  const struct {
    int error;
    bool throws;
  } cases[] = {{ENOSPC, true}, {EBADF, false}, {EACCES, false}, {EINVAL, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    TCountedPtr<TNativeFileStream> stream = OpenFile("abcdef");
    OrvTest::TFailingTruncate failing(c.error);
    if (c.throws) {
      try {
        stream->SetSize(2);
        ADD_FAILURE() << "no EVolumeFull";
      } catch (const EVolumeFull& failure) {
        EXPECT_STREQ(failure.what(), "The volume is full");
      }
    } else {
      EXPECT_NO_THROW(stream->SetSize(2));
    }
    EXPECT_EQ(FileBytes(), "abcdef");
  }
}

TEST_F(NativeFileStreamTest, DestructionClosesTheDescriptor) {
  TCountedPtr<TNativeFileStream> stream = OpenFile("x");
  const int descriptor = stream->GetDescriptor();
  EXPECT_STREQ(stream->GetDescription().c_str(), "<Unavailable>");
  TCountedPtr<TNativeFileStream> kept(new TNativeFileStream(-1, 7, 42));
  EXPECT_EQ(kept->GetValue(), 42u);
  ASSERT_NE(::fcntl(descriptor, F_GETFD), -1);
  stream.Reset();
  errno = 0;
  EXPECT_EQ(::fcntl(descriptor, F_GETFD), -1);
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace Orvan
