#include "core/streams/file_memory_stream.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/streams/native_file_stream.h"
#include "support/debug_output_recorder.h"
#include "support/native_file_calls.h"
#include "support/stream_test_fixture.h"
#include "support/test_file.h"

namespace Orvan {
namespace {

class FileMemoryStreamTest : public OrvTest::StreamTest {
 protected:
  TCountedPtr<TStream> OpenFile(const std::string& bytes) { return file_.Open(bytes); }
  std::string FileBytes() const { return file_.Bytes(); }
  static std::string ContentOf(const TFileMemoryStream& stream) {
    return std::string(reinterpret_cast<const char*>(stream.GetData()), stream.GetSize());
  }
  static void Replace(TFileMemoryStream& stream, const std::string& bytes) {
    stream.SetSize(0);
    stream.SetPosition(0);
    stream.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  }
  static std::uint32_t References(const TCountedPtr<TStream>& file) {
    return TWeakAndRefCountable::GetReferenceCount(static_cast<TNativeFileStream*>(file.Get())->GetCountWord());
  }

  OrvTest::TTestFile file_;
};

TEST_F(FileMemoryStreamTest, LoadsTheWholeFileOrItsRegion) {
  const struct {
    const char* what;
    std::uint32_t flags;
    std::uint32_t offset;
    std::uint32_t length;
    bool loaded;
    TFileStatus status;
    std::string content;
  } cases[] = {
      {"whole file", kFileMemoryStreamLoad, 0, 0, true, kFileStatusSuccess, "hello world"},
      {"region", kFileMemoryStreamLoad, 6, 5, true, kFileStatusSuccess, "world"},
      {"region at the start", kFileMemoryStreamLoad, 0, 5, true, kFileStatusSuccess, "hello"},
      {"region flag alone loads nothing", kFileMemoryStreamLoad | kFileMemoryStreamRegion, 0, 0, true,
       kFileStatusSuccess, ""},
      {"region past the end keeps what was read", kFileMemoryStreamLoad, 8, 10, false, kStreamStatusShort, "rld"},
      {"no load flag", kFileMemoryStreamWriteBack, 0, 0, true, kFileStatusSuccess, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TCountedPtr<TStream> file = OpenFile("hello world");
    TCountedPtr<TFileMemoryStream> image(new TFileMemoryStream(0, c.flags, c.offset, c.length));
    TFileStatus status = kFileStatusNotDefined;
    EXPECT_EQ(image->AttachFile(file, status), c.loaded);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(ContentOf(*image), c.content);
    EXPECT_EQ(image->GetPosition(), 0u);
    // The file is kept only for a write-back, and only after a good load.
    EXPECT_EQ(image->GetAttachedFile() == file, c.loaded && (c.flags & kFileMemoryStreamWriteBack) != 0);
  }
}

TEST_F(FileMemoryStreamTest, RegionFlagFollowsOffsetLengthAndFlags) {
  EXPECT_FALSE(TFileMemoryStream(0, 0, 0, 0).HasRegion());
  EXPECT_TRUE(TFileMemoryStream(0, 0, 3, 0).HasRegion());
  EXPECT_TRUE(TFileMemoryStream(0, 0, 0, 3).HasRegion());
  EXPECT_TRUE(TFileMemoryStream(0, kFileMemoryStreamRegion).HasRegion());
  EXPECT_FALSE(TFileMemoryStream(0, kFileMemoryStreamLoad).HasRegion());
}

TEST_F(FileMemoryStreamTest, ReleaseWritesTheContentBackWithoutAStaleTail) {
  const struct {
    const char* what;
    std::string content;
    std::string file;
  } cases[] = {
      {"longer", "hello wide world", "hello wide world"},
      {"shorter", "bye", "bye"},
      {"empty", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TCountedPtr<TStream> file = OpenFile("hello world");
    TCountedPtr<TFileMemoryStream> image(new TFileMemoryStream(0, kFileMemoryStreamLoad | kFileMemoryStreamWriteBack));
    TFileStatus status = kFileStatusNotDefined;
    ASSERT_TRUE(image->AttachFile(file, status));
    EXPECT_EQ(References(file), 2u);
    Replace(*image, c.content);
    image.Reset();
    EXPECT_EQ(References(file), 1u);
    EXPECT_EQ(FileBytes(), c.file);
  }
}

TEST_F(FileMemoryStreamTest, RegionIsWrittenBackInPlace) {
  TCountedPtr<TStream> file = OpenFile("hello world");
  {
    TCountedPtr<TFileMemoryStream> image(
        new TFileMemoryStream(0, kFileMemoryStreamLoad | kFileMemoryStreamWriteBack, 6, 5));
    TFileStatus status = kFileStatusNotDefined;
    ASSERT_TRUE(image->AttachFile(file, status));
    image->Write("WO", 2);
  }
  EXPECT_EQ(FileBytes(), "hello WOrld");
}

// A file that cannot be cut down keeps its old tail: a shorter content is not written over it. A
// longer content covers the whole file anyway.
TEST_F(FileMemoryStreamTest, SaveWritesNothingWhenTheFileStaysLongerThanTheContent) {
  const struct {
    const char* what;
    std::string content;
    std::int32_t result;
    std::string file;
  } cases[] = {
      {"shorter", "bye", -1, "hello world"},
      {"as long", "HELLO WORLD", 11, "HELLO WORLD"},
      {"longer", "hello wide world", 16, "hello wide world"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TCountedPtr<TStream> file = OpenFile("hello world");
    TCountedPtr<TFileMemoryStream> image(new TFileMemoryStream(0, 0));
    Replace(*image, c.content);
    OrvTest::TFailingTruncate failing(EACCES);
    EXPECT_EQ(image->SaveContent(file), c.result);
    EXPECT_EQ(FileBytes(), c.file);
  }
}

TEST_F(FileMemoryStreamTest, SaveRewindsTheContentAndReportsTheWrite) {
  TCountedPtr<TStream> file = OpenFile("old");
  TCountedPtr<TFileMemoryStream> image(new TFileMemoryStream(0, 0));
  Replace(*image, "new content");
  EXPECT_EQ(image->GetPosition(), 11u);
  EXPECT_EQ(image->SaveContent(file), 11);
  EXPECT_EQ(image->GetPosition(), 0u);
  EXPECT_EQ(FileBytes(), "new content");

  // A device that is always full takes nothing.
  const int descriptor = ::open("/dev/full", O_WRONLY);
  ASSERT_NE(descriptor, -1);
  TCountedPtr<TStream> full(new TNativeFileStream(descriptor, 0, 0));
  EXPECT_EQ(image->SaveContent(full), -1);
}

TEST_F(FileMemoryStreamTest, AttachingKeepsOneReferenceToTheFile) {
  TCountedPtr<TStream> file = OpenFile("abc");
  TCountedPtr<TStream> other = OpenFile("abc");
  TCountedPtr<TFileMemoryStream> image(new TFileMemoryStream(0, kFileMemoryStreamWriteBack));
  TFileStatus status = kFileStatusNotDefined;
  ASSERT_TRUE(image->AttachFile(file, status));
  ASSERT_TRUE(image->AttachFile(file, status));
  EXPECT_EQ(References(file), 2u);
  ASSERT_TRUE(image->AttachFile(other, status));
  EXPECT_EQ(References(file), 1u);
  EXPECT_EQ(References(other), 2u);
  EXPECT_TRUE(image->ReleaseContent());
  EXPECT_EQ(References(other), 1u);
  EXPECT_FALSE(image->GetAttachedFile());
}

TEST_F(FileMemoryStreamTest, FullVolumeOnReleaseLetsGoOfTheFile) {
  TCountedPtr<TStream> file = OpenFile("hello world");
  TCountedPtr<TFileMemoryStream> image(new TFileMemoryStream(0, kFileMemoryStreamLoad | kFileMemoryStreamWriteBack));
  TFileStatus status = kFileStatusNotDefined;
  ASSERT_TRUE(image->AttachFile(file, status));
  Replace(*image, "bye");
  OrvTest::TFailingTruncate failing(ENOSPC);

  // Called directly, the release passes the failure on.
  EXPECT_THROW(image->ReleaseContent(), EVolumeFull);
  EXPECT_EQ(References(file), 1u);
  EXPECT_EQ(FileBytes(), "hello world");

  // Called by the destructor, it is told on the debug output instead.
  ASSERT_TRUE(image->AttachFile(file, status));
  OrvTest::TDebugOutputRecorder output;
  EXPECT_NO_THROW(image.Reset());
  EXPECT_EQ(References(file), 1u);
  EXPECT_EQ(output.CountLinesContaining("The volume is full"), 1u);
  EXPECT_EQ(FileBytes(), "hello world");
}

TEST_F(FileMemoryStreamTest, LostWriteBackIsToldOnTheDebugOutput) {
  const int descriptor = ::open("/dev/full", O_WRONLY);
  ASSERT_NE(descriptor, -1);
  TCountedPtr<TStream> full(new TNativeFileStream(descriptor, 0, 0));
  TCountedPtr<TFileMemoryStream> image(new TFileMemoryStream(0, kFileMemoryStreamWriteBack));
  TFileStatus status = kFileStatusNotDefined;
  ASSERT_TRUE(image->AttachFile(full, status));
  Replace(*image, "data");
  OrvTest::TDebugOutputRecorder output;
  EXPECT_FALSE(image->ReleaseContent());
  EXPECT_EQ(output.CountLinesContaining("TFileMemoryStream: the content was not written back"), 1u);
  // Nothing is left for the destructor to write.
  EXPECT_FALSE(image->GetAttachedFile());
  EXPECT_TRUE(image->ReleaseContent());
}

TEST_F(FileMemoryStreamTest, ReleaseAnswersTrueWhenNothingIsToBeWritten) {
  TCountedPtr<TStream> file = OpenFile("abc");
  TCountedPtr<TFileMemoryStream> image(new TFileMemoryStream(0, kFileMemoryStreamLoad));
  TFileStatus status = kFileStatusNotDefined;
  ASSERT_TRUE(image->AttachFile(file, status));
  Replace(*image, "changed");
  EXPECT_TRUE(image->ReleaseContent());
  EXPECT_EQ(FileBytes(), "abc");
}

}  // namespace
}  // namespace Orvan
