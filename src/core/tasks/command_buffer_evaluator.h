// Command-buffer evaluators: the multi-threaded evaluator "MTSCBS" keeps up to 16 worker threads
// that take deferred calls from an eight-level priority queue; the immediate evaluator "IMMSCBS"
// runs everything at once on the calling thread. Both are engine singletons, made by
// InitSoftwareCommandBufferEvaluators (no start-up sequence calls it).
//
// Use:
//   TSoftwareCommandBufferEvaluator* evaluator = GetSoftwareCommandBufferEvaluator(true);
//   TSoftwareCommandBufferRef buffer = TSoftwareCommandBufferRef::Create(true);
//   buffer->AddCall(call);  ...
//   evaluator->PushCommandBufferWaitForCompletion(buffer, 3);   // all calls and what they pushed done
#pragma once

#include <atomic>
#include <cstdint>

#include "core/containers/engine_vector.h"
#include "core/singletons/non_copyable.h"
#include "core/singletons/singleton.h"
#include "core/sync/semaphore.h"
#include "core/tasks/command_buffer_system_data.h"
#include "core/tasks/deferred_call_stack.h"
#include "core/tasks/software_command_buffer.h"
#include "core/threads/thread.h"

namespace Orvan {

// The queue: one lock-free LIFO per level (0 looked at first), linked through the calls'
// NextValueForFifo, and a semaphore counting the queued calls.
class TMultiThreadedLIFOForSCBS {
 public:
  static constexpr std::uint32_t kLevelCount = 8;
  using TLevelStack = TDeferredCallStack<DeferredCallDetail::TFifoLink>;

  // Levels above 7 are stored at 7.
  void Push(TDeferredCallHolder& call, std::uint32_t level);
  // Waits for a call; answers it and its level.
  TAbstractDeferredCall* PopBlocking(std::uint32_t& level);
  // The same without waiting; null when nothing is queued.
  TAbstractDeferredCall* TryPop(std::uint32_t& level);
  // A call of a level from 0 to `maximumLevel`; null when none of those holds one.
  TAbstractDeferredCall* TryPopUpTo(std::uint32_t maximumLevel, std::uint32_t& level);
  TLevelStack& GetLevel(std::uint32_t level) { return levels_[level]; }

 private:
  TAbstractDeferredCall* PopAnyLevel(std::uint32_t& level);

  TLevelStack levels_[kLevelCount];
  TSemaphore semaphore_{0};
};

class TSoftwareCommandBufferEvaluator;

// One worker of an evaluator.
class TSoftwareCommandBufferEvaluator_Thread final : public TBasicThread {
 public:
  TSoftwareCommandBufferEvaluator_Thread(TSoftwareCommandBufferEvaluator* evaluator, std::uint32_t index,
                                         std::uint32_t priorityLevel, std::uint32_t stackSize);
  std::uint32_t GetIndex() const { return index_; }
  // Set once the worker's loop has ended, by a termination call or by a call's exception.
  bool HasLeftLoop() const { return leftLoop_.load(std::memory_order_acquire); }

 protected:
  void Run() override;

 private:
  friend class TSoftwareCommandBufferEvaluator;

  TSoftwareCommandBufferEvaluator* evaluator_;
  std::uint32_t index_;
  std::atomic<bool> leftLoop_{false};
};

// Workers for a number of processors: 1 up to 1, 2 up to 3, (2c + 1) / 3 up to 7, then c - 3 up
// to the limit of 16.
std::uint32_t ComputeEvaluatorWorkerCount(std::uint32_t processorCount);

class TSoftwareCommandBufferEvaluator : public Meta::NonCopyable {
 public:
  // The most workers an evaluator has.
  static constexpr std::uint32_t kMaxWorkers = 16;
  // Each worker's stack (128 KiB).
  static constexpr std::uint32_t kWorkerStackSize = 0x20000;

  // Starts min(workerRequest, 16) workers named name + "_" + index at `threadLevel` unless
  // immediate. When a worker cannot be created, those started are terminated and the EException
  // passes on.
  TSoftwareCommandBufferEvaluator(const char* name, bool immediate, std::uint32_t workerRequest,
                                  std::uint32_t threadLevel);
  // Terminates the workers: each leaves its loop on the next call it takes; calls still queued
  // then are deleted without running.
  ~TSoftwareCommandBufferEvaluator();

  // Immediate: runs the call now; otherwise queues it.
  void PushCall(TDeferredCallHolder& call, std::uint32_t level);
  void QueuePush(TDeferredCallHolder& call, std::uint32_t level);
  // Takes the buffer's calls: a parallel buffer's are queued one by one, a sequential one's are
  // chained to run in order on one worker (immediate: all run now, in order).
  void QueuePushCommandBuffer(TSoftwareCommandBuffer& buffer, std::uint32_t level);
  // Runs the call and its OnAfterEval chain on the calling thread under the call's handle; the
  // thread's own handle is set aside meanwhile. An exception deletes the call, restores the handle
  // and passes on.
  void EvaluateNow(TDeferredCallHolder& call);
  // Takes every call of the buffer and runs them in order with EvaluateNow; when one throws, the
  // calls not run yet are deleted and the exception passes on.
  void EvaluateAllNow(TSoftwareCommandBuffer& buffer);
  // Push and wait through a port on the caller's stack: return once the call (every call of the
  // buffer) and all work pushed through the port has finished. The holders end null.
  void PushCallWaitForCompletion(TDeferredCallHolder& call, std::uint32_t level);
  void PushCommandBufferWaitForCompletion(TSoftwareCommandBufferRef& buffer, std::uint32_t level);
  // Runs one queued call of a level from 0 to `maximumLevel`; true when nothing was waiting (or the
  // evaluator is stopping).
  bool TryRunOne(std::uint32_t maximumLevel);
  // Runs the calls of the pending list.
  void RunPendingCalls();
  // Deletes the calls flagged KillInMainThread that were run off the main thread; only on the main
  // thread.
  void DeleteMainThreadCalls();

  // The worker index of an engine thread; -1 for a thread that is not a worker.
  std::int32_t FindWorkerIndex(std::uint32_t threadId) const;
  std::uint32_t GetWorkerCount() const { return workerCount_; }
  bool IsImmediate() const { return immediate_; }
  std::uint32_t GetRunningWorkers() const { return runningWorkers_.load(std::memory_order_acquire); }
  TAbstractDeferredCallThreadSafeStack& GetPendingCalls() { return pendingCalls_; }
  TAbstractDeferredCallThreadSafeStack& GetMainThreadCalls() { return mainThreadCalls_; }
  TMultiThreadedLIFOForSCBS& GetQueue() { return queue_; }

  // Shows the calls left on one queue level through the engine dialog; nothing when it is empty.
  static void CheckEmpty(TMultiThreadedLIFOForSCBS::TLevelStack& level);
  // Non-immediate: main-thread deletions, then every level checked, then the deletions again.
  void CheckAllEmpty();

 private:
  friend class TSoftwareCommandBufferEvaluator_Thread;

  struct TWorkerIndexEntry {
    std::uint32_t threadId;
    std::uint32_t index;
  };

  void RunWorkerLoop(TSoftwareCommandBufferEvaluator_Thread& worker);
  // Runs the call and its chain; each run call is deleted (or handed to the main-thread list). An
  // exception deletes the call being run with its chain and passes on.
  void RunChain(TDeferredCallHolder& call, TThreadLocalSoftwareCommandBufferSystemData* data);
  void DisposeRunCall(TDeferredCallHolder& call);
  void EvaluateNowOn(TThreadLocalSoftwareCommandBufferSystemData* data, TDeferredCallHolder& call);
  void StartWorkers(const char* name, std::uint32_t request, std::uint32_t threadLevel);
  void Terminate();

  TMultiThreadedLIFOForSCBS queue_;
  TSoftwareCommandBufferEvaluator_Thread* workers_[kMaxWorkers] = {};
  std::uint32_t workerCount_ = 0;
  std::atomic<std::uint32_t> runningWorkers_{0};
  std::atomic<std::uint32_t> stop_{0};
  TAbstractDeferredCallThreadSafeStack mainThreadCalls_;
  TAbstractDeferredCallThreadSafeStack pendingCalls_;
  TVector<TWorkerIndexEntry> workerIndex_;
  bool indexed_ = false;
  bool immediate_;
};

class TSCBEvaluatorMultiThread final : public TSoftwareCommandBufferEvaluator,
                                       public Meta::TSingleton<TSCBEvaluatorMultiThread, false> {
 public:
  explicit TSCBEvaluatorMultiThread(bool immediate);
  ~TSCBEvaluatorMultiThread() override;
};

class TSCBEvaluatorImmediate final : public TSoftwareCommandBufferEvaluator,
                                     public Meta::TSingleton<TSCBEvaluatorImmediate, false> {
 public:
  TSCBEvaluatorImmediate();
  ~TSCBEvaluatorImmediate() override;
};

// Registers the system-data slot (when absent), makes "MTSCBS" (immediate when the flag is set)
// and "IMMSCBS" when they do not exist, and gives the calling thread its system data with no handle.
void InitSoftwareCommandBufferEvaluators(bool immediateMultiThread);
// Releases the calling thread's system data, then deletes "MTSCBS" and "IMMSCBS".
void ShutdownSoftwareCommandBufferEvaluators();
// The multi-threaded (true) or immediate (false) evaluator; null when it does not exist.
TSoftwareCommandBufferEvaluator* GetSoftwareCommandBufferEvaluator(bool multiThread);

// CheckAllEmpty on "MTSCBS", then on "IMMSCBS"; with `deleteMainThreadCallsFirst`, both
// evaluators' main-thread deletions run before.
void CheckAllEvaluatorsEmpty(bool deleteMainThreadCallsFirst);

}  // namespace Orvan
