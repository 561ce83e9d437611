#include "network/files/spooled_save_file_writer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "network/files/save_file_writer.h"
#include "support/file_replace_calls.h"
#include "support/native_file_calls.h"
#include "support/save_file_recorder.h"
#include "support/temporary_folder.h"

namespace Orvan {
namespace {

using OrvTest::ReadFileBytes;
using OrvTest::Tag;
using TSpooled = TSpooledSaveFileWriter;

constexpr std::uint32_t kBuffer = TSpooled::kBufferBytes;

struct TChunk {
  std::uint32_t tag;
  std::uint32_t value;
  std::string data;
};

// Small records over several buffers' worth, a record that just fills what is left of a buffer,
// records larger than the buffer, and empty ones.
std::vector<TChunk> MixedChunks() {
  std::vector<TChunk> chunks;
  chunks.push_back({Tag("rply"), 0, R"({"game":{}})"});
  for (std::uint32_t i = 0; i < 40; ++i) chunks.push_back({Tag("pact"), i, std::string(4077, static_cast<char>(i))});
  chunks.push_back({Tag("endt"), 1, ""});
  chunks.push_back({Tag("bigg"), 2, std::string(kBuffer + 1, 'b')});
  chunks.push_back({Tag("fill"), 3, std::string(kBuffer - 16, 'f')});
  chunks.push_back({Tag("huge"), 4, std::string(3 * kBuffer, 'h')});
  chunks.push_back({Tag("endt"), 5, "x"});
  return chunks;
}

std::string MemoryBytes(const TSaveFileWriter& writer) {
  return std::string(reinterpret_cast<const char*>(writer.GetStream()->GetData()), writer.GetStream()->GetSize());
}

class SpooledSaveFileWriterTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return folder_.Path(name); }

  OrvTest::TTemporaryFolder folder_{"orv_spooled"};
};

// The sealed file is byte for byte the container TSaveFileWriter builds in memory, and before the
// seal every range of it reads back as the memory writer's bytes, whether it lies in the file, in
// the buffer or across both; the memory held never passes the buffer.
TEST_F(SpooledSaveFileWriterTest, TheFileIsTheContainerTheMemoryWriterBuilds) {
  TSaveFileWriter memory;
  TSpooled spooled;
  ASSERT_TRUE(memory.Begin());
  ASSERT_TRUE(spooled.Begin(Path("recording.part")));
  std::size_t mostResident = spooled.GetResidentBytes();
  for (const TChunk& chunk : MixedChunks()) {
    const auto size = static_cast<std::uint32_t>(chunk.data.size());
    ASSERT_TRUE(memory.AddChunk(chunk.tag, chunk.value, chunk.data.data(), size));
    ASSERT_TRUE(spooled.AddChunk(chunk.tag, chunk.value, chunk.data.data(), size));
    ASSERT_EQ(spooled.GetSize(), memory.GetStream()->GetSize());
    mostResident = std::max(mostResident, spooled.GetResidentBytes());
  }
  EXPECT_EQ(mostResident, kBuffer);
  const std::string unsealed = MemoryBytes(memory);
  // Everything but the last few records has gone to the file.
  EXPECT_GE(ReadFileBytes(Path("recording.part")).size(), unsealed.size() - kBuffer);

  const std::uint32_t size = spooled.GetSize();
  const struct {
    std::uint32_t offset;
    std::uint32_t count;
  } ranges[] = {{0, 40}, {0, size}, {100, 4064}, {size - 10, 10}, {size - 4064, 4064}, {size - kBuffer - 7, 100},
                {size, 0}};
  for (const auto& range : ranges) {
    SCOPED_TRACE(testing::Message() << range.offset << " + " << range.count);
    std::string bytes(range.count, '?');
    ASSERT_TRUE(spooled.ReadAt(range.offset, bytes.data(), range.count));
    EXPECT_EQ(bytes, unsealed.substr(range.offset, range.count));
  }
  std::string past(2, '?');
  EXPECT_FALSE(spooled.ReadAt(size - 1, past.data(), 2));
  EXPECT_EQ(spooled.GetError(), TSpooled::kOutOfOrder);

  ASSERT_TRUE(memory.Finish());
  ASSERT_TRUE(spooled.Seal(Path("lastreplay001.orvgamerpl2")));
  EXPECT_EQ(spooled.GetState(), TSpooled::kSealed);
  EXPECT_EQ(spooled.GetPath(), Path("lastreplay001.orvgamerpl2"));
  EXPECT_EQ(ReadFileBytes(Path("recording.part")), "");
  const std::string sealed = ReadFileBytes(Path("lastreplay001.orvgamerpl2"));
  EXPECT_EQ(sealed, MemoryBytes(memory));
  // Still readable after the seal, size and digest filled in.
  std::string header(40, '?');
  ASSERT_TRUE(spooled.ReadAt(0, header.data(), 40));
  EXPECT_EQ(header, sealed.substr(0, 40));
}

TEST_F(SpooledSaveFileWriterTest, CallsOutOfOrderAndRefusedChunksAreTheMemoryWritersErrors) {
  TSpooled spooled;
  EXPECT_FALSE(spooled.AddChunk(Tag("abcd"), 0, "x", 1));
  EXPECT_EQ(spooled.GetError(), TSpooled::kOutOfOrder);
  EXPECT_FALSE(spooled.Seal(Path("never")));
  ASSERT_TRUE(spooled.Begin(Path("recording.part")));
  EXPECT_FALSE(spooled.Begin(Path("again")));
  EXPECT_EQ(spooled.GetError(), TSpooled::kOutOfOrder);
  EXPECT_FALSE(spooled.AddChunk(Tag("abcd"), 0, "x", 1, true));
  EXPECT_EQ(spooled.GetError(), TSpooled::kChunkRefused);
  EXPECT_FALSE(spooled.AddChunk(Tag("abcd"), 0, "x", 0xFFFFFFFFu - 40 - 15));
  EXPECT_EQ(spooled.GetError(), TSpooled::kChunkRefused);
  EXPECT_EQ(spooled.GetSize(), 40u);
  ASSERT_TRUE(spooled.AddChunk(Tag("next"), 2, "ok", 2));
  ASSERT_TRUE(spooled.Seal(Path("sealed")));
  EXPECT_FALSE(spooled.AddChunk(Tag("late"), 0, "x", 1));
  EXPECT_EQ(spooled.GetError(), TSpooled::kOutOfOrder);
  EXPECT_FALSE(spooled.Seal(Path("twice")));
  const OrvTest::TSaveFileRecorder read = [&] {
    TSaveFileWriter reference;
    reference.Begin();
    reference.AddChunk(Tag("next"), 2, "ok", 2);
    reference.Finish();
    EXPECT_EQ(ReadFileBytes(Path("sealed")), MemoryBytes(reference));
    return OrvTest::WalkSaveFile(*reference.GetStream());
  }();
  EXPECT_EQ(read.Ending(), "end intact");
}

// A file that cannot be made, written or renamed is an error with the system's reason; the writer
// then refuses everything, and an unsealed file is removed when the writer goes.
TEST_F(SpooledSaveFileWriterTest, FileFailuresAreReportedWithTheirReason) {
  struct Case {
    const char* what;
    std::vector<long> writes;  // the scripted write calls (see TScriptedWrite)
    std::uint32_t chunks;      // records of 4,093 bytes added before the seal
    const char* folder;        // where the file is begun
    const char* sealedAs;
    bool begun;
    bool added;
    int error;
  };
  const std::vector<Case> cases = {
      {"no folder", {}, 1, "missing/", "sealed", false, false, ENOENT},
      {"the disk fills while recording", {-ENOSPC}, 20, "", "sealed", true, false, ENOSPC},
      {"a write stops short", {100, 0}, 20, "", "sealed", true, false, ENOSPC},
      {"the disk fills at the seal", {-ENOSPC}, 1, "", "sealed", true, true, ENOSPC},
      {"the final name is a folder", {}, 1, "", "folder", true, true, EISDIR},
  };
  ASSERT_EQ(::mkdir(Path("folder").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(Path("folder/inside").c_str(), 0755), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Path((std::string(c.folder) + "recording.part").c_str());
    {
      OrvTest::TScriptedWrite writes(c.writes);
      TSpooled spooled;
      EXPECT_EQ(spooled.Begin(path), c.begun);
      bool added = true;
      const std::string data(4077, 'd');
      for (std::uint32_t i = 0; i < c.chunks && added; ++i) added = spooled.AddChunk(Tag("pact"), i, data.data(), 4077);
      EXPECT_EQ(added, c.added);
      EXPECT_FALSE(spooled.Seal(Path(c.sealedAs)));
      EXPECT_EQ(spooled.GetError(), TSpooled::kFileError);
      EXPECT_EQ(spooled.GetState(), TSpooled::kFailed);
      EXPECT_EQ(spooled.GetSystemError(), c.error);
      std::string byte(1, '?');
      EXPECT_FALSE(spooled.ReadAt(0, byte.data(), 1));
      EXPECT_FALSE(spooled.AddChunk(Tag("late"), 0, "x", 1));
      EXPECT_EQ(spooled.GetError(), TSpooled::kFileError);
    }
    struct stat status;
    EXPECT_NE(::stat(path.c_str(), &status), 0) << "the unsealed file is left behind";
    EXPECT_NE(::stat(Path("sealed").c_str(), &status), 0);
  }
}

// The seal puts the file in place only once its bytes are on the disk, and syncs the folder after
// the rename; a failed sync is a file error that leaves no sealed file.
TEST_F(SpooledSaveFileWriterTest, TheSealSyncsTheFileBeforeItsRenameAndTheFolderAfter) {
  const std::string real = std::filesystem::canonical(folder_.Path()).string();
  for (const int syncError : {0, EIO}) {
    SCOPED_TRACE(syncError);
    std::filesystem::remove(Path("sealed"));
    TSpooled spooled;
    ASSERT_TRUE(spooled.Begin(Path("recording.part")));
    ASSERT_TRUE(spooled.AddChunk(Tag("pact"), 0, "abc", 3));
    OrvTest::TRecordedFileReplace calls;
    calls.FailSyncs(syncError);
    EXPECT_EQ(spooled.Seal(Path("sealed")), syncError == 0);
    if (syncError == 0) {
      const std::vector<std::string> expected = {"sync " + real + "/recording.part",
                                                 "rename " + Path("recording.part") + " -> " + Path("sealed"),
                                                 "sync " + real};
      EXPECT_EQ(calls.Calls(), expected);
      EXPECT_EQ(spooled.GetSize(), ReadFileBytes(Path("sealed")).size());
    } else {
      EXPECT_EQ(calls.Calls(), std::vector<std::string>{"sync " + real + "/recording.part"});
      EXPECT_EQ(spooled.GetSystemError(), EIO);
      EXPECT_FALSE(std::filesystem::exists(Path("sealed")));
    }
  }
}

}  // namespace
}  // namespace Orvan
