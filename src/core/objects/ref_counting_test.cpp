#include "core/objects/ref_counting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "support/counted_objects_fixture.h"

namespace {

using namespace Orvan;

using OrvTest::g_life;
using OrvTest::LiveCountBlocks;

class TCountedThing : public RTTI::TWeakAndRefCountableWithVirtualDestructor {
 public:
  TCountedThing() { ++g_life.constructed; }
  TCountedThing(const TCountedThing& other) : RTTI::TWeakAndRefCountableWithVirtualDestructor(other) {
    ++g_life.constructed;
  }
  TCountedThing& operator=(const TCountedThing&) = default;
  ~TCountedThing() override { ++g_life.destroyed; }
};

class TDerivedThing : public TCountedThing {};

// Ends through a disposal operation; records it and then deletes itself.
class TDisposableThing : public RTTI::TWeakAndRefCountableWithVirtualDestructor {
 public:
  explicit TDisposableThing(std::vector<std::string>* log) : log_(log) { ++g_life.constructed; }
  ~TDisposableThing() override { ++g_life.destroyed; }
  void Dispose() {
    log_->push_back("dispose");
    delete this;
  }

 private:
  std::vector<std::string>* log_;
};

class TPlainRefcounted : public TObjectWithRefcount {
 public:
  TPlainRefcounted() { ++g_life.constructed; }
  ~TPlainRefcounted() override { ++g_life.destroyed; }
};

class TOwnedThing : public RTTI::TClassWithVirtualDestructor {
 public:
  TOwnedThing() { ++g_life.constructed; }
  ~TOwnedThing() override { ++g_life.destroyed; }
};

using RefCountingTest = OrvTest::CountedObjectsTest;

TEST_F(RefCountingTest, CountWordStepsByTwoInlineAndInTheBlock) {
  auto* thing = new TCountedThing;
  EXPECT_EQ(Word(*thing), 1u);
  {
    TCountedPtr<TCountedThing> first(thing);
    EXPECT_EQ(Word(*thing), 3u);
    TCountedPtr<TCountedThing> second = first;
    EXPECT_EQ(Word(*thing), 5u);
    TCountedPtr<TCountedThing> moved = std::move(second);
    EXPECT_EQ(Word(*thing), 5u);
    EXPECT_EQ(second.Get(), nullptr);
    moved.Reset();
    EXPECT_EQ(Word(*thing), 3u);

    // A watcher moves the count into a block: the word becomes its address.
    TAdditionalRefAndWeakCount* block = TWeakAndRefCountable::AddObserverReference(thing->GetCountWord());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(LiveCountBlocks(), liveBlocks_ + 1);
    EXPECT_EQ(Word(*thing), reinterpret_cast<TCountWord>(block));
    EXPECT_EQ(Word(*thing) & 1u, 0u);
    EXPECT_EQ(block->refCount, 2u);
    EXPECT_EQ(block->observerCount, 1u);
    EXPECT_EQ(block->flags, 0u);

    // References now count in the block; the word stays put.
    TCountedPtr<TCountedThing> third = first;
    EXPECT_EQ(block->refCount, 4u);
    EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(thing->GetCountWord()), 2u);
    third.Reset();
    EXPECT_EQ(block->refCount, 2u);

    // A second watcher shares the block; the last one to leave puts the count back inline.
    EXPECT_EQ(TWeakAndRefCountable::AddObserverReference(thing->GetCountWord()), block);
    EXPECT_EQ(block->observerCount, 2u);
    TWeakAndRefCountable::RemoveObserverReference(thing->GetCountWord());
    EXPECT_EQ(Word(*thing), reinterpret_cast<TCountWord>(block));
    TWeakAndRefCountable::RemoveObserverReference(thing->GetCountWord());
    EXPECT_EQ(Word(*thing), 3u);
    EXPECT_EQ(LiveCountBlocks(), liveBlocks_);
    EXPECT_EQ(g_life.destroyed, 0);
  }
  EXPECT_EQ(g_life.destroyed, 1);
}

TEST_F(RefCountingTest, HandlesAssignAndConvertWithoutLosingCounts) {
  auto* a = new TCountedThing;
  auto* b = new TDerivedThing;
  TCountedPtr<TCountedThing> p(a);
  TCountedPtr<TCountedThing> q(p);
  p = p;  // self-assignment keeps the one reference
  EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(a->GetCountWord()), 2u);

  TCountedPtr<TDerivedThing> derived(b);
  TCountedPtr<TCountedThing> base = derived;  // converting copy adds one
  EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(b->GetCountWord()), 2u);
  TCountedPtr<TCountedThing> stolen = std::move(derived);  // converting move adds none
  EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(b->GetCountWord()), 2u);
  EXPECT_FALSE(derived);
  EXPECT_TRUE(base == stolen);

  // Reassigning the last holder of `a` deletes it.
  q = base;
  EXPECT_EQ(g_life.destroyed, 0);
  p = nullptr;
  EXPECT_EQ(g_life.destroyed, 1);
  EXPECT_TRUE(p == nullptr);

  // Assigning the object a handle already holds, or moving a handle onto itself, keeps the count.
  q = stolen;
  q = std::move(q);
  EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(b->GetCountWord()), 3u);
}

TEST_F(RefCountingTest, ConstHandlesCountToo) {
  TCountedPtr<const TCountedThing> held(new TCountedThing);
  TCountedPtr<const TCountedThing> copy = held;
  EXPECT_EQ(TWeakAndRefCountable::GetReferenceCount(held->GetCountWord()), 2u);
}

// A watcher that kept its block past the object's death must not write the count back into the
// object: its memory belongs to somebody else by then.
// An interface that is not counted itself, implemented by a counted class: handles to the
// interface count on the implementation's word.
class IReadable {
 public:
  virtual ~IReadable() = default;
  virtual int Value() const = 0;
};
class TCountedReadable : public IReadable, public TWeakAndRefCountable {
 public:
  TCountedReadable() { ++g_life.constructed; }
  ~TCountedReadable() override { ++g_life.destroyed; }
  int Value() const override { return 7; }
};

TEST_F(RefCountingTest, HandlesToACountedInterfaceCountTheImplementation) {
  auto* object = new TCountedReadable;
  TCountedPtr<IReadable> first(object);
  TCountedPtr<const IReadable> second(first);
  EXPECT_EQ(Word(*object), 5u);
  EXPECT_EQ(second->Value(), 7);
  first.Reset();
  EXPECT_EQ(g_life.destroyed, 0);
  second.Reset();
  EXPECT_EQ(g_life.destroyed, 1);
}

TEST_F(RefCountingTest, WatcherLeavingAfterDeathTouchesOnlyTheBlock) {
  struct TPlainWatched : TWeakAndRefCountable {};
  alignas(TPlainWatched) unsigned char storage[sizeof(TPlainWatched)];
  auto* object = ::new (static_cast<void*>(storage)) TPlainWatched;
  TCountWord* word = object->GetCountWord();
  TAdditionalRefAndWeakCount* block = TWeakAndRefCountable::AddObserverReference(word);
  object->~TPlainWatched();

  EXPECT_EQ(block->observerCount, 1u);
  EXPECT_NE(block->flags & TAdditionalRefAndWeakCount::kObjectDeadFlag, 0u);
  std::memset(storage, 0xAB, sizeof storage);  // the memory is reused
  TWeakAndRefCountable::RemoveObserverReference(word, block);
  for (unsigned char byte : storage) ASSERT_EQ(byte, 0xAB);
}

// The same through a counted handle on the heap: under AddressSanitizer a write into the freed
// object would be reported.
TEST_F(RefCountingTest, WatcherOutlivesACountedObject) {
  auto* thing = new TCountedThing;
  TCountWord* word = thing->GetCountWord();
  TAdditionalRefAndWeakCount* block = TWeakAndRefCountable::AddObserverReference(word);
  TCountedPtr<TCountedThing>(thing).Reset();
  EXPECT_EQ(g_life.destroyed, 1);
  EXPECT_EQ(block->refCount, 0u);
  TWeakAndRefCountable::RemoveObserverReference(word, block);
}

TEST_F(RefCountingTest, DisposeOnLastReleaseEndsThroughTheDisposalOperation) {
  std::vector<std::string> log;
  auto* thing = new TDisposableThing(&log);
  TWeakAndRefCountable::AddReference(thing->GetCountWord());
  ASSERT_TRUE(TWeakAndRefCountable::ReleaseReference(thing->GetCountWord()));
  TWeakAndRefCountable::DisposeOnLastRelease(thing, thing->GetCountWord());
  EXPECT_EQ(log, std::vector<std::string>{"dispose"});
  EXPECT_EQ(g_life.destroyed, 1);

  // A null object is only a notification.
  TCountWord inlineWord = kFreshCountWord;
  TWeakAndRefCountable::DeleteOnLastRelease(static_cast<TCountedThing*>(nullptr), &inlineWord);
  TWeakAndRefCountable::DisposeOnLastRelease(static_cast<TDisposableThing*>(nullptr), &inlineWord);
}

TEST_F(RefCountingTest, CopiesOfCountedObjectsStartWithTheirOwnCount) {
  TCountedPtr<TCountedThing> original(new TCountedThing);
  TCountedThing copy(*original);
  EXPECT_EQ(Word(copy), 1u);
  copy = *original;
  EXPECT_EQ(Word(copy), 1u);
  EXPECT_EQ(Word(*original), 3u);
}

TEST_F(RefCountingTest, ObjectWithRefcountDeletesOnTheReleaseOfTheLastReference) {
  auto* object = new TPlainRefcounted;
  EXPECT_EQ(object->GetRefCount(), 0u);
  object->AddRef();
  object->AddRef();
  object->Release();
  EXPECT_EQ(object->GetRefCount(), 1u);
  EXPECT_EQ(g_life.destroyed, 0);
  object->Release();
  EXPECT_EQ(g_life.destroyed, 1);
}

TEST_F(RefCountingTest, OwnerHelpersClearAndDelete) {
  TOwnedThing* owned = new TOwnedThing;
  TOwnedThing* alias = owned;
  ClearOwnedPointer(alias);
  EXPECT_EQ(alias, nullptr);
  EXPECT_EQ(g_life.destroyed, 0);
  DeleteOwnedObject(owned);
  EXPECT_EQ(g_life.destroyed, 1);
  DeleteOwnedObject(nullptr);
  EXPECT_EQ(g_life.destroyed, 1);
}

}  // namespace
