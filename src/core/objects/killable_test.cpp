#include "core/objects/killable.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/memory/thread_local_heap.h"
#include "core/objects/killable_container_list.h"
#include "core/objects/killable_list.h"
#include "core/objects/killable_ptr.h"

namespace {

using namespace Orvan;

// What happened, in order: notifications, cleanings and deaths.
std::vector<std::string> g_events;
int g_alive = 0;

class TUnit : public TKillable {
 public:
  explicit TUnit(std::string name, TKillableCleaner* cleaner = nullptr) : TKillable(cleaner), name_(std::move(name)) {
    ++g_alive;
  }
  TUnit(const TUnit& other) : TKillable(other), name_(other.name_ + " copy") { ++g_alive; }
  ~TUnit() override {
    --g_alive;
    g_events.push_back(name_ + " deleted");
    if (onDeath) onDeath();
  }
  const std::string& Name() const { return name_; }
  std::function<void()> onDeath;

 private:
  std::string name_;
};

std::string NameOf(TKillable* killable) { return static_cast<TUnit*>(killable)->Name(); }

// A list or pointer that records its notifications and runs an action from inside them.
template <typename TContainer>
class TRecording : public TContainer {
 public:
  template <typename... TArgs>
  explicit TRecording(std::string name, TArgs&&... args) : TContainer(std::forward<TArgs>(args)...), name_(std::move(name)) {}
  void OnKilled(TKillable* killable) override {
    g_events.push_back(name_ + " notified of " + NameOf(killable));
    if (onKilled) onKilled(killable);
  }
  std::function<void(TKillable*)> onKilled;

 private:
  std::string name_;
};

using TRecordingList = TRecording<TAbstractKillableList>;
using TRecordingPtr = TRecording<TKillablePtr<TUnit>>;

class TRecordingCleaner final : public TKillableCleaner {
 public:
  void Clean(TKillable* object) override { g_events.push_back("cleaned " + NameOf(object)); }
};

std::vector<std::string> ItemNames(const TAbstractKillableList& list) {
  std::vector<std::string> names;
  for (std::uint32_t i = 0; i < list.GetSize(); ++i) names.push_back(NameOf(list.GetItem(i)));
  return names;
}

using Events = std::vector<std::string>;

// Every test ends with its units gone, no watcher parked in the thread's container list, and
// every block it took from the thread heap given back.
class KillableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_events.clear();
    g_alive = 0;
    heapBlocks_ = GetThreadLocalHeap()->GetLiveCount();
  }
  void TearDown() override {
    EXPECT_EQ(g_alive, 0) << "a unit was leaked";
    if (TKillableContainerList* list = FindKillableContainerList()) {
      EXPECT_EQ(list->GetSize(), 0u);
    }
    EXPECT_EQ(GetThreadLocalHeap()->GetLiveCount(), heapBlocks_);
  }

 private:
  std::uint32_t heapBlocks_ = 0;
};

TEST_F(KillableTest, AnUnwatchedObjectIsMarkedAndCleanedAtOnce) {
  TKillableCleanerDoNothing keep;
  auto* kept = new TUnit("kept", &keep);
  kept->Kill();
  EXPECT_FALSE(kept->IsAlive());
  EXPECT_TRUE(kept->IsKilled());
  EXPECT_TRUE(kept->IsKillStarted());
  EXPECT_EQ(g_events, Events{});  // left to its owner
  delete kept;

  TKillableCleanerDirectDelete direct;
  (new TUnit("direct", &direct))->Kill();
  EXPECT_EQ(g_events, (Events{"kept deleted", "direct deleted"}));

  TKillableCleanerDelayDelete delayed;
  (new TUnit("delayed", &delayed))->Kill();
  EXPECT_EQ(delayed.GetWaitingCount(), 1u);
  EXPECT_EQ(g_alive, 1);
  delayed.Flush();
  EXPECT_EQ(delayed.GetWaitingCount(), 0u);
  EXPECT_EQ(g_events.back(), "delayed deleted");
}

TEST_F(KillableTest, CleanerWordKeepsTheFlagsAcrossSetCleanerAndNotAcrossACopy) {
  TKillableCleanerDirectDelete direct;
  TUnit unit("unit");
  EXPECT_EQ(unit.GetCleaner(), GetDefaultKillableCleaner());
  EXPECT_TRUE(unit.IsAlive());
  unit.MarkKillStarted();
  unit.SetCleaner(&direct);
  EXPECT_EQ(unit.GetCleaner(), &direct);
  EXPECT_TRUE(unit.IsKillStarted());
  unit.SetCleaner(nullptr);
  EXPECT_EQ(unit.GetCleaner(), GetDefaultKillableCleaner());
  EXPECT_TRUE(unit.IsKillStarted());

  unit.SetCleaner(&direct);
  TRecordingList list("list");
  list.Add(&unit);
  TUnit copy(unit);
  EXPECT_EQ(copy.GetCleaner(), &direct);
  EXPECT_TRUE(copy.IsAlive());
  EXPECT_EQ(copy.GetWatcherCount(), 0u);
  list.Clear();
}

// Every watcher has forgotten the object before the first notification; the notifications follow
// in registration order, then the object is marked and cleaned.
TEST_F(KillableTest, KillMakesEveryWatcherForgetThenNotifiesInOrderThenCleans) {
  TRecordingCleaner cleaner;
  TUnit unit("u", &cleaner);
  TUnit other("o");
  TRecordingList first("first");
  TRecordingPtr pointer("pointer");
  TRecordingList second("second");
  first.Add(&other);
  first.Add(&unit);
  pointer.Set(&unit);
  second.Add(&unit);
  ASSERT_EQ(unit.GetWatcherCount(), 3u);

  int checked = 0;
  auto checkForgotten = [&](TKillable* killable) {
    EXPECT_EQ(ItemNames(first), Events{"o"});
    EXPECT_EQ(second.GetSize(), 0u);
    EXPECT_EQ(pointer.Get(), nullptr);
    EXPECT_TRUE(killable->IsKillStarted());
    EXPECT_FALSE(killable->IsKilled());
    ++checked;
  };
  first.onKilled = checkForgotten;
  pointer.onKilled = checkForgotten;
  second.onKilled = checkForgotten;

  unit.Kill();
  EXPECT_EQ(checked, 3);
  EXPECT_EQ(g_events, (Events{"first notified of u", "pointer notified of u", "second notified of u", "cleaned u"}));
  EXPECT_TRUE(unit.IsKilled());
  EXPECT_EQ(unit.GetWatcherCount(), 0u);
  EXPECT_EQ(other.GetWatcherCount(), 1u);
}

TEST_F(KillableTest, AScopedPointerKillsItsTargetAPlainOneOnlyStopsWatching) {
  TKillableCleanerDirectDelete direct;
  auto* plainTarget = new TUnit("plain", &direct);
  auto* scopedTarget = new TUnit("scoped", &direct);
  TRecordingList watcher("watcher");
  watcher.Add(scopedTarget);
  {
    TKillablePtr<TUnit> plain(plainTarget);
    TScopedKillablePtr scoped(scopedTarget);
    EXPECT_EQ(plainTarget->GetWatcherCount(), 1u);
  }
  EXPECT_EQ(g_events, (Events{"watcher notified of scoped", "scoped deleted"}));
  EXPECT_TRUE(plainTarget->IsAlive());
  EXPECT_EQ(plainTarget->GetWatcherCount(), 0u);
  plainTarget->Kill();
  EXPECT_EQ(g_events.back(), "plain deleted");

  // A scoped pointer whose target was killed meanwhile holds nothing when it goes.
  auto* early = new TUnit("early", &direct);
  {
    TScopedKillablePtr scoped(early);
    early->Kill();
    EXPECT_EQ(scoped.Get(), nullptr);
  }
  EXPECT_EQ(g_events.back(), "early deleted");
}

TEST_F(KillableTest, PointerCopiesAndAssignmentsWatchInTheirOwnRight) {
  TKillableCleanerDirectDelete direct;
  auto* a = new TUnit("a", &direct);
  auto* b = new TUnit("b", &direct);
  TKillablePtr<TUnit> original(a);
  TKillablePtr<TUnit> copy(original);
  TKillablePtr<TUnit> assigned(b);
  assigned = original;
  EXPECT_EQ(a->GetWatcherCount(), 3u);
  EXPECT_EQ(b->GetWatcherCount(), 0u);
  assigned = assigned;
  EXPECT_EQ(a->GetWatcherCount(), 3u);

  a->Kill();  // under ASan a copy holding `a` unregistered would read freed memory below
  EXPECT_EQ(original.Get(), nullptr);
  EXPECT_EQ(copy.Get(), nullptr);
  EXPECT_EQ(assigned.Get(), nullptr);
  copy = b;
  EXPECT_EQ(copy->Name(), "b");
  b->Kill();
  EXPECT_FALSE(copy);
}

// An iteration goes on with the item that followed a killed one; its current item reads null.
// Kills of items behind it and ahead of it keep it on course.
TEST_F(KillableTest, IterationGoesOnAfterItsCurrentItemIsKilled) {
  TKillableCleanerDirectDelete direct;
  TRecordingList list("list");
  std::vector<TUnit*> units;
  for (const char* name : {"a", "b", "c", "d", "e"}) {
    units.push_back(new TUnit(name, &direct));
    list.Add(units.back());
  }
  TUnit* d = units[3];
  std::vector<std::string> visited;
  for (TAbstractKillableList::TIterator it(list); it.Next();) {
    const std::string name = NameOf(it.GetCurrent());
    visited.push_back(name);
    if (name == "b") {
      it.GetCurrent()->Kill();
      EXPECT_EQ(it.GetCurrent(), nullptr);
    } else if (name == "c") {
      units[0]->Kill();  // behind the iteration
      EXPECT_EQ(NameOf(it.GetCurrent()), "c");
      d->Kill();  // ahead of it: never visited
    }
  }
  EXPECT_EQ(visited, (Events{"a", "b", "c", "e"}));
  EXPECT_EQ(ItemNames(list), (Events{"c", "e"}));
  list.Clear();
  units[2]->Kill();
  units[4]->Kill();
}

// The first iterator is the main one; when it ends while others run, one of them takes its place,
// and removals and clears still reach every running iterator.
TEST_F(KillableTest, RemovalsReachEveryRunningIteratorAfterTheMainOneEnded) {
  TKillableCleanerDirectDelete direct;
  TRecordingList list("list");
  std::vector<TUnit*> units;
  for (const char* name : {"a", "b", "c", "d"}) {
    units.push_back(new TUnit(name, &direct));
    list.Add(units.back());
  }
  auto* first = new TAbstractKillableList::TIterator(list);
  TAbstractKillableList::TIterator second(list);
  TAbstractKillableList::TIterator third(list);
  ASSERT_TRUE(first->Next());
  ASSERT_TRUE(second.Next());
  ASSERT_TRUE(second.Next());  // on b
  ASSERT_TRUE(third.Next());   // on a
  delete first;

  units[1]->Kill();
  EXPECT_EQ(second.GetCurrent(), nullptr);
  ASSERT_TRUE(second.Next());
  EXPECT_EQ(NameOf(second.GetCurrent()), "c");
  units[0]->Kill();
  EXPECT_EQ(third.GetCurrent(), nullptr);
  ASSERT_TRUE(third.Next());
  EXPECT_EQ(NameOf(third.GetCurrent()), "c");

  {
    // One more iterator joins after the main place changed hands, then ends first.
    TAbstractKillableList::TIterator fourth(list);
  }
  list.Clear();
  EXPECT_EQ(second.GetCurrent(), nullptr);
  EXPECT_FALSE(third.Next());
  EXPECT_EQ(units[2]->GetWatcherCount(), 0u);
  list.Add(units[3]);
  ASSERT_TRUE(second.Next());  // started again from the front
  EXPECT_EQ(NameOf(second.GetCurrent()), "d");
  list.Clear();
  units[2]->Kill();
  units[3]->Kill();
}

TEST_F(KillableTest, AnIteratorOutlivingItsListFindsNoMoreItems) {
  TUnit unit("u");
  auto* list = new TRecordingList("list");
  list->Add(&unit);
  TAbstractKillableList::TIterator it(*list);
  ASSERT_TRUE(it.Next());
  delete list;
  EXPECT_EQ(unit.GetWatcherCount(), 0u);
  EXPECT_FALSE(it.Next());
  EXPECT_EQ(it.GetCurrent(), nullptr);
}

TEST_F(KillableTest, AListHoldingOneItemTwiceForgetsBothAndIsNotifiedForEach) {
  TRecordingCleaner cleaner;
  TUnit twice("twice", &cleaner);
  TUnit other("other");
  TRecordingList list("list");
  list.Add(&twice);
  list.Add(&other);
  list.Add(&twice);
  EXPECT_EQ(twice.GetWatcherCount(), 2u);
  twice.Kill();
  EXPECT_EQ(ItemNames(list), Events{"other"});
  EXPECT_EQ(g_events, (Events{"list notified of twice", "list notified of twice", "cleaned twice"}));

  TUnit again("again");
  list.Add(&again);
  list.Add(&again);
  list.Clear();
  EXPECT_EQ(again.GetWatcherCount(), 0u);
  EXPECT_EQ(other.GetWatcherCount(), 0u);
}

TEST_F(KillableTest, AContainerDestroyedDuringTheKillIsNotNotified) {
  TRecordingCleaner cleaner;
  TUnit unit("u", &cleaner);
  TRecordingList first("first");
  auto* doomedPointer = new TRecordingPtr("doomed pointer", &unit);
  auto* doomedList = new TRecordingList("doomed list");
  TRecordingPtr last("last", &unit);
  first.Add(&unit);
  doomedList->Add(&unit);
  // Registration order: doomed pointer, last, first, doomed list; the last-registered but one
  // ends both doomed containers.
  first.onKilled = [&](TKillable*) {
    delete doomedPointer;
    delete doomedList;
  };
  unit.Kill();
  EXPECT_EQ(g_events, (Events{"doomed pointer notified of u", "last notified of u", "first notified of u", "cleaned u"}));
}

TEST_F(KillableTest, ASecondKillOrOneFromInsideANotificationCleansOnce) {
  TKillableCleanerDelayDelete delayed;
  auto* twice = new TUnit("twice", &delayed);
  twice->Kill();
  twice->Kill();
  EXPECT_EQ(delayed.GetWaitingCount(), 1u);

  auto* reentered = new TUnit("reentered", &delayed);
  TRecordingList list("list");
  list.Add(reentered);
  list.onKilled = [](TKillable* killable) { killable->Kill(); };
  reentered->Kill();
  EXPECT_EQ(delayed.GetWaitingCount(), 2u);
  delayed.Flush();  // under ASan a double queueing shows as a double delete
  EXPECT_EQ(g_events, (Events{"list notified of reentered", "twice deleted", "reentered deleted"}));

  // A direct-delete cleaner would otherwise delete the object under the running kill.
  TKillableCleanerDirectDelete direct;
  auto* direct1 = new TUnit("direct", &direct);
  TRecordingPtr pointer("pointer", direct1);
  pointer.onKilled = [](TKillable* killable) { killable->Kill(); };
  direct1->Kill();
  EXPECT_EQ(g_events.back(), "direct deleted");
}

// Marking the kill started is a flag for others to read, not a kill: the kill that follows runs
// in full, with or without watchers.
TEST_F(KillableTest, AKillAfterMarkKillStartedRunsInFull) {
  TRecordingCleaner cleaner;
  TUnit watched("watched", &cleaner);
  TUnit unwatched("unwatched", &cleaner);
  TRecordingList list("list");
  TRecordingPtr pointer("pointer", &watched);
  list.Add(&watched);
  for (TUnit* unit : {&watched, &unwatched}) {
    unit->MarkKillStarted();
    EXPECT_FALSE(unit->IsAlive());
    EXPECT_TRUE(unit->IsKillStarted());
    EXPECT_FALSE(unit->IsKilled());
    unit->Kill();
    EXPECT_TRUE(unit->IsKilled());
  }
  EXPECT_EQ(g_events, (Events{"pointer notified of watched", "list notified of watched", "cleaned watched",
                              "cleaned unwatched"}));
  EXPECT_EQ(list.GetSize(), 0u);
  EXPECT_EQ(pointer.Get(), nullptr);
  watched.Kill();
  EXPECT_EQ(g_events.size(), 4u);
}

TEST_F(KillableTest, ObjectsQueuedDuringAFlushWaitForTheNextOne) {
  TKillableCleanerDelayDelete delayed;
  auto* first = new TUnit("first", &delayed);
  auto* second = new TUnit("second", &delayed);
  first->onDeath = [second] { second->Kill(); };
  first->Kill();
  delayed.Flush();
  EXPECT_EQ(g_events, Events{"first deleted"});
  EXPECT_EQ(delayed.GetWaitingCount(), 1u);
  delayed.Flush();
  EXPECT_EQ(g_events, (Events{"first deleted", "second deleted"}));
}

// Refused list nodes: the watchers have forgotten the object, nobody is notified, the thread's
// list is as it was, the kill stays started, and a later kill finishes it.
TEST_F(KillableTest, RefusedListNodesLeaveAKillThatALaterKillFinishes) {
  for (int allowance : {0, 1}) {
    SCOPED_TRACE(allowance);
    g_events.clear();
    TRecordingCleaner cleaner;
    TUnit unit("u", &cleaner);
    TRecordingList list("list");
    TRecordingPtr pointer("pointer", &unit);
    list.Add(&unit);

    const int previous = SetKillableListNodeAllowanceForTests(allowance);
    EXPECT_THROW(unit.Kill(), std::bad_alloc);
    SetKillableListNodeAllowanceForTests(previous);

    EXPECT_FALSE(unit.IsAlive());
    EXPECT_TRUE(unit.IsKillStarted());
    EXPECT_FALSE(unit.IsKilled());
    EXPECT_EQ(unit.GetWatcherCount(), 0u);
    EXPECT_EQ(list.GetSize(), 0u);
    EXPECT_EQ(pointer.Get(), nullptr);
    EXPECT_EQ(g_events, Events{});
    unit.Kill();
    EXPECT_TRUE(unit.IsKilled());
    EXPECT_EQ(g_events, Events{"cleaned u"});
  }
}

TEST_F(KillableTest, AScopedPointerFinishesTheKillOfItsTargetWhenNodesAreRefused) {
  TKillableCleanerDirectDelete direct;
  auto* unit = new TUnit("u", &direct);
  TRecordingList list("list");
  list.Add(unit);
  const int previous = SetKillableListNodeAllowanceForTests(0);
  { TScopedKillablePtr scoped(unit); }
  SetKillableListNodeAllowanceForTests(previous);
  EXPECT_EQ(g_events, Events{"u deleted"});
  EXPECT_EQ(list.GetSize(), 0u);
}

TEST_F(KillableTest, ANotificationThatThrowsTakesTheRemainingWatchersOffTheThreadList) {
  TRecordingCleaner cleaner;
  TUnit unit("u", &cleaner);
  TRecordingList throwing("throwing");
  TRecordingList skipped("skipped");
  throwing.Add(&unit);
  skipped.Add(&unit);
  throwing.onKilled = [](TKillable*) { throw std::runtime_error("hook failed"); };
  EXPECT_THROW(unit.Kill(), std::runtime_error);
  EXPECT_EQ(g_events, Events{"throwing notified of u"});
  EXPECT_EQ(FindKillableContainerList()->GetSize(), 0u);
}

// Copies and assignments of lists watch each item in their own right. Assignment takes storage of
// exactly the source's size when its own is too small or more than twice the source's capacity.
TEST_F(KillableTest, CopiedAndAssignedListsWatchEveryItem) {
  TKillableCleanerDirectDelete direct;
  std::vector<TUnit*> units;
  TRecordingList source("source");
  for (const char* name : {"a", "b", "c"}) {
    units.push_back(new TUnit(name, &direct));
    source.Add(units.back());
  }
  TRecordingList copy(source);
  EXPECT_EQ(ItemNames(copy), (Events{"a", "b", "c"}));
  EXPECT_EQ(units[0]->GetWatcherCount(), 2u);

  struct Case {
    std::uint32_t ownItems;
    std::uint32_t expectedCapacity;
  };
  // The source holds 3 items in room for 4.
  for (const Case& c : {Case{0, 3}, Case{2, 4}, Case{8, 8}, Case{9, 3}}) {
    SCOPED_TRACE(c.ownItems);
    TUnit filler("filler");
    TRecordingList target("target");
    for (std::uint32_t i = 0; i < c.ownItems; ++i) target.Add(&filler);
    target = source;
    EXPECT_EQ(target.GetCapacity(), c.expectedCapacity);
    EXPECT_EQ(ItemNames(target), (Events{"a", "b", "c"}));
    EXPECT_EQ(filler.GetWatcherCount(), 0u);
    target = target;
    EXPECT_EQ(target.GetSize(), 3u);
  }

  units[1]->Kill();
  EXPECT_EQ(ItemNames(source), (Events{"a", "c"}));
  EXPECT_EQ(ItemNames(copy), (Events{"a", "c"}));
  source.Clear();
  copy.Clear();
  units[0]->Kill();
  units[2]->Kill();
}

}  // namespace
