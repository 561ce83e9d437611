#include "core/objects/named_toggle.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "support/named_callback_fixture.h"
#include "support/threads_together.h"

namespace {

using namespace Orvan;

std::vector<std::uint32_t> g_changes;

std::uint32_t RecordChange(std::uint32_t value) {
  g_changes.push_back(value);
  return 40 + value;
}

bool CallByName(const char* name) {
  return TNamedCallBackManager::GetInstancePointer()->CallByName(TOrvString<char>(name));
}

class NamedToggleTest : public OrvTest::NamedCallbackTest {
 protected:
  void SetUp() override {
    OrvTest::NamedCallbackTest::SetUp();
    g_changes.clear();
  }
};

TEST_F(NamedToggleTest, ToggleFlipsTheValueAndAnswersTheNewOneOrOnChangedsAnswer) {
  TVirtualNamedToggle plain("Plain", false, false);
  EXPECT_EQ(plain.Toggle(), 1u);
  EXPECT_TRUE(plain.GetValue());
  EXPECT_EQ(plain.Toggle(), 0u);
  EXPECT_FALSE(plain.GetValue());

  TVirtualNamedToggle notifying("Notifying", true, false, &RecordChange);
  EXPECT_EQ(notifying.Toggle(), 40u);
  EXPECT_EQ(notifying.Toggle(), 41u);
  EXPECT_EQ(g_changes, (std::vector<std::uint32_t>{0, 1}));
}

TEST_F(NamedToggleTest, TheFirstQueryRegistersAToggleBuiltToAndOnlyThat) {
  TVirtualNamedToggle silent("Silent", true, false);
  EXPECT_TRUE(silent.GetValue());
  EXPECT_EQ(silent.GetItem(), nullptr);
  EXPECT_FALSE(CallByName("Silent"));

  TVirtualNamedToggle lazy("Lazy", false, true, &RecordChange);
  EXPECT_FALSE(CallByName("Lazy"));  // not queried yet
  EXPECT_FALSE(lazy.GetValue());
  TVirtualNamedToggle::TItem* item = lazy.GetItem();
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->GetObject(), &lazy);
  EXPECT_EQ(item->GetName(), TOrvString<char>("Lazy"));
  lazy.GetValue();
  EXPECT_EQ(lazy.GetItem(), item);
  EXPECT_EQ(TNamedCallBackManager::GetInstancePointer()->GetCount(), 1u);

  EXPECT_TRUE(CallByName("Lazy"));
  EXPECT_TRUE(lazy.GetValue());
  EXPECT_EQ(g_changes, std::vector<std::uint32_t>{1});
}

// The toggle takes its item with it: the name no longer leads to a dead toggle (ASan would see
// the call otherwise).
TEST_F(NamedToggleTest, AToggleDestroyedAfterRegisteringGivesUpItsName) {
  auto toggle = std::make_unique<TVirtualNamedToggle>("Doomed", false, true);
  toggle->GetValue();
  TNamedCallbackReference reference(TOrvString<char>("Doomed"));
  ASSERT_TRUE(reference.Call());
  toggle.reset();
  EXPECT_EQ(reference.GetCachedCallback(), nullptr);
  EXPECT_FALSE(CallByName("Doomed"));
  EXPECT_FALSE(reference.Call());
}

using NamedToggleThreaded = NamedToggleTest;

TEST_F(NamedToggleThreaded, EightThreadsFirstQueriesRegisterOneItem) {
  for (int round = 0; round < 20; ++round) {
    TVirtualNamedToggle toggle("Raced", true, true);
    std::atomic<int> trueAnswers{0};
    OrvTest::RunOnThreadsTogether(8, [&](int) {
      if (toggle.GetValue()) trueAnswers.fetch_add(1, std::memory_order_relaxed);
    });
    EXPECT_EQ(trueAnswers.load(), 8);
    ASSERT_NE(toggle.GetItem(), nullptr);
    EXPECT_EQ(TNamedCallBackManager::GetInstancePointer()->FindCallback(TOrvString<char>("Raced")), toggle.GetItem());
    EXPECT_EQ(TNamedCallBackManager::GetInstancePointer()->GetCount(), 1u);
  }
}

}  // namespace
