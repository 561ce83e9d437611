// The engine core's start-up and shutdown, run for real in a child process: the test program's
// own engine is shut down there first, then started and stopped again.
#include "core/startup/engine_core_startup.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/filesystem/file_extension.h"
#include "core/filesystem/file_name.h"
#include "core/filesystem/file_name_registry.h"
#include "core/filesystem/well_known_names.h"
#include "core/memory/big_chunk_allocator.h"
#include "core/memory/heap.h"
#include "core/memory/stack_based_allocator.h"
#include "core/memory/thread_local_heap.h"
#include "core/memory/typed_pool.h"
#include "core/objects/weak_observer_registry.h"
#include "core/singletons/singleton.h"
#include "core/text/engine_string.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_local_storage.h"
#include "core/tokens/token_tables.h"
#include "support/child_checks.h"

namespace Orvan {
namespace {

using OrvTest::TChildChecks;

// An object with a pool of its own, made during the run.
struct TRoundTripRecord {
  std::uint64_t words[3];
};
using TRoundTripPool = TPoolAllocation<TRoundTripRecord>;

// Every process-wide pointer the start-up sets and the shutdown clears.
std::vector<std::pair<std::string, const void*>> CollectCorePointers() {
  std::vector<std::pair<std::string, const void*>> pointers = {
      {"string heap", GetStringHeap()},
      {"general heap", GetGeneralHeap()},
      {"big-chunk allocator", GetBigChunkAllocator()},
      {"weak-observer registry", TWeakObserverRegistry::Get()},
      {"narrow string pool", GetStringContentPool<char>()},
      {"wide string pool", GetStringContentPool<wchar_t>()},
      {"singleton registry", TSingletonRegistry::Get()},
      {"file-name registry", TFileNameRegistry::Get()},
      {"file-extension mutex", TFileExtensionRegistry::GetMutex()},
      {"file-extension map", TFileExtensionRegistry::GetMap()},
      {"file-extension texts", TFileExtensionRegistry::GetTexts()},
      {"well-known names", GetWellKnownNames()},
      {"thread-local storage manager", GetThreadLocalStorageManager()},
      {"shared stack-based allocator", TSharedStackBasedBigChunkAllocator::GetInstancePointer()},
  };
  int table = 0;
  TAllTokenTables::ForEach([&]<typename TTable>() {
    const std::string name = "token table " + std::to_string(++table);
    pointers.emplace_back(name + " mutex", TTable::GetMutex());
    pointers.emplace_back(name + " map", TTable::GetMap());
    pointers.emplace_back(name + " pages", TTable::GetPages());
  });
  return pointers;
}

void CheckStarted(TChildChecks& checks, std::uint32_t attachedBefore) {
  for (const auto& [name, pointer] : CollectCorePointers()) checks.Check(pointer != nullptr, name + " is set");
  TThreadLocalStorageManager* manager = GetThreadLocalStorageManager();
  if (manager != nullptr) {
    ORV_CHILD_CHECK(checks, GetThreadLocalHeapSlotIndex() == manager->FindSlotIndex("ThreadLocalHeap"));
    ORV_CHILD_CHECK(checks,
                    GetThreadLocalStackAllocatorSlotIndex() == manager->FindSlotIndex("ThreadLocalStackBasedAllocator"));
    ORV_CHILD_CHECK(checks, GetThreadLocalHeapSlotIndex() != TThreadLocalStorageManager::kNoSlot);
    ORV_CHILD_CHECK(checks, manager->GetThreadCount() == 1);
  }
  ORV_CHILD_CHECK(checks, GetCurrentThreadSlotArray() != nullptr);
  ORV_CHILD_CHECK(checks, GetCurrentThreadIndex() != 0);
  ORV_CHILD_CHECK(checks, GetAttachedThreadCount() == attachedBefore + 1);
  ORV_CHILD_CHECK(checks, TSharedStackBasedBigChunkAllocator::GetInstancePointer() == nullptr ||
                              TSharedStackBasedBigChunkAllocator::GetInstancePointer()->IsSharedChunkAvailable());
  ORV_CHILD_CHECK(checks, GetEngineStartedFlag() == 1);
}

void CheckStopped(TChildChecks& checks, std::uint32_t attachedBefore) {
  for (const auto& [name, pointer] : CollectCorePointers()) checks.Check(pointer == nullptr, name + " is null");
  ORV_CHILD_CHECK(checks, GetCurrentThreadSlotArray() == nullptr);
  ORV_CHILD_CHECK(checks, GetAttachedThreadCount() == attachedBefore);
  ORV_CHILD_CHECK(checks, GetEngineStartedFlag() == 0);
}

[[noreturn]] void RunCoreRoundTrip() {
  TChildChecks checks;
  // The test program started its engine through InitEngineCore: stopping it leaves nothing.
  ORV_CHILD_CHECK(checks, GetEngineStartedFlag() == 1);
  ShutdownEngineCore();
  const std::uint32_t attachedBefore = GetAttachedThreadCount();
  CheckStopped(checks, attachedBefore);

  InitEngineCore();
  CheckStarted(checks, attachedBefore);

  // Used during the run: a pool, the thread's heap and stack-based allocator, a name, a string.
  TRoundTripRecord* record = static_cast<TRoundTripRecord*>(TRoundTripPool::Instance()->Allocate());
  TRoundTripPool::GetInstancePointer()->Free(record);
  GetThreadLocalHeap()->Free(GetThreadLocalHeap()->Allocate(64));
  ORV_CHILD_CHECK(checks, GetThreadStackAllocator() != nullptr);
  std::optional<TFileName> heldName(std::in_place, "Held:past/the/shutdown.txt");
  std::optional<TOrvString<char>> heldText(std::in_place, "a text held past the shutdown of its pool");

  ShutdownEngineCore();
  CheckStopped(checks, attachedBefore);
  ORV_CHILD_CHECK(checks, TRoundTripPool::GetInstancePointer() == nullptr);
  // Their registry and pool are gone: destroying them touches nothing (the sanitizers would see it).
  heldName.reset();
  heldText.reset();
  checks.Exit();
}

TEST(EngineCoreStartupDeathTest, RoundTripSetsEveryServiceAndClearsItAgainWithoutLeaks) {
  EXPECT_EXIT(RunCoreRoundTrip(), ::testing::ExitedWithCode(TChildChecks::kPassed), "");
}

}  // namespace
}  // namespace Orvan
