// Deferred calls: a call of a function, or of a member function on an object, packed with its
// arguments into a small pooled object that can be queued, chained and run later on another thread.
// They are the unit of work of the command buffers and their evaluators.
//
// Use:
//   TDeferredCallHolder call = MakeDeferredMemberCall(&target, &TTarget::Add, 1u, 5u);
//   stack.Push(call);                       // the holder is null afterwards
//   TDeferredCallHolder popped;  stack.Pop(popped);  popped->EvalNow(nullptr);
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

#include "core/containers/array_utilities.h"
#include "core/containers/engine_vector.h"
#include "core/memory/typed_pool.h"
#include "core/tasks/completion_port_handle.h"

namespace Orvan {

class TSoftwareCommandBufferEvaluator;
class TAbstractDeferredCall;

// The owning holder of a call: storing into a holder that holds a call deletes the old one; taking
// the call out (release) leaves it null.
using TDeferredCallHolder = std::unique_ptr<TAbstractDeferredCall>;

// The link of the lock-free call stacks.
struct TAbstractDeferredCallThreadSafeStackNode {
  TAbstractDeferredCall* next = nullptr;
};

class TAbstractDeferredCall : public TAbstractDeferredCallThreadSafeStackNode {
 public:
  // Ordering ids of up to two levels live inside the call.
  using TOrderingIds = TInlineVector<std::uint32_t, 2>;

  TAbstractDeferredCall() = default;
  TAbstractDeferredCall(const TAbstractDeferredCall&) = delete;
  TAbstractDeferredCall& operator=(const TAbstractDeferredCall&) = delete;
  // Empties the ids, deletes the OnAfterEval chain, then releases the handle (whose last release
  // completes its port).
  virtual ~TAbstractDeferredCall();

  // Runs the call; `evaluator` is the evaluator running it, or null.
  virtual void EvalNow(TSoftwareCommandBufferEvaluator* evaluator) = 0;

  TCompletionPortHandleRef& GetHandle() { return handle_; }
  // The port of the call's handle; null when the call reports to none.
  TSoftwareCommandBufferCompletionPort* GetPort() const { return handle_.GetPort(); }

  TAbstractDeferredCall* GetOnAfterEval() const { return onAfterEval_.get(); }
  // Replaces the chained call (deleting one held before).
  void SetOnAfterEval(TDeferredCallHolder call) { onAfterEval_ = std::move(call); }
  TDeferredCallHolder DetachOnAfterEval() { return std::move(onAfterEval_); }

  TOrderingIds& GetOrderingIds() { return orderingIds_; }
  const TOrderingIds& GetOrderingIds() const { return orderingIds_; }
  // The ids as the key of SortByKey.
  TSortKey GetSortKey() const { return TSortKey{orderingIds_.Data(), orderingIds_.GetSize()}; }

  bool GetKillInMainThread() const { return killInMainThread_; }
  void SetKillInMainThread(bool kill) { killInMainThread_ = kill; }

  // The link of an evaluator's queue level; read and written by the queue only.
  TAbstractDeferredCall* nextValueForFifo = nullptr;

 private:
  TCompletionPortHandleRef handle_;
  TDeferredCallHolder onAfterEval_;
  TOrderingIds orderingIds_;
  bool killInMainThread_ = false;
};

// ---- The concrete forms.

// A call of a free function with no argument.
class TDeferredFunctionCallWithParams final : public TAbstractDeferredCall {
 public:
  using TFunction = void (*)();
  explicit TDeferredFunctionCallWithParams(TFunction function) : function_(function) {}
  void EvalNow(TSoftwareCommandBufferEvaluator*) override { function_(); }

  ORV_DECLARE_POOLED_ALLOCATION()

 private:
  TFunction function_;
};

namespace DeferredCallDetail {
// The member forms are templates: their allocation goes to the member-call pool, named below.
template <typename TCall>
void* AllocateMemberCall(std::size_t size);
template <typename TCall>
void FreeMemberCall(void* block, std::size_t size) noexcept;
}  // namespace DeferredCallDetail

// The base of the member forms: the target object.
template <typename T>
class TAbstractDeferredMemberFunctionCall : public TAbstractDeferredCall {
 public:
  explicit TAbstractDeferredMemberFunctionCall(T* target) : target_(target) {}
  T* GetTarget() const { return target_; }

 protected:
  T* target_;
};

// A call of target->member(arguments...) with up to two stored arguments. Arguments are stored by
// value (integers, or engine strings holding a reference) and passed as the member declares them;
// a virtual member runs the target's override.
template <typename T, typename... TParams>
class TDeferredMemberFunctionCallWithParams final : public TAbstractDeferredMemberFunctionCall<T> {
  static_assert(sizeof...(TParams) <= 2, "deferred member calls store at most two arguments");

 public:
  using TMember = void (T::*)(TParams...);

  template <typename... TArgs>
  TDeferredMemberFunctionCallWithParams(T* target, TMember member, TArgs&&... arguments)
      : TAbstractDeferredMemberFunctionCall<T>(target),
        arguments_(std::forward<TArgs>(arguments)...),
        member_(member) {}

  void EvalNow(TSoftwareCommandBufferEvaluator*) override { Invoke(std::index_sequence_for<TParams...>{}); }

  static void* operator new(std::size_t size) {
    return DeferredCallDetail::AllocateMemberCall<TDeferredMemberFunctionCallWithParams>(size);
  }
  static void operator delete(void* block, std::size_t size) noexcept {
    DeferredCallDetail::FreeMemberCall<TDeferredMemberFunctionCallWithParams>(block, size);
  }

 private:
  template <std::size_t... I>
  void Invoke(std::index_sequence<I...>) {
    std::invoke(member_, this->target_, std::get<I>(arguments_)...);
  }

  std::tuple<std::remove_cvref_t<TParams>...> arguments_;
  TMember member_;
};

// ---- The two size-class pools: the function form in the smaller, the member forms (whose
// member-function pointer takes 16 bytes) in the larger. The largest member form stores two 8-byte
// arguments.
namespace DeferredCallDetail {
class TSizingTarget;
}  // namespace DeferredCallDetail

using TDeferredFunctionCallPool =
    TPoolAllocationRegionSegregated<kPoolSizeClassOf<TDeferredFunctionCallWithParams>, TAbstractDeferredCall>;
using TDeferredMemberCallPool = TPoolAllocationRegionSegregated<
    kPoolSizeClassOf<TDeferredMemberFunctionCallWithParams<DeferredCallDetail::TSizingTarget>,
                     TDeferredMemberFunctionCallWithParams<DeferredCallDetail::TSizingTarget, std::uint64_t>,
                     TDeferredMemberFunctionCallWithParams<DeferredCallDetail::TSizingTarget, std::uint64_t,
                                                           std::uint64_t>>,
    TAbstractDeferredCall>;

ORV_DEFINE_POOLED_ALLOCATION(TDeferredFunctionCallWithParams, TDeferredFunctionCallPool)

namespace DeferredCallDetail {
template <typename TCall>
void* AllocateMemberCall(std::size_t size) ORV_POOLED_ALLOCATION_BODY(TCall, TDeferredMemberCallPool)
template <typename TCall>
void FreeMemberCall(void* block, std::size_t size) noexcept ORV_POOLED_FREE_BODY(TDeferredMemberCallPool)
}  // namespace DeferredCallDetail

// ---- Makers.

inline TDeferredCallHolder MakeDeferredCall(void (*function)()) {
  return TDeferredCallHolder(new TDeferredFunctionCallWithParams(function));
}

template <typename T, typename... TParams, typename... TArgs>
TDeferredCallHolder MakeDeferredMemberCall(T* target, void (T::*member)(TParams...), TArgs&&... arguments) {
  return TDeferredCallHolder(
      new TDeferredMemberFunctionCallWithParams<T, TParams...>(target, member, std::forward<TArgs>(arguments)...));
}

}  // namespace Orvan
