// The native path and file operations against real files, each test in a folder of its own. Names
// given as file names have relative texts, so those tests run in a child process whose working
// folder is the test's folder.
#include "core/filesystem/native_file_operations.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/child_checks.h"
#include "support/temporary_folder.h"

namespace Orvan {
namespace {

using OrvTest::ReadFileBytes;
using OrvTest::TChildChecks;
using OrvTest::TTemporaryFolder;
using OrvTest::WriteFileBytes;

bool Exists(const std::string& path) {
  std::error_code error;
  return std::filesystem::exists(path, error);
}
bool IsFolder(const std::string& path) {
  std::error_code error;
  return std::filesystem::is_directory(path, error);
}

// Runs the checks in the folder and ends the child with their verdict.
template <typename TBody>
[[noreturn]] void RunInFolder(const std::string& folder, TBody body) {
  TChildChecks checks;
  if (checks.Check(chdir(folder.c_str()) == 0, "chdir into " + folder)) body(checks);
  checks.Exit();
}

// Bytes that differ from one position to the next, so that a shifted or repeated block shows.
std::string PatternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

// A path text of `length` bytes inside the folder, made of 200-byte components (each below the
// system's component limit) that do not exist.
std::string PathOfLength(const std::string& folder, std::size_t length) {
  std::string path = folder;
  while (path.size() < length) path += "/" + std::string(199, 'n');
  path.resize(length);
  return path;
}

TEST(NativePaths, ExecutableLocationIsTheFolderAndNameOfTheRunningProgram) {
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe");
  const TExecutableLocation location = GetExecutableLocation();
  EXPECT_EQ(location.directory, (program.parent_path().string() + "/").c_str());
  EXPECT_EQ(location.fileName, program.filename().string().c_str());
  EXPECT_EQ(GetExecutableDirectory(), location.directory);
  EXPECT_EQ(GetExecutableFileName(), location.fileName);
}

TEST(NativePaths, ParentPathTextDropsLevelsButNeverCountsTheLastCharacter) {
  const struct {
    const char* path;
    int levels;
    const char* parent;
  } cases[] = {
      {"a/b/c", 1, "a/b"}, {"a/b/c", 2, "a"},   {"a/b/c/", 1, "a/b"}, {"a/b/c", 0, "a/b/"}, {"abc", 1, ""},
      {"a/b/c", 9, ""},    {"/a", 1, ""},       {"a/b/c", -1, "a/b/"}, {"", 1, ""},          {"", 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetParentPathText(TOrvString<char>(c.path), c.levels), c.parent) << c.path << " " << c.levels;
  }
}

TEST(NativeFiles, TestsTellFilesFoldersAndMissingPaths) {
  const TTemporaryFolder folder;
  WriteFileBytes(folder.Path("file.txt"), "x");
  EXPECT_TRUE(NativeFileExists(folder.Path("file.txt").c_str()));
  EXPECT_TRUE(NativeFileExists(TOrvString<char>(folder.Path().c_str())));
  EXPECT_FALSE(NativeFileExists(folder.Path("missing").c_str()));
  EXPECT_TRUE(NativeIsDirectory(folder.Path().c_str()));
  EXPECT_FALSE(NativeIsDirectory(TOrvString<char>(folder.Path("file.txt").c_str())));
  EXPECT_FALSE(NativeIsDirectory(folder.Path("missing").c_str()));

  EXPECT_FALSE(NativeRemoveFile(folder.Path("missing").c_str()));
  EXPECT_TRUE(NativeRemoveFile(TOrvString<char>(folder.Path("file.txt").c_str())));
  EXPECT_FALSE(Exists(folder.Path("file.txt")));
}

TEST(NativeFiles, CreateDirectoriesMakesTheFolderPartWithItsParents) {
  const TTemporaryFolder folder;
  ASSERT_EQ(NativeCreateDirectory(folder.Path("existing").c_str()), 0);
  EXPECT_EQ(NativeCreateDirectory(folder.Path("existing").c_str()), -1);
  EXPECT_EQ(errno, EEXIST);

  const struct {
    const char* path;
    std::vector<const char*> made;
    std::vector<const char*> notMade;
  } cases[] = {
      {"a/b/c.txt", {"a", "a/b"}, {"a/b/c.txt"}},
      {"a/b/d.txt", {"a/b"}, {"a/b/d.txt"}},  // the folder exists already
      {"existing/", {"existing"}, {}},
      {"d1/d2/d3/d4/leaf", {"d1/d2/d3/d4"}, {"d1/d2/d3/d4/leaf"}},
      {"x//y/", {"x/y"}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NativeCreateDirectories(folder.Path(c.path).c_str()), 0) << c.path;
    for (const char* made : c.made) EXPECT_TRUE(IsFolder(folder.Path(made))) << c.path << ": " << made;
    for (const char* notMade : c.notMade) EXPECT_FALSE(Exists(folder.Path(notMade))) << c.path << ": " << notMade;
  }
  // No '/': nothing to make. A folder part that is the root exists.
  EXPECT_EQ(NativeCreateDirectories("orv_no_folder_part"), 0);
  EXPECT_FALSE(Exists("orv_no_folder_part"));
  EXPECT_EQ(NativeCreateDirectories(TOrvString<char>("/orv_never_made")), 0);
  EXPECT_FALSE(Exists("/orv_never_made"));
}

TEST(NativeFiles, CopyFileCopiesExactlyTheSourceBytes) {
  const TTemporaryFolder folder;
  const std::string big = PatternBytes(1024 * 1024 + 1);
  WriteFileBytes(folder.Path("empty"), "");
  WriteFileBytes(folder.Path("big"), big);
  WriteFileBytes(folder.Path("short"), "short text");
  WriteFileBytes(folder.Path("longer"), PatternBytes(5000));
  const auto copy = [&](const char* from, const char* to) {
    return NativeCopyFile(TOrvString<char>(folder.Path(from).c_str()), TOrvString<char>(folder.Path(to).c_str()));
  };

  ASSERT_TRUE(copy("empty", "empty.copy"));
  EXPECT_TRUE(Exists(folder.Path("empty.copy")));
  EXPECT_EQ(std::filesystem::file_size(folder.Path("empty.copy")), 0u);
  struct stat status;
  ASSERT_EQ(stat(folder.Path("empty.copy").c_str(), &status), 0);
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(status.st_mode & 0777, 0644u & ~mask);

  ASSERT_TRUE(copy("big", "big.copy"));
  EXPECT_EQ(ReadFileBytes(folder.Path("big.copy")), big);
  // A longer old destination keeps no tail of its own.
  ASSERT_TRUE(copy("short", "longer"));
  EXPECT_EQ(ReadFileBytes(folder.Path("longer")), "short text");
  // Onto itself: unchanged.
  ASSERT_TRUE(copy("big", "big"));
  EXPECT_EQ(ReadFileBytes(folder.Path("big")), big);
}

TEST(NativeFiles, CopyFileAnswersFalseOnEveryFailure) {
  const TTemporaryFolder folder;
  WriteFileBytes(folder.Path("source"), "some bytes");
  ASSERT_EQ(NativeCreateDirectory(folder.Path("sub").c_str()), 0);

  EXPECT_FALSE(NativeCopyFile(TOrvString<char>(folder.Path("missing").c_str()),
                              TOrvString<char>(folder.Path("from.missing").c_str())));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(Exists(folder.Path("from.missing")));
  // A folder opens but cannot be read.
  EXPECT_FALSE(NativeCopyFile(TOrvString<char>(folder.Path("sub").c_str()),
                              TOrvString<char>(folder.Path("from.folder").c_str())));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_FALSE(NativeCopyFile(TOrvString<char>(folder.Path("source").c_str()),
                              TOrvString<char>(folder.Path("no/such/folder").c_str())));
  // A full disk.
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_FALSE(NativeCopyFile(TOrvString<char>(folder.Path("source").c_str()), TOrvString<char>("/dev/full")));
    EXPECT_EQ(errno, ENOSPC);
  }
}

TEST(NativeFiles, FixPathCaseTakesTheSpellingOnDisk) {
  const TTemporaryFolder folder;
  ASSERT_EQ(NativeCreateDirectories(folder.Path("Data/Textures/").c_str()), 0);
  WriteFileBytes(folder.Path("Data/Textures/A.dds"), "");
  const struct {
    const char* path;
    const char* fixed;
  } cases[] = {
      {"data/textures/a.dds", "Data/Textures/A.dds"},  // every component
      {"Data/Textures/a.DDS", "Data/Textures/A.dds"},  // the folder exists: the leaf only
      {"Data/Textures/A.dds", "Data/Textures/A.dds"},  // exists as written
      {"DATA/none/x.dds", "Data/none/x.dds"},          // stops where nothing matches
      {"data/textures/b.dds", "Data/Textures/b.dds"},
  };
  for (const auto& c : cases) {
    std::string path = folder.Path(c.path);
    NativeFixPathCase(path.data());
    EXPECT_EQ(path, folder.Path(c.fixed)) << c.path;
  }
}

TEST(NativeFiles, RenameFixesTheLetterCaseOfBothPaths) {
  const TTemporaryFolder folder;
  ASSERT_EQ(NativeCreateDirectories(folder.Path("Saves/").c_str()), 0);
  WriteFileBytes(folder.Path("Saves/Game.sav"), "saved");
  EXPECT_TRUE(NativeRename(TOrvString<char>(folder.Path("saves/game.sav").c_str()),
                           TOrvString<char>(folder.Path("SAVES/renamed.sav").c_str())));
  EXPECT_EQ(ReadFileBytes(folder.Path("Saves/renamed.sav")), "saved");
  EXPECT_FALSE(NativeRename(TOrvString<char>(folder.Path("saves/game.sav").c_str()),
                            TOrvString<char>(folder.Path("other.sav").c_str())));
}

// Sets TMPDIR, or removes it for null, for the holder's life.
class TScopedTmpdir {
 public:
  explicit TScopedTmpdir(const char* value) {
    if (const char* old = std::getenv("TMPDIR")) saved_ = old;
    if (value != nullptr) {
      setenv("TMPDIR", value, 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  ~TScopedTmpdir() {
    if (saved_) {
      setenv("TMPDIR", saved_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  TScopedTmpdir(const TScopedTmpdir&) = delete;
  TScopedTmpdir& operator=(const TScopedTmpdir&) = delete;

 private:
  std::optional<std::string> saved_;
};

TEST(NativeFiles, ModificationTimeAndTemporaryNames) {
  const TTemporaryFolder folder;
  WriteFileBytes(folder.Path("dated"), "");
  const timeval times[2] = {{1234567890, 0}, {1234567890, 0}};
  ASSERT_EQ(utimes(folder.Path("dated").c_str(), times), 0);
  EXPECT_EQ(NativeGetModificationTime(TOrvString<char>(folder.Path("dated").c_str())), 1234567890u);
  EXPECT_EQ(NativeGetModificationTime(TOrvString<char>(folder.Path("missing").c_str())), 0u);

  const TScopedTmpdir tmpdir(nullptr);
  const TOrvString<char> name = NativeGetTempFileName(TOrvString<char>(folder.Path().c_str()), TOrvString<char>("orv"));
  EXPECT_TRUE(name.StartsWithNoCase(TOrvString<char>((folder.Path() + "/orv").c_str()))) << name.c_str();
  EXPECT_TRUE(Exists(name.c_str()));
}

// The name is taken by an empty file made at once, so two calls never hand out one name; the folder
// and the prefix are chosen as tempnam chooses them.
TEST(NativeFiles, TemporaryFilesAreMadeWhereTempnamWouldNameThem) {
  const TTemporaryFolder folder;
  const TTemporaryFolder environmentFolder;
  const std::string missing = folder.Path("missing");
  const struct {
    const char* tmpdir;  // null: unset
    std::string folder;
    const char* prefix;
    std::string expectedStart;
  } cases[] = {
      {nullptr, folder.Path(), "orv", folder.Path("orv")},
      {nullptr, folder.Path() + "//", "orv", folder.Path("orv")},
      {nullptr, folder.Path(), "replays", folder.Path("repla")},
      {nullptr, folder.Path(), "", folder.Path("file")},
      {environmentFolder.Path().c_str(), folder.Path(), "orv", environmentFolder.Path("orv")},
      {missing.c_str(), folder.Path(), "orv", folder.Path("orv")},
      {nullptr, missing, "orv", std::string(P_tmpdir) + "/orv"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder + " with prefix '" + c.prefix + "' and TMPDIR " + (c.tmpdir ? c.tmpdir : "unset"));
    const TScopedTmpdir tmpdir(c.tmpdir);
    const TOrvString<char> folderText(c.folder.c_str());
    const TOrvString<char> prefixText(c.prefix);
    const std::string first = NativeGetTempFileName(folderText, prefixText).c_str();
    const std::string second = NativeGetTempFileName(folderText, prefixText).c_str();
    for (const std::string& name : {first, second}) {
      EXPECT_EQ(name.size(), c.expectedStart.size() + 6) << name;
      EXPECT_EQ(name.compare(0, c.expectedStart.size(), c.expectedStart), 0) << name;
      struct stat status {};
      ASSERT_EQ(stat(name.c_str(), &status), 0) << name;
      EXPECT_TRUE(S_ISREG(status.st_mode)) << name;
      EXPECT_EQ(status.st_mode & 0777, 0600u) << name;
      EXPECT_EQ(status.st_size, 0) << name;
    }
    EXPECT_NE(first, second);
    std::remove(first.c_str());
    std::remove(second.c_str());
  }
}

TEST(NativeFiles, TemporaryFileNamePastTheLimitIsEmpty) {
  const TTemporaryFolder folder;
  const TScopedTmpdir tmpdir(nullptr);
  // A folder that exists, whose path with the name's 10 more characters no longer fits.
  const std::size_t target = kNativePathBytes - 6;
  std::string deep = folder.Path();
  while (deep.size() < target) {
    deep += "/" + std::string(std::clamp<std::size_t>(target - deep.size() - 1, 1, 200), 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0777), 0) << deep.size();
  }
  errno = 0;
  EXPECT_TRUE(NativeGetTempFileName(TOrvString<char>(deep.c_str()), TOrvString<char>("orv")).IsEmpty());
  EXPECT_EQ(errno, ENAMETOOLONG);
}

TEST(NativeFiles, PathsPastTheLimitFailAsTooLong) {
  const TTemporaryFolder folder;
  const std::string tooLong = PathOfLength(folder.Path(), 5000);
  errno = 0;
  EXPECT_EQ(NativeCreateDirectories(tooLong.c_str()), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
  errno = 0;
  EXPECT_FALSE(NativeRename(TOrvString<char>(tooLong.c_str()), TOrvString<char>(folder.Path("x").c_str())));
  EXPECT_EQ(errno, ENAMETOOLONG);
  errno = 0;
  EXPECT_FALSE(NativeRename(TOrvString<char>(folder.Path("x").c_str()), TOrvString<char>(tooLong.c_str())));
  EXPECT_EQ(errno, ENAMETOOLONG);

  // 4095 bytes and the NUL fill the buffer exactly: the system looks the path up. One more does not fit.
  const struct {
    std::size_t length;
    int error;
  } limits[] = {{kNativePathBytes - 1, ENOENT}, {kNativePathBytes, ENAMETOOLONG}, {5000, ENAMETOOLONG}};
  for (const auto& limit : limits) {
    // Relative texts, as file names have them.
    const std::string text = PathOfLength("n", limit.length);
    const TFileName name(text.c_str());
    errno = 0;
    EXPECT_FALSE(NativeFileExists(name)) << limit.length;
    EXPECT_EQ(errno, limit.error) << limit.length;
    // The same limit for a text: the whole chain is made, or nothing.
    const std::string folderPart = PathOfLength(folder.Path(), limit.length - 1) + "/";
    errno = 0;
    const bool fits = limit.error == ENOENT;
    EXPECT_EQ(NativeCreateDirectories(folderPart.c_str()), fits ? 0 : -1) << limit.length;
    EXPECT_EQ(IsFolder(folderPart), fits) << limit.length;
    if (!fits) {
      EXPECT_EQ(errno, ENAMETOOLONG) << limit.length;
    }
  }
  const TFileName longName(PathOfLength("n", 5000).c_str());
  errno = 0;
  EXPECT_FALSE(NativeFileExistsIn(longName, TFileName("x")));
  EXPECT_EQ(errno, ENAMETOOLONG);
  errno = 0;
  EXPECT_FALSE(NativeFileExistsIn(TFileName("x"), longName));
  EXPECT_EQ(errno, ENAMETOOLONG);
  EXPECT_FALSE(NativeIsDirectory(longName));
  EXPECT_FALSE(NativeRemoveFile(longName));
  EXPECT_FALSE(NativeCopyDirectory(TFileName("copy"), longName, true));
  EXPECT_FALSE(NativeCopyDirectory(longName, TFileName("copy"), true));
}

// The server's replay folder: a relative path, made in the working folder.
TEST(NativeFilesDeathTest, ReplaysFolderIsMadeInTheWorkingFolder) {
  const TTemporaryFolder folder;
  EXPECT_EXIT(RunInFolder(folder.Path(),
                          [](TChildChecks& checks) {
                            ORV_CHILD_CHECK(checks, !NativeFileExists("Replays/"));
                            ORV_CHILD_CHECK(checks, NativeCreateDirectories("Replays/") == 0);
                            ORV_CHILD_CHECK(checks, NativeFileExists("Replays/"));
                            ORV_CHILD_CHECK(checks, NativeIsDirectory("Replays"));
                            ORV_CHILD_CHECK(checks, NativeCreateDirectories("Replays/") == 0);
                          }),
              ::testing::ExitedWithCode(TChildChecks::kPassed), "");
  EXPECT_TRUE(IsFolder(folder.Path("Replays")));
}

TEST(NativeFilesDeathTest, FileNamesStandForTheirTextsInTheWorkingFolder) {
  const TTemporaryFolder folder;
  ASSERT_EQ(NativeCreateDirectories(folder.Path("Replays/").c_str()), 0);
  WriteFileBytes(folder.Path("Replays/Last.rpl"), "replay");
  EXPECT_EXIT(RunInFolder(folder.Path(),
                          [](TChildChecks& checks) {
                            ORV_CHILD_CHECK(checks, NativeFileExists(TFileName("Replays/Last.rpl")));
                            ORV_CHILD_CHECK(checks, NativeIsDirectory(TFileName("Replays")));
                            ORV_CHILD_CHECK(checks, !NativeIsDirectory(TFileName("Replays/Last.rpl")));
                            ORV_CHILD_CHECK(checks, NativeFileExistsIn(TFileName("Replays"), TFileName("Last.rpl")));
                            // The relative name's mounting point is not written; an empty folder is
                            // the working folder.
                            ORV_CHILD_CHECK(checks, NativeFileExistsIn(TFileName("Replays"), TFileName("Any:Last.rpl")));
                            ORV_CHILD_CHECK(checks, NativeFileExistsIn(TFileName(), TFileName("Replays/Last.rpl")));
                            ORV_CHILD_CHECK(checks, !NativeFileExistsIn(TFileName("Replays"), TFileName("Other.rpl")));

                            char relative[] = "replays/last.rpl";
                            NativeFixPathCase(relative);
                            ORV_CHILD_CHECK(checks, std::string(relative) == "Replays/Last.rpl");
                            ORV_CHILD_CHECK(checks, NativeRemoveFile(TFileName("Replays/Last.rpl")));
                            ORV_CHILD_CHECK(checks, !NativeFileExists("Replays/Last.rpl"));
                          }),
              ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

TEST(NativeFilesDeathTest, CopyDirectoryCopiesFilesAndOnRequestSubFolders) {
  const TTemporaryFolder folder;
  ASSERT_EQ(NativeCreateDirectories(folder.Path("src/sub/deeper/").c_str()), 0);
  ASSERT_EQ(NativeCreateDirectories(folder.Path("empty/").c_str()), 0);
  ASSERT_EQ(NativeCreateDirectories(folder.Path("maps[1]/").c_str()), 0);
  WriteFileBytes(folder.Path("src/a.txt"), "a");
  WriteFileBytes(folder.Path("src/.hidden"), "h");
  WriteFileBytes(folder.Path("src/sub/b.txt"), "b");
  WriteFileBytes(folder.Path("src/sub/deeper/c.txt"), "c");
  WriteFileBytes(folder.Path("src/README.TXT"), "read me");
  WriteFileBytes(folder.Path("maps[1]/m.map"), "map");
  EXPECT_EXIT(RunInFolder(folder.Path(),
                          [](TChildChecks& checks) {
                            ORV_CHILD_CHECK(checks, NativeCopyDirectory(TFileName("flat"), TFileName("src"), false));
                            ORV_CHILD_CHECK(checks, ReadFileBytes("flat/a.txt") == "a");
                            ORV_CHILD_CHECK(checks, !Exists("flat/.hidden"));
                            ORV_CHILD_CHECK(checks, !Exists("flat/sub"));

                            // A component interned first in another letter case: the disk's
                            // spelling is what gets copied.
                            const TFileName otherCase("elsewhere/readme.txt");
                            ORV_CHILD_CHECK(checks, NativeCopyDirectory(TFileName("tree/copy"), TFileName("src"), true));
                            ORV_CHILD_CHECK(checks, ReadFileBytes("tree/copy/a.txt") == "a");
                            ORV_CHILD_CHECK(checks, ReadFileBytes("tree/copy/sub/b.txt") == "b");
                            ORV_CHILD_CHECK(checks, ReadFileBytes("tree/copy/sub/deeper/c.txt") == "c");
                            ORV_CHILD_CHECK(checks, ReadFileBytes("tree/copy/README.TXT") == "read me");
                            ORV_CHILD_CHECK(checks, !Exists("tree/copy/.hidden"));

                            ORV_CHILD_CHECK(checks, NativeCopyDirectory(TFileName("made"), TFileName("empty"), true));
                            ORV_CHILD_CHECK(checks, IsFolder("made"));
                            // Pattern characters in the source's name are taken literally.
                            ORV_CHILD_CHECK(checks, NativeCopyDirectory(TFileName("copied_maps"), TFileName("maps[1]"), true));
                            ORV_CHILD_CHECK(checks, ReadFileBytes("copied_maps/m.map") == "map");
                            ORV_CHILD_CHECK(checks, !NativeCopyDirectory(TFileName("none"), TFileName("missing"), true));
                            ORV_CHILD_CHECK(checks, !Exists("none"));
                          }),
              ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

TEST(NativeFilesDeathTest, CopyDirectoryStopsAtAnEntryNoFileNameCanHold) {
  const TTemporaryFolder folder;
  const std::vector<std::string> names = {"caf\xC3\xA9.txt", "a:b", "back\\slash", "what?"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string source = "bad" + std::to_string(i);
    ASSERT_EQ(NativeCreateDirectories(folder.Path(source + "/").c_str()), 0);
    WriteFileBytes(folder.Path(source + "/" + names[i]), "x");
    WriteFileBytes(folder.Path(source + "/b"), "b");
  }
  EXPECT_EXIT(RunInFolder(folder.Path(),
                          [&](TChildChecks& checks) {
                            for (std::size_t i = 0; i < names.size(); ++i) {
                              const std::string index = std::to_string(i);
                              checks.Check(!NativeCopyDirectory(TFileName(("copy" + index).c_str()),
                                                                TFileName(("bad" + index).c_str()), false),
                                           "copy of an entry named " + names[i] + " fails");
                              checks.Check(!Exists("copy" + index + "/" + names[i]), names[i] + " not copied");
                            }
                            // "a:b" is not taken as b of the mounting point a.
                            ORV_CHILD_CHECK(checks, !Exists("copy1/b") || ReadFileBytes("copy1/b") == "b");
                          }),
              ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

}  // namespace
}  // namespace Orvan
