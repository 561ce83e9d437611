#include "core/tasks/command_buffer_evaluator.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <algorithm>
#include <latch>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/diagnostics/engine_exception.h"
#include "core/tasks/completion_port.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_id.h"
#include "core/threads/thread_services.h"
#include "support/dialog_recorder.h"

namespace {

using namespace Orvan;

// Runs the body on a new thread attached to the engine and waits for it.
template <typename TBody>
void RunOnAttachedThread(TBody&& body) {
  std::thread thread([&] {
    AttachThreadToEngine();
    body();
    DetachThreadFromEngine();
  });
  thread.join();
}

class TProbe {
 public:
  void Note(std::uint32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(value);
  }
  // Says it has started, then waits for the gate.
  void Hold(std::uint32_t) {
    started.count_down();
    gate.wait();
  }
  void Throw(std::uint32_t) { throw std::runtime_error("call failed"); }
  void NoteWorkerIndex(std::uint32_t) {
    together->arrive_and_wait();
    std::lock_guard<std::mutex> lock(mutex_);
    workerIndices_.push_back(evaluator->FindWorkerIndex(GetCurrentThreadId()));
  }
  std::vector<std::uint32_t> Log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
  }
  std::vector<std::int32_t> WorkerIndices() {
    std::lock_guard<std::mutex> lock(mutex_);
    return workerIndices_;
  }

  std::latch started{1};
  std::latch gate{1};
  TSoftwareCommandBufferEvaluator* evaluator = nullptr;
  std::unique_ptr<std::latch> together;

 private:
  std::mutex mutex_;
  std::vector<std::uint32_t> log_;
  std::vector<std::int32_t> workerIndices_;
};

TDeferredCallHolder Call(TProbe& probe, void (TProbe::*member)(std::uint32_t), std::uint32_t value) {
  return MakeDeferredMemberCall(&probe, member, value);
}

TEST(CommandBufferEvaluator, WorkerCountFollowsTheProcessorCount) {
  const struct {
    std::uint32_t processors;
    std::uint32_t workers;
  } cases[] = {{0, 1}, {1, 1}, {3, 2}, {4, 3}, {5, 3}, {6, 4}, {7, 5}, {8, 5}, {19, 16}, {64, 16}};
  for (const auto& c : cases) EXPECT_EQ(ComputeEvaluatorWorkerCount(c.processors), c.workers) << c.processors;
}

TEST(CommandBufferEvaluator, TheImmediateEvaluatorRunsAPushedCallBeforeThePushReturns) {
  TSoftwareCommandBufferEvaluator immediate("IMM", true, 8, 2);
  EXPECT_EQ(immediate.GetWorkerCount(), 0u);
  TProbe probe;
  TDeferredCallHolder call = Call(probe, &TProbe::Note, 1);
  immediate.PushCall(call, 3);
  EXPECT_FALSE(call);
  EXPECT_EQ(probe.Log(), (std::vector<std::uint32_t>{1}));
}

TEST(CommandBufferEvaluator, CheckEmptyListsTheCallsLeftOnALevel) {
  TSoftwareCommandBufferEvaluator queueOnly("QUEUE", false, 0, 2);
  TProbe probe;
  TSoftwareCommandBufferCompletionPort port(&queueOnly, GetCurrentThreadId(), "checked port");
  TCompletionPortHandleRef handle = port.AttachHandle(2);
  TDeferredCallHolder first = Call(probe, &TProbe::Note, 1);
  AttachCall(first.get(), handle);
  first->SetKillInMainThread(true);
  first->SetOnAfterEval(Call(probe, &TProbe::Note, 2));
  TAbstractDeferredCall* firstPointer = first.get();
  TDeferredCallHolder second = Call(probe, &TProbe::Note, 3);
  handle.Reset();
  queueOnly.QueuePush(first, 2);
  queueOnly.QueuePush(second, 2);

  OrvTest::TDialogRecorder recorder;
  queueOnly.CheckEmpty(queueOnly.GetQueue().GetLevel(1));
  EXPECT_TRUE(recorder.Dialogs().empty());
  queueOnly.CheckEmpty(queueOnly.GetQueue().GetLevel(2));
  ASSERT_EQ(recorder.Dialogs().size(), 1u);
  EXPECT_TRUE(OrvTest::IsQuitGameWarning(recorder.Dialogs()[0], 59));
  const std::string expected =
      "Remaining command in TMultiThreadedLIFOForSCBS when CheckEmpty\n"
      "Call:\n    Completion port: no completion port (wtf?)\n    DeferredCall: NoDebugNameInNoFrameProfiler\n"
      "    HasOnAfterEval: 0\n    KillInMainThread: 0\n    NextValueForFifo: " +
      std::to_string(reinterpret_cast<std::uintptr_t>(firstPointer)) +
      "\n\n"
      "Call:\n    Completion port: checked port\n    DeferredCall: NoDebugNameInNoFrameProfiler\n"
      "    HasOnAfterEval: 1\n    KillInMainThread: 1\n    NextValueForFifo: 0\n\n";
  EXPECT_EQ(recorder.Dialogs()[0].text, expected);

  queueOnly.GetQueue().GetLevel(2).DeleteAll();
  port.WaitForCompletion(false);
  EXPECT_TRUE(probe.Log().empty());
}

TEST(CommandBufferEvaluatorThreaded, OneBusyWorkerTakesTheLowerLevelFirstAndTheLastPushedWithinALevel) {
  TSoftwareCommandBufferEvaluator evaluator("ONE", false, 1, 2);
  TProbe probe;
  TSoftwareCommandBufferCompletionPort port(&evaluator, GetCurrentThreadId(), "levels");
  TCompletionPortHandleRef handle = port.AttachHandle(3);
  TDeferredCallHolder hold = Call(probe, &TProbe::Hold, 0);
  PushCallThroughHandle(handle, hold, 0);
  probe.started.wait();
  const struct {
    std::uint32_t value;
    std::int32_t level;
  } pushes[] = {{31, 3}, {32, 3}, {1, 1}, {9, 9}};
  for (const auto& push : pushes) {
    TDeferredCallHolder call = Call(probe, &TProbe::Note, push.value);
    PushCallThroughHandle(handle, call, push.level);
  }
  EXPECT_FALSE(evaluator.GetQueue().GetLevel(7).IsEmpty());
  probe.gate.count_down();
  handle.Reset();
  port.WaitForCompletion(false);
  EXPECT_EQ(probe.Log(), (std::vector<std::uint32_t>{1, 32, 31, 9}));
}

std::set<std::string> ThreadNamesOfProcess() {
  std::set<std::string> names;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return names;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name)) names.insert(name);
  }
  closedir(tasks);
  return names;
}

TEST(CommandBufferEvaluatorThreaded, TheEngineEvaluatorsNameTheirWorkersAndIndexThem) {
  InitSoftwareCommandBufferEvaluators(false);
  TSoftwareCommandBufferEvaluator* multi = GetSoftwareCommandBufferEvaluator(true);
  TSoftwareCommandBufferEvaluator* immediate = GetSoftwareCommandBufferEvaluator(false);
  ASSERT_NE(multi, nullptr);
  ASSERT_NE(immediate, nullptr);
  EXPECT_TRUE(immediate->IsImmediate());
  const std::uint32_t count = ComputeEvaluatorWorkerCount(GetProcessorCount());
  EXPECT_EQ(multi->GetWorkerCount(), count);
  EXPECT_EQ(multi->FindWorkerIndex(GetCurrentThreadId()), -1);

  // One call per worker, each held until all are running: every worker takes exactly one.
  TProbe probe;
  probe.evaluator = multi;
  probe.together = std::make_unique<std::latch>(count);
  TSoftwareCommandBufferRef buffer = TSoftwareCommandBufferRef::Create(true);
  for (std::uint32_t i = 0; i < count; ++i) {
    TDeferredCallHolder call = Call(probe, &TProbe::NoteWorkerIndex, i);
    buffer->AddCall(call);
  }
  multi->PushCommandBufferWaitForCompletion(buffer, 3);
  std::vector<std::int32_t> indices = probe.WorkerIndices();
  std::sort(indices.begin(), indices.end());
  ASSERT_EQ(indices.size(), count);
  for (std::uint32_t i = 0; i < count; ++i) EXPECT_EQ(indices[i], static_cast<std::int32_t>(i));
  const std::set<std::string> names = ThreadNamesOfProcess();
  for (std::uint32_t i = 0; i < count; ++i) {
    EXPECT_EQ(names.count("MTSCBS_" + std::to_string(i)), 1u) << i;
  }

  ShutdownSoftwareCommandBufferEvaluators();
  EXPECT_EQ(GetSoftwareCommandBufferEvaluator(true), nullptr);
  EXPECT_EQ(GetSoftwareCommandBufferEvaluator(false), nullptr);
  EXPECT_EQ(ThreadNamesOfProcess().count("MTSCBS_0"), 0u);
}

void StartStopCycles(std::uint32_t seed) {
  TProbe probe;
  for (std::uint32_t cycle = 0; cycle < 100; ++cycle) {
    TSoftwareCommandBufferEvaluator evaluator("CYCLE", false, 1 + (cycle + seed) % 4, 2);
    if (cycle % 3 == 0) continue;  // stopped at once, workers maybe not in their loop yet
    TSoftwareCommandBufferRef buffer = TSoftwareCommandBufferRef::Create(cycle % 2 == 0);
    for (std::uint32_t i = 0; i < 4; ++i) {
      TDeferredCallHolder call = Call(probe, &TProbe::Note, i);
      buffer->AddCall(call);
    }
    evaluator.PushCommandBufferWaitForCompletion(buffer, 3);
  }
  EXPECT_EQ(probe.Log().size(), 66u * 4);
}

TEST(CommandBufferEvaluatorThreaded, StartsAndStopsOnTheMainThreadAndAnotherAtOnce) {
  std::thread other([] {
    AttachThreadToEngine();
    StartStopCycles(1);
    DetachThreadFromEngine();
  });
  StartStopCycles(0);
  other.join();
}

TEST(CommandBufferEvaluatorThreaded, AWaiterOffTheMainThreadRunsQueuedWorkItself) {
  TSoftwareCommandBufferEvaluator evaluator("HELP", false, 1, 2);
  TProbe probe;
  TDeferredCallHolder hold = Call(probe, &TProbe::Hold, 0);
  evaluator.QueuePush(hold, 0);
  probe.started.wait();
  std::uint32_t helper = 0;
  RunOnAttachedThread([&] {
    helper = GetCurrentThreadId();
    TDeferredCallHolder call = Call(probe, &TProbe::Note, GetCurrentThreadId());
    evaluator.PushCallWaitForCompletion(call, 3);
  });
  EXPECT_EQ(probe.Log(), (std::vector<std::uint32_t>{helper}));
  probe.gate.count_down();
}

TEST(CommandBufferEvaluatorThreaded, KillInMainThreadCallsAreDeletedOnlyOnTheMainThread) {
  TSoftwareCommandBufferEvaluator evaluator("KILL", false, 2, 2);
  TProbe probe;
  const std::uint32_t liveBefore = TDeferredMemberCallPool::Instance()->GetLiveCount();
  {
    // Owned by no thread: the wait only sleeps, so nothing deletes the call meanwhile.
    TSoftwareCommandBufferCompletionPort port(&evaluator, 0, "kill");
    TCompletionPortHandleRef handle = port.AttachHandle(3);
    TDeferredCallHolder call = Call(probe, &TProbe::Note, 1);
    call->SetKillInMainThread(true);
    PushCallThroughHandle(handle, call, kPortLevel);
    handle.Reset();
    port.WaitForCompletion(false);
  }
  EXPECT_EQ(probe.Log(), (std::vector<std::uint32_t>{1}));
  EXPECT_FALSE(evaluator.GetMainThreadCalls().IsEmpty());
  EXPECT_EQ(TDeferredMemberCallPool::Instance()->GetLiveCount(), liveBefore + 1);
  RunOnAttachedThread([&] { evaluator.DeleteMainThreadCalls(); });
  EXPECT_FALSE(evaluator.GetMainThreadCalls().IsEmpty());
  evaluator.DeleteMainThreadCalls();
  EXPECT_TRUE(evaluator.GetMainThreadCalls().IsEmpty());
  EXPECT_EQ(TDeferredMemberCallPool::Instance()->GetLiveCount(), liveBefore);

  // Run on the main thread, such a call is deleted at once.
  TDeferredCallHolder call = Call(probe, &TProbe::Note, 2);
  call->SetKillInMainThread(true);
  evaluator.EvaluateNow(call);
  EXPECT_EQ(TDeferredMemberCallPool::Instance()->GetLiveCount(), liveBefore);
}

TEST(CommandBufferEvaluatorThreaded, TerminationReturnsAfterAWorkersCallAndAHelpersCallThrew) {
  OrvTest::TDialogRecorder recorder;
  TProbe probe;
  {
    TSoftwareCommandBufferEvaluator evaluator("THROWS", false, 1, 2);
    TSoftwareCommandBufferCompletionPort port(&evaluator, GetCurrentThreadId(), "worker's");
    TCompletionPortHandleRef handle = port.AttachHandle(3);
    TDeferredCallHolder hold = Call(probe, &TProbe::Hold, 0);
    PushCallThroughHandle(handle, hold, 3);
    probe.started.wait();

    // A helper's call throws: the helper's handle comes back and it no longer counts as running.
    TSoftwareCommandBufferCompletionPort helperPort(&evaluator, GetCurrentThreadId(), "helper's");
    TCompletionPortHandleRef helperHandle = helperPort.AttachHandle(3);
    GetCurrentHandle() = helperHandle;
    TDeferredCallHolder throwing = Call(probe, &TProbe::Throw, 0);
    evaluator.QueuePush(throwing, 1);
    EXPECT_THROW(evaluator.TryRunOne(7), std::runtime_error);
    EXPECT_EQ(GetCurrentHandle().Get(), helperHandle.Get());
    EXPECT_EQ(evaluator.GetRunningWorkers(), 1u);
    EXPECT_TRUE(evaluator.TryRunOne(7));
    GetCurrentHandle().Reset();
    helperHandle.Reset();
    helperPort.WaitForCompletion(false);

    // The worker's call throws: the worker leaves its loop and its port still completes.
    throwing = Call(probe, &TProbe::Throw, 0);
    PushCallThroughHandle(handle, throwing, 3);
    handle.Reset();
    probe.gate.count_down();
    port.WaitForCompletion(false);
  }
  // The dialog site is suppressed once answered, so only the first exception shows.
  EXPECT_EQ(recorder.Dialogs().size(), 1u);
}

// Refuses the third platform thread.
std::atomic<std::uint32_t> g_creations{0};
int RefuseThirdThread(pthread_t* thread, const pthread_attr_t* attributes, void* (*entry)(void*), void* argument) {
  if (g_creations.fetch_add(1) == 2) return EAGAIN;
  return pthread_create(thread, attributes, entry, argument);
}

TEST(CommandBufferEvaluatorThreaded, AWorkerThatCannotBeCreatedStopsTheOthersAndThrows) {
  g_creations = 0;
  const TThreadCreateFunction previous = SetThreadCreateFunctionForTests(&RefuseThirdThread);
  EXPECT_THROW(TSoftwareCommandBufferEvaluator("REFUSED", false, 4, 2), EException);
  SetThreadCreateFunctionForTests(previous);
  EXPECT_EQ(g_creations.load(), 3u);
  EXPECT_EQ(ThreadNamesOfProcess().count("REFUSED_0"), 0u);
}

TEST(CommandBufferEvaluatorThreaded, RunPendingCallsRunsThePendingListAndDropsItOnAnException) {
  TSoftwareCommandBufferEvaluator immediate("IMM", true, 0, 2);
  TProbe probe;
  const std::uint32_t liveBefore = TDeferredMemberCallPool::Instance()->GetLiveCount();
  TDeferredCallHolder call = Call(probe, &TProbe::Note, 1);
  immediate.GetPendingCalls().Push(call);
  call = Call(probe, &TProbe::Throw, 0);
  immediate.GetPendingCalls().Push(call);
  call = Call(probe, &TProbe::Note, 3);
  immediate.GetPendingCalls().Push(call);
  OrvTest::TDialogRecorder recorder;
  EXPECT_THROW(immediate.RunPendingCalls(), std::runtime_error);
  EXPECT_EQ(probe.Log(), (std::vector<std::uint32_t>{3}));
  EXPECT_TRUE(immediate.GetPendingCalls().IsEmpty());
  EXPECT_EQ(TDeferredMemberCallPool::Instance()->GetLiveCount(), liveBefore);
}

}  // namespace
