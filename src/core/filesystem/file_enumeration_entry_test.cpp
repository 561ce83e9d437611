#include "core/filesystem/file_enumeration_entry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/failing_allocation.h"
#include "support/file_name_registries.h"

namespace Orvan {
namespace {

using FileEnumerationEntry = OrvTest::TFreshFileNameRegistries;

std::uint32_t NodeCount(const TFileName& name) { return name.GetNode()->count.load(); }

// Three levels: a root entry with children a and b; a has a1, a2 and a3, b has b1.
struct TTree {
  std::vector<TOrvString<wchar_t>> names;
  std::vector<TFileName> files;
  TFileEnumerationEntry* root = nullptr;
  alignas(TFileEnumerationEntry) unsigned char storage[sizeof(TFileEnumerationEntry)];

  TTree() {
    const char* paths[] = {"Data:root", "Data:root/a", "Data:root/b", "Data:root/a/1", "Data:root/a/2",
                           "Data:root/a/3", "Data:root/b/1"};
    for (const char* path : paths) {
      files.emplace_back(path);
      names.emplace_back(TOrvString<wchar_t>(std::wstring(path, path + std::strlen(path)).c_str()));
    }
    root = ::new (static_cast<void*>(storage)) TFileEnumerationEntry(names[0], files[0], 10, 20);
    Add(root, 1);
    Add(root, 2);
    Add(&root->GetChildren()[0], 3);
    Add(&root->GetChildren()[0], 4);
    Add(&root->GetChildren()[0], 5);
    Add(&root->GetChildren()[1], 6);
  }
  ~TTree() { root->~TFileEnumerationEntry(); }
  void Add(TFileEnumerationEntry* parent, std::uint32_t i) { parent->AddChild(names[i], files[i], i, 100 + i); }
  // The references held on every name and file node.
  std::vector<std::uint32_t> Counts() const {
    std::vector<std::uint32_t> counts;
    for (const auto& name : names) counts.push_back(static_cast<std::uint32_t>(name.GetRefCount()));
    for (const auto& file : files) counts.push_back(NodeCount(file));
    return counts;
  }
};

// Every level of the copy holds the same entries in storage of exactly their count.
void ExpectSameTree(const TFileEnumerationEntry& copy, const TFileEnumerationEntry& source) {
  EXPECT_EQ(copy.GetName().GetContent(), source.GetName().GetContent());
  EXPECT_EQ(copy.GetFileName(), source.GetFileName());
  EXPECT_EQ(copy.GetFirstValue(), source.GetFirstValue());
  EXPECT_EQ(copy.GetSecondValue(), source.GetSecondValue());
  ASSERT_EQ(copy.GetChildren().GetSize(), source.GetChildren().GetSize());
  EXPECT_EQ(copy.GetChildren().GetCapacity(), source.GetChildren().GetSize());
  for (std::uint32_t i = 0; i < source.GetChildren().GetSize(); ++i) {
    ExpectSameTree(copy.GetChildren()[i], source.GetChildren()[i]);
  }
}

TEST_F(FileEnumerationEntry, DeepCopyCopiesEveryLevelAndGivesEveryReferenceBack) {
  TTree tree;
  const std::vector<std::uint32_t> before = tree.Counts();
  {
    const TFileEnumerationEntry copy(*tree.root);
    ExpectSameTree(copy, *tree.root);
    const std::vector<std::uint32_t> during = tree.Counts();
    for (std::size_t i = 0; i < before.size(); ++i) EXPECT_GT(during[i], before[i]) << i;
    EXPECT_EQ(copy.GetChildren()[1].GetChildren()[0].GetChildren().GetCapacity(), 0u);
  }
  EXPECT_EQ(tree.Counts(), before);
}

TEST_F(FileEnumerationEntry, CopyFailingMidwayLeavesNothingBehind) {
  TTree tree;
  const std::vector<std::uint32_t> before = tree.Counts();
  // The copy takes three blocks (the root's, a's and b's children); fail each in turn.
  for (int allowance = 0;; ++allowance) {
    bool threw = false;
    {
      const OrvTest::TFailingAllocationScope failing(allowance);
      try {
        const TFileEnumerationEntry copy(*tree.root);
      } catch (const std::bad_alloc&) {
        threw = true;
      }
    }
    EXPECT_EQ(tree.Counts(), before) << "allowance " << allowance;
    if (!threw) {
      EXPECT_EQ(allowance, 3);
      break;
    }
    ASSERT_LT(allowance, 3);
  }
}

TEST_F(FileEnumerationEntry, GrowthMovesEntriesWithTheirSubtrees) {
  TTree tree;
  const std::vector<std::uint32_t> before = tree.Counts();
  TFileEnumerationEntry::TChildren& children = tree.root->GetChildren();
  const TFileEnumerationEntry* subtree = children[0].GetChildren().Data();
  for (std::uint32_t i = 0; i < 40; ++i) tree.Add(tree.root, 6);  // grows 4, 8, 16, ...
  ASSERT_EQ(children.GetSize(), 42u);
  EXPECT_EQ(children[0].GetChildren().Data(), subtree) << "a moved entry keeps its children's storage";
  EXPECT_EQ(children[0].GetChildren().GetSize(), 3u);
  EXPECT_EQ(children[1].GetChildren()[0].GetFileName(), tree.files[6]);
  EXPECT_EQ(NodeCount(tree.files[6]), before[tree.names.size() + 6] + 40);
  while (children.GetSize() > 2) children.PopBack();
  EXPECT_EQ(tree.Counts(), before);
}

TEST_F(FileEnumerationEntry, RootHoldsDeepCopiesOfItsEntries) {
  TTree tree;
  const std::vector<std::uint32_t> before = tree.Counts();
  {
    TFileEnumerationRoot root(tree.names[0]);
    EXPECT_EQ(root.GetEntries().GetSize(), 0u);
    EXPECT_EQ(root.GetEntries().GetCapacity(), 0u);
    root.AddEntry(*tree.root);
    root.AddEntry(tree.root->GetChildren()[1]);
    ASSERT_EQ(root.GetEntries().GetSize(), 2u);
    EXPECT_EQ(root.GetName().GetContent(), tree.names[0].GetContent());
    ExpectSameTree(root.GetEntries()[0], *tree.root);
    ExpectSameTree(root.GetEntries()[1], tree.root->GetChildren()[1]);
    // The copies are the root's own, storage included.
    EXPECT_NE(root.GetEntries()[0].GetChildren().Data(), tree.root->GetChildren().Data());

    const TFileEnumerationRoot copy(root);
    ASSERT_EQ(copy.GetEntries().GetSize(), 2u);
    EXPECT_EQ(copy.GetEntries().GetCapacity(), 2u);
    ExpectSameTree(copy.GetEntries()[0], root.GetEntries()[0]);
  }
  EXPECT_EQ(tree.Counts(), before);
}

}  // namespace
}  // namespace Orvan
