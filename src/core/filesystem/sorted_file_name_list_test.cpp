#include "core/filesystem/sorted_file_name_list.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "core/diagnostics/engine_exception_kinds.h"
#include "core/memory/thread_local_heap.h"
#include "support/failing_allocation.h"
#include "support/file_name_registries.h"

namespace Orvan {
namespace {

using SortedFileNameList = OrvTest::TFreshFileNameRegistries;

std::vector<std::string> Texts(const TSortedFileNameList& list) {
  std::vector<std::string> texts;
  for (std::uint32_t i = 0; i < list.GetSize(); ++i) texts.push_back(list.GetText(i));
  return texts;
}

std::string ListText(const TFileName& name) {
  const TOrvString<char> text = name.ToString();
  return std::string(text.c_str(), text.GetLength());
}

std::uint32_t ListNodeCount(const TFileName& name) { return name.GetNode()->count.load(); }

TEST_F(SortedFileNameList, KeepsTextsInCaseInsensitiveOrderAndTheFirstOfEachText) {
  const std::uint16_t data = ParseMountingPoint("DataDir");
  TSortedFileNameList list(data);
  const TFileName other("Temp:/elsewhere/b.txt");
  list.Add("c/Readme", nullptr);
  list.Add("b.TXT", &other);
  list.Add("A.txt", nullptr);
  list.Add("C/README", nullptr);  // same text but for case: dropped
  list.Add("b.txt", nullptr);     // likewise
  list.Add("", nullptr);          // the empty text sorts first and names the empty path

  EXPECT_EQ(Texts(list), (std::vector<std::string>{"", "A.txt", "b.TXT", "c/Readme"}));
  EXPECT_TRUE(list.GetFileName(0).IsEmpty());
  EXPECT_EQ(list.GetFileName(0).GetMountingPoint(), data);
  EXPECT_EQ(ListText(list.GetFileName(1)), "DataDir:/A.txt");
  // A given name lends its path, not its mounting point.
  EXPECT_EQ(ListText(list.GetFileName(2)), "DataDir:/elsewhere/b.txt");
  EXPECT_EQ(list.GetFileName(2).GetNode(), other.GetNode());
  EXPECT_EQ(ListText(list.GetFileName(3)), "DataDir:/c/Readme");
}

TEST_F(SortedFileNameList, TextThatIsNoPathThrowsUnlessAPathIsGiven) {
  TSortedFileNameList list(0);
  list.Add("a", nullptr);
  list.Add("z", nullptr);
  const std::uint32_t live = GetThreadLocalHeap()->GetLiveCount();
  for (const char* text : {"Data:x", "b<c", "what?"}) {
    EXPECT_THROW(list.Add(text, nullptr), EInvalidFileName) << text;
    EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "z"})) << text;
    EXPECT_EQ(GetThreadLocalHeap()->GetLiveCount(), live) << "the record's block is given back";
  }
  const TFileName given("some/path");
  list.Add("Data:x", &given);
  EXPECT_EQ(Texts(list), (std::vector<std::string>{"a", "Data:x", "z"}));
  EXPECT_EQ(list.GetFileName(1), given);
}

TEST_F(SortedFileNameList, ManyRecordsReachTheVectorInOrderWithTheirReferences) {
  std::vector<std::string> texts;
  for (int i = 0; i < 300; ++i) {
    char text[32];
    std::snprintf(text, sizeof text, i % 2 == 0 ? "dir/File%03d" : "DIR/file%03d", i);
    texts.push_back(text);
  }
  std::vector<std::string> shuffled = texts;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  const std::uint32_t live = GetThreadLocalHeap()->GetLiveCount();
  TFileName probe("dir/file000");
  const std::uint32_t probeCount = ListNodeCount(probe);
  {
    TSortedFileNameList list(0);
    for (const std::string& text : shuffled) list.Add(text.c_str(), nullptr);
    EXPECT_EQ(Texts(list), texts);

    const TVector<TFileName> names = list.ToVector();
    ASSERT_EQ(names.GetSize(), 300u);
    EXPECT_EQ(names.GetCapacity(), 300u);
    for (std::uint32_t i = 0; i < 300; ++i) EXPECT_EQ(names[i], TFileName(texts[i].c_str())) << i;
    // The list's record and the vector's copy.
    EXPECT_EQ(ListNodeCount(probe), probeCount + 2);
  }
  EXPECT_EQ(ListNodeCount(probe), probeCount);
  EXPECT_EQ(GetThreadLocalHeap()->GetLiveCount(), live);

  const TSortedFileNameList empty(0);
  const TVector<TFileName> none = empty.ToVector();
  EXPECT_EQ(none.GetSize(), 0u);
  EXPECT_EQ(none.Data(), nullptr);
}

// Every allocation of an Add fails in turn: the record's block, then the array's growth (at the end
// and in the middle, where the array merges into a new block). Each failure leaves the list and
// the heap and the path node as they were.
TEST_F(SortedFileNameList, AllocationFailingMidwayLeavesTheListUnchanged) {
  for (const char* added : {"zz_last", "f063_middle"}) {
    TSortedFileNameList list(0);
    std::vector<std::string> texts;
    for (int i = 0; i < 128; ++i) {
      char text[16];
      std::snprintf(text, sizeof text, "f%03d", i);
      list.Add(text, nullptr);
      texts.push_back(text);
    }
    const TFileName path(added);  // interned beforehand: the parse itself allocates nothing
    const std::uint32_t pathCount = ListNodeCount(path);
    const std::uint32_t live = GetThreadLocalHeap()->GetLiveCount();
    for (int allowance = 0;; ++allowance) {
      bool threw = false;
      {
        const OrvTest::TFailingAllocationScope failing(allowance);
        try {
          list.Add(added, nullptr);
        } catch (const std::bad_alloc&) {
          threw = true;
        }
      }
      if (!threw) break;
      ASSERT_LT(allowance, 10) << added;
      EXPECT_EQ(Texts(list), texts) << added << ", allowance " << allowance;
      EXPECT_EQ(GetThreadLocalHeap()->GetLiveCount(), live) << added << ", allowance " << allowance;
      EXPECT_EQ(ListNodeCount(path), pathCount) << added << ", allowance " << allowance;
    }
    EXPECT_EQ(list.GetSize(), 129u);
    EXPECT_EQ(ListNodeCount(path), pathCount + 1);
  }
}

}  // namespace
}  // namespace Orvan
