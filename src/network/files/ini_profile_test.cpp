#include "network/files/ini_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/file_replace_calls.h"
#include "support/temporary_folder.h"

namespace Orvan::ServerTools {
namespace {

class IniProfileTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& content, const char* name = "test.ini") {
    const std::string path = folder_.Path(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
  }
  static ino_t Inode(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
  }
  static std::string Get(const char* section, const char* key, const std::string& path, const char* fallback = "-") {
    char buffer[TIniProfile::kLineBufferSize];
    TIniProfile::IniGetString(section, key, fallback, buffer, sizeof(buffer), path.c_str());
    return buffer;
  }
  // Every key as "section/key=value", in file order.
  static std::vector<std::string> Browse(const std::string& path) {
    std::vector<std::string> keys;
    TIniProfile::IniBrowse(
        [](const char* section, const char* key, const char* value, void* list) {
          static_cast<std::vector<std::string>*>(list)->push_back(std::string(section) + "/" + key + "=" + value);
          return 1;
        },
        &keys, path.c_str());
    return keys;
  }

  OrvTest::TTemporaryFolder folder_;
};

TEST_F(IniProfileTest, ValuesAreFoundBySectionAndKeyWithoutRegardToCase) {
  const std::string path = Write(
      "top = level \n"
      "; commented=out\n"
      "[Admins]\n"
      "Player1=1 ; owner\n"
      "  # also=commented\n"
      "quoted = \"a;b # c\"  ; after\n"
      "escaped=\"say \\\"hi\\\" and \"\"bye\"\"\"\n"
      "tabbed\t=\tvalue\t\r\n"
      "empty=\n"
      "noequals\n"
      "[ Next ]\n"
      "player1=2\n"
      "[Admins]\n"
      "later=3\n");
  struct TCase {
    const char* section;
    const char* key;
    const char* value;  // "-" is the default: not found
  };
  const TCase cases[] = {
      {"ADMINS", "player1", "1"},
      {"admins", "PLAYER1", "1"},
      {"Admins", "quoted", "a;b # c"},
      {"Admins", "escaped", "say \"hi\" and \"bye\""},
      {"Admins", "tabbed", "value"},
      {"Admins", "empty", ""},
      {"Admins", "commented", "-"},
      {"Admins", "also", "-"},
      {"Admins", "noequals", "-"},
      {"Admins", "player", "-"},
      {"Admins", "later", "-"},  // only the first occurrence of a section is searched
      {"next", "player1", "2"},
      {nullptr, "top", "level"},
      {"", "top", "level"},
      {"", "player1", "-"},
      {"Missing", "player1", "-"},
  };
  for (const TCase& test : cases) {
    EXPECT_EQ(Get(test.section, test.key, path), test.value)
        << (test.section != nullptr ? test.section : "(null)") << "/" << test.key;
  }
  EXPECT_EQ(Get("Admins", "player1", folder_.Path("absent.ini")), "-");
  EXPECT_EQ(Get("Admins", "player1", path, nullptr), "1");
  EXPECT_EQ(Get("Admins", "missing", path, nullptr), "");
}

TEST_F(IniProfileTest, GetStringCutsToTheBufferAndRefusesWhatCannotHoldAnAnswer) {
  const std::string path = Write("[s]\nkey=abcdef\n");
  char buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(TIniProfile::IniGetString("s", "key", "", buffer, 4, path.c_str()), 3);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(TIniProfile::IniGetString("s", "missing", "default", buffer, 4, path.c_str()), 3);
  EXPECT_STREQ(buffer, "def");
  buffer[0] = 'x';
  EXPECT_EQ(TIniProfile::IniGetString("s", "key", "", buffer, 0, path.c_str()), 0);
  EXPECT_EQ(TIniProfile::IniGetString("s", nullptr, "", buffer, 4, path.c_str()), 0);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(TIniProfile::IniGetString("s", "key", "", nullptr, 4, path.c_str()), 0);
}

TEST_F(IniProfileTest, NumbersAndTruthValues) {
  const std::string path = Write(
      "[n]\nhex=0x1F\nHEX=0X10\ntrailing=12abc\nnegative=-42\nempty=\nbig=9000000000\nfloat=2.5\nword=abc\n"
      "yes=yes\nno=No\nmaybe=maybe\none=1\nzero=0\ntrue=TRUE\nfalse=f\n");
  struct TLongCase {
    const char* key;
    long expected;
  };
  for (const TLongCase& test : std::vector<TLongCase>{{"hex", 31},
                                                      {"trailing", 12},
                                                      {"negative", -42},
                                                      {"empty", 77},
                                                      {"missing", 77},
                                                      {"big", 9000000000L},
                                                      {"word", 0}}) {
    EXPECT_EQ(TIniProfile::IniGetLong("n", test.key, 77, path.c_str()), test.expected) << test.key;
  }
  EXPECT_FLOAT_EQ(TIniProfile::IniGetFloat("n", "float", 1.0f, path.c_str()), 2.5f);
  EXPECT_FLOAT_EQ(TIniProfile::IniGetFloat("n", "empty", 1.0f, path.c_str()), 1.0f);
  EXPECT_FLOAT_EQ(TIniProfile::IniGetFloat("n", "hex", 1.0f, path.c_str()), 31.0f);

  struct TBoolCase {
    const char* key;
    int expected;
  };
  for (const TBoolCase& test : std::vector<TBoolCase>{{"yes", 1},
                                                      {"no", 0},
                                                      {"maybe", -1},
                                                      {"one", 1},
                                                      {"zero", 0},
                                                      {"true", 1},
                                                      {"false", 0},
                                                      {"empty", -1},
                                                      {"missing", -1}}) {
    EXPECT_EQ(TIniProfile::IniGetBool("n", test.key, -1, path.c_str()), test.expected) << test.key;
  }
}

TEST_F(IniProfileTest, SectionsKeysAndBrowsingFollowFileOrder) {
  const std::string path = Write("free=0\n[First]\na=1\nb=\"x;y\"\n[Second]\n; note\nc=3\n[first]\nd=4\n");
  std::vector<std::string> sections;
  char buffer[TIniProfile::kLineBufferSize];
  for (int i = 0; TIniProfile::IniGetSection(i, buffer, sizeof(buffer), path.c_str()) > 0; ++i)
    sections.push_back(buffer);
  EXPECT_EQ(sections, (std::vector<std::string>{"First", "Second", "first"}));
  EXPECT_EQ(TIniProfile::IniGetSection(-1, buffer, sizeof(buffer), path.c_str()), 0);
  EXPECT_STREQ(buffer, "");

  std::vector<std::string> keys;
  for (int i = 0; TIniProfile::IniGetKey("FIRST", i, buffer, sizeof(buffer), path.c_str()) > 0; ++i)
    keys.push_back(buffer);
  EXPECT_EQ(keys, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(TIniProfile::IniGetKey(nullptr, 0, buffer, sizeof(buffer), path.c_str()), 4);
  EXPECT_STREQ(buffer, "free");
  EXPECT_EQ(TIniProfile::IniGetKey("Second", 1, buffer, sizeof(buffer), path.c_str()), 0);

  EXPECT_EQ(Browse(path), (std::vector<std::string>{"/free=0", "First/a=1", "First/b=x;y", "Second/c=3", "first/d=4"}));
  int calls = 0;
  EXPECT_TRUE(TIniProfile::IniBrowse(
      [](const char*, const char*, const char*, void* count) { return ++*static_cast<int*>(count) < 2 ? 1 : 0; },
      &calls, path.c_str()));
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(TIniProfile::IniBrowse(nullptr, nullptr, path.c_str()));
  EXPECT_FALSE(TIniProfile::IniBrowse([](const char*, const char*, const char*, void*) { return 1; }, nullptr,
                                      folder_.Path("absent.ini").c_str()));
}

TEST_F(IniProfileTest, LongLinesAreReadInPiecesOf511Characters) {
  const std::string tail = "spill=over";
  const std::string line = "long=" + std::string(506, 'v') + tail + "\n";
  const std::string path = Write("[s]\n" + line + "after=1\n");
  EXPECT_EQ(Get("s", "long", path), std::string(506, 'v'));
  EXPECT_EQ(Get("s", "spill", path), "over");
  EXPECT_EQ(Get("s", "after", path), "1");
}

TEST_F(IniProfileTest, PutStringRewritesOnlyWhatItChanges) {
  const std::string original = "free=0\n[First]\na=1 ; keep me\nb=2\n\n[Second]\nc=3";
  struct TCase {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
    std::string expected;
  };
  const TCase cases[] = {
      {"replace", "first", "A", "9", "free=0\n[First]\nA=9\nb=2\n\n[Second]\nc=3"},
      {"add to a section", "First", "z", "new", "free=0\n[First]\na=1 ; keep me\nb=2\n\nz=new\n[Second]\nc=3"},
      {"add to the last section", "Second", "d", "4", "free=0\n[First]\na=1 ; keep me\nb=2\n\n[Second]\nc=3\nd=4\n"},
      {"add a section", "Third", "e", "5", original + "\n[Third]\ne=5\n"},
      {"unnamed section", nullptr, "top", "1", "free=0\ntop=1\n[First]\na=1 ; keep me\nb=2\n\n[Second]\nc=3"},
      {"replace unnamed", "", "free", "1", "free=1\n[First]\na=1 ; keep me\nb=2\n\n[Second]\nc=3"},
      {"delete a key", "First", "a", nullptr, "free=0\n[First]\nb=2\n\n[Second]\nc=3"},
      {"delete a section", "first", nullptr, nullptr, "free=0\n[Second]\nc=3"},
      {"delete the unnamed section", nullptr, nullptr, nullptr, "[First]\na=1 ; keep me\nb=2\n\n[Second]\nc=3"},
      {"quoted", "First", "b", "a;b", "free=0\n[First]\na=1 ; keep me\nb=\"a;b\"\n\n[Second]\nc=3"},
      {"quotes escaped", "First", "b", "\"hi\" # x",
       "free=0\n[First]\na=1 ; keep me\nb=\"\\\"hi\\\" # x\"\n\n[Second]\nc=3"},
      {"trailing blank", "First", "b", "x ", "free=0\n[First]\na=1 ; keep me\nb=\"x \"\n\n[Second]\nc=3"},
      {"backslash kept", "First", "b", "C:\\dir\\", "free=0\n[First]\na=1 ; keep me\nb=C:\\dir\\\n\n[Second]\nc=3"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string path = Write(original);
    ASSERT_TRUE(TIniProfile::IniPutString(test.section, test.key, test.value, path.c_str()));
    EXPECT_EQ(Read(path), test.expected);
    EXPECT_FALSE(std::filesystem::exists(folder_.Path("test.in~")));
    if (test.key != nullptr) {
      EXPECT_EQ(Get(test.section, test.key, path), test.value != nullptr ? test.value : "-");
    }
  }
}

TEST_F(IniProfileTest, WritesThatChangeNothingLeaveTheFileAlone) {
  const std::string path = Write("[s]\nkey=\"a;b\"\nother=1\n");
  const ino_t inode = Inode(path);
  EXPECT_TRUE(TIniProfile::IniPutString("S", "KEY", "a;b", path.c_str()));
  EXPECT_TRUE(TIniProfile::IniPutString("s", "missing", nullptr, path.c_str()));
  EXPECT_TRUE(TIniProfile::IniPutString("absent", nullptr, nullptr, path.c_str()));
  EXPECT_TRUE(TIniProfile::IniPutLong("s", "other", 1, path.c_str()));
  EXPECT_EQ(Inode(path), inode);
  EXPECT_EQ(Read(path), "[s]\nkey=\"a;b\"\nother=1\n");

  // Writing twice: the second write finds the value and does not rewrite.
  ASSERT_TRUE(TIniProfile::IniPutString("s", "key", "new", path.c_str()));
  const ino_t rewritten = Inode(path);
  ASSERT_TRUE(TIniProfile::IniPutString("s", "key", "new", path.c_str()));
  EXPECT_EQ(Inode(path), rewritten);
}

TEST_F(IniProfileTest, AMissingFileIsCreatedForASetAndNotForADeletion) {
  struct TCase {
    const char* section;
    const char* key;
    const char* value;
    bool created;
    std::string content;
  };
  const TCase cases[] = {
      {"Bans", "12", "0", true, "[Bans]\n12=0\n"},
      {nullptr, "12", "0", true, "12=0\n"},
      {"Bans", "12", nullptr, false, ""},
      {"Bans", nullptr, nullptr, false, ""},
  };
  for (const TCase& test : cases) {
    const std::string path = folder_.Path("new.ini");
    std::filesystem::remove(path);
    EXPECT_TRUE(TIniProfile::IniPutString(test.section, test.key, test.value, path.c_str()));
    EXPECT_EQ(std::filesystem::exists(path), test.created);
    if (test.created) {
      EXPECT_EQ(Read(path), test.content);
    }
  }
}

// Created or rewritten, a file is written whole to its temporary copy, synced, and only then put in
// place; the folder is synced after the rename.
TEST_F(IniProfileTest, RewritesAreSyncedBeforeAndAfterTheRename) {
  const std::string path = folder_.Path("synced.ini");
  const std::string real = std::filesystem::canonical(folder_.Path()).string();
  const std::vector<std::string> expected = {"sync " + real + "/synced.in~",
                                             "rename " + folder_.Path("synced.in~") + " -> " + path, "sync " + real};
  const TIniChange batch[] = {{nullptr, "2", "0"}, {nullptr, "3", "0"}};
  const std::vector<std::pair<const char*, std::function<bool()>>> writes = {
      {"created", [&] { return TIniProfile::IniPutString(nullptr, "1", "0", path.c_str()); }},
      {"rewritten", [&] { return TIniProfile::IniPutString(nullptr, "1", "5", path.c_str()); }},
      {"rewritten by a batch", [&] { return TIniProfile::IniPutStrings(batch, 2, path.c_str()); }},
  };
  for (const auto& [what, write] : writes) {
    SCOPED_TRACE(what);
    OrvTest::TRecordedFileReplace calls;
    ASSERT_TRUE(write());
    EXPECT_EQ(calls.Calls(), expected);
  }
  EXPECT_EQ(Read(path), "1=5\n2=0\n3=0\n");
  // A failed sync keeps the file as it was.
  OrvTest::TRecordedFileReplace calls;
  calls.FailSyncs(EIO);
  EXPECT_FALSE(TIniProfile::IniPutString(nullptr, "1", "6", path.c_str()));
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(Read(path), "1=5\n2=0\n3=0\n");
  EXPECT_FALSE(std::filesystem::exists(folder_.Path("synced.in~")));
}

// A batch leaves the file that the same changes made one by one leave (deletions aside: a batch
// deletes every line of the key in its section).
TEST_F(IniProfileTest, ABatchOfChangesIsOneRewriteWithTheChangesOneByOneWouldGive) {
  const std::string original = "free=0\n[First]\na=1 ; keep me\nb=2\n\n[Second]\nc=3\n[first]\na=7\n";
  struct TCase {
    const char* name;
    std::vector<TIniChange> changes;
    std::string expected;
  };
  const std::vector<TCase> cases = {
      {"replace and add across sections",
       {{"first", "A", "9"}, {nullptr, "top", "1"}, {"Second", "d", "4"}, {"First", "z", "new"}},
       "free=0\ntop=1\n[First]\nA=9\nb=2\n\nz=new\n[Second]\nc=3\nd=4\n[first]\na=7\n"},
      {"new sections at the end, in order",
       {{"Third", "e", "5"}, {"Fourth", "f", "6"}, {"third", "g", "7"}},
       original + "[Third]\ne=5\ng=7\n[Fourth]\nf=6\n"},
      {"delete and set",
       {{"First", "a", nullptr}, {"", "free", "a;b"}, {"Second", "c", nullptr}},
       "free=\"a;b\"\n[First]\nb=2\n\n[Second]\n[first]\na=7\n"},
      {"the last change of a key wins", {{"First", "b", "x"}, {"First", "b", "y"}},
       "free=0\n[First]\na=1 ; keep me\nb=y\n\n[Second]\nc=3\n[first]\na=7\n"},
      // A key set to the value it holds keeps its line, comment and all, while others change.
      {"unchanged keys keep their lines", {{"First", "a", "1"}, {"First", "b", "5"}},
       "free=0\n[First]\na=1 ; keep me\nb=5\n\n[Second]\nc=3\n[first]\na=7\n"},
  };
  for (const TCase& test : cases) {
    SCOPED_TRACE(test.name);
    const std::string one = Write(original, "one.ini");
    for (const TIniChange& change : test.changes) {
      ASSERT_TRUE(TIniProfile::IniPutString(change.section, change.key, change.value, one.c_str()));
    }
    EXPECT_EQ(Read(one), test.expected);
    const std::string path = Write(original);
    OrvTest::TRecordedFileReplace calls;
    ASSERT_TRUE(TIniProfile::IniPutStrings(test.changes.data(), test.changes.size(), path.c_str()));
    EXPECT_EQ(Read(path), test.expected);
    EXPECT_EQ(calls.Calls().size(), 3u);  // one rewrite
  }

  // Every line of a deleted key goes, in the section's first block only.
  const std::string path = Write("k=1\n[s]\nk=2\nK=3\nj=4\n[s]\nk=5\n");
  const TIniChange deletion{"s", "k", nullptr};
  ASSERT_TRUE(TIniProfile::IniPutStrings(&deletion, 1, path.c_str()));
  EXPECT_EQ(Read(path), "k=1\n[s]\nj=4\n[s]\nk=5\n");
}

TEST_F(IniProfileTest, ABatchThatChangesNothingOrIsRefusedLeavesTheFileAlone) {
  const std::string content = "a=1\n[s]\nb=\"x;y\"\n";
  const std::string path = Write(content);
  const ino_t inode = Inode(path);
  const TIniChange same[] = {{nullptr, "A", "1"}, {"S", "b", "x;y"}, {"s", "missing", nullptr}, {"t", "k", nullptr}};
  EXPECT_TRUE(TIniProfile::IniPutStrings(same, 4, path.c_str()));
  EXPECT_TRUE(TIniProfile::IniPutStrings(nullptr, 0, path.c_str()));
  EXPECT_EQ(Inode(path), inode);
  EXPECT_FALSE(std::filesystem::exists(folder_.Path("test.in~")));

  const TIniChange refused[] = {{nullptr, "a", "2"}, {nullptr, "bad=key", "1"}};
  const TIniChange noKey[] = {{nullptr, "a", "2"}, {"s", nullptr, nullptr}};
  for (const TIniChange* batch : {refused, noKey}) {
    errno = 0;
    EXPECT_FALSE(TIniProfile::IniPutStrings(batch, 2, path.c_str()));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Inode(path), inode);
  }
  EXPECT_EQ(Read(path), content);

  // A key is removed from any section the file holds, also from one whose name could not be written
  // (a person's file; the ban list reads such keys, so its refresh must be able to remove them).
  const std::string odd = Write("1=5\n[Ol\rd]\n2=6\n3=7\n", "odd.ini");
  const TIniChange removals[] = {{"", "1", nullptr}, {"Ol\rd", "2", nullptr}, {nullptr, "4", "0"}};
  EXPECT_TRUE(TIniProfile::IniPutStrings(removals, 3, odd.c_str()));
  EXPECT_EQ(Read(odd), "4=0\n[Ol\rd]\n3=7\n");

  // A missing file: made for sets, not for deletions alone.
  const std::string fresh = folder_.Path("fresh.ini");
  EXPECT_TRUE(TIniProfile::IniPutStrings(&same[2], 2, fresh.c_str()));
  EXPECT_FALSE(std::filesystem::exists(fresh));
  EXPECT_TRUE(TIniProfile::IniPutStrings(same, 2, fresh.c_str()));
  EXPECT_EQ(Read(fresh), "A=1\n[S]\nb=\"x;y\"\n");
}

TEST_F(IniProfileTest, NumbersAreWrittenAsText) {
  const std::string path = folder_.Path("numbers.ini");
  ASSERT_TRUE(TIniProfile::IniPutLong("n", "big", 9000000000L, path.c_str()));
  ASSERT_TRUE(TIniProfile::IniPutLong("n", "negative", -7, path.c_str()));
  ASSERT_TRUE(TIniProfile::IniPutFloat("n", "float", 2.5f, path.c_str()));
  EXPECT_EQ(Read(path), "[n]\nbig=9000000000\nnegative=-7\nfloat=2.500000\n");
  EXPECT_EQ(TIniProfile::IniGetLong("n", "big", 0, path.c_str()), 9000000000L);
}

TEST_F(IniProfileTest, NamesAndLinesAreCutToTheLineBuffer) {
  const std::string path = folder_.Path("long.ini");
  const std::string section(600, 's');
  const std::string key(600, 'k');
  ASSERT_TRUE(TIniProfile::IniPutString(section.c_str(), "key", std::string(600, 'v').c_str(), path.c_str()));
  ASSERT_TRUE(TIniProfile::IniPutString("short", key.c_str(), "1", path.c_str()));
  std::istringstream lines(Read(path));
  std::vector<std::size_t> lengths;
  for (std::string line; std::getline(lines, line);) lengths.push_back(line.size());
  EXPECT_EQ(lengths, (std::vector<std::size_t>{510, 510, 7, 510}));
}

// What would not read back as written is refused: the call answers false (errno EINVAL) and the
// file is as it was.
TEST_F(IniProfileTest, WritesThatWouldNotReadBackAreRefused) {
  const std::string content = "[s]\nkey=1\n";
  struct TCase {
    const char* name;
    const char* section;
    const char* key;
    const char* value;
  };
  const TCase refused[] = {
      {"a value needing quotes ends with a backslash", "s", "key", "x;y\\"},
      {"a line break in the value", "s", "key", "1\nforged=1"},
      {"a carriage return in the key", "s", "k\r", "1"},
      {"a line break in the section", "s\n[t]", "key", "2"},
      {"an empty key", "s", "", "1"},
      {"a key holding the separator", "s", "a=b", "1"},
      {"a key holding a comment", "s", "a;b", "1"},
      {"a key holding a quote", "s", "a\"b", "x;y"},
      {"a key that reads as a header", "s", "[t]", "1"},
      {"a key with a blank at its end", "s", "key ", "1"},
      {"a section holding its bracket", "s]x", "key", "1"},
      {"a section with a blank at its start", " s", nullptr, nullptr},
  };
  for (const TCase& test : refused) {
    SCOPED_TRACE(test.name);
    const std::string path = Write(content);
    errno = 0;
    EXPECT_FALSE(TIniProfile::IniPutString(test.section, test.key, test.value, path.c_str()));
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(Read(path), content);
  }
}

// A write that fails leaves errno telling why, for the caller's log line.
TEST_F(IniProfileTest, AFailedRenameKeepsTheOriginalAndRemovesTheTemporaryFile) {
  const std::string content = "[Bans]\n1=0\n2=0\n";
  const std::string path = Write(content, "banned.ini");
  {
    OrvTest::TRecordedFileReplace calls;
    calls.FailRenames(EXDEV);
    EXPECT_FALSE(TIniProfile::IniPutString("Bans", "3", "0", path.c_str()));
    EXPECT_EQ(errno, EXDEV);
    const TIniChange change{"Bans", "4", "0"};
    EXPECT_FALSE(TIniProfile::IniPutStrings(&change, 1, path.c_str()));
    EXPECT_EQ(errno, EXDEV);
  }
  EXPECT_EQ(Read(path), content);
  EXPECT_FALSE(std::filesystem::exists(folder_.Path("banned.in~")));

  // A path naming a folder cannot be rewritten either; the folder and its content stay.
  const std::string folder = folder_.Path("folder.ini");
  std::filesystem::create_directory(folder);
  Write("inside", "folder.ini/file");
  EXPECT_FALSE(TIniProfile::IniPutString("s", "k", "v", folder.c_str()));
  EXPECT_EQ(errno, EISDIR);
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_EQ(Read(folder + "/file"), "inside");
  EXPECT_FALSE(std::filesystem::exists(folder_.Path("folder.in~")));
  // A path whose temporary name would be the path itself.
  EXPECT_FALSE(TIniProfile::IniPutString("s", "k", "v", Write(content, "odd~").c_str()));
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(Read(folder_.Path("odd~")), content);
  // A file that is missing in a folder that is missing cannot be created.
  EXPECT_FALSE(TIniProfile::IniPutString("s", "k", "v", folder_.Path("none/banned.ini").c_str()));
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
}  // namespace Orvan::ServerTools
