#include "core/singletons/singleton.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/process_allocator_seam.h"
#include "support/threads_together.h"

namespace {

using namespace Orvan;

std::vector<std::string> g_destroyed;

// Each test runs on a registry of its own, emptied by destroy-all when the test ends.
class SingletonRegistryTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = TSingletonRegistry::ExchangeForTests(nullptr);
    TSingletonRegistry::Create();
    g_destroyed.clear();
  }
  void TearDown() override {
    TSingletonRegistry::DestroyAll();
    TSingletonRegistry::Destroy();
    TSingletonRegistry::ExchangeForTests(saved_);
  }

  static TSingletonRegistry& Registry() { return *TSingletonRegistry::Get(); }
  static std::uint32_t CountEntries(const Meta::TSingletonBase* instance) {
    std::uint32_t count = 0;
    for (std::uint32_t i = 0; i < Registry().GetSize(); ++i) count += Registry().GetEntry(i) == instance;
    return count;
  }

 private:
  TSingletonRegistry* saved_ = nullptr;
};

// A registry-owned singleton that logs its destruction.
template <int Id>
class TLogged : public Meta::TSingleton<TLogged<Id>, true> {
 public:
  ~TLogged() override { g_destroyed.push_back("logged" + std::to_string(Id)); }

 private:
  friend Meta::TSingleton<TLogged, true>;
  TLogged() = default;
};

// Its destructor destroys another registry-owned singleton.
class TDestroysAnother : public Meta::TSingleton<TDestroysAnother, true> {
 public:
  ~TDestroysAnother() override {
    g_destroyed.push_back("destroysAnother");
    delete TLogged<1>::GetInstancePointer();
  }

 private:
  friend Meta::TSingleton<TDestroysAnother, true>;
  TDestroysAnother() = default;
};

// Owner-destroyed: built with new, deleted by its owner.
template <int Id>
class TOwned : public Meta::TSingleton<TOwned<Id>, false> {
 public:
  ~TOwned() override { g_destroyed.push_back("owned" + std::to_string(Id)); }
};

TEST_F(SingletonRegistryTest, DestroyAllGoesFromLastToFirst) {
  TLogged<1>* first = TLogged<1>::Instance();
  TLogged<2>::Instance();
  TLogged<3>::Instance();
  EXPECT_EQ(TLogged<1>::Instance(), first);  // built once
  EXPECT_EQ(first->destroyedByRegistry, 1);
  EXPECT_EQ(Registry().GetSize(), 3u);
  TSingletonRegistry::DestroyAll();
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"logged3", "logged2", "logged1"}));
  EXPECT_EQ(TLogged<1>::GetInstancePointer(), nullptr);
  EXPECT_EQ(TLogged<3>::GetInstancePointer(), nullptr);
  EXPECT_EQ(Registry().GetSize(), 0u);
  EXPECT_EQ(Registry().GetCapacity(), 0u);
}

TEST_F(SingletonRegistryTest, DestructorDestroyingAnotherSingleton) {
  TLogged<1>::Instance();
  TLogged<2>::Instance();
  TDestroysAnother::Instance();
  TLogged<3>::Instance();
  TSingletonRegistry::DestroyAll();
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"logged3", "destroysAnother", "logged1", "logged2"}));
}

TEST_F(SingletonRegistryTest, OwnerDestroyedSingletonsAreSkippedAndLeftAlive) {
  auto* owned = new TOwned<1>;
  EXPECT_EQ(TOwned<1>::GetInstancePointer(), owned);
  EXPECT_EQ(owned->destroyedByRegistry, 0);
  TLogged<1>::Instance();
  TSingletonRegistry::DestroyAll();
  EXPECT_EQ(g_destroyed, (std::vector<std::string>{"logged1"}));
  EXPECT_EQ(TOwned<1>::GetInstancePointer(), owned);
  // Its owner deletes it after the registry is gone: the unregistration does nothing.
  TSingletonRegistry::Destroy();
  delete owned;
  EXPECT_EQ(g_destroyed.back(), "owned1");
  EXPECT_EQ(TOwned<1>::GetInstancePointer(), nullptr);
  TSingletonRegistry::Create();
}

TEST_F(SingletonRegistryTest, UnregisterKeepsTheOrderOfTheOthers) {
  auto* a = new TOwned<1>;
  auto* b = new TOwned<2>;
  auto* c = new TOwned<3>;
  delete b;
  ASSERT_EQ(Registry().GetSize(), 2u);
  EXPECT_EQ(Registry().GetEntry(0), a);
  EXPECT_EQ(Registry().GetEntry(1), c);
  TSingletonRegistry::Unregister(b);  // not listed: nothing changes
  EXPECT_EQ(Registry().GetSize(), 2u);
  delete a;
  delete c;
  EXPECT_EQ(Registry().GetSize(), 0u);
}

// The list grows by the engine rule for pointer-sized entries: 4, 8, 16, then 30.
TEST_F(SingletonRegistryTest, ListGrowsForPointerEntries) {
  struct TPlain : Meta::TSingletonBase {};
  std::vector<TPlain> plain(17);
  std::vector<std::uint32_t> capacities;
  for (TPlain& entry : plain) {
    TSingletonRegistry::Register(&entry);
    capacities.push_back(Registry().GetCapacity());
  }
  EXPECT_EQ(capacities, (std::vector<std::uint32_t>{4, 4, 4, 4, 8, 8, 8, 8, 16, 16, 16, 16, 16, 16, 16, 16, 30}));
  for (std::uint32_t i = 0; i < 17; ++i) EXPECT_EQ(Registry().GetEntry(i), &plain[i]);
  for (TPlain& entry : plain) TSingletonRegistry::Unregister(&entry);
  EXPECT_EQ(Registry().GetSize(), 0u);
}

template <int Id>
class TRegisteredOnFailure : public Meta::TSingleton<TRegisteredOnFailure<Id>, true> {
  friend Meta::TSingleton<TRegisteredOnFailure, true>;
  TRegisteredOnFailure() = default;
};

// A registration that cannot grow the list unwinds the singleton: no instance, and the next call
// of the accessor builds it.
TEST_F(SingletonRegistryTest, FailedRegistrationLeavesNoInstance) {
  bool threw = false;
  OrvTest::InstallSeam();
  OrvTest::g_seam.failAllocate = true;
  try {
    TRegisteredOnFailure<1>::Instance();
  } catch (const std::bad_alloc&) {
    threw = true;
  }
  OrvTest::RestoreSeam();
  EXPECT_TRUE(threw);
  EXPECT_EQ(TRegisteredOnFailure<1>::GetInstancePointer(), nullptr);
  EXPECT_EQ(Registry().GetSize(), 0u);
  TRegisteredOnFailure<1>* built = TRegisteredOnFailure<1>::Instance();
  ASSERT_NE(built, nullptr);
  EXPECT_EQ(CountEntries(built), 1u);
}

TEST(SingletonRegistry, UnregisterWithoutRegistryDoesNothing) {
  TSingletonRegistry* saved = TSingletonRegistry::ExchangeForTests(nullptr);
  {
    TOwned<7> owned;  // registers nowhere, unregisters from nowhere
    EXPECT_EQ(TOwned<7>::GetInstancePointer(), &owned);
  }
  EXPECT_EQ(TOwned<7>::GetInstancePointer(), nullptr);
  TSingletonRegistry::DestroyAll();
  TSingletonRegistry::Destroy();
  TSingletonRegistry::ExchangeForTests(saved);
}

// ---- Threaded

using SingletonThreaded = SingletonRegistryTest;
constexpr int kRacers = 8;

std::atomic<int> g_countedBuilds{0};
class TCounted : public Meta::TSingleton<TCounted, true> {
  friend Meta::TSingleton<TCounted, true>;
  TCounted() { g_countedBuilds.fetch_add(1); }
};

TEST_F(SingletonThreaded, RacingAccessorsBuildOneInstance) {
  g_countedBuilds = 0;
  std::vector<TCounted*> seen(kRacers, nullptr);
  OrvTest::RunOnThreadsTogether(kRacers, [&](int t) {
    seen[t] = TCounted::Instance();
  });
  EXPECT_EQ(g_countedBuilds.load(), 1);
  ASSERT_NE(seen[0], nullptr);
  EXPECT_EQ(seen, std::vector<TCounted*>(kRacers, seen[0]));
  EXPECT_EQ(CountEntries(seen[0]), 1u);
  EXPECT_EQ(seen[0]->destroyedByRegistry, 1);
}

// The first construction throws: its caller gets the exception and the others, instead of
// waiting for ever, build the singleton once among themselves.
std::atomic<int> g_flakyAttempts{0};
class TFlaky : public Meta::TSingleton<TFlaky, true> {
  friend Meta::TSingleton<TFlaky, true>;
  TFlaky() {
    if (g_flakyAttempts.fetch_add(1) == 0) throw std::runtime_error("first construction fails");
  }
};

TEST_F(SingletonThreaded, FailedConstructionLetsAnotherThreadBuild) {
  g_flakyAttempts = 0;
  std::atomic<int> exceptions{0};
  std::vector<TFlaky*> seen(kRacers, nullptr);
  OrvTest::RunOnThreadsTogether(kRacers, [&](int t) {
    try {
      seen[t] = TFlaky::Instance();
    } catch (const std::runtime_error&) {
      exceptions.fetch_add(1);
    }
  });
  EXPECT_EQ(exceptions.load(), 1);
  EXPECT_EQ(g_flakyAttempts.load(), 2);
  TFlaky* built = TFlaky::GetInstancePointer();
  ASSERT_NE(built, nullptr);
  int holders = 0;
  for (TFlaky* pointer : seen) {
    if (pointer == nullptr) continue;
    EXPECT_EQ(pointer, built);
    ++holders;
  }
  EXPECT_EQ(holders, kRacers - 1);
  EXPECT_EQ(CountEntries(built), 1u);
}

}  // namespace
