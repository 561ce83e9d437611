// Completion ports: a port tells the thread that owns it when all the work pushed under it, and all
// the work that work pushed in turn, has finished. Every call pushed through the port's handle
// holds a counted reference to it; the handle's last release completes the port. The owner can also
// receive calls posted by other threads; it runs them while it waits.
//
// Use (what the evaluator's push-and-wait does):
//   TSoftwareCommandBufferCompletionPort port(evaluator, GetCurrentThreadId(), "Mine");
//   TCompletionPortHandleRef handle = port.AttachHandle(3);
//   PushCallThroughHandle(handle, call, kPortLevel);
//   handle.Reset();
//   port.WaitForCompletion(false);
#pragma once

#include <atomic>
#include <cstdint>

#include "core/memory/typed_pool.h"
#include "core/sync/condition_variable.h"
#include "core/sync/mutex.h"
#include "core/tasks/completion_port_handle.h"
#include "core/tasks/deferred_call.h"
#include "core/tasks/deferred_call_stack.h"
#include "core/tasks/software_command_buffer.h"

namespace Orvan {

class TSoftwareCommandBufferEvaluator;

// Sentinel level: the level of the port that the work goes through.
inline constexpr std::int32_t kPortLevel = -1;
// Level of the ports made by a parallel push and by the evaluators' termination.
inline constexpr std::uint32_t kInternalPortLevel = 4;
// The user value of the ports' conditions (kept, never read).
inline constexpr std::uint32_t kPortConditionValue = 30000;

class TCompletionPortHandle {
 public:
  TCompletionPortHandle() = default;
  TCompletionPortHandle(const TCompletionPortHandle&) = delete;
  TCompletionPortHandle& operator=(const TCompletionPortHandle&) = delete;

  void AddRef() { referenceCount_.fetch_add(1, std::memory_order_relaxed); }
  // The last release pushes the parked calls through the handle, or, with none parked, completes
  // the port.
  void Release();
  TSoftwareCommandBufferCompletionPort* GetPort() const { return port_.load(std::memory_order_acquire); }
  // Calls parked to run once the handle's work in flight has finished (DeferPushCommandBuffer).
  TAbstractDeferredCallThreadSafeStack& GetParkedCalls() { return parked_; }
  std::uint32_t GetReferenceCount() const { return referenceCount_.load(std::memory_order_relaxed); }

 private:
  friend class TSoftwareCommandBufferCompletionPort;

  std::atomic<std::uint32_t> referenceCount_{0};
  std::atomic<TSoftwareCommandBufferCompletionPort*> port_{nullptr};
  TAbstractDeferredCallThreadSafeStack parked_;
};

class TSoftwareCommandBufferCompletionPort {
 public:
  // State bits.
  static constexpr std::uint32_t kInUse = 1;
  static constexpr std::uint32_t kPending = 2;
  static constexpr std::uint32_t kSleeping = 4;
  static constexpr std::uint32_t kHandleAttached = 8;

  TSoftwareCommandBufferCompletionPort(TSoftwareCommandBufferEvaluator* evaluator, std::uint32_t ownerThread,
                                       const char* name = "TSoftwareCommandBufferCompletionPort",
                                       std::uint32_t conditionValue = kPortConditionValue,
                                       bool helpWhileWaiting = false, bool ordered = false,
                                       TSoftwareCommandBufferCompletionPort* parent = nullptr);
  // Waits for completion when the port is in use, deletes a continuation never pushed.
  ~TSoftwareCommandBufferCompletionPort();
  TSoftwareCommandBufferCompletionPort(const TSoftwareCommandBufferCompletionPort&) = delete;
  TSoftwareCommandBufferCompletionPort& operator=(const TSoftwareCommandBufferCompletionPort&) = delete;

  // Sets the level, starts the embedded handle with one reference (answered) and marks the port in
  // use with work pending.
  TCompletionPortHandleRef AttachHandle(std::uint32_t level);
  // The same; the holder's call becomes the continuation, pushed to the evaluator on completion.
  TCompletionPortHandleRef AttachHandleWithContinuation(TDeferredCallHolder& continuation, std::uint32_t level);

  // Returns once the port has completed; the owner thread runs posted calls meanwhile (and queued
  // work up to the port's level when it helps), then the completion calls. raiseLevel makes the
  // port's level 1 first.
  void WaitForCompletion(bool raiseLevel);
  // Clears the pending bit and wakes the waiter.
  void SignalCompletion();
  // Posts a call for the owner of the root of the parent chain; wakes it when the posted count
  // reaches `threshold`. Answers the count.
  std::uint32_t PostCall(TDeferredCallHolder& call, std::uint32_t threshold);
  // Runs the calls posted to this port (owner thread only).
  void RunPostedCalls();
  // Queues a call that the owner runs at the end of its wait, on the port the continuation reports
  // to when there is one (else this port), at the root of its parent chain.
  void PushCompletionCall(TDeferredCallHolder& call);
  // Forgets the handle.
  void ResetPort();

  void SetLevel(std::uint32_t level) { level_ = level; }
  std::uint32_t GetLevel() const { return level_; }
  TSoftwareCommandBufferEvaluator* GetEvaluator() const { return evaluator_; }
  std::uint32_t GetOwnerThread() const { return ownerThread_; }
  const char* GetName() const { return name_; }
  bool IsOrdered() const { return ordered_; }
  bool IsAutoSuicide() const { return autoSuicide_; }
  bool GetHelpWhileWaiting() const { return helpWhileWaiting_; }
  std::uint32_t GetState() const { return state_.load(std::memory_order_acquire); }
  std::uint32_t GetPostedCount() const { return postedCount_.load(std::memory_order_acquire); }
  TSoftwareCommandBufferCompletionPort* GetParent() const { return parent_; }
  TSoftwareCommandBufferCompletionPort* GetRoot();
  TCompletionPortHandle* GetAttachedHandle() const { return currentHandle_; }
  TAbstractDeferredCallThreadSafeStack& GetCompletionCalls() { return completionCalls_; }

  // References of the self-deleting form; the last release destroys it.
  void AddReference() { referenceCount_.fetch_add(1, std::memory_order_relaxed); }
  void ReleaseReference();

  ORV_POOLED_ALLOCATION(TSoftwareCommandBufferCompletionPort)

 protected:
  struct TAutoSuicideTag {};
  TSoftwareCommandBufferCompletionPort(TAutoSuicideTag, TSoftwareCommandBufferEvaluator* evaluator,
                                       std::uint32_t ownerThread, const char* name, bool ordered,
                                       std::uint32_t conditionValue, TSoftwareCommandBufferCompletionPort* parent);

 private:
  friend class TCompletionPortHandle;

  // The owner's step while waiting: posted calls (and, on the main thread, the evaluator's
  // main-thread deletions).
  void ProcessPosted();
  void RunCompletionCalls();
  bool IsOwnerThread() const;

  std::atomic<std::uint32_t> referenceCount_{0};
  const char* name_;
  std::uint32_t ownerThread_;
  TSoftwareCommandBufferEvaluator* evaluator_;
  std::atomic<std::uint32_t> state_{0};
  std::uint32_t level_ = 0;
  bool autoSuicide_;
  bool helpWhileWaiting_;
  bool ordered_;
  TSoftwareCommandBufferCompletionPort* parent_;
  TMutex mutex_;
  TConditionVariable condition_;
  std::atomic<std::uint32_t> postedCount_{0};
  TDeferredCallHolder continuation_;
  TAbstractDeferredCallThreadSafeStack completionCalls_;
  TAbstractDeferredCallThreadSafeStack postedCalls_;
  TCompletionPortHandle* currentHandle_ = nullptr;
  TCompletionPortHandle handle_;
};

// The self-deleting form: made on the heap (its pool), destroyed at the end of its completion
// signal, or at the end of a wait still running then.
class TSoftwareCommandBufferCompletionPortAutoSuicide final : public TSoftwareCommandBufferCompletionPort {
 public:
  TSoftwareCommandBufferCompletionPortAutoSuicide(TSoftwareCommandBufferEvaluator* evaluator,
                                                  std::uint32_t ownerThread,
                                                  const char* name = "TSoftwareCommandBufferCompletionPortAutoSuicide",
                                                  bool ordered = false,
                                                  std::uint32_t conditionValue = kPortConditionValue,
                                                  TSoftwareCommandBufferCompletionPort* parent = nullptr)
      : TSoftwareCommandBufferCompletionPort(TAutoSuicideTag{}, evaluator, ownerThread, name, ordered,
                                             conditionValue, parent) {}
};

// The self-deleting form lives in the ports' pool and is deleted through the base's allocation.
static_assert(sizeof(TSoftwareCommandBufferCompletionPortAutoSuicide) == sizeof(TSoftwareCommandBufferCompletionPort));

// A self-deleting port from its pool with a handle attached at `level` (and the holder's call as
// continuation when given).
TCompletionPortHandleRef CreateCompletionPort(TSoftwareCommandBufferEvaluator* evaluator, std::uint32_t ownerThread,
                                              const char* name, bool ordered, std::uint32_t conditionValue,
                                              std::uint32_t level, TSoftwareCommandBufferCompletionPort* parent,
                                              TDeferredCallHolder* continuation = nullptr);

// Releases the holder's reference and waits for the port. A self-deleting port is held for the
// wait before the release, which may complete it.
void ReleaseAndWait(TCompletionPortHandleRef& handle);

// The call reports to `handle` from now on (its previous handle released).
void AttachCall(TAbstractDeferredCall* call, const TCompletionPortHandleRef& handle);
// Exchanges the call's handle reference with the holder's.
void SwapHandle(TAbstractDeferredCall* call, TCompletionPortHandleRef& holder);

// Stamps the call when the port is ordered, attaches it to the handle and gives it to the port's
// evaluator at `level` (kPortLevel: the port's).
void PushCallThroughHandle(const TCompletionPortHandleRef& handle, TDeferredCallHolder& call, std::int32_t level);
// Pushes a buffer's calls under the handle (a parallel buffer's every call holds the handle, a
// sequential one's first); the holder's reference is released.
void PushCommandBuffer(const TCompletionPortHandleRef& handle, TSoftwareCommandBufferRef& buffer,
                       std::int32_t level);
// Runs the calls at once on the port's owner thread, or posts them to it (each post wakes it).
void PushCommandBufferToOwner(const TCompletionPortHandleRef& handle, TSoftwareCommandBufferRef& buffer);
void PushCallToOwner(const TCompletionPortHandleRef& handle, TDeferredCallHolder& call);
void PushThroughHandle(const TCompletionPortHandleRef& handle, bool toOwner, TSoftwareCommandBufferRef& buffer,
                       std::int32_t level);
void PushThroughHandle(const TCompletionPortHandleRef& handle, bool toOwner, TDeferredCallHolder& call,
                       std::int32_t level);

// The level of the calling thread's current port, or `defaultLevel` with none.
std::uint32_t GetCurrentLevel(std::uint32_t defaultLevel);

// Whether a's ordering ids come after b's (at the first difference the larger; a longer id list
// after its prefix).
bool CompareOrderingIdsGreater(const TAbstractDeferredCall* a, const TAbstractDeferredCall* b);

}  // namespace Orvan
