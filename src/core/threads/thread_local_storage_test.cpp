#include "core/threads/thread_local_storage.h"

#include <gtest/gtest.h>

#include <barrier>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/diagnostics/engine_exception.h"
#include "core/memory/thread_local_heap.h"
#include "core/sync/event.h"
#include "core/threads/thread_attachment.h"

namespace Orvan {
namespace {

// A fresh manager for each test: the engine's own (with its heap slot and the main thread's
// attach) is taken down first and put back afterwards.
class ThreadLocalStorage : public ::testing::Test {
 protected:
  void SetUp() override {
    DetachThreadFromEngine();
    DestroyThreadLocalStorageManager();
    manager_ = CreateThreadLocalStorageManager();
  }
  void TearDown() override {
    manager_->UnregisterThread();
    DestroyThreadLocalStorageManager();
    RegisterThreadLocalHeapSlot();
    AttachThreadToEngine();
  }
  TThreadLocalStorageManager* manager_ = nullptr;
};

// Records the order in which slot objects die.
struct TRecordingObject final : TThreadLocalObject {
  TRecordingObject(std::vector<int>* deaths, int id) : deaths_(deaths), id_(id) {}
  ~TRecordingObject() override { deaths_->push_back(id_); }
  std::vector<int>* deaths_;
  int id_;
};

TEST_F(ThreadLocalStorage, SlotsAreFoundByNameWithoutRegardToCase) {
  EXPECT_EQ(manager_->RegisterSlot("ThreadLocalHeap"), 0u);
  EXPECT_EQ(manager_->RegisterSlot("KillableContainerList"), 1u);
  EXPECT_EQ(manager_->RegisterSlot(""), 2u);  // an index without a name
  EXPECT_EQ(manager_->RegisterSlot("threadlocalheap"), 3u);  // a second index for the same name
  EXPECT_EQ(manager_->FindSlotIndex("ThreadLocalHeap"), 0u);
  EXPECT_EQ(manager_->FindSlotIndex("threadlocalheap"), 0u);  // the first registration wins
  EXPECT_EQ(manager_->FindSlotIndex("KILLABLECONTAINERLIST"), 1u);
  EXPECT_EQ(manager_->FindSlotIndex("Unknown"), TThreadLocalStorageManager::kNoSlot);
  EXPECT_EQ(manager_->FindSlotIndex(""), TThreadLocalStorageManager::kNoSlot);
  EXPECT_EQ(manager_->GetSlotCount(), 4u);
}

TEST_F(ThreadLocalStorage, TheConstructingThreadIsRegisteredOnceAndKeepsItsArray) {
  TThreadSlotArray* array = GetCurrentThreadSlotArray();
  ASSERT_NE(array, nullptr);
  EXPECT_EQ(GetCurrentThreadIndex(), 1u);
  EXPECT_EQ(manager_->RegisterThread(), 0u);
  EXPECT_EQ(GetCurrentThreadSlotArray(), array);
  EXPECT_EQ(manager_->GetThreadCount(), 1u);
}

TEST_F(ThreadLocalStorage, IsASingletonTheEngineShutdownDestroys) {
  TSingletonRegistry* registry = TSingletonRegistry::Get();
  ASSERT_NE(registry, nullptr);
  bool listed = false;
  for (std::uint32_t i = 0; i < registry->GetSize(); ++i) {
    Meta::TSingletonBase* entry = registry->GetEntry(i);
    if (entry == manager_) {
      listed = true;
      EXPECT_EQ(entry->destroyedByRegistry, 0u);  // not the registry's to destroy
    }
  }
  EXPECT_TRUE(listed);
  EXPECT_EQ(GetThreadLocalStorageManager(), manager_);
  EXPECT_EQ(CreateThreadLocalStorageManager(), manager_);  // built once
  EXPECT_NE(GetThreadLocalStorageMutex(), nullptr);
}

TEST_F(ThreadLocalStorage, ASlotRegisteredLaterReadsNullUntilStored) {
  std::vector<int> deaths;
  const std::uint32_t first = manager_->RegisterSlot("First");
  manager_->SetSlot(first, new TRecordingObject(&deaths, 1));
  EXPECT_EQ(GetCurrentThreadSlotArray()->count, 1u);
  // Registered after the thread's array was made valid; the array holds stale bytes there.
  const std::uint32_t later = manager_->RegisterSlot("Later");
  GetCurrentThreadSlotArray()->slots[later] = reinterpret_cast<TThreadLocalObject*>(0x1);
  EXPECT_EQ(ReadThreadLocalSlot(later), nullptr);
  EXPECT_EQ(GetCurrentThreadSlotArray()->count, 2u);
  auto* stored = new TRecordingObject(&deaths, 2);
  manager_->SetSlot(later, stored);
  EXPECT_EQ(ReadThreadLocalSlot(later), stored);
  EXPECT_NE(ReadThreadLocalSlot(first), nullptr);
  // A slot the thread never reached is brought up on write too.
  const std::uint32_t third = manager_->RegisterSlot("Third");
  manager_->SetSlot(third, new TRecordingObject(&deaths, 3));
  EXPECT_EQ(GetCurrentThreadSlotArray()->count, 3u);
  manager_->UnregisterThread();
  EXPECT_EQ(deaths, (std::vector<int>{3, 2, 1}));
  manager_->RegisterThread();
}

TEST_F(ThreadLocalStorage, UnregisteringDestroysLastSlotFirstAndClearsTheThreadsKeys) {
  std::vector<int> deaths;
  std::vector<std::uint32_t> slots;
  for (int i = 0; i < 4; ++i) slots.push_back(manager_->RegisterSlot(("Slot" + std::to_string(i)).c_str()));
  manager_->SetSlot(slots[0], new TRecordingObject(&deaths, 0));
  manager_->SetSlot(slots[1], new TRecordingObject(&deaths, 1));
  // slots[2] stays empty
  manager_->SetSlot(slots[3], new TRecordingObject(&deaths, 3));
  manager_->UnregisterThread();
  EXPECT_EQ(deaths, (std::vector<int>{3, 1, 0}));
  EXPECT_EQ(GetCurrentThreadSlotArray(), nullptr);
  EXPECT_EQ(GetCurrentThreadIndex(), 0u);
  EXPECT_EQ(manager_->GetThreadCount(), 0u);
  // Unregistering again leaves everything alone.
  manager_->UnregisterThread();
  EXPECT_EQ(deaths.size(), 3u);
  // Registering again gives a new array with every slot null.
  EXPECT_EQ(manager_->RegisterThread(), 1u);
  for (std::uint32_t slot : slots) EXPECT_EQ(ReadThreadLocalSlot(slot), nullptr);
}

TEST_F(ThreadLocalStorage, The65thSlotIsRefused) {
  for (std::uint32_t i = 0; i < TThreadLocalStorageManager::kMaxSlots; ++i) {
    ASSERT_EQ(manager_->RegisterSlot(("Slot" + std::to_string(i)).c_str()), i);
  }
  try {
    manager_->RegisterSlot("OneTooMany");
    FAIL() << "no exception";
  } catch (const EException& exception) {
    EXPECT_STREQ(exception.what(), "Too many thread-local slots!");
  }
  EXPECT_EQ(manager_->GetSlotCount(), TThreadLocalStorageManager::kMaxSlots);
  EXPECT_EQ(manager_->FindSlotIndex("OneTooMany"), TThreadLocalStorageManager::kNoSlot);
  // Every one of the 64 slots is usable.
  manager_->SetSlot(63, nullptr);
  EXPECT_EQ(GetCurrentThreadSlotArray()->count, 64u);
}

TEST_F(ThreadLocalStorage, KillableContainerListSlotKeepsItsIndex) {
  manager_->RegisterSlot("Other");
  const std::uint32_t index = RegisterKillableContainerListSlot();
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(GetKillableContainerListSlotIndex(), index);
  EXPECT_EQ(manager_->FindSlotIndex("KillableContainerList"), index);
}

TEST(ThreadLocalStorageThreaded, AThreadNeverRegisteredHasNoIndexAndNoArray) {
  std::uint32_t index = 1;
  TThreadSlotArray* array = reinterpret_cast<TThreadSlotArray*>(0x1);
  std::thread([&] {
    index = GetCurrentThreadIndex();
    array = GetCurrentThreadSlotArray();
  }).join();
  EXPECT_EQ(index, 0u);
  EXPECT_EQ(array, nullptr);
}

TEST(ThreadLocalStorageThreaded, The129thThreadIsRefusedUntilOneLeaves) {
  TThreadLocalStorageManager* manager = GetThreadLocalStorageManager();
  const std::uint32_t already = manager->GetThreadCount();  // the main thread
  ASSERT_GE(already, 1u);
  ASSERT_LT(already, TThreadLocalStorageManager::kMaxThreads);
  const std::uint32_t workers = TThreadLocalStorageManager::kMaxThreads - already;

  std::barrier registered(static_cast<std::ptrdiff_t>(workers) + 1);
  std::vector<std::unique_ptr<TEvent>> leave;
  std::vector<std::uint32_t> indices(workers);
  std::vector<std::thread> threads;
  for (std::uint32_t i = 0; i < workers; ++i) leave.push_back(std::make_unique<TEvent>(TEvent::kManualReset));
  for (std::uint32_t i = 0; i < workers; ++i) {
    threads.emplace_back([&, i] {
      AttachThreadToEngine();
      indices[i] = GetCurrentThreadIndex();
      registered.arrive_and_wait();
      leave[i]->Wait();
      DetachThreadFromEngine();
    });
  }
  registered.arrive_and_wait();
  EXPECT_EQ(manager->GetThreadCount(), TThreadLocalStorageManager::kMaxThreads);
  // While nobody has left, numbers are handed out one after another.
  const std::set<std::uint32_t> distinct(indices.begin(), indices.end());
  EXPECT_EQ(distinct.size(), workers);
  EXPECT_EQ(*distinct.begin(), already + 1);
  EXPECT_EQ(*distinct.rbegin(), TThreadLocalStorageManager::kMaxThreads);

  const std::uint32_t attached = GetAttachedThreadCount();
  std::string refusal;
  std::uint32_t refusedIndex = 1;
  std::thread([&] {
    try {
      AttachThreadToEngine();
      DetachThreadFromEngine();
    } catch (const EException& exception) {
      refusal = exception.what();
    }
    refusedIndex = GetCurrentThreadIndex();
  }).join();
  EXPECT_EQ(refusal, "Too many threads!");
  EXPECT_EQ(refusedIndex, 0u);
  EXPECT_EQ(GetAttachedThreadCount(), attached);  // a refused attach is not counted
  EXPECT_EQ(manager->GetThreadCount(), TThreadLocalStorageManager::kMaxThreads);

  leave[0]->Set();
  threads[0].join();
  EXPECT_EQ(manager->GetThreadCount(), TThreadLocalStorageManager::kMaxThreads - 1);
  std::uint32_t lateIndex = 0;
  std::thread([&] {
    AttachThreadToEngine();
    lateIndex = GetCurrentThreadIndex();
    DetachThreadFromEngine();
  }).join();
  EXPECT_NE(lateIndex, 0u);

  for (std::uint32_t i = 1; i < workers; ++i) leave[i]->Set();
  for (std::uint32_t i = 1; i < workers; ++i) threads[i].join();
  EXPECT_EQ(manager->GetThreadCount(), already);
  EXPECT_EQ(GetAttachedThreadCount(), attached - workers);
}

}  // namespace
}  // namespace Orvan
