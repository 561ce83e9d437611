// Each thread's list of the watchers a kill is about to notify. A kill parks its watchers at the
// front and takes them off one by one as it notifies them; a container destroyed meanwhile leaves
// the list, so the kill skips it instead of calling a dead object. The list sits in the
// thread-local slot "KillableContainerList" and dies with the thread's other slot objects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <new>

#include <boost/pool/pool_alloc.hpp>

#include "core/threads/thread_local_storage.h"

namespace Orvan {

class IKillableContainer;

namespace KillableDetail {
// Takes one node from the calling thread's test allowance; false when the allowance is spent.
bool TakeNodeAllowance() noexcept;
}  // namespace KillableDetail

// List nodes come from Boost's singleton pool of node-sized blocks (32 nodes per growth, no
// limit), shared by every thread under the pool's mutex, through its fast pool allocator.
template <typename T>
class TKillableListNodeAllocator
    : public boost::fast_pool_allocator<T, boost::default_user_allocator_new_delete,
                                        boost::details::pool::default_mutex, 32, 0> {
  using TBase = boost::fast_pool_allocator<T, boost::default_user_allocator_new_delete,
                                           boost::details::pool::default_mutex, 32, 0>;

 public:
  template <typename U>
  struct rebind {
    using other = TKillableListNodeAllocator<U>;
  };

  TKillableListNodeAllocator() = default;
  template <typename U>
  TKillableListNodeAllocator(const TKillableListNodeAllocator<U>&) {}

  static T* allocate(std::size_t count) {
    if (!KillableDetail::TakeNodeAllowance()) throw std::bad_alloc();
    return TBase::allocate(count);
  }
  template <typename U>
  bool operator==(const TKillableListNodeAllocator<U>&) const noexcept {
    return true;
  }
};

class TKillableContainerList final : public TThreadLocalObject {
 public:
  using TList = std::list<IKillableContainer*, TKillableListNodeAllocator<IKillableContainer*>>;

  // Puts the watchers, in order, in front of the list; on std::bad_alloc the list is unchanged.
  void PushFront(IKillableContainer* const* watchers, std::uint32_t count);
  // Unlinks the first node when it holds `container`; false otherwise (the container is gone).
  bool TakeFront(IKillableContainer* container) noexcept;
  // Unlinks every node holding `container`.
  void Remove(IKillableContainer* container) noexcept { list_.remove(container); }
  std::size_t GetSize() const noexcept { return list_.size(); }

  // Builds the Boost pool the nodes come from (Boost builds a pool on its first use, without a
  // lock); the engine's static initialisers call it so that it exists before main.
  static void PrepareNodePool();

 private:
  TList list_;
};

// The calling thread's list, made and stored in its slot on first use. The slot must have been
// registered (RegisterKillableContainerListSlot); EException otherwise.
TKillableContainerList* GetKillableContainerList();
// The calling thread's list, or null when it has none (or the slot or the thread is not
// registered).
TKillableContainerList* FindKillableContainerList() noexcept;

// Test seam over the list nodes: the calling thread gets `allowance` more nodes, and every later
// one is refused with std::bad_alloc; a negative allowance lifts the limit. Returns the previous.
int SetKillableListNodeAllowanceForTests(int allowance) noexcept;

}  // namespace Orvan
