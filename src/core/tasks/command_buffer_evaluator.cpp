// Command-buffer evaluators: the queue, the workers, push-and-wait, termination and the debug check.
#include "core/tasks/command_buffer_evaluator.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "core/diagnostics/dialog.h"
#include "core/tasks/completion_port.h"
#include "core/text/string_streamable.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_id.h"
#include "core/threads/thread_services.h"

namespace Orvan {

namespace {

std::atomic<TSCBEvaluatorMultiThread*> g_multiThreadEvaluator{nullptr};
std::atomic<TSCBEvaluatorImmediate*> g_immediateEvaluator{nullptr};

// The priority level of both evaluators' workers.
constexpr std::uint32_t kEvaluatorThreadLevel = 2;
// Site of the dialog listing calls left in a queue.
constexpr std::uint32_t kCheckEmptyDialogId = 59;
// Room for a worker's name: the evaluator's name, "_" and the index.
constexpr std::size_t kWorkerNameSize = 64;

void TerminationCall() {}

}  // namespace

std::uint32_t ComputeEvaluatorWorkerCount(std::uint32_t processorCount) {
  if (processorCount <= 1) return 1;
  if (processorCount <= 3) return 2;
  if (processorCount <= 7) return (2 * processorCount + 1) / 3;
  return std::min<std::uint32_t>(processorCount - 3, TSoftwareCommandBufferEvaluator::kMaxWorkers);
}

// ---- Queue.

void TMultiThreadedLIFOForSCBS::Push(TDeferredCallHolder& call, std::uint32_t level) {
  levels_[std::min(level, kLevelCount - 1)].Push(call);
  semaphore_.Post();
}

TAbstractDeferredCall* TMultiThreadedLIFOForSCBS::PopAnyLevel(std::uint32_t& level) {
  // The semaphore was taken, so a call is there or about to be linked.
  for (;;) {
    for (std::uint32_t i = 0; i < kLevelCount; ++i) {
      if (TAbstractDeferredCall* call = levels_[i].PopPointer()) {
        level = i;
        return call;
      }
    }
    __builtin_ia32_pause();
  }
}

TAbstractDeferredCall* TMultiThreadedLIFOForSCBS::PopBlocking(std::uint32_t& level) {
  semaphore_.Wait();
  return PopAnyLevel(level);
}

TAbstractDeferredCall* TMultiThreadedLIFOForSCBS::TryPop(std::uint32_t& level) {
  if (!semaphore_.TimedWait(0)) return nullptr;
  return PopAnyLevel(level);
}

TAbstractDeferredCall* TMultiThreadedLIFOForSCBS::TryPopUpTo(std::uint32_t maximumLevel, std::uint32_t& level) {
  if (!semaphore_.TimedWait(0)) return nullptr;
  const std::uint32_t last = std::min(maximumLevel, kLevelCount - 1);
  for (std::uint32_t i = 0; i <= last; ++i) {
    if (TAbstractDeferredCall* call = levels_[i].PopPointer()) {
      level = i;
      return call;
    }
  }
  semaphore_.Post();
  return nullptr;
}

// ---- Workers.

TSoftwareCommandBufferEvaluator_Thread::TSoftwareCommandBufferEvaluator_Thread(TSoftwareCommandBufferEvaluator* evaluator,
                                                                               std::uint32_t index,
                                                                               std::uint32_t priorityLevel,
                                                                               std::uint32_t stackSize)
    : TBasicThread(priorityLevel, stackSize), evaluator_(evaluator), index_(index) {}

void TSoftwareCommandBufferEvaluator_Thread::Run() {
  try {
    evaluator_->RunWorkerLoop(*this);
  } catch (...) {
    // A call's exception was shown by ExecuteCall and the call deleted; the worker ends here
    // (termination counts it out) rather than taking the process down with it.
    std::fprintf(stderr, "Command-buffer worker %u stopped after an exception\n", index_);
  }
}

void TSoftwareCommandBufferEvaluator::RunWorkerLoop(TSoftwareCommandBufferEvaluator_Thread& worker) {
  runningWorkers_.fetch_add(1, std::memory_order_acq_rel);
  TThreadLocalSoftwareCommandBufferSystemData* data = nullptr;
  TDeferredCallHolder call;
  const auto leave = [&] {
    call.reset();
    if (data != nullptr) data->currentHandle.Reset();
    worker.leftLoop_.store(true, std::memory_order_release);
    runningWorkers_.fetch_sub(1, std::memory_order_acq_rel);
  };
  try {
    data = GetCommandBufferSystemData();
    std::uint32_t level = 0;
    call.reset(queue_.PopBlocking(level));
    for (;;) {
      SwapHandle(call.get(), data->currentHandle);
      SetFloatingPointSinglePrecision();
      if (stop_.load(std::memory_order_acquire) != 0) break;
      RunChain(call, data);
      data->currentHandle.Reset();
      call.reset(queue_.TryPop(level));
      if (!call) call.reset(queue_.PopBlocking(level));
    }
  } catch (...) {
    leave();
    throw;
  }
  leave();
}

void TSoftwareCommandBufferEvaluator::DisposeRunCall(TDeferredCallHolder& call) {
  if (call->GetKillInMainThread() && !IsEngineMainThread()) {
    mainThreadCalls_.Push(call);
  } else {
    call.reset();
  }
}

void TSoftwareCommandBufferEvaluator::RunChain(TDeferredCallHolder& call,
                                               TThreadLocalSoftwareCommandBufferSystemData* data) {
  while (call) {
    ExecuteCall(this, call.get(), data);
    TDeferredCallHolder next = call->DetachOnAfterEval();
    DisposeRunCall(call);
    call = std::move(next);
  }
}

// ---- Evaluator.

TSoftwareCommandBufferEvaluator::TSoftwareCommandBufferEvaluator(const char* name, bool immediate,
                                                                 std::uint32_t workerRequest,
                                                                 std::uint32_t threadLevel)
    : immediate_(immediate) {
  if (!immediate_) StartWorkers(name, workerRequest, threadLevel);
}

TSoftwareCommandBufferEvaluator::~TSoftwareCommandBufferEvaluator() { Terminate(); }

void TSoftwareCommandBufferEvaluator::StartWorkers(const char* name, std::uint32_t request,
                                                   std::uint32_t threadLevel) {
  const std::uint32_t count = std::min(request, kMaxWorkers);
  try {
    for (std::uint32_t i = 0; i < count; ++i) {
      workers_[i] = new TSoftwareCommandBufferEvaluator_Thread(this, i, threadLevel, kWorkerStackSize);
      workerCount_ = i + 1;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
      char workerName[kWorkerNameSize];
      std::snprintf(workerName, sizeof(workerName), "%s_%u", name, i);
      workers_[i]->Start(workerName);
      workerIndex_.PushBack(TWorkerIndexEntry{workers_[i]->GetThread().GetThreadId(), i});
    }
  } catch (...) {
    // The workers already started would run on a freed evaluator.
    Terminate();
    throw;
  }
  // Sorted by thread id; of several entries for one id the one recorded last stays.
  std::stable_sort(workerIndex_.begin(), workerIndex_.end(),
                   [](const TWorkerIndexEntry& a, const TWorkerIndexEntry& b) { return a.threadId < b.threadId; });
  std::uint32_t kept = 0;
  for (std::uint32_t i = 0; i < workerIndex_.GetSize(); ++i) {
    if (kept > 0 && workerIndex_[kept - 1].threadId == workerIndex_[i].threadId) {
      workerIndex_[kept - 1] = workerIndex_[i];
    } else {
      workerIndex_[kept++] = workerIndex_[i];
    }
  }
  while (workerIndex_.GetSize() > kept) workerIndex_.PopBack();
  indexed_ = true;
}

void TSoftwareCommandBufferEvaluator::Terminate() {
  if (workerCount_ != 0) {
    stop_.store(1, std::memory_order_release);
    // The terminator never helps on this port: it would run the calls meant to wake the workers.
    TSoftwareCommandBufferCompletionPort port(this, GetCurrentThreadId(), "ThreadTermination", kPortConditionValue,
                                              false, false, nullptr);
    TCompletionPortHandleRef handle = port.AttachHandle(kInternalPortLevel);
    // One call for each worker still to leave its loop, started or about to start, counted before
    // the first push: a worker leaves as soon as it takes one.
    std::uint32_t inLoop = 0;
    for (std::uint32_t i = 0; i < workerCount_; ++i) {
      if (workers_[i]->IsRunning() && !workers_[i]->HasLeftLoop()) ++inLoop;
    }
    for (std::uint32_t i = 0; i < inLoop; ++i) {
      TDeferredCallHolder call = MakeDeferredCall(&TerminationCall);
      PushCallThroughHandle(handle, call, kPortLevel);
    }
    handle.Reset();
    // A worker leaves on the first call it takes after the stop, which may be a call queued
    // before it (its termination call then stays queued), and one that a call's exception ended
    // takes none: wait for the loops and the helpers, then drop what is left.
    for (;;) {
      bool anyInLoop = false;
      for (std::uint32_t i = 0; i < workerCount_; ++i) {
        anyInLoop = anyInLoop || (workers_[i]->IsRunning() && !workers_[i]->HasLeftLoop());
      }
      if (!anyInLoop && runningWorkers_.load(std::memory_order_acquire) == 0) break;
      SleepMilliseconds(1);
    }
    for (bool any = true; any;) {
      any = false;
      for (std::uint32_t level = 0; level < TMultiThreadedLIFOForSCBS::kLevelCount; ++level) {
        TMultiThreadedLIFOForSCBS::TLevelStack& stack = queue_.GetLevel(level);
        any = any || !stack.IsEmpty();
        stack.DeleteAll();
      }
    }
    port.WaitForCompletion(false);
    for (std::uint32_t i = 0; i < workerCount_; ++i) {
      if (workers_[i]->IsRunning()) workers_[i]->Stop();
    }
    workerIndex_.Clear();
    indexed_ = false;
    for (std::uint32_t i = workerCount_; i > 0; --i) {
      delete workers_[i - 1];
      workers_[i - 1] = nullptr;
    }
    workerCount_ = 0;
  }
  mainThreadCalls_.DeleteAll();
  pendingCalls_.DeleteAll();
}

void TSoftwareCommandBufferEvaluator::PushCall(TDeferredCallHolder& call, std::uint32_t level) {
  if (immediate_) {
    EvaluateNow(call);
  } else {
    QueuePush(call, level);
  }
}

void TSoftwareCommandBufferEvaluator::QueuePush(TDeferredCallHolder& call, std::uint32_t level) {
  queue_.Push(call, level);
}

void TSoftwareCommandBufferEvaluator::QueuePushCommandBuffer(TSoftwareCommandBuffer& buffer, std::uint32_t level) {
  if (immediate_) {
    EvaluateAllNow(buffer);
    return;
  }
  const std::uint32_t count = buffer.GetCallCount();
  if (count == 0) return;
  TInlineVector<TAbstractDeferredCall*, 16> calls;
  calls.Resize(count);
  buffer.TakeCalls(calls.Data());
  if (buffer.IsParallel()) {
    for (TAbstractDeferredCall* pointer : calls) {
      TDeferredCallHolder call(pointer);
      queue_.Push(call, level);
    }
    return;
  }
  // The sequence runs on one worker: each call is the previous one's OnAfterEval.
  for (std::uint32_t i = count - 1; i > 0; --i) calls[i - 1]->SetOnAfterEval(TDeferredCallHolder(calls[i]));
  TDeferredCallHolder first(calls[0]);
  queue_.Push(first, level);
}

void TSoftwareCommandBufferEvaluator::EvaluateNow(TDeferredCallHolder& holder) {
  EvaluateNowOn(GetCommandBufferSystemData(), holder);
}

void TSoftwareCommandBufferEvaluator::EvaluateNowOn(TThreadLocalSoftwareCommandBufferSystemData* data,
                                                    TDeferredCallHolder& holder) {
  TCompletionPortHandleRef setAside = std::move(data->currentHandle);
  TDeferredCallHolder call = std::move(holder);
  SwapHandle(call.get(), data->currentHandle);
  try {
    RunChain(call, data);
  } catch (...) {
    call.reset();
    data->currentHandle = std::move(setAside);
    throw;
  }
  data->currentHandle = std::move(setAside);
}

void TSoftwareCommandBufferEvaluator::EvaluateAllNow(TSoftwareCommandBuffer& buffer) {
  TThreadLocalSoftwareCommandBufferSystemData* data = GetCommandBufferSystemData();
  // Each call leaves the buffer as it runs; when one throws, the buffer still owns the rest.
  const std::uint32_t count = buffer.GetCallCount();
  for (std::uint32_t i = 0; i < count; ++i) {
    TDeferredCallHolder call(buffer.ReleaseCall(i));
    EvaluateNowOn(data, call);
  }
  buffer.ClearReleasedCalls();
}

namespace {

// Push and wait through a port on the caller's stack; the caller helps the workers unless it is
// the main thread.
template <typename TPush>
void PushThroughStackPortAndWait(TSoftwareCommandBufferEvaluator* evaluator, std::uint32_t level, TPush&& push) {
  TSoftwareCommandBufferCompletionPort port(evaluator, GetCurrentThreadId(), "Port for PushCommandBufferWaitForCompletion",
                                            kPortConditionValue, !IsEngineMainThread(), false, nullptr);
  TCompletionPortHandleRef handle = port.AttachHandle(level);
  push(handle);
  handle.Reset();
  port.WaitForCompletion(false);
}

}  // namespace

void TSoftwareCommandBufferEvaluator::PushCallWaitForCompletion(TDeferredCallHolder& call, std::uint32_t level) {
  if (immediate_) {
    EvaluateNow(call);
    return;
  }
  PushThroughStackPortAndWait(this, level, [&](const TCompletionPortHandleRef& handle) {
    PushCallThroughHandle(handle, call, kPortLevel);
  });
}

void TSoftwareCommandBufferEvaluator::PushCommandBufferWaitForCompletion(TSoftwareCommandBufferRef& buffer,
                                                                         std::uint32_t level) {
  if (immediate_) {
    TSoftwareCommandBufferRef held = std::move(buffer);
    EvaluateAllNow(*held.Get());
    return;
  }
  PushThroughStackPortAndWait(this, level, [&](const TCompletionPortHandleRef& handle) {
    PushCommandBuffer(handle, buffer, kPortLevel);
  });
}

bool TSoftwareCommandBufferEvaluator::TryRunOne(std::uint32_t maximumLevel) {
  runningWorkers_.fetch_add(1, std::memory_order_acq_rel);
  class TRunningScope {
   public:
    explicit TRunningScope(std::atomic<std::uint32_t>& count) : count_(count) {}
    ~TRunningScope() { count_.fetch_sub(1, std::memory_order_acq_rel); }
    TRunningScope(const TRunningScope&) = delete;
    TRunningScope& operator=(const TRunningScope&) = delete;

   private:
    std::atomic<std::uint32_t>& count_;
  } running(runningWorkers_);
  // A stopping evaluator's queue holds the calls that wake its workers: helpers leave them alone.
  if (stop_.load(std::memory_order_acquire) != 0) return true;
  std::uint32_t level = 0;
  TDeferredCallHolder call(queue_.TryPopUpTo(maximumLevel, level));
  if (!call) return true;
  // A stop that came between the test above and the pop may have queued the call just taken to
  // wake a worker: it goes back, or that worker would wait for ever and termination with it.
  if (stop_.load(std::memory_order_acquire) != 0) {
    queue_.Push(call, level);
    return true;
  }
  TThreadLocalSoftwareCommandBufferSystemData* data = GetCommandBufferSystemData();
  TCompletionPortHandleRef setAside = std::move(data->currentHandle);
  SwapHandle(call.get(), data->currentHandle);
  try {
    ExecuteCall(this, call.get(), data);
    TDeferredCallHolder next = call->DetachOnAfterEval();
    DisposeRunCall(call);
    if (next) {
      // The rest of the chain goes back to the queue under the same handle.
      AttachCall(next.get(), data->currentHandle);
      PushCall(next, level);
    }
  } catch (...) {
    call.reset();
    data->currentHandle = std::move(setAside);
    throw;
  }
  data->currentHandle = std::move(setAside);
  return false;
}

void TSoftwareCommandBufferEvaluator::RunPendingCalls() {
  TAbstractDeferredCallThreadSafeStack taken;
  taken.TakeAll(pendingCalls_);
  // The local stack deletes the calls not run when one throws.
  TDeferredCallHolder call;
  while (taken.PopSingleConsumer(call)) EvaluateNow(call);
}

void TSoftwareCommandBufferEvaluator::DeleteMainThreadCalls() {
  if (!IsEngineMainThread()) return;
  TAbstractDeferredCallThreadSafeStack taken;
  taken.TakeAll(mainThreadCalls_);
  taken.DeleteAll();
}

std::int32_t TSoftwareCommandBufferEvaluator::FindWorkerIndex(std::uint32_t threadId) const {
  if (!indexed_) return -1;
  const TWorkerIndexEntry* found =
      std::lower_bound(workerIndex_.begin(), workerIndex_.end(), threadId,
                       [](const TWorkerIndexEntry& entry, std::uint32_t id) { return entry.threadId < id; });
  if (found == workerIndex_.end() || found->threadId != threadId) return -1;
  return static_cast<std::int32_t>(found->index);
}

void TSoftwareCommandBufferEvaluator::CheckEmpty(TMultiThreadedLIFOForSCBS::TLevelStack& level) {
  TAbstractDeferredCall* call = level.PeekTop();
  if (call == nullptr) return;
  std::string text = "Remaining command in TMultiThreadedLIFOForSCBS when CheckEmpty\n";
  for (; call != nullptr; call = call->nextValueForFifo) {
    const TSoftwareCommandBufferCompletionPort* port = call->GetPort();
    text += "Call:\n    Completion port: ";
    text += port != nullptr ? port->GetName() : "no completion port (wtf?)";
    text += "\n    DeferredCall: NoDebugNameInNoFrameProfiler\n    HasOnAfterEval: ";
    text += call->GetOnAfterEval() != nullptr ? "1" : "0";
    text += "\n    KillInMainThread: ";
    text += call->GetKillInMainThread() ? "1" : "0";
    text += "\n    NextValueForFifo: ";
    text += std::to_string(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(call->nextValueForFifo)));
    text += "\n\n";
  }
  const char* textPointer = text.c_str();
  const TStringStreamableImpl<const char* const> argument(textPointer);
  const TStringStreamable* arguments[] = {&argument};
  const TDialogDescriptor descriptor{0, kCheckEmptyDialogId, 1, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit,
                                     kQuitGameCaption, 0};
  OrvDialog(&descriptor, "%1", arguments, 1);
}

void TSoftwareCommandBufferEvaluator::CheckAllEmpty() {
  if (immediate_) return;
  DeleteMainThreadCalls();
  for (std::uint32_t level = 0; level < TMultiThreadedLIFOForSCBS::kLevelCount; ++level) {
    CheckEmpty(queue_.GetLevel(level));
  }
  DeleteMainThreadCalls();
}

// ---- The two engine evaluators.

TSCBEvaluatorMultiThread::TSCBEvaluatorMultiThread(bool immediate)
    : TSoftwareCommandBufferEvaluator("MTSCBS", immediate, ComputeEvaluatorWorkerCount(GetProcessorCount()),
                                      kEvaluatorThreadLevel) {}

TSCBEvaluatorMultiThread::~TSCBEvaluatorMultiThread() {
  TSCBEvaluatorMultiThread* self = this;
  g_multiThreadEvaluator.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

TSCBEvaluatorImmediate::TSCBEvaluatorImmediate()
    : TSoftwareCommandBufferEvaluator("IMMSCBS", true, 0, kEvaluatorThreadLevel) {}

TSCBEvaluatorImmediate::~TSCBEvaluatorImmediate() {
  TSCBEvaluatorImmediate* self = this;
  g_immediateEvaluator.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

void InitSoftwareCommandBufferEvaluators(bool immediateMultiThread) {
  RegisterCommandBufferSystemDataSlot();
  if (g_multiThreadEvaluator.load(std::memory_order_acquire) == nullptr) {
    g_multiThreadEvaluator.store(new TSCBEvaluatorMultiThread(immediateMultiThread), std::memory_order_release);
  }
  if (g_immediateEvaluator.load(std::memory_order_acquire) == nullptr) {
    g_immediateEvaluator.store(new TSCBEvaluatorImmediate, std::memory_order_release);
  }
  GetCommandBufferSystemData()->currentHandle.Reset();
}

void ShutdownSoftwareCommandBufferEvaluators() {
  ReleaseCommandBufferSystemData();
  delete g_multiThreadEvaluator.exchange(nullptr, std::memory_order_acq_rel);
  delete g_immediateEvaluator.exchange(nullptr, std::memory_order_acq_rel);
}

void CheckAllEvaluatorsEmpty(bool deleteMainThreadCallsFirst) {
  TSoftwareCommandBufferEvaluator* evaluators[] = {GetSoftwareCommandBufferEvaluator(true),
                                                   GetSoftwareCommandBufferEvaluator(false)};
  if (deleteMainThreadCallsFirst) {
    for (TSoftwareCommandBufferEvaluator* evaluator : evaluators) {
      if (evaluator != nullptr) evaluator->DeleteMainThreadCalls();
    }
  }
  for (TSoftwareCommandBufferEvaluator* evaluator : evaluators) {
    if (evaluator != nullptr) evaluator->CheckAllEmpty();
  }
}

TSoftwareCommandBufferEvaluator* GetSoftwareCommandBufferEvaluator(bool multiThread) {
  if (multiThread) return g_multiThreadEvaluator.load(std::memory_order_acquire);
  return g_immediateEvaluator.load(std::memory_order_acquire);
}

}  // namespace Orvan
