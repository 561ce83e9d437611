// The file-name tree: node life seen through the pools, the children map's two forms, teardown with
// surviving names, and many threads creating and dropping the same nodes.
#include "core/filesystem/file_name_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core/filesystem/file_name.h"
#include "support/file_name_registries.h"
#include "support/threads_together.h"

namespace Orvan {
namespace {

using FileNameTree = OrvTest::TFreshFileNameRegistries;

TPoolStatistics Statistics(const TUntypedPoolAllocationNoLock& pool) {
  TFileNameRegistry& registry = *TFileNameRegistry::Get();
  TMutexLocker lock(registry.GetMutex());
  TPoolStatistics statistics{};
  pool.GetStatistics(&statistics);
  return statistics;
}

std::uint32_t UsedNodes() { return Statistics(TFileNameRegistry::Get()->GetNodePool()).used; }
std::uint32_t UsedMaps() { return Statistics(TFileNameRegistry::Get()->GetSonsPool()).used; }

std::uintptr_t ChildrenTag(const TFileName& name) { return name.GetNode()->children & TPathNode::kTagMask; }

TEST_F(FileNameTree, RegistryStartsWithTheRootAndDotDot) {
  TFileNameRegistry& registry = *TFileNameRegistry::Get();
  EXPECT_EQ(UsedNodes(), 1u);
  EXPECT_EQ(registry.GetRoot()->count.load(), 1u);
  EXPECT_EQ(registry.GetRoot()->parent, nullptr);
  EXPECT_EQ(registry.GetDotDotId(), 0u);
  EXPECT_EQ(registry.InternComponentName(TOrvString<char>("..")), 0u);
  // Ids in order of first use, names compared without regard to case.
  EXPECT_EQ(registry.InternComponentName(TOrvString<char>("Textures")), 1u);
  EXPECT_EQ(registry.InternComponentName(TOrvString<char>("TEXTURES")), 1u);
  EXPECT_EQ(registry.InternComponentName(TOrvString<char>("")), 2u);
  EXPECT_EQ(registry.GetComponentName(1), "Textures");
  const char models[] = "Models/x";
  EXPECT_EQ(registry.InternComponentName(TCharRange<char>{models, models + 6}), 3u);
  EXPECT_EQ(registry.FindComponentId(TOrvString<char>("models")), 3u);
  EXPECT_EQ(registry.FindComponentId(TOrvString<char>("absent")), kNoComponentId);
  // Names with bytes above 0x7F fold only their ASCII letters.
  EXPECT_NE(registry.InternComponentName(TOrvString<char>("\xC3\x89t\xC3\xA9")),
            registry.InternComponentName(TOrvString<char>("\xC3\xA9T\xC3\xA9")));
  std::uint32_t ids[] = {1, 3, 0};
  char buffer[64];
  EXPECT_EQ(registry.JoinComponentsIntoBuffer(ids, ids + 3, '\\', buffer, sizeof(buffer)), 18u);
  EXPECT_STREQ(buffer, "Textures\\Models\\..");
  EXPECT_EQ(registry.JoinComponentsIntoBuffer(ids, ids + 3, '\\', buffer, 10), 9u);
  EXPECT_STREQ(buffer, "Textures\\");
  EXPECT_EQ(registry.JoinComponentsIntoBuffer(ids, ids, '\\', buffer, sizeof(buffer)), 0u);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(registry.JoinComponentRange(ids, ids + 3, '/'), "Textures/Models/..");
  EXPECT_TRUE(registry.JoinComponentRange(ids, ids, '/').IsEmpty());

  // A children map is 112 bytes on this host, so its first chunk holds 146 rather than 512.
  ASSERT_EQ(registry.GetNodePool().GetChunkCount(), 1u);
  EXPECT_EQ(registry.GetNodePool().GetChunk(0).elementCount, 512u);
  const TFileName first("r1"), second("r2");
  ASSERT_EQ(registry.GetSonsPool().GetChunkCount(), 1u);
  EXPECT_EQ(registry.GetSonsPool().GetChunk(0).elementCount, 146u);
}

TEST_F(FileNameTree, TheLastNameOfAPathFreesItsNodesFromTheLeafUp) {
  const std::uint32_t baseline = UsedNodes();
  auto abc = std::make_unique<TFileName>("a/b/c");
  TPathNode* c = abc->GetNode();
  TPathNode* b = c->parent;
  TPathNode* a = b->parent;
  EXPECT_EQ(UsedNodes(), baseline + 3);
  abc.reset();
  EXPECT_EQ(UsedNodes(), baseline);
  // The pool hands back the last freed first: c, b, a were freed in that order when x, y, z take
  // the places of a, b, c.
  const TFileName xyz("x/y/z");
  EXPECT_EQ(xyz.GetNode(), c);
  EXPECT_EQ(xyz.GetNode()->parent, b);
  EXPECT_EQ(xyz.GetNode()->parent->parent, a);
  // A later a gets a node of its own again.
  const TFileName again("a");
  EXPECT_EQ(UsedNodes(), baseline + 4);
  EXPECT_EQ(again.GetComponentCount(), 1u);
}

TEST_F(FileNameTree, AHeldParentKeepsItsNodesWhenTheLeafDies) {
  const TFileName ab("a/b");
  const std::uint32_t baseline = UsedNodes();
  TPathNode* c;
  {
    const TFileName abc("a/b/c");
    c = abc.GetNode();
    EXPECT_EQ(abc.GetNode()->parent, ab.GetNode());
    EXPECT_EQ(ab.GetNode()->count.load(), 2u);  // the name and its child
    EXPECT_EQ(UsedNodes(), baseline + 1);
  }
  EXPECT_EQ(UsedNodes(), baseline);
  EXPECT_EQ(ab.GetNode()->count.load(), 1u);
  EXPECT_EQ(ChildrenTag(ab), TPathNode::kNoChildren);
  EXPECT_EQ(TFileName("a/b/c").GetNode(), c);
}

TEST_F(FileNameTree, ChildrenGoFromOneToAMapAndBack) {
  const TFileName parent("p");
  const std::uint32_t baseMaps = UsedMaps();
  std::vector<std::unique_ptr<TFileName>> children;
  for (int i = 0; i < 5; ++i) {
    children.push_back(std::make_unique<TFileName>(("p/c" + std::to_string(i)).c_str()));
    const std::uintptr_t expected = i == 0 ? TPathNode::kOneChild : TPathNode::kChildMap;
    EXPECT_EQ(ChildrenTag(parent), expected) << i + 1 << " children";
  }
  const auto* sons = reinterpret_cast<const TPathNode::TSons*>(parent.GetNode()->children & ~TPathNode::kTagMask);
  EXPECT_EQ(sons->Count(), 5u);
  EXPECT_EQ(sons->Capacity(), 8u);
  const auto* inlineStart = reinterpret_cast<const unsigned char*>(sons);
  const auto* storage = static_cast<const unsigned char*>(sons->Storage());
  EXPECT_FALSE(storage >= inlineStart && storage < inlineStart + sizeof(TPathNode::TSons)) << "a heap block";
  EXPECT_EQ(UsedMaps(), baseMaps + 1);
  EXPECT_EQ(parent.GetNode()->count.load(), 6u);

  // Every child is found again through the map.
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(TFileName(("P/C" + std::to_string(i)).c_str()).GetNode(), children[i]->GetNode());
  }
  // Down to one child: the one-child form, the map back in its pool.
  for (int i = 0; i < 4; ++i) children[i].reset();
  EXPECT_EQ(ChildrenTag(parent), TPathNode::kOneChild);
  EXPECT_EQ(reinterpret_cast<TPathNode*>(parent.GetNode()->children & ~TPathNode::kTagMask), children[4]->GetNode());
  EXPECT_EQ(UsedMaps(), baseMaps);
  children[4].reset();
  EXPECT_EQ(ChildrenTag(parent), TPathNode::kNoChildren);
  EXPECT_EQ(parent.GetNode()->count.load(), 1u);
}

TEST_F(FileNameTree, NamesOutlivingTheRegistryAreLeftAlone) {
  auto survivor = std::make_unique<TFileName>("kept/a/b");
  std::vector<std::unique_ptr<TFileName>> children;
  for (int i = 0; i < 6; ++i) children.push_back(std::make_unique<TFileName>(("kept/" + std::to_string(i)).c_str()));
  DestroyFileExtensionRegistry();
  TFileNameRegistry::Destroy();
  EXPECT_EQ(TFileNameRegistry::Get(), nullptr);
  // Their nodes went with the registry's chunks (the sanitizers see any use or leak); destroying
  // the names now does nothing.
  survivor.reset();
  children.clear();
  TFileNameRegistry::Create();
  TFileExtensionRegistry::Create();
  EXPECT_EQ(UsedNodes(), 1u);
}

TEST_F(FileNameTree, DestroyingTwiceOrWithoutNamesIsHarmless) {
  DestroyFileExtensionRegistry();
  TFileNameRegistry::Destroy();
  TFileNameRegistry::Destroy();
  DestroyFileExtensionRegistry();
  TFileNameRegistry::Create();
  TFileExtensionRegistry::Create();
  EXPECT_NE(TFileNameRegistry::Get(), nullptr);
}

TEST(FileNameTreeThreaded, ThreadsCreatingAndDroppingTheSameNodesAgree) {
  OrvTest::RecreateFileNameRegistries();
  const std::uint32_t baseline = UsedNodes();
  constexpr int kThreads = 8;
  constexpr int kRounds = 400;
  std::atomic<int> mismatches{0};
  OrvTest::RunOnThreadsTogether(kThreads, [&](int index) {
    const std::string own = "Shared/t" + std::to_string(index) + "/leaf";
    for (int round = 0; round < kRounds; ++round) {
      // The same path on every thread, so nodes die while others look them up.
      TFileName shared("Shared/common/leaf");
      TFileName sibling(own.c_str());
      TFileName copy(shared);
      if (copy.GetParent() != TFileName("shared/COMMON")) mismatches.fetch_add(1);
      if (sibling.GetComponentCount() != 3) mismatches.fetch_add(1);
      if ((round & 7) == 0) sibling.AppendToLastComponent(".tmp");
    }
  });
  EXPECT_EQ(mismatches.load(), 0);
  EXPECT_EQ(UsedNodes(), baseline);
  EXPECT_EQ(TFileNameRegistry::Get()->GetRoot()->count.load(), 1u);
  OrvTest::RestoreStartupFileNameRegistries();
}

}  // namespace
}  // namespace Orvan
