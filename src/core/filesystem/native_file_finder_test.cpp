// Listing files by a pattern.
#include "core/filesystem/native_file_finder.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/temporary_folder.h"

namespace Orvan {
namespace {

TEST(NativeFileFinder, ListsMatchesInOrderWithTheirSizesAndSkipsHiddenNames) {
  const OrvTest::TTemporaryFolder folder;
  OrvTest::WriteFileBytes(folder.Path("b.map"), "bb");
  OrvTest::WriteFileBytes(folder.Path("a.map"), "a");
  OrvTest::WriteFileBytes(folder.Path(".hidden.map"), "hidden");
  OrvTest::WriteFileBytes(folder.Path("c.txt"), "c");

  TNativeFileFinder finder;
  ASSERT_EQ(finder.Open(TOrvString<char>((folder.Path() + "/*.map").c_str())), 0);
  std::vector<std::pair<std::string, std::uint64_t>> seen;
  for (; finder.IsValid(); finder.Next()) seen.emplace_back(finder.GetName().c_str(), finder.GetSize());
  finder.Close();
  const std::vector<std::pair<std::string, std::uint64_t>> expected = {{"a.map", 1}, {"b.map", 2}};
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(finder.IsValid());
}

TEST(NativeFileFinder, NoMatchIsGlobsNoMatchAndNothingToWalk) {
  const OrvTest::TTemporaryFolder folder;
  TNativeFileFinder finder;
  EXPECT_EQ(finder.Open(TOrvString<char>((folder.Path() + "/*.none").c_str())), GLOB_NOMATCH);
  EXPECT_FALSE(finder.IsValid());
  finder.Close();
  finder.Close();
  // A name without '/' is all name; an open listing is released before the next.
  ASSERT_EQ(finder.Open(TOrvString<char>((folder.Path() + "/").c_str())), 0);
  EXPECT_EQ(finder.Open(TOrvString<char>("/")), 0);
  ASSERT_TRUE(finder.IsValid());
  EXPECT_EQ(finder.GetName(), "");
}

}  // namespace
}  // namespace Orvan
