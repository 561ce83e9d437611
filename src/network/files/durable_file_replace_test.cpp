// The durable replacement: the temporary file synced before the rename and the folder after it,
// and a failed step that leaves the file as it was.
#include "network/files/durable_file_replace.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/file_replace_calls.h"
#include "support/temporary_folder.h"

namespace Orvan::Network {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream content;
  content << in.rdbuf();
  return content.str();
}

void Write(const std::string& path, const std::string& content) { std::ofstream(path, std::ios::binary) << content; }

TEST(DurableFileReplaceTest, TheFileIsSyncedBeforeTheRenameAndTheFolderAfter) {
  OrvTest::TTemporaryFolder folder;
  const std::string path = folder.Path("file");
  const std::string temporary = folder.Path("file~");
  Write(path, "old");
  Write(temporary, "new");
  OrvTest::TRecordedFileReplace calls;
  EXPECT_EQ(ReplaceFileDurably(temporary.c_str(), path.c_str()), 0);
  // The system names synced descriptors by their real paths.
  const std::string real = std::filesystem::canonical(folder.Path()).string();
  const std::vector<std::string> expected = {"sync " + real + "/file~", "rename " + temporary + " -> " + path,
                                             "sync " + real};
  EXPECT_EQ(calls.Calls(), expected);
  EXPECT_EQ(Read(path), "new");
  EXPECT_FALSE(std::filesystem::exists(temporary));
}

TEST(DurableFileReplaceTest, AFailedStepIsReportedAndBeforeTheRenameLeavesTheFileAsItWas) {
  struct TCase {
    const char* what;
    int syncError;
    int renameError;
    bool temporaryThere;
    int error;
    const char* content;
  };
  const TCase cases[] = {
      {"the sync fails", EIO, 0, true, EIO, "old"},
      {"the rename fails", 0, EXDEV, true, EXDEV, "old"},
      {"no temporary file", 0, 0, false, ENOENT, "old"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.what);
    OrvTest::TTemporaryFolder folder;
    const std::string path = folder.Path("file");
    const std::string temporary = folder.Path("file~");
    Write(path, "old");
    if (test.temporaryThere) Write(temporary, "new");
    OrvTest::TRecordedFileReplace calls;
    calls.FailSyncs(test.syncError);
    calls.FailRenames(test.renameError);
    EXPECT_EQ(ReplaceFileDurably(temporary.c_str(), path.c_str()), test.error);
    EXPECT_EQ(Read(path), test.content);
    EXPECT_EQ(std::filesystem::exists(temporary), test.temporaryThere);
  }
  // A bare name lives in the working folder, which is synced.
  OrvTest::TTemporaryFolder folder;
  const std::filesystem::path before = std::filesystem::current_path();
  std::filesystem::current_path(folder.Path());
  Write("bare~", "new");
  {
    OrvTest::TRecordedFileReplace calls;
    EXPECT_EQ(ReplaceFileDurably("bare~", "bare"), 0);
    ASSERT_EQ(calls.Calls().size(), 3u);
    EXPECT_EQ(calls.Calls()[2], "sync " + std::filesystem::canonical(folder.Path()).string());
  }
  std::filesystem::current_path(before);
}

}  // namespace
}  // namespace Orvan::Network
