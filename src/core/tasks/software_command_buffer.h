// Software command buffers: a counted list of deferred calls that a producer fills and pushes to an
// evaluator, either as one sequence (each call after the previous, on one thread) or as
// independent calls that may run in parallel. TDeferredPushCommandBuffer is the call that pushes a
// buffer when it runs.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "core/containers/engine_vector.h"
#include "core/memory/typed_pool.h"
#include "core/tasks/deferred_call.h"
#include "core/tasks/deferred_call_stack.h"

namespace Orvan {

class TSoftwareCommandBufferRef;

class TSoftwareCommandBuffer {
 public:
  // Starts with reference count 0: it lives in counted holders (TSoftwareCommandBufferRef).
  explicit TSoftwareCommandBuffer(bool parallel) : parallel_(parallel ? 1u : 0u) {}
  // Deletes the calls still held (slots left null by ReleaseCall hold none), last first.
  ~TSoftwareCommandBuffer();
  TSoftwareCommandBuffer(const TSoftwareCommandBuffer&) = delete;
  TSoftwareCommandBuffer& operator=(const TSoftwareCommandBuffer&) = delete;

  // Appends the call, taking it out of the holder.
  void AddCall(TDeferredCallHolder& call) {
    AddCallPointer(call.get());
    static_cast<void>(call.release());
  }
  // Appends a call the caller owns; the buffer owns it from now on.
  void AddCallPointer(TAbstractDeferredCall* call);
  // Appends a call that pushes `buffer` when it runs; the holder ends null.
  void AddPushCommandBuffer(TSoftwareCommandBufferRef& buffer);

  void AddReference() { referenceCount_.fetch_add(1, std::memory_order_relaxed); }
  // The last release destroys the buffer.
  void ReleaseCommandBuffer();
  std::uint32_t GetReferenceCount() const { return referenceCount_.load(std::memory_order_relaxed); }

  bool IsParallel() const { return parallel_ != 0; }
  std::uint32_t GetCallCount() const { return calls_.GetSize(); }
  TAbstractDeferredCall* GetCall(std::uint32_t index) const { return calls_[index]; }
  // Takes every call out (in order) into `out`, which must have room for GetCallCount(); the buffer
  // ends empty.
  void TakeCalls(TAbstractDeferredCall** out);
  // Takes call `index` out, leaving its slot null; ClearReleasedCalls empties the array once every
  // call was taken.
  TAbstractDeferredCall* ReleaseCall(std::uint32_t index) { return std::exchange(calls_[index], nullptr); }
  void ClearReleasedCalls() { calls_.Clear(); }
  // Takes the last call out; the buffer must not be empty.
  TAbstractDeferredCall* TakeLastCall() {
    TAbstractDeferredCall* call = calls_.Back();
    calls_.PopBack();
    return call;
  }

  ORV_POOLED_ALLOCATION(TSoftwareCommandBuffer)

 private:
  std::atomic<std::uint32_t> referenceCount_{0};
  TInlineVector<TAbstractDeferredCall*, 16> calls_;
  std::uint32_t parallel_;
};

// A counted holder of a buffer: holding adds a reference, letting go releases it.
class TSoftwareCommandBufferRef {
 public:
  TSoftwareCommandBufferRef() noexcept = default;
  explicit TSoftwareCommandBufferRef(TSoftwareCommandBuffer* buffer) : buffer_(buffer) {
    if (buffer_ != nullptr) buffer_->AddReference();
  }
  // A new buffer in a holder.
  static TSoftwareCommandBufferRef Create(bool parallel) {
    return TSoftwareCommandBufferRef(new TSoftwareCommandBuffer(parallel));
  }
  TSoftwareCommandBufferRef(const TSoftwareCommandBufferRef& other) : TSoftwareCommandBufferRef(other.buffer_) {}
  TSoftwareCommandBufferRef(TSoftwareCommandBufferRef&& other) noexcept
      : buffer_(std::exchange(other.buffer_, nullptr)) {}
  TSoftwareCommandBufferRef& operator=(TSoftwareCommandBufferRef other) noexcept {
    std::swap(buffer_, other.buffer_);
    return *this;
  }
  ~TSoftwareCommandBufferRef() { Reset(); }

  void Reset() {
    if (buffer_ != nullptr) std::exchange(buffer_, nullptr)->ReleaseCommandBuffer();
  }
  TSoftwareCommandBuffer* Get() const noexcept { return buffer_; }
  TSoftwareCommandBuffer* operator->() const noexcept { return buffer_; }
  explicit operator bool() const noexcept { return buffer_ != nullptr; }

 private:
  TSoftwareCommandBuffer* buffer_ = nullptr;
};

// The call that pushes its buffer to an evaluator when it runs.
class TDeferredPushCommandBuffer final : public TAbstractDeferredCall {
 public:
  explicit TDeferredPushCommandBuffer(TSoftwareCommandBufferRef buffer) : buffer_(std::move(buffer)) {}
  // A sequential buffer, a parallel one of one call, or one run with no handle, port or evaluator
  // (queued straight, or by DrainAndRun) is spliced into this call's OnAfterEval chain and runs
  // next on this thread; a parallel buffer goes to the evaluator through the current handle, and
  // when something follows this call, a port of its own runs that once the buffer's work is done.
  void EvalNow(TSoftwareCommandBufferEvaluator* evaluator) override;
  const TSoftwareCommandBufferRef& GetBuffer() const { return buffer_; }

  ORV_POOLED_ALLOCATION(TDeferredPushCommandBuffer)

 private:
  // Links the buffer's calls in front of this call's OnAfterEval chain.
  void Splice(bool stampFirst, bool stampLater);

  TSoftwareCommandBufferRef buffer_;
};

// Parks a push of the buffer on `stack`, a handle's parked calls: it runs once all work then held
// by that handle has finished. The caller must hold a reference to that handle (it runs under it):
// parking on a handle nobody holds races its completion. An empty buffer is released instead.
void DeferPushCommandBuffer(TAbstractDeferredCallThreadSafeStack& stack, TSoftwareCommandBufferRef& buffer);

}  // namespace Orvan
