#include "core/objects/weak_observer_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "support/counted_objects_fixture.h"
#include "support/process_allocator_seam.h"

namespace {

using namespace Orvan;

using OrvTest::g_life;

// What happened, in order: notifications and deaths.
std::vector<std::string> g_log;

class TWatched : public RTTI::TWeakAndRefCountableWithVirtualDestructor {
 public:
  explicit TWatched(std::string name) : name_(std::move(name)) { ++g_life.constructed; }
  ~TWatched() override {
    ++g_life.destroyed;
    g_log.push_back(name_ + " destroyed");
  }

 private:
  std::string name_;
};

// Keeps its watched objects in the base's slots, empties a slot when its object dies, and lets go
// of the survivors when it goes itself.
class TTestWeakContainer : public TAbstractWeakContainer {
 public:
  explicit TTestWeakContainer(std::string name) : name_(std::move(name)) {}
  ~TTestWeakContainer() override {
    for (std::uint32_t i = 0; i < GetEntryCount(); ++i) {
      if (GetEntry(i) != nullptr) UnregisterWeakObserver(this, GetEntry(i), i);
    }
  }

  std::uint32_t Watch(const TWatched& object) { return AppendAndRegister(object.GetCountWord()); }
  // Stops watching the object of one slot, as a container that drops an item does.
  void Unwatch(std::uint32_t index) {
    UnregisterWeakObserver(this, GetEntry(index), index);
    RemoveAt(index);
  }

  void OnWeakObjectDestroyed(TCountWord* countWord, std::uint32_t index) override {
    g_log.push_back(name_ + " notified " + std::to_string(index));
    EXPECT_EQ(GetEntry(index), countWord);
    UnregisterWeakObserver(this, countWord, index);
    RemoveAt(index);
    if (replacement_ != nullptr) Watch(*std::exchange(replacement_, nullptr));
    if (onNotified) onNotified();
  }

  // Runs at the end of every notification.
  std::function<void()> onNotified;

  // The next notification watches this object instead.
  void SetReplacement(const TWatched* replacement) { replacement_ = replacement; }

 private:
  std::string name_;
  const TWatched* replacement_ = nullptr;
};

// Registers by hand, without slots.
class TBareContainer : public TAbstractWeakContainer {
 public:
  void OnWeakObjectDestroyed(TCountWord* countWord, std::uint32_t index) override {
    g_log.push_back("bare notified " + std::to_string(index));
    UnregisterWeakObserver(this, countWord, index);
  }
};

class WeakObserverRegistryTest : public OrvTest::CountedObjectsTest {
 protected:
  void SetUp() override {
    g_log.clear();
    ASSERT_NE(TWeakObserverRegistry::Get(), nullptr);
    ASSERT_EQ(Registry().GetEntryCount(), 0u);
    CountedObjectsTest::SetUp();
  }
  void TearDown() override {
    CountedObjectsTest::TearDown();
    ASSERT_NE(TWeakObserverRegistry::Get(), nullptr);
    EXPECT_EQ(Registry().GetEntryCount(), 0u);
  }

  static TWeakObserverRegistry& Registry() { return *TWeakObserverRegistry::Get(); }
  // Every object these tests watch has its counts in a block.
  static TAdditionalRefAndWeakCount* Block(const TWeakAndRefCountable& object) {
    EXPECT_FALSE(TWeakAndRefCountable::IsInline(Word(object)));
    return CountedObjectsTest::Block(object);
  }
  static std::uint32_t IndexOf(const TWeakAndRefCountable& object, TAbstractWeakContainer& container) {
    std::uint32_t index = 0xFFFFFFFFu;
    EXPECT_TRUE(Registry().FindIndex(object.GetCountWord(), &container, &index));
    return index;
  }
};

TEST_F(WeakObserverRegistryTest, WatcherIsNotifiedBeforeTheDeletingDestructor) {
  TTestWeakContainer container("c");
  TCountedPtr<TWatched> a(new TWatched("a"));
  TCountedPtr<TWatched> b(new TWatched("b"));
  EXPECT_EQ(container.Watch(*a), 0u);
  EXPECT_EQ(container.Watch(*b), 1u);
  EXPECT_EQ(container.GetRegistrationCount(), 2u);
  EXPECT_EQ(Block(*b)->refCount, 2u);
  EXPECT_EQ(Block(*b)->observerCount, 1u);
  EXPECT_EQ(Block(*b)->flags, TAdditionalRefAndWeakCount::kRegisteredFlag);

  b.Reset();
  EXPECT_EQ(g_log, (std::vector<std::string>{"c notified 1", "b destroyed"}));
  EXPECT_EQ(container.GetEntryCount(), 1u);
  EXPECT_EQ(container.GetRegistrationCount(), 1u);
  EXPECT_EQ(Registry().GetEntryCount(), 1u);
  EXPECT_EQ(IndexOf(*a, container), 0u);
}

TEST_F(WeakObserverRegistryTest, ObjectDestroyedWithoutHandlesStillNotifies) {
  TTestWeakContainer container("c");
  {
    TWatched local("local");
    container.Watch(local);
  }
  // The base part tells the watchers after the derived destructor has run.
  EXPECT_EQ(g_log, (std::vector<std::string>{"local destroyed", "c notified 0"}));
  EXPECT_EQ(container.GetEntryCount(), 0u);
  EXPECT_EQ(container.GetRegistrationCount(), 0u);
}

// A container that watches another object from its notification may get the block the dying
// object's block went back to the pool as; the dying object must not touch it afterwards.
TEST_F(WeakObserverRegistryTest, BlockFreedDuringNotificationIsNotTouchedByTheDyingObject) {
  TCountedPtr<TWatched> replacement(new TWatched("replacement"));
  TTestWeakContainer container("c");
  {
    TWatched local("local");
    container.Watch(local);
    container.SetReplacement(replacement.Get());
  }
  EXPECT_EQ(g_log, (std::vector<std::string>{"local destroyed", "c notified 0"}));
  EXPECT_EQ(container.GetEntry(0), replacement->GetCountWord());
  EXPECT_EQ(Block(*replacement)->flags, TAdditionalRefAndWeakCount::kRegisteredFlag);
  EXPECT_EQ(Block(*replacement)->observerCount, 1u);
  EXPECT_EQ(Block(*replacement)->refCount, 2u);
}

// Every container is told once, and the block that the last of them freed while unregistering is
// not freed again by the dying object (AddressSanitizer would see a double free).
TEST_F(WeakObserverRegistryTest, EveryContainerIsNotifiedOnceAndTheBlockFreedOnce) {
  auto first = std::make_unique<TTestWeakContainer>("first");
  auto second = std::make_unique<TTestWeakContainer>("second");
  TTestWeakContainer third("third");
  TCountedPtr<TWatched> other(new TWatched("other"));
  TCountedPtr<TWatched> watched(new TWatched("watched"));
  second->Watch(*other);
  for (TTestWeakContainer* container : {first.get(), second.get(), &third}) container->Watch(*watched);
  EXPECT_EQ(Block(*watched)->observerCount, 3u);

  watched.Reset();
  ASSERT_EQ(g_log.size(), 4u);
  EXPECT_EQ(g_log.back(), "watched destroyed");
  std::vector<std::string> notified(g_log.begin(), g_log.end() - 1);
  std::sort(notified.begin(), notified.end());
  EXPECT_EQ(notified, (std::vector<std::string>{"first notified 0", "second notified 1", "third notified 0"}));
  EXPECT_EQ(Registry().GetEntryCount(), 1u);
  EXPECT_EQ(second->GetEntryCount(), 1u);
  EXPECT_EQ(IndexOf(*other, *second), 0u);
}

TEST_F(WeakObserverRegistryTest, LastWatcherLeavingALivingObjectPutsTheCountBackInline) {
  TCountedPtr<TWatched> object(new TWatched("o"));
  TCountedPtr<TWatched> copy = object;
  {
    TTestWeakContainer container("c");
    container.Watch(*object);
    EXPECT_EQ(Block(*object)->refCount, 4u);
  }
  EXPECT_EQ(Word(*object), 5u);
  EXPECT_TRUE(g_log.empty());
}

// Every registration is an entry of its own, a second one of the same (object, container) pair
// too; Unregister erases the entry of its own slot only.
TEST_F(WeakObserverRegistryTest, EveryRegistrationIsAnEntryAndUnregisterErasesItsSlotOnly) {
  TCountedPtr<TWatched> object(new TWatched("o"));
  TBareContainer container;
  TBareContainer bystander;
  RegisterWeakObserver(&container, object->GetCountWord(), 3);
  RegisterWeakObserver(&container, object->GetCountWord(), 9);
  RegisterWeakObserver(&bystander, object->GetCountWord(), 5);
  EXPECT_EQ(IndexOf(*object, container), 3u);
  EXPECT_EQ(Registry().GetEntryCount(), 3u);
  EXPECT_EQ(container.GetRegistrationCount(), 2u);
  EXPECT_EQ(Block(*object)->observerCount, 3u);

  Registry().Unregister(&container, object->GetCountWord(), 9);
  EXPECT_EQ(IndexOf(*object, container), 3u);
  EXPECT_EQ(Registry().GetEntryCount(), 2u);
  EXPECT_EQ(container.GetRegistrationCount(), 1u);
  EXPECT_EQ(Block(*object)->observerCount, 2u);

  Registry().Unregister(&container, object->GetCountWord(), 3);
  std::uint32_t index = 0;
  EXPECT_FALSE(Registry().FindIndex(object->GetCountWord(), &container, &index));
  EXPECT_EQ(Registry().GetEntryCount(), 1u);
  EXPECT_EQ(container.GetRegistrationCount(), 0u);
  EXPECT_EQ(Block(*object)->observerCount, 1u);
  EXPECT_EQ(IndexOf(*object, bystander), 5u);

  UnregisterWeakObserver(&bystander, object->GetCountWord(), 5);
  EXPECT_EQ(Word(*object), 3u);
  EXPECT_EQ(Registry().GetEntryCount(), 0u);
}

// An object watched from two slots of one container is handed over once per slot when it dies,
// the higher slot first: no slot is left pointing at the dead object, and the entries that move
// into the freed slots keep their registry index right.
TEST_F(WeakObserverRegistryTest, AnObjectWatchedFromTwoSlotsLeavesBothWhenItDies) {
  TTestWeakContainer container("c");
  TCountedPtr<TWatched> first(new TWatched("first"));
  TCountedPtr<TWatched> twice(new TWatched("twice"));
  TCountedPtr<TWatched> last(new TWatched("last"));
  container.Watch(*first);
  container.Watch(*twice);
  container.Watch(*last);
  container.Watch(*twice);
  EXPECT_EQ(Block(*twice)->observerCount, 2u);
  // The second slot of `twice` moves from 3 into 0.
  first.Reset();
  ASSERT_EQ(container.GetEntryCount(), 3u);
  EXPECT_EQ(container.GetEntry(0), twice->GetCountWord());

  g_log.clear();
  twice.Reset();
  EXPECT_EQ(g_log, (std::vector<std::string>{"c notified 1", "c notified 0", "twice destroyed"}));
  ASSERT_EQ(container.GetEntryCount(), 1u);
  EXPECT_EQ(container.GetEntry(0), last->GetCountWord());
  EXPECT_EQ(IndexOf(*last, container), 0u);
  EXPECT_EQ(container.GetRegistrationCount(), 1u);
  EXPECT_EQ(Registry().GetEntryCount(), 1u);
}

// A container that drops one of two slots watching an object keeps the other: the object's death
// still reaches it there.
TEST_F(WeakObserverRegistryTest, DroppingOneOfTwoSlotsKeepsTheOtherWatching) {
  TTestWeakContainer container("c");
  TCountedPtr<TWatched> twice(new TWatched("twice"));
  container.Watch(*twice);
  container.Watch(*twice);
  container.Unwatch(1);
  ASSERT_EQ(container.GetEntryCount(), 1u);
  EXPECT_EQ(container.GetRegistrationCount(), 1u);
  EXPECT_EQ(Registry().GetEntryCount(), 1u);
  EXPECT_EQ(IndexOf(*twice, container), 0u);
  EXPECT_EQ(Block(*twice)->observerCount, 1u);

  twice.Reset();
  EXPECT_EQ(g_log, (std::vector<std::string>{"c notified 0", "twice destroyed"}));
  EXPECT_EQ(container.GetEntryCount(), 0u);
  EXPECT_EQ(container.GetRegistrationCount(), 0u);
}

// Two containers watch one object and the first one told of its death deletes the other, whose
// registration is still waiting for its notice: the deleted container takes it off as it goes and
// is never called.
TEST_F(WeakObserverRegistryTest, AContainerDeletedByAnotherOnesNoticeIsNotCalled) {
  auto first = std::make_unique<TTestWeakContainer>("first");
  auto second = std::make_unique<TTestWeakContainer>("second");
  TCountedPtr<TWatched> other(new TWatched("other"));
  TCountedPtr<TWatched> watched(new TWatched("watched"));
  first->Watch(*other);
  first->Watch(*watched);
  second->Watch(*watched);
  second->Watch(*other);
  // Whichever is told first deletes the other.
  first->onNotified = [&] { second.reset(); };
  second->onNotified = [&] { first.reset(); };

  watched.Reset();
  ASSERT_EQ(g_log.size(), 2u);
  EXPECT_TRUE(g_log[0] == "first notified 1" || g_log[0] == "second notified 0") << g_log[0];
  EXPECT_EQ(g_log[1], "watched destroyed");
  EXPECT_TRUE((first == nullptr) != (second == nullptr));
  TTestWeakContainer& survivor = first != nullptr ? *first : *second;
  ASSERT_EQ(survivor.GetEntryCount(), 1u);
  EXPECT_EQ(survivor.GetEntry(0), other->GetCountWord());
  EXPECT_EQ(IndexOf(*other, survivor), 0u);
  EXPECT_EQ(Registry().GetEntryCount(), 1u);
  EXPECT_EQ(Block(*other)->observerCount, 1u);
}

// Objects that die during an iteration leave holes; the other entries keep their slots (and
// registry indices) until the outermost iteration ends, which packs the survivors to the front.
struct TRemovalCase {
  std::vector<std::uint32_t> removed;  // slots of the objects that die, in order
};

std::ostream& operator<<(std::ostream& out, const TRemovalCase& removal) {
  out << "{";
  for (std::uint32_t slot : removal.removed) out << slot << " ";
  return out << "}";
}

class WeakContainerIterationTest : public WeakObserverRegistryTest,
                                   public ::testing::WithParamInterface<TRemovalCase> {};

TEST_P(WeakContainerIterationTest, RemovalDuringNestedIterationKeepsIndicesUntilTheEnd) {
  constexpr std::uint32_t kCount = 5;
  TTestWeakContainer container("c");
  std::vector<TCountedPtr<TWatched>> objects;
  for (std::uint32_t i = 0; i < kCount; ++i) {
    objects.emplace_back(new TWatched("o" + std::to_string(i)));
    ASSERT_EQ(container.Watch(*objects.back()), i);
  }
  std::vector<TCountWord*> words;
  for (const auto& object : objects) words.push_back(object->GetCountWord());

  const std::vector<std::uint32_t>& removed = GetParam().removed;
  auto survives = [&](std::uint32_t slot) { return std::find(removed.begin(), removed.end(), slot) == removed.end(); };
  {
    TAbstractWeakContainer::TIterationScope outer(container);
    {
      TAbstractWeakContainer::TIterationScope inner(container);
      for (std::uint32_t slot : removed) objects[slot].Reset();
    }
    EXPECT_EQ(container.GetIterationDepth(), 1u);
    EXPECT_EQ(container.GetEntryCount(), kCount);
    EXPECT_EQ(container.IsCompactionPending(), !removed.empty());
    for (std::uint32_t slot = 0; slot < kCount; ++slot) {
      if (survives(slot)) {
        EXPECT_EQ(container.GetEntry(slot), words[slot]) << slot;
        EXPECT_EQ(IndexOf(*objects[slot], container), slot);
      } else {
        EXPECT_EQ(container.GetEntry(slot), nullptr) << slot;
      }
    }
  }

  EXPECT_FALSE(container.IsCompactionPending());
  const std::uint32_t survivors = kCount - static_cast<std::uint32_t>(removed.size());
  ASSERT_EQ(container.GetEntryCount(), survivors);
  std::vector<TCountWord*> packed;
  for (std::uint32_t slot = 0; slot < survivors; ++slot) {
    TCountWord* word = container.GetEntry(slot);
    ASSERT_NE(word, nullptr) << slot;
    packed.push_back(word);
    std::uint32_t index = 0xFFFFFFFFu;
    EXPECT_TRUE(Registry().FindIndex(word, &container, &index));
    EXPECT_EQ(index, slot);
  }
  std::vector<TCountWord*> expected;
  for (std::uint32_t slot = 0; slot < kCount; ++slot) {
    if (survives(slot)) expected.push_back(words[slot]);
  }
  std::sort(packed.begin(), packed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(packed, expected);
  EXPECT_EQ(container.GetRegistrationCount(), survivors);
}

INSTANTIATE_TEST_SUITE_P(RemovalSets, WeakContainerIterationTest,
                         ::testing::Values(TRemovalCase{{}}, TRemovalCase{{0}}, TRemovalCase{{4}},
                                           TRemovalCase{{1, 3}}, TRemovalCase{{0, 2, 4}}, TRemovalCase{{3, 4}},
                                           TRemovalCase{{4, 0, 1}}, TRemovalCase{{0, 1, 2, 3, 4}}));

TEST_F(WeakObserverRegistryTest, RemovalOutsideIterationMovesTheLastEntryIntoTheHole) {
  TTestWeakContainer container("c");
  std::vector<TCountedPtr<TWatched>> objects;
  for (int i = 0; i < 4; ++i) {
    objects.emplace_back(new TWatched("o" + std::to_string(i)));
    container.Watch(*objects.back());
  }
  objects[1].Reset();
  ASSERT_EQ(container.GetEntryCount(), 3u);
  EXPECT_EQ(container.GetEntry(1), objects[3]->GetCountWord());
  EXPECT_EQ(IndexOf(*objects[3], container), 1u);
  objects[2].Reset();  // its entry is in the last slot now: nothing moves
  ASSERT_EQ(container.GetEntryCount(), 2u);
  EXPECT_EQ(container.GetEntry(0), objects[0]->GetCountWord());
  EXPECT_EQ(container.GetEntry(1), objects[3]->GetCountWord());
  EXPECT_EQ(IndexOf(*objects[3], container), 1u);
}

// Teardown drops the entries without telling anybody or touching any object; a second teardown,
// or one with no registry, only leaves the pointer null.
TEST_F(WeakObserverRegistryTest, DestroyDropsEntriesSilentlyAndIsRepeatable) {
  TCountedPtr<TWatched> object(new TWatched("o"));
  TBareContainer container;
  RegisterWeakObserver(&container, object->GetCountWord(), 7);
  const TCountWord word = Word(*object);

  TWeakObserverRegistry::Destroy();
  EXPECT_EQ(TWeakObserverRegistry::Get(), nullptr);
  EXPECT_TRUE(g_log.empty());
  EXPECT_EQ(Word(*object), word);
  EXPECT_EQ(Block(*object)->observerCount, 1u);
  EXPECT_EQ(container.GetRegistrationCount(), 1u);
  TWeakObserverRegistry::Destroy();
  EXPECT_EQ(TWeakObserverRegistry::Get(), nullptr);

  TWeakObserverRegistry::Create();
  ASSERT_NE(TWeakObserverRegistry::Get(), nullptr);
  EXPECT_EQ(Registry().GetEntryCount(), 0u);
  // The lost entry is not there to erase; the counts still go down.
  Registry().Unregister(&container, object->GetCountWord(), 7);
  EXPECT_EQ(container.GetRegistrationCount(), 0u);
  EXPECT_EQ(Word(*object), 3u);
}

// Erased and destroyed nodes go back to the node pool, so a new registry of the same size takes
// nothing from the process allocator.
TEST_F(WeakObserverRegistryTest, NodesAreRecycledThroughTheNodePool) {
  constexpr std::uint32_t kEntries = 100;
  std::vector<TCountWord> fakeWords(kEntries, kFreshCountWord);
  TBareContainer container;
  for (std::uint32_t i = 0; i < kEntries; ++i) Registry().Insert(&fakeWords[i], &container, i);
  ASSERT_EQ(Registry().GetEntryCount(), kEntries);
  TWeakObserverRegistry::Destroy();
  TWeakObserverRegistry::Create();

  OrvTest::InstallSeam();
  for (std::uint32_t i = 0; i < kEntries; ++i) Registry().Insert(&fakeWords[i], &container, i);
  OrvTest::RestoreSeam();
  EXPECT_EQ(Registry().GetEntryCount(), kEntries);
  EXPECT_EQ(OrvTest::g_seam.allocations, 0);
  // Nothing was registered through the container: drop the entries with the registry.
  TWeakObserverRegistry::Destroy();
  TWeakObserverRegistry::Create();
}

}  // namespace
