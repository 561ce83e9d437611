#include "core/objects/named_callback.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "core/filesystem/file_name.h"
#include "support/named_callback_fixture.h"

namespace {

using namespace Orvan;

// Calls of every callback, in order: "name" or "name(value)".
std::vector<std::string> g_calls;

std::string Describe() { return std::string(); }
std::string Describe(float value) { return "(" + std::to_string(value) + ")"; }
std::string Describe(int value) { return "(" + std::to_string(value) + ")"; }
std::string Describe(const TFileName& value) { return "(" + std::string(value.ToString().c_str()) + ")"; }

template <typename... TArgs>
class TRecordingCallback final : public TNamedCallbackOf<TArgs...> {
 public:
  TRecordingCallback(const char* name, std::string label)
      : TNamedCallbackOf<TArgs...>(TOrvString<char>(name)), label_(std::move(label)) {}
  void Call(TArgs... args) override { g_calls.push_back(label_ + Describe(args...)); }

 private:
  std::string label_;
};

// The values a kind's calls pass.
template <typename... TArgs>
struct TKind {
  static std::tuple<std::decay_t<TArgs>...> Values();
};
template <>
std::tuple<> TKind<>::Values() {
  return {};
}
template <>
std::tuple<float> TKind<float>::Values() {
  return {2.5f};
}
template <>
std::tuple<int> TKind<int>::Values() {
  return {-7};
}
template <>
std::tuple<TFileName> TKind<const TFileName&>::Values() {
  return {TFileName("maps/Island.map")};
}

template <typename TKindT>
class NamedCallbackTyped;

// One suite over every kind: the managers of all kinds exist for each test.
template <typename... TArgs>
class NamedCallbackTyped<TKind<TArgs...>> : public OrvTest::NamedCallbackTest {
 protected:
  using TCallback = TRecordingCallback<TArgs...>;
  using TReference = TNamedCallbackReferenceOf<TArgs...>;
  using TManager = TNamedCallbackManagerOf<TArgs...>;

  void SetUp() override {
    OrvTest::NamedCallbackTest::SetUp();
    g_calls.clear();
  }

  static TManager& Manager() { return *TManager::GetInstancePointer(); }
  // What a call with this kind's values records.
  static std::string Called(const std::string& label) {
    return label + std::apply([](const auto&... values) { return Describe(values...); }, TKind<TArgs...>::Values());
  }
  static bool CallByName(const char* name) {
    auto values = TKind<TArgs...>::Values();
    return std::apply([&](const auto&... v) { return Manager().CallByName(TOrvString<char>(name), v...); }, values);
  }
  static bool CallThrough(TReference& reference) {
    auto values = TKind<TArgs...>::Values();
    return std::apply([&](const auto&... v) { return reference.Call(v...); }, values);
  }
  static std::uint32_t ReferenceCount(const TNamedCallbackOf<TArgs...>& callback) {
    return callback.GetReferenceSet() != nullptr ? callback.GetReferenceSet()->Count() : 0;
  }
};

using Kinds = ::testing::Types<TKind<>, TKind<float>, TKind<int>, TKind<const TFileName&>>;
class KindNames {
 public:
  template <typename T>
  static std::string GetName(int index) {
    return std::vector<std::string>{"Plain", "Float", "Int", "FileName"}[index];
  }
};
TYPED_TEST_SUITE(NamedCallbackTyped, Kinds, KindNames);

TYPED_TEST(NamedCallbackTyped, ACallBeforeAnyRegistrationAnswersFalse) {
  EXPECT_EQ(this->Manager().GetCount(), 0u);
  EXPECT_FALSE(this->CallByName("Nobody"));
  typename TestFixture::TReference reference(TOrvString<char>("Nobody"));
  EXPECT_FALSE(this->CallThrough(reference));
  EXPECT_EQ(reference.GetCachedCallback(), nullptr);
  EXPECT_TRUE(g_calls.empty());
}

TYPED_TEST(NamedCallbackTyped, CallByNameCallsTheHolderOfTheNameWithTheValue) {
  typename TestFixture::TCallback spawn("Spawn", "spawn");
  typename TestFixture::TCallback reset("Reset", "reset");
  EXPECT_EQ(this->Manager().FindCallback(TOrvString<char>("Spawn")), &spawn);
  EXPECT_TRUE(this->CallByName("Reset"));
  EXPECT_TRUE(this->CallByName("Spawn"));
  EXPECT_FALSE(this->CallByName("spawn"));  // names are compared with case
  EXPECT_FALSE(this->CallByName(""));
  EXPECT_EQ(g_calls, (std::vector<std::string>{this->Called("reset"), this->Called("spawn")}));
}

// A resolved reference calls directly; when its callback dies it is cleared and resolves afresh,
// to nothing or to the next holder of the name.
TYPED_TEST(NamedCallbackTyped, AReferenceIsClearedWhenItsCallbackDiesAndResolvesAgain) {
  typename TestFixture::TReference reference(TOrvString<char>("Spawn"));
  auto first = std::make_unique<typename TestFixture::TCallback>("Spawn", "first");
  EXPECT_TRUE(this->CallThrough(reference));
  EXPECT_EQ(reference.GetCachedCallback(), first.get());
  EXPECT_EQ(this->ReferenceCount(*first), 1u);
  EXPECT_TRUE(this->CallThrough(reference));
  EXPECT_EQ(this->ReferenceCount(*first), 1u);

  first.reset();
  EXPECT_EQ(reference.GetCachedCallback(), nullptr);
  EXPECT_FALSE(this->CallThrough(reference));
  typename TestFixture::TCallback second("Spawn", "second");
  EXPECT_TRUE(this->CallThrough(reference));
  EXPECT_EQ(reference.GetCachedCallback(), &second);
  EXPECT_EQ(g_calls, (std::vector<std::string>{this->Called("first"), this->Called("first"), this->Called("second")}));

  // The other order: the reference goes first and leaves the callback's set.
  {
    typename TestFixture::TReference shortLived(TOrvString<char>("Spawn"));
    EXPECT_TRUE(this->CallThrough(shortLived));
    EXPECT_EQ(this->ReferenceCount(second), 2u);
  }
  EXPECT_EQ(this->ReferenceCount(second), 1u);
}

TYPED_TEST(NamedCallbackTyped, AResolvedReferenceKeepsCallingItsCallbackAfterAnotherTookTheName) {
  typename TestFixture::TCallback first("Spawn", "first");
  typename TestFixture::TReference reference(TOrvString<char>("Spawn"));
  EXPECT_TRUE(this->CallThrough(reference));
  typename TestFixture::TCallback second("Spawn", "second");
  EXPECT_TRUE(this->CallThrough(reference));
  EXPECT_TRUE(this->CallByName("Spawn"));
  EXPECT_EQ(g_calls, (std::vector<std::string>{this->Called("first"), this->Called("first"), this->Called("second")}));
}

// A second callback under a name takes it. The entry goes only with the callback it points to, so
// no entry ever points to a destroyed callback (ASan would see the call below).
TYPED_TEST(NamedCallbackTyped, ADuplicateNameIsHeldByTheLaterCallbackInBothDestructionOrders) {
  {
    auto earlier = std::make_unique<typename TestFixture::TCallback>("Spawn", "earlier");
    typename TestFixture::TCallback later("Spawn", "later");
    EXPECT_EQ(this->Manager().GetCount(), 1u);
    earlier.reset();
    EXPECT_TRUE(this->CallByName("Spawn"));
  }
  EXPECT_EQ(this->Manager().GetCount(), 0u);
  {
    typename TestFixture::TCallback earlier("Spawn", "earlier");
    auto later = std::make_unique<typename TestFixture::TCallback>("Spawn", "later");
    later.reset();
    EXPECT_FALSE(this->CallByName("Spawn"));  // the earlier one lives on, nameless
    EXPECT_EQ(this->Manager().GetCount(), 0u);
  }
  EXPECT_EQ(g_calls, std::vector<std::string>{this->Called("later")});
}

TYPED_TEST(NamedCallbackTyped, AThousandReferencesGrowTheSetAndEmptyItAgain) {
  typename TestFixture::TCallback callback("Spawn", "spawn");
  std::vector<std::unique_ptr<typename TestFixture::TReference>> references;
  for (int i = 0; i < 1000; ++i) {
    references.push_back(std::make_unique<typename TestFixture::TReference>(TOrvString<char>("Spawn")));
    ASSERT_TRUE(this->CallThrough(*references.back()));
  }
  EXPECT_EQ(this->ReferenceCount(callback), 1000u);
  EXPECT_GE(callback.GetReferenceSet()->Capacity(), 1000u);
  // Every other one first, then the rest from the back.
  for (std::size_t i = 0; i < references.size(); i += 2) references[i].reset();
  EXPECT_EQ(this->ReferenceCount(callback), 500u);
  while (!references.empty()) references.pop_back();
  EXPECT_EQ(this->ReferenceCount(callback), 0u);
  EXPECT_LE(callback.GetReferenceSet()->Capacity(), 2u);
  EXPECT_EQ(g_calls.size(), 1000u);
}

TYPED_TEST(NamedCallbackTyped, ACallbackDyingUnderAThousandReferencesClearsEveryOne) {
  auto callback = std::make_unique<typename TestFixture::TCallback>("Spawn", "spawn");
  std::vector<typename TestFixture::TReference> references(1000, typename TestFixture::TReference("Spawn"));
  for (auto& reference : references) ASSERT_TRUE(this->CallThrough(reference));
  callback.reset();
  for (auto& reference : references) ASSERT_EQ(reference.GetCachedCallback(), nullptr);
}

// A copy takes only the name: it resolves on its own and is recorded in its own right.
TYPED_TEST(NamedCallbackTyped, ACopiedReferenceStartsUnresolved) {
  typename TestFixture::TCallback spawn("Spawn", "spawn");
  typename TestFixture::TCallback reset("Reset", "reset");
  typename TestFixture::TReference original(TOrvString<char>("Spawn"));
  ASSERT_TRUE(this->CallThrough(original));
  typename TestFixture::TReference copy(original);
  EXPECT_EQ(copy.GetCachedCallback(), nullptr);
  EXPECT_EQ(copy.GetName(), original.GetName());

  typename TestFixture::TReference assigned(TOrvString<char>("Reset"));
  ASSERT_TRUE(this->CallThrough(assigned));
  assigned = original;
  EXPECT_EQ(assigned.GetCachedCallback(), nullptr);
  EXPECT_EQ(this->ReferenceCount(reset), 0u);
  ASSERT_TRUE(this->CallThrough(assigned));
  ASSERT_TRUE(this->CallThrough(copy));
  EXPECT_EQ(this->ReferenceCount(spawn), 3u);
}

using NamedCallbackTest = OrvTest::NamedCallbackTest;

TEST_F(NamedCallbackTest, ACallbackMadeWithoutAManagerIsNotRegistered) {
  delete TNamedCallBackManager::GetInstancePointer();
  auto early = std::make_unique<TRecordingCallback<>>("Spawn", "early");
  new TNamedCallBackManager;
  EXPECT_FALSE(TNamedCallBackManager::GetInstancePointer()->CallByName(TOrvString<char>("Spawn")));
  TRecordingCallback<> later("Spawn", "later");
  early.reset();  // leaves the later one's entry alone
  EXPECT_TRUE(TNamedCallBackManager::GetInstancePointer()->CallByName(TOrvString<char>("Spawn")));
}

// The name reaches the callback as the caller's own object, through the manager and through a
// reference alike.
TEST_F(NamedCallbackTest, AFileNameCallbackIsHandedTheCallersName) {
  struct TOpen final : TVirtualNamedCallbackWithParameter<const TFileName&> {
    TOpen() : TVirtualNamedCallbackWithParameter<const TFileName&>(TOrvString<char>("Open")) {}
    void Call(const TFileName& name) override { seen.push_back(&name); }
    std::vector<const TFileName*> seen;
  } open;
  const TFileName name("maps/Island.map");
  EXPECT_TRUE(TNamedCallBackWithParameterManager<const TFileName&>::GetInstancePointer()->CallByName(
      TOrvString<char>("Open"), name));
  TNamedCallbackReferenceWithParameter<const TFileName&> reference(TOrvString<char>("Open"));
  EXPECT_TRUE(reference.Call(name));
  EXPECT_EQ(open.seen, (std::vector<const TFileName*>{&name, &name}));
}

}  // namespace
