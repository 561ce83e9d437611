// The per-thread container list and its slot.
#include "core/objects/killable_container_list.h"

#include <utility>

#include "core/diagnostics/engine_exception.h"

namespace Orvan {

namespace {
// Negative: no limit.
thread_local int t_nodeAllowance = -1;
}  // namespace

bool KillableDetail::TakeNodeAllowance() noexcept {
  if (t_nodeAllowance < 0) return true;
  if (t_nodeAllowance == 0) return false;
  --t_nodeAllowance;
  return true;
}

int SetKillableListNodeAllowanceForTests(int allowance) noexcept { return std::exchange(t_nodeAllowance, allowance); }

void TKillableContainerList::PrepareNodePool() {
  // A list's node allocator, rebound to the node type, builds its pool when it is constructed.
  const TList probe;
  static_cast<void>(probe);
}

void TKillableContainerList::PushFront(IKillableContainer* const* watchers, std::uint32_t count) {
  // Built aside first, so that a refused node leaves the list as it was.
  TList parked;
  for (std::uint32_t i = 0; i < count; ++i) parked.push_back(watchers[i]);
  list_.splice(list_.begin(), parked);
}

bool TKillableContainerList::TakeFront(IKillableContainer* container) noexcept {
  if (list_.empty() || list_.front() != container) return false;
  list_.pop_front();
  return true;
}

TKillableContainerList* FindKillableContainerList() noexcept {
  const std::uint32_t slot = GetKillableContainerListSlotIndex();
  if (slot == TThreadLocalStorageManager::kNoSlot || GetCurrentThreadSlotArray() == nullptr) return nullptr;
  return static_cast<TKillableContainerList*>(ReadThreadLocalSlot(slot));
}

TKillableContainerList* GetKillableContainerList() {
  const std::uint32_t slot = GetKillableContainerListSlotIndex();
  if (slot == TThreadLocalStorageManager::kNoSlot) {
    throw EException(L"The thread-local slot \"KillableContainerList\" is not registered");
  }
  auto* list = static_cast<TKillableContainerList*>(ReadThreadLocalSlot(slot));
  if (list == nullptr) {
    list = new TKillableContainerList;
    GetThreadLocalStorageManager()->SetSlot(slot, list);
  }
  return list;
}

}  // namespace Orvan
