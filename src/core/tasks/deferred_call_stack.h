// The lock-free LIFO through which threads hand deferred calls to each other: one {top, tag} pair
// swapped as a unit, the tag bumped by every change so that a swap that read the pair before the
// same call came back (the pools recycle addresses) fails.
#pragma once

#include <cstdint>

#include "core/sync/tagged_pointer.h"
#include "core/tasks/deferred_call.h"

namespace Orvan {

namespace DeferredCallDetail {

// Which field of a call links it into a stack.
struct TNextLink {
  static TAbstractDeferredCall*& Of(TAbstractDeferredCall* call) { return call->next; }
};
struct TFifoLink {
  static TAbstractDeferredCall*& Of(TAbstractDeferredCall* call) { return call->nextValueForFifo; }
};

}  // namespace DeferredCallDetail

template <typename TLink>
class TDeferredCallStack {
 public:
  TDeferredCallStack() = default;
  TDeferredCallStack(const TDeferredCallStack&) = delete;
  TDeferredCallStack& operator=(const TDeferredCallStack&) = delete;
  // Calls still stacked are deleted.
  ~TDeferredCallStack() { DeleteAll(); }

  // Takes the call out of the holder (leaving it null) and makes it the new top; answers the
  // previous top.
  TAbstractDeferredCall* Push(TDeferredCallHolder& holder) { return PushPointer(holder.release()); }
  TAbstractDeferredCall* PushPointer(TAbstractDeferredCall* call) {
    for (;;) {
      const TTaggedPointer top = LoadTaggedPointer(pair_);
      TLink::Of(call) = static_cast<TAbstractDeferredCall*>(top.pointer);
      if (CompareAndSwapTaggedPointer(pair_, top, {call, top.tag + 1})) {
        return static_cast<TAbstractDeferredCall*>(top.pointer);
      }
      __builtin_ia32_pause();
    }
  }

  // Moves the top call into the holder (deleting what it held); false, holder untouched, when
  // the stack is empty.
  bool Pop(TDeferredCallHolder& holder) {
    TAbstractDeferredCall* call = PopPointer();
    if (call == nullptr) return false;
    holder.reset(call);
    return true;
  }
  TAbstractDeferredCall* PopPointer() {
    for (;;) {
      const TTaggedPointer top = LoadTaggedPointer(pair_);
      auto* call = static_cast<TAbstractDeferredCall*>(top.pointer);
      if (call == nullptr) return nullptr;
      // Another thread may have popped the call and be reusing it: the stale link is dropped by
      // the failing swap.
      void* next = ReadRacyLink(reinterpret_cast<void* const*>(&TLink::Of(call)));
      if (CompareAndSwapTaggedPointer(pair_, top, {next, top.tag + 1})) {
        TLink::Of(call) = nullptr;
        return call;
      }
      __builtin_ia32_pause();
    }
  }

  // Pop for a stack only its owning thread uses: plain stores, no swap.
  bool PopSingleConsumer(TDeferredCallHolder& holder) {
    TAbstractDeferredCall* call = PopSingleConsumerPointer();
    if (call == nullptr) return false;
    holder.reset(call);
    return true;
  }
  TAbstractDeferredCall* PopSingleConsumerPointer() {
    auto* call = static_cast<TAbstractDeferredCall*>(pair_.parts.pointer);
    if (call == nullptr) return nullptr;
    pair_.parts.pointer = TLink::Of(call);
    ++pair_.parts.tag;
    TLink::Of(call) = nullptr;
    return call;
  }

  // Moves the whole list of `source` into this empty local stack, same order; `source` ends empty.
  void TakeAll(TDeferredCallStack& source) {
    for (;;) {
      const TTaggedPointer taken = LoadTaggedPointer(source.pair_);
      if (CompareAndSwapTaggedPointer(source.pair_, taken, {pair_.parts.pointer, taken.tag + 1})) {
        pair_.parts = taken;
        return;
      }
      __builtin_ia32_pause();
    }
  }

  bool IsEmpty() const { return __atomic_load_n(&pair_.parts.pointer, __ATOMIC_ACQUIRE) == nullptr; }
  // The top call, read without synchronisation (for walks of a stack no one else changes).
  TAbstractDeferredCall* PeekTop() const { return static_cast<TAbstractDeferredCall*>(pair_.parts.pointer); }

  // Runs every call in the order of their pushes, each followed by its OnAfterEval chain, on the
  // calling thread with no evaluator. When a call throws, it and every call not yet run are
  // deleted (their ports complete) and the exception passes on.
  void DrainAndRun() {
    TDeferredCallStack taken;
    taken.TakeAll(*this);
    TDeferredCallStack inPushOrder;
    while (TAbstractDeferredCall* call = taken.PopSingleConsumerPointer()) inPushOrder.PushSingleOwner(call);
    // The local stacks delete what is left when an exception passes.
    TDeferredCallHolder running;
    while (inPushOrder.PopSingleConsumer(running)) {
      while (running) {
        running->EvalNow(nullptr);
        running = running->DetachOnAfterEval();
      }
    }
  }

  // Pops and deletes every call without running it.
  void DeleteAll() {
    while (TAbstractDeferredCall* call = PopPointer()) delete call;
  }

 private:
  void PushSingleOwner(TAbstractDeferredCall* call) {
    TLink::Of(call) = static_cast<TAbstractDeferredCall*>(pair_.parts.pointer);
    pair_.parts.pointer = call;
    ++pair_.parts.tag;
  }

  TAtomicTaggedPointer pair_;
};

using TAbstractDeferredCallThreadSafeStack = TDeferredCallStack<DeferredCallDetail::TNextLink>;

}  // namespace Orvan
