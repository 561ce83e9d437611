// The full start-up and shutdown, run for real in child processes: the test program's own engine
// is shut down there first, so each child starts from a process with no engine at all.
#include "core/startup/engine_full_startup.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/diagnostics/core_dump_payload.h"
#include "core/filesystem/game_mode_replay.h"
#include "core/memory/global_allocation.h"
#include "core/singletons/singleton.h"
#include "core/startup/engine_core_startup.h"
#include "core/startup/engine_flags.h"
#include "core/startup/loading_manager.h"
#include "core/startup/value_block_fast_token_helper.h"
#include "core/time/global_time_manager.h"
#include "support/child_checks.h"
#include "support/singleton_checks.h"

namespace Orvan {
namespace {

using OrvTest::TChildChecks;

// The seven global service singletons, in start-up order.
std::vector<std::pair<std::string, Meta::TSingletonBase*>> CollectServiceSingletons() {
  return {
      {"engine flags", TCFFlags::GetInstancePointer()},
      {"global time manager", TGlobalTimeManager::GetInstancePointer()},
      {"loading manager", TLoadingManager::GetInstancePointer()},
      {"core-dump payload", TCoreDumpPayload::GetInstancePointer()},
      {"game-mode replay", TGameModeReplay::GetInstancePointer()},
      {"data-pack check", TCheckDatapackIntegrity::GetInstancePointer()},
      {"store flags", TStoreIntegration::GetInstancePointer()},
  };
}

void CheckAllBuilt(TChildChecks& checks) {
  for (const auto& [name, instance] : CollectServiceSingletons()) {
    if (checks.Check(instance != nullptr, name + " is set")) {
      checks.Check(OrvTest::IsRegisteredSingleton(instance), name + " is registered");
      checks.Check(instance->destroyedByRegistry == 0, name + " is owner-destroyed");
    }
  }
  ORV_CHILD_CHECK(checks, TSingletonRegistry::Get() != nullptr);
  ORV_CHILD_CHECK(checks, GetEngineStartedFlag() == 1);
}

void CheckAllGone(TChildChecks& checks) {
  for (const auto& [name, instance] : CollectServiceSingletons()) checks.Check(instance == nullptr, name + " is null");
  ORV_CHILD_CHECK(checks, TSingletonRegistry::Get() == nullptr);
  ORV_CHILD_CHECK(checks, GetEngineStartedFlag() == 0);
}

// Leaves the child with no engine: the test program started its own through the core pair.
void StopTestProgramEngine(TChildChecks& checks) {
  ORV_CHILD_CHECK(checks, GetEngineStartedFlag() == 1);
  ShutdownEngineCore();
  CheckAllGone(checks);
}

[[noreturn]] void RunFullRoundTrip() {
  TChildChecks checks;
  StopTestProgramEngine(checks);
  InitEngineFull();
  CheckAllBuilt(checks);
  // In use during the run: the time manager's listener list and the loading manager's values
  // take engine memory, which the shutdown must give back.
  struct TListener : ITimeSpeedListener {
    void OnSpeedFactorChanged(float) override {}
  } listener;
  TGlobalTimeManager::GetInstancePointer()->AddListener(&listener);
  TLoadingManager::GetInstancePointer()->AddValue(3);
  TGameModeReplay::GetInstancePointer()->SetReplayName(TOrvString<char>("last"));
  ShutdownEngineFull();
  CheckAllGone(checks);

  // A second cycle builds them all again.
  InitEngineFull();
  CheckAllBuilt(checks);
  ShutdownEngineFull();
  CheckAllGone(checks);
  checks.Exit();
}

TEST(EngineFullStartupDeathTest, RoundTripBuildsAndDestroysEveryServiceWithoutLeaks) {
  EXPECT_EXIT(RunFullRoundTrip(), ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

[[noreturn]] void RunShutdownSkippingDestroyed() {
  TChildChecks checks;
  StopTestProgramEngine(checks);
  InitEngineFull();
  delete TLoadingManager::GetInstancePointer();
  delete TGameModeReplay::GetInstancePointer();
  ORV_CHILD_CHECK(checks, TLoadingManager::GetInstancePointer() == nullptr);
  ShutdownEngineFull();
  CheckAllGone(checks);
  checks.Exit();
}

TEST(EngineFullStartupDeathTest, ShutdownSkipsSingletonsDestroyedBeforehand) {
  EXPECT_EXIT(RunShutdownSkippingDestroyed(), ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

// A process allocator that fails the first request made once the time manager is registered: the
// loading manager's operator new, the next allocation of the full start-up.
struct TFailLoadingManagerAllocation {
  static inline TProcessAllocator previous{};
  static inline bool armed = false;

  static void* Allocate(std::size_t size) {
    TGlobalTimeManager* manager = TGlobalTimeManager::GetInstancePointer();
    if (armed && manager != nullptr && OrvTest::IsRegisteredSingleton(manager)) {
      armed = false;
      return nullptr;
    }
    return previous.allocate(size);
  }
  static void* Reallocate(void* raw, std::size_t size) { return previous.reallocate(raw, size); }
  static void Release(void* raw) { previous.release(raw); }
};

[[noreturn]] void RunStartupFailingInLoadingManager() {
  TChildChecks checks;
  StopTestProgramEngine(checks);
  using TFail = TFailLoadingManagerAllocation;
  TFail::armed = true;
  TFail::previous = SetProcessAllocatorForTests({&TFail::Allocate, &TFail::Reallocate, &TFail::Release});
  bool threwBadAlloc = false;
  try {
    InitEngineFull();
  } catch (const std::bad_alloc&) {
    threwBadAlloc = true;
  }
  SetProcessAllocatorForTests(TFail::previous);
  ORV_CHILD_CHECK(checks, threwBadAlloc);
  ORV_CHILD_CHECK(checks, !TFail::armed);
  // Those built before it stay; none after it was built.
  ORV_CHILD_CHECK(checks, TCFFlags::GetInstancePointer() != nullptr);
  ORV_CHILD_CHECK(checks, TGlobalTimeManager::GetInstancePointer() != nullptr);
  ORV_CHILD_CHECK(checks, TLoadingManager::GetInstancePointer() == nullptr);
  ORV_CHILD_CHECK(checks, TCoreDumpPayload::GetInstancePointer() == nullptr);
  ORV_CHILD_CHECK(checks, TStoreIntegration::GetInstancePointer() == nullptr);
  ORV_CHILD_CHECK(checks, OrvTest::IsRegisteredSingleton(TCFFlags::GetInstancePointer()));
  ShutdownEngineFull();
  CheckAllGone(checks);
  checks.Exit();
}

TEST(EngineFullStartupDeathTest, FailedLoadingManagerLeavesTheEarlierSingletonsForTheShutdown) {
  EXPECT_EXIT(RunStartupFailingInLoadingManager(), ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

[[noreturn]] void RunValueBlockTokens() {
  TChildChecks checks;
  StopTestProgramEngine(checks);
  InitEngineFull();
  TValueBlockFastTokenHelper* helper = new TValueBlockFastTokenHelper;
  ORV_CHILD_CHECK(checks, TValueBlockFastTokenHelper::GetInstancePointer() == helper);
  ORV_CHILD_CHECK(checks, OrvTest::IsRegisteredSingleton(helper));
  for (std::uint32_t i = 0; i < TValueBlockFastTokenHelper::kTokenCount; ++i) {
    checks.Check(helper->GetToken(i).GetId() == i + 1, std::string("id of ") + TValueBlockFastTokenHelper::kNames[i]);
  }
  delete helper;
  ORV_CHILD_CHECK(checks, TValueBlockFastTokenHelper::GetInstancePointer() == nullptr);
  ORV_CHILD_CHECK(checks, !OrvTest::IsRegisteredSingleton(helper));
  // The names stay interned: the same ids and texts.
  for (std::uint32_t i = 0; i < TValueBlockFastTokenHelper::kTokenCount; ++i) {
    const char* name = TValueBlockFastTokenHelper::kNames[i];
    checks.Check(std::strcmp(TToken2::FromId(i + 1).c_str(), name) == 0, std::string("text of ") + name);
    checks.Check(TToken2(name).GetId() == i + 1, std::string("id again of ") + name);
  }
  ShutdownEngineFull();
  checks.Exit();
}

TEST(EngineFullStartupDeathTest, ValueBlockTokensTakeIdsOneToThirtySixInListOrder) {
  EXPECT_EXIT(RunValueBlockTokens(), ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

}  // namespace
}  // namespace Orvan
