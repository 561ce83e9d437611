#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "core/objects/killable.h"
#include "core/objects/killable_container_list.h"
#include "core/objects/killable_list.h"
#include "core/objects/killable_ptr.h"
#include "core/threads/thread_attachment.h"
#include "support/threads_together.h"

namespace {

using namespace Orvan;

// Counts its notifications and, for each, kills the next unit of a chain: the kills nest, so
// every thread parks watchers in its own container list while the other thread does the same.
class TChainList : public TAbstractKillableList {
 public:
  void OnKilled(TKillable*) override {
    ++notified;
    if (next != nullptr) std::exchange(next, nullptr)->Kill();
  }
  int notified = 0;
  TKillable* next = nullptr;
};

struct TThreadResult {
  TKillableContainerList* containerList = nullptr;
  int notified = 0;
  std::uint32_t waiting = 0;
  std::uint32_t leftParked = 0;
};

TEST(KillableThreaded, TwoThreadsKillAtOnceEachWithItsOwnContainerList) {
  constexpr int kUnits = 2000;
  TThreadResult results[2];
  OrvTest::RunOnThreadsTogether(2, [&](int index) {
    AttachThreadToEngine();
    {
      TKillableCleanerDelayDelete cleaner;
      std::vector<TKillable*> units;
      for (int i = 0; i < kUnits; ++i) units.push_back(new TKillable(&cleaner));
      std::vector<TChainList> lists(kUnits);
      std::vector<TKillablePtr<TKillable>> pointers(kUnits);
      for (int i = 0; i < kUnits; ++i) {
        lists[i].Add(units[i]);
        pointers[i].Set(units[i]);
        if (i + 1 < kUnits && i % 2 == 0) lists[i].next = units[i + 1];
      }
      for (TKillable* unit : units) unit->Kill();
      TThreadResult& result = results[index];
      result.containerList = FindKillableContainerList();
      for (const TChainList& list : lists) result.notified += list.notified;
      result.waiting = cleaner.GetWaitingCount();
      result.leftParked = static_cast<std::uint32_t>(result.containerList->GetSize());
      cleaner.Flush();
    }
    DetachThreadFromEngine();
  });
  EXPECT_NE(results[0].containerList, nullptr);
  EXPECT_NE(results[0].containerList, results[1].containerList);
  for (const TThreadResult& result : results) {
    EXPECT_EQ(result.notified, kUnits);
    EXPECT_EQ(result.waiting, static_cast<std::uint32_t>(kUnits));
    EXPECT_EQ(result.leftParked, 0u);
  }
}

}  // namespace
