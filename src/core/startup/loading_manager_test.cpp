#include "core/startup/loading_manager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/manual_clock.h"
#include "support/singleton_checks.h"

namespace Orvan {
namespace {

std::vector<std::uint32_t> ValuesOf(const TLoadingManager& manager) {
  return {manager.GetValues().begin(), manager.GetValues().end()};
}

TEST(LoadingManagerTest, StartValuesAndFlag) {
  OrvTest::TManualClock clock;
  TLoadingManager* manager = new TLoadingManager;
  EXPECT_EQ(TLoadingManager::GetInstancePointer(), manager);
  EXPECT_TRUE(OrvTest::IsRegisteredSingleton(manager));
  EXPECT_TRUE(manager->GetFlag());
  EXPECT_EQ(manager->GetLoadingStartStamp(), OrvTest::TManualClock::kStart);
  EXPECT_TRUE(manager->GetValues().IsEmpty());
  manager->SetFlag(false);
  EXPECT_FALSE(manager->GetFlag());
  delete manager;
  EXPECT_EQ(TLoadingManager::GetInstancePointer(), nullptr);
}

TEST(LoadingManagerTest, RemoveValueTakesTheFirstOccurrenceOnly) {
  TLoadingManager* manager = new TLoadingManager;
  manager->RemoveValue(7);  // empty list
  EXPECT_TRUE(manager->GetValues().IsEmpty());

  for (std::uint32_t value : {5u, 7u, 9u, 7u, 11u}) manager->AddValue(value);
  manager->RemoveValue(7);
  EXPECT_EQ(ValuesOf(*manager), (std::vector<std::uint32_t>{5, 9, 7, 11}));
  manager->RemoveValue(42);  // absent
  EXPECT_EQ(ValuesOf(*manager), (std::vector<std::uint32_t>{5, 9, 7, 11}));
  manager->RemoveValue(11);
  manager->RemoveValue(5);
  EXPECT_EQ(ValuesOf(*manager), (std::vector<std::uint32_t>{9, 7}));
  delete manager;
}

}  // namespace
}  // namespace Orvan
