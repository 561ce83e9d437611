// Software command buffers and the call that pushes one.
#include "core/tasks/software_command_buffer.h"

#include "core/tasks/command_buffer_evaluator.h"
#include "core/tasks/command_buffer_system_data.h"
#include "core/tasks/completion_port.h"
#include "core/threads/thread_id.h"

namespace Orvan {

TSoftwareCommandBuffer::~TSoftwareCommandBuffer() {
  for (std::uint32_t i = calls_.GetSize(); i > 0; --i) delete calls_[i - 1];
  calls_.Clear();
}

void TSoftwareCommandBuffer::AddCallPointer(TAbstractDeferredCall* call) {
  // The call is owned from here on, also when the array cannot grow.
  try {
    calls_.PushBack(call);
  } catch (...) {
    delete call;
    throw;
  }
}

void TSoftwareCommandBuffer::AddPushCommandBuffer(TSoftwareCommandBufferRef& buffer) {
  AddCallPointer(new TDeferredPushCommandBuffer(std::move(buffer)));
}

void TSoftwareCommandBuffer::ReleaseCommandBuffer() {
  if (referenceCount_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void TSoftwareCommandBuffer::TakeCalls(TAbstractDeferredCall** out) {
  for (std::uint32_t i = 0; i < calls_.GetSize(); ++i) out[i] = calls_[i];
  calls_.Clear();
}

void TDeferredPushCommandBuffer::Splice(bool stampFirst, bool stampLater) {
  TSoftwareCommandBuffer& buffer = *buffer_.Get();
  const std::uint32_t count = buffer.GetCallCount();
  // Stamped first to last while the buffer still owns the calls, so siblings number in order.
  for (std::uint32_t i = 0; i < count; ++i) {
    if (i == 0 ? stampFirst : stampLater) StampOrderingIds(buffer.GetCall(i));
  }
  TInlineVector<TAbstractDeferredCall*, 16> calls;
  calls.Resize(count);
  buffer.TakeCalls(calls.Data());
  // Linked from the last call to the first, so that every call is owned by the chain at each step.
  TDeferredCallHolder chain = DetachOnAfterEval();
  for (std::uint32_t i = count; i > 0; --i) {
    TDeferredCallHolder call(calls[i - 1]);
    call->SetOnAfterEval(std::move(chain));
    chain = std::move(call);
  }
  SetOnAfterEval(std::move(chain));
}

void TDeferredPushCommandBuffer::EvalNow(TSoftwareCommandBufferEvaluator* evaluator) {
  if (!buffer_ || buffer_->GetCallCount() == 0) return;
  // A copy: calls run by the pushes below may set the thread's handle aside.
  const TCompletionPortHandleRef current = GetCurrentHandle();
  TSoftwareCommandBufferCompletionPort* port = current.GetPort();
  if (port == nullptr || evaluator == nullptr) {
    // Nothing to push through: the calls run next on this thread, in order.
    Splice(false, false);
    return;
  }
  const bool ordered = port->IsOrdered();
  if (!buffer_->IsParallel() || buffer_->GetCallCount() == 1) {
    // The later calls of a sequence are stamped in every case, the first only under an ordered port.
    Splice(ordered, true);
    return;
  }
  TSoftwareCommandBufferRef buffer = std::move(buffer_);
  if (GetOnAfterEval() == nullptr) {
    PushCommandBuffer(current, buffer, static_cast<std::int32_t>(port->GetLevel()));
    return;
  }
  // What follows this call waits for the buffer's work through a port of its own.
  AttachCall(GetOnAfterEval(), current);
  TDeferredCallHolder continuation = DetachOnAfterEval();
  TCompletionPortHandleRef handle =
      CreateCompletionPort(evaluator, port->GetOwnerThread(), "Completion port for TDeferredPushCommandBuffer parallel",
                           ordered, kPortConditionValue, kInternalPortLevel, port, &continuation);
  PushCommandBuffer(handle, buffer, kPortLevel);
  handle.Reset();
}

void DeferPushCommandBuffer(TAbstractDeferredCallThreadSafeStack& stack, TSoftwareCommandBufferRef& buffer) {
  if (!buffer || buffer->GetCallCount() == 0) {
    buffer.Reset();
    return;
  }
  TDeferredCallHolder push(new TDeferredPushCommandBuffer(std::move(buffer)));
  stack.Push(push);
}

}  // namespace Orvan
