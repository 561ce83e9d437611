// Completion ports, their handle and the pushes through a handle.
#include "core/tasks/completion_port.h"

#include "core/containers/array_utilities.h"
#include "core/tasks/command_buffer_evaluator.h"
#include "core/tasks/command_buffer_system_data.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_id.h"

namespace Orvan {

// ---- Handle references.

TCompletionPortHandleRef::TCompletionPortHandleRef(TCompletionPortHandle* handle) : handle_(handle) {
  if (handle_ != nullptr) handle_->AddRef();
}

void TCompletionPortHandleRef::Reset() {
  if (handle_ != nullptr) std::exchange(handle_, nullptr)->Release();
}

TSoftwareCommandBufferCompletionPort* TCompletionPortHandleRef::GetPort() const {
  return handle_ != nullptr ? handle_->GetPort() : nullptr;
}

void TCompletionPortHandle::Release() {
  if (referenceCount_.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  TSoftwareCommandBufferCompletionPort* port = GetPort();
  if (parked_.IsEmpty()) {
    // Everything the completion needs is read before the signal, which may end the port (a
    // self-deleting port, or a waiter that returns and destroys a port on its stack); the handle
    // is part of the port.
    TSoftwareCommandBufferEvaluator* evaluator = port->evaluator_;
    const std::uint32_t level = port->level_;
    TDeferredCallHolder continuation = std::move(port->continuation_);
    port->ResetPort();
    port_.store(nullptr, std::memory_order_release);
    port->SignalCompletion();
    if (continuation) evaluator->PushCall(continuation, level);
    return;
  }
  // Parked calls run once the work in flight is done: they go out under the handle, and the last
  // of their releases comes back here.
  TCompletionPortHandleRef self(this);
  TAbstractDeferredCallThreadSafeStack parked;
  parked.TakeAll(parked_);
  TDeferredCallHolder call;
  while (parked.PopSingleConsumer(call)) PushCallThroughHandle(self, call, kPortLevel);
}

// ---- Ports.

TSoftwareCommandBufferCompletionPort::TSoftwareCommandBufferCompletionPort(TSoftwareCommandBufferEvaluator* evaluator,
                                                                           std::uint32_t ownerThread,
                                                                           const char* name,
                                                                           std::uint32_t conditionValue,
                                                                           bool helpWhileWaiting, bool ordered,
                                                                           TSoftwareCommandBufferCompletionPort* parent)
    : name_(name),
      ownerThread_(ownerThread),
      evaluator_(evaluator),
      autoSuicide_(false),
      helpWhileWaiting_(helpWhileWaiting),
      ordered_(ordered),
      parent_(parent),
      condition_(&mutex_, name, conditionValue) {}

TSoftwareCommandBufferCompletionPort::TSoftwareCommandBufferCompletionPort(TAutoSuicideTag,
                                                                           TSoftwareCommandBufferEvaluator* evaluator,
                                                                           std::uint32_t ownerThread,
                                                                           const char* name, bool ordered,
                                                                           std::uint32_t conditionValue,
                                                                           TSoftwareCommandBufferCompletionPort* parent)
    : TSoftwareCommandBufferCompletionPort(evaluator, ownerThread, name, conditionValue, false, ordered, parent) {
  autoSuicide_ = true;
}

TSoftwareCommandBufferCompletionPort::~TSoftwareCommandBufferCompletionPort() {
  autoSuicide_ = false;
  if ((GetState() & kInUse) != 0) WaitForCompletion(false);
}

void TSoftwareCommandBufferCompletionPort::ReleaseReference() {
  if (referenceCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete static_cast<TSoftwareCommandBufferCompletionPortAutoSuicide*>(this);
  }
}

TCompletionPortHandleRef TSoftwareCommandBufferCompletionPort::AttachHandle(std::uint32_t level) {
  level_ = level;
  handle_.referenceCount_.store(1, std::memory_order_relaxed);
  handle_.port_.store(this, std::memory_order_release);
  currentHandle_ = &handle_;
  state_.store(kInUse | kPending | kHandleAttached, std::memory_order_release);
  return TCompletionPortHandleRef::Adopt(&handle_);
}

TCompletionPortHandleRef TSoftwareCommandBufferCompletionPort::AttachHandleWithContinuation(
    TDeferredCallHolder& continuation, std::uint32_t level) {
  TCompletionPortHandleRef handle = AttachHandle(level);
  continuation_.swap(continuation);
  return handle;
}

bool TSoftwareCommandBufferCompletionPort::IsOwnerThread() const { return GetCurrentThreadId() == ownerThread_; }

TSoftwareCommandBufferCompletionPort* TSoftwareCommandBufferCompletionPort::GetRoot() {
  TSoftwareCommandBufferCompletionPort* port = this;
  while (port->parent_ != nullptr) port = port->parent_;
  return port;
}

void TSoftwareCommandBufferCompletionPort::SignalCompletion() {
  const bool held = autoSuicide_;
  if (held) AddReference();
  {
    TMutexLocker locker(mutex_);
    state_.fetch_and(~kPending, std::memory_order_acq_rel);
    if (!IsOwnerThread()) condition_.Broadcast();
  }
  if (held) ReleaseReference();
}

std::uint32_t TSoftwareCommandBufferCompletionPort::PostCall(TDeferredCallHolder& call, std::uint32_t threshold) {
  TSoftwareCommandBufferCompletionPort* root = GetRoot();
  // Counted before it is pushed: a waiter that sees the count above 0 processes again instead of
  // sleeping.
  const std::uint32_t count = root->postedCount_.fetch_add(1, std::memory_order_acq_rel) + 1;
  root->postedCalls_.Push(call);
  if (count >= threshold) {
    TMutexLocker locker(root->mutex_);
    root->condition_.Broadcast();
  }
  return count;
}

void TSoftwareCommandBufferCompletionPort::RunPostedCalls() {
  while (!postedCalls_.IsEmpty()) {
    TAbstractDeferredCallThreadSafeStack taken;
    taken.TakeAll(postedCalls_);
    TDeferredCallHolder call;
    try {
      while (taken.PopSingleConsumer(call)) {
        evaluator_->EvaluateNow(call);
        postedCount_.fetch_sub(1, std::memory_order_acq_rel);
      }
    } catch (...) {
      // The call that threw is gone; the ones not run yet go too, and none stays counted.
      postedCount_.fetch_sub(1, std::memory_order_acq_rel);
      while (taken.PopSingleConsumer(call)) {
        call.reset();
        postedCount_.fetch_sub(1, std::memory_order_acq_rel);
      }
      throw;
    }
  }
}

void TSoftwareCommandBufferCompletionPort::ProcessPosted() {
  if (!IsOwnerThread()) return;
  if (IsEngineMainThread()) {
    evaluator_->DeleteMainThreadCalls();
    RunPostedCalls();
    evaluator_->DeleteMainThreadCalls();
  } else {
    RunPostedCalls();
  }
}

void TSoftwareCommandBufferCompletionPort::WaitForCompletion(bool raiseLevel) {
  if (raiseLevel) level_ = 1;
  // A self-deleting port stays alive until the wait is over.
  class TWaitReference {
   public:
    explicit TWaitReference(TSoftwareCommandBufferCompletionPort* port) : port_(port->autoSuicide_ ? port : nullptr) {
      if (port_ != nullptr) port_->AddReference();
    }
    ~TWaitReference() {
      if (port_ != nullptr) port_->ReleaseReference();
    }
    TWaitReference(const TWaitReference&) = delete;
    TWaitReference& operator=(const TWaitReference&) = delete;

   private:
    TSoftwareCommandBufferCompletionPort* port_;
  } reference(this);

  ProcessPosted();
  const bool owner = IsOwnerThread();
  if (helpWhileWaiting_ && owner) {
    while ((GetState() & kPending) != 0) {
      if (evaluator_->TryRunOne(level_)) break;
      ProcessPosted();
    }
  }
  ProcessPosted();
  mutex_.Lock();
  if ((GetState() & kPending) != 0) {
    state_.fetch_or(kSleeping, std::memory_order_acq_rel);
    // Sleeps only while nothing is posted: a call posted since the last processing may be what
    // completes the port. Processing may complete it on this thread, which broadcasts nothing,
    // so the bit is looked at again before every sleep.
    while ((GetState() & kPending) != 0) {
      if (!owner || postedCount_.load(std::memory_order_acquire) == 0) {
        condition_.Wait();
        continue;
      }
      mutex_.Unlock();
      ProcessPosted();
      mutex_.Lock();
    }
  }
  mutex_.Unlock();
  state_.fetch_and(~kSleeping, std::memory_order_acq_rel);
  ProcessPosted();
  if (owner && !completionCalls_.IsEmpty()) RunCompletionCalls();
  state_.fetch_and(~kInUse, std::memory_order_acq_rel);
}

void TSoftwareCommandBufferCompletionPort::RunCompletionCalls() {
  while (!completionCalls_.IsEmpty()) {
    TAbstractDeferredCallThreadSafeStack taken;
    taken.TakeAll(completionCalls_);
    TInlineVector<TAbstractDeferredCall*, 512, TThreadHeapStorage> calls;
    // Until a call is in the array, the local stack owns it.
    while (TAbstractDeferredCall* call = taken.PeekTop()) {
      calls.PushBack(call);
      static_cast<void>(taken.PopSingleConsumerPointer());
    }
    if (ordered_) SortByKey(calls.Data(), calls.Data() + calls.GetSize());
    try {
      while (!calls.IsEmpty()) {
        TDeferredCallHolder call(calls.Back());
        calls.PopBack();
        AttachCall(call.get(), GetCurrentHandle());
        evaluator_->EvaluateNow(call);
      }
    } catch (...) {
      for (TAbstractDeferredCall* call : calls) delete call;
      throw;
    }
  }
}

void TSoftwareCommandBufferCompletionPort::PushCompletionCall(TDeferredCallHolder& call) {
  if (ordered_) StampOrderingIds(call.get());
  TSoftwareCommandBufferCompletionPort* target = this;
  if (continuation_) {
    // A continuation with no handle, or one whose port has completed, leaves the call here.
    TSoftwareCommandBufferCompletionPort* continued = continuation_->GetPort();
    if (continued != nullptr) target = continued;
  }
  target->GetRoot()->completionCalls_.Push(call);
}

void TSoftwareCommandBufferCompletionPort::ResetPort() {
  currentHandle_ = nullptr;
  state_.fetch_and(~kHandleAttached, std::memory_order_acq_rel);
}

// ---- Free functions.

TCompletionPortHandleRef CreateCompletionPort(TSoftwareCommandBufferEvaluator* evaluator, std::uint32_t ownerThread,
                                              const char* name, bool ordered, std::uint32_t conditionValue,
                                              std::uint32_t level, TSoftwareCommandBufferCompletionPort* parent,
                                              TDeferredCallHolder* continuation) {
  auto* port = new TSoftwareCommandBufferCompletionPortAutoSuicide(evaluator, ownerThread, name, ordered,
                                                                   conditionValue, parent);
  return continuation != nullptr ? port->AttachHandleWithContinuation(*continuation, level)
                                 : port->AttachHandle(level);
}

void ReleaseAndWait(TCompletionPortHandleRef& handle) {
  TSoftwareCommandBufferCompletionPort* port = handle.GetPort();
  if (port == nullptr) {
    handle.Reset();
    return;
  }
  // The wait's reference comes first: the release may complete, and end, a self-deleting port.
  const bool held = port->IsAutoSuicide();
  if (held) port->AddReference();
  handle.Reset();
  try {
    port->WaitForCompletion(false);
  } catch (...) {
    if (held) port->ReleaseReference();
    throw;
  }
  if (held) port->ReleaseReference();
}

void AttachCall(TAbstractDeferredCall* call, const TCompletionPortHandleRef& handle) { call->GetHandle() = handle; }

void SwapHandle(TAbstractDeferredCall* call, TCompletionPortHandleRef& holder) { call->GetHandle().Swap(holder); }

namespace {

std::uint32_t ResolveLevel(const TSoftwareCommandBufferCompletionPort* port, std::int32_t level) {
  return level < 0 ? port->GetLevel() : static_cast<std::uint32_t>(level);
}

}  // namespace

void PushCallThroughHandle(const TCompletionPortHandleRef& handle, TDeferredCallHolder& call, std::int32_t level) {
  TSoftwareCommandBufferCompletionPort* port = handle.GetPort();
  if (port->IsOrdered()) StampOrderingIds(call.get());
  const std::uint32_t resolved = ResolveLevel(port, level);
  AttachCall(call.get(), handle);
  port->GetEvaluator()->PushCall(call, resolved);
}

void PushCommandBuffer(const TCompletionPortHandleRef& handle, TSoftwareCommandBufferRef& buffer, std::int32_t level) {
  TSoftwareCommandBufferRef held = std::move(buffer);
  const std::uint32_t count = held->GetCallCount();
  if (count == 0) return;
  TSoftwareCommandBufferCompletionPort* port = handle.GetPort();
  if (port->IsOrdered()) {
    for (std::uint32_t i = 0; i < count; ++i) StampOrderingIds(held->GetCall(i));
  }
  TSoftwareCommandBufferEvaluator* evaluator = port->GetEvaluator();
  const bool everyCall = held->IsParallel() && !evaluator->IsImmediate();
  for (std::uint32_t i = 0; i < (everyCall ? count : 1); ++i) AttachCall(held->GetCall(i), handle);
  evaluator->QueuePushCommandBuffer(*held.Get(), evaluator->IsImmediate() ? 0 : ResolveLevel(port, level));
}

void PushCommandBufferToOwner(const TCompletionPortHandleRef& handle, TSoftwareCommandBufferRef& buffer) {
  TSoftwareCommandBufferRef held = std::move(buffer);
  TSoftwareCommandBufferCompletionPort* port = handle.GetPort();
  if (GetCurrentThreadId() == port->GetOwnerThread()) {
    port->GetEvaluator()->EvaluateAllNow(*held.Get());
    return;
  }
  // Posted last first: the owner pops them first to last. Every post wakes the owner.
  for (std::uint32_t i = held->GetCallCount(); i > 0; --i) {
    TDeferredCallHolder call(held->TakeLastCall());
    port->PostCall(call, 1);
  }
}

void PushCallToOwner(const TCompletionPortHandleRef& handle, TDeferredCallHolder& call) {
  TSoftwareCommandBufferCompletionPort* port = handle.GetPort();
  if (GetCurrentThreadId() == port->GetOwnerThread()) {
    port->GetEvaluator()->EvaluateNow(call);
  } else {
    port->PostCall(call, 1);
  }
}

void PushThroughHandle(const TCompletionPortHandleRef& handle, bool toOwner, TSoftwareCommandBufferRef& buffer,
                       std::int32_t level) {
  if (toOwner) {
    PushCommandBufferToOwner(handle, buffer);
  } else {
    PushCommandBuffer(handle, buffer, level);
  }
}

void PushThroughHandle(const TCompletionPortHandleRef& handle, bool toOwner, TDeferredCallHolder& call,
                       std::int32_t level) {
  if (toOwner) {
    PushCallToOwner(handle, call);
  } else {
    PushCallThroughHandle(handle, call, level);
  }
}

std::uint32_t GetCurrentLevel(std::uint32_t defaultLevel) {
  TSoftwareCommandBufferCompletionPort* port = GetCurrentHandle().GetPort();
  return port != nullptr ? port->GetLevel() : defaultLevel;
}

bool CompareOrderingIdsGreater(const TAbstractDeferredCall* a, const TAbstractDeferredCall* b) {
  return IsKeyLess(b->GetSortKey(), a->GetSortKey());
}

}  // namespace Orvan
