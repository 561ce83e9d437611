#include "core/threads/thread.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "core/diagnostics/engine_exception.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_id.h"
#include "core/threads/thread_local_storage.h"
#include "core/threads/thread_services.h"

namespace Orvan {
namespace {

using Clock = std::chrono::steady_clock;

// What a test thread saw of itself. It reports, then waits for `release` so that the test can
// look at it from outside while it still runs.
struct TThreadProbe {
  TEvent reported{TEvent::kManualReset};
  TEvent release{TEvent::kManualReset};
  pid_t tid = 0;
  std::uint32_t engineId = 0;
  std::size_t stackSize = 0;
  int policy = -1;
  std::uint32_t threadIndex = 0;

  static std::uint32_t Entry(void* argument) {
    auto* probe = static_cast<TThreadProbe*>(argument);
    probe->tid = gettid();
    probe->engineId = GetCurrentThreadId();
    probe->threadIndex = GetCurrentThreadIndex();
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
      pthread_attr_getstacksize(&attributes, &probe->stackSize);
      pthread_attr_destroy(&attributes);
    }
    sched_param parameter{};
    pthread_getschedparam(pthread_self(), &probe->policy, &parameter);
    probe->reported.Set();
    probe->release.Wait();
    return 0;
  }
};

std::string ReadThreadName(pid_t tid) {
  std::ifstream file("/proc/self/task/" + std::to_string(tid) + "/comm");
  std::string name;
  std::getline(file, name);
  return name;
}

// StartDefault passes the handle itself: the probe rides along in a derived handle.
struct TProbedThread : TThread {
  TThreadProbe probe;
  static std::uint32_t Entry(void* argument) {
    return TThreadProbe::Entry(&static_cast<TProbedThread*>(static_cast<TThread*>(argument))->probe);
  }
};

TEST(ThreadThreaded, StartDefaultNamesTheThreadAndGivesItsIdFirst) {
  TProbedThread thread;
  EXPECT_FALSE(thread.IsAttached());
  thread.StartDefault(&TProbedThread::Entry);
  EXPECT_TRUE(thread.IsStarted());
  EXPECT_TRUE(thread.IsAttached());
  const std::uint32_t id = thread.GetThreadId();
  thread.probe.reported.Wait();
  EXPECT_EQ(ReadThreadName(thread.probe.tid), "To be named");
  EXPECT_EQ(thread.probe.engineId, id);
  EXPECT_NE(id, GetCurrentThreadId());
  EXPECT_GE(thread.probe.stackSize, kDefaultThreadStackSize);
  // A bare TThread is not attached to the engine: it has no thread number.
  EXPECT_EQ(thread.probe.threadIndex, 0u);
  thread.probe.release.Set();
  thread.Join();
  EXPECT_FALSE(thread.IsAttached());
  EXPECT_EQ(thread.GetThreadId(), 0u);
  // The finished event was consumed by Join (auto-reset).
  EXPECT_FALSE(thread.GetFinishedEvent().TimedWait(0));
}

TEST(ThreadThreaded, NamesReachThePlatformUnchangedAndItKeeps15Characters) {
  struct Case {
    const char* name;
    std::string seen;
  };
  const Case cases[] = {
      {"Worker", "Worker"},
      {"ExactlyFifteen!", "ExactlyFifteen!"},
      {"A name longer than fifteen", "A name longer t"},
      {"", ""},
  };
  for (const Case& c : cases) {
    TThreadProbe probe;
    TThread thread;
    // The name passes through a buffer that is gone before the thread looks at it.
    {
      std::string transient = c.name;
      thread.Start(&TThreadProbe::Entry, &probe, 3, 0, transient.c_str());
      std::memset(transient.data(), 'X', transient.size());
    }
    probe.reported.Wait();
    if (*c.name != '\0') {
      EXPECT_EQ(ReadThreadName(probe.tid), c.seen);
    }
    probe.release.Set();
    thread.Join();
  }
}

TEST(ThreadThreaded, StackIsAtLeastTheRequestAndNeverBelowThePlatformDefault) {
  pthread_attr_t defaults;
  pthread_attr_init(&defaults);
  std::size_t platformDefault = 0;
  pthread_attr_getstacksize(&defaults, &platformDefault);
  pthread_attr_destroy(&defaults);

  struct Case {
    std::uint32_t request;
    std::size_t atLeast;
  };
  const Case cases[] = {
      {0x10000, platformDefault},  // a small request does not lower the default
      {0x20000, platformDefault},
      {static_cast<std::uint32_t>(platformDefault + 0x400000), platformDefault + 0x400000},
  };
  for (const Case& c : cases) {
    TThreadProbe probe;
    TThread thread;
    thread.Start(&TThreadProbe::Entry, &probe, 3, c.request, "StackProbe");
    probe.reported.Wait();
    EXPECT_GE(probe.stackSize, c.atLeast) << "request " << c.request;
    probe.release.Set();
    thread.Join();
  }
}

TEST(ThreadThreaded, SchedulingIsInheritedFromTheCreatorAtEveryLevel) {
  int creatorPolicy = -1;
  sched_param creatorParameter{};
  pthread_getschedparam(pthread_self(), &creatorPolicy, &creatorParameter);
  for (std::uint32_t level : {0u, 3u, 7u}) {
    TThreadProbe probe;
    TThread thread;
    // Creation asks for no scheduling privilege, so it cannot fail for lack of one.
    ASSERT_NO_THROW(thread.Start(&TThreadProbe::Entry, &probe, level, 0, "Inherit"));
    probe.reported.Wait();
    EXPECT_EQ(probe.policy, creatorPolicy) << "level " << level;
    probe.release.Set();
    thread.Join();
  }
}

TEST(ThreadThreaded, SetThreadPriorityMakesARunningThreadFifoWhenPermitted) {
  TThreadProbe probe;
  TThread thread;
  thread.Start(&TThreadProbe::Entry, &probe, 3, 0, "Priority");
  probe.reported.Wait();
  const int result = SetThreadPriority(thread.GetHandle(), 3);
  int policy = -1;
  sched_param parameter{};
  pthread_getschedparam(thread.GetHandle(), &policy, &parameter);
  probe.release.Set();
  thread.Join();
  if (result == EPERM) GTEST_SKIP() << "no privilege for SCHED_FIFO here";
  ASSERT_EQ(result, 0);
  EXPECT_EQ(policy, SCHED_FIFO);
  EXPECT_EQ(parameter.sched_priority, GetPriorityForLevel(3));
}

TEST(Thread, JoinOfAHandleNeverStartedReturnsAtOnce) {
  TThread thread;
  EXPECT_FALSE(thread.IsStarted());
  thread.Join();
  thread.Join();
  EXPECT_FALSE(thread.IsAttached());
  TThread detached;
  detached.Detach();
  detached.Join();
}

// ---- The creation seam: refuse creations, or watch started threads to their very end.

std::atomic<int> g_refuseWith{0};
TEvent g_trampolineReturned{TEvent::kAutoReset};

struct TWatchedStart {
  void* (*start)(void*);
  void* argument;
};

void* WatchedStart(void* parameter) {
  const TWatchedStart watched = *static_cast<TWatchedStart*>(parameter);
  delete static_cast<TWatchedStart*>(parameter);
  void* result = watched.start(watched.argument);
  // The engine's trampoline has returned: nothing of the thread touches engine memory any more.
  g_trampolineReturned.Set();
  return result;
}

int SeamCreate(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* argument) {
  if (const int error = g_refuseWith.load()) return error;
  auto* watched = new TWatchedStart{start, argument};
  const int result = pthread_create(thread, attributes, &WatchedStart, watched);
  if (result != 0) delete watched;
  return result;
}

class ThreadCreationSeam : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetThreadCreateFunctionForTests(&SeamCreate); }
  void TearDown() override {
    SetThreadCreateFunctionForTests(previous_);
    g_refuseWith = 0;
  }
  TThreadCreateFunction previous_ = nullptr;
};

std::uint32_t NeverRuns(void*) {
  ADD_FAILURE() << "a thread that could not be created ran";
  return 0;
}

TEST_F(ThreadCreationSeam, AFailedCreationThrowsAndLeavesTheHandleUnattached) {
  g_refuseWith = EAGAIN;
  TThread thread;
  try {
    thread.Start(&NeverRuns, nullptr, 3, 0, "Doomed");
    FAIL() << "no exception";
  } catch (const EException& exception) {
    const std::string message = exception.what();
    EXPECT_NE(message.find("Doomed"), std::string::npos) << message;
    EXPECT_NE(message.find(std::strerror(EAGAIN)), std::string::npos) << message;
  }
  EXPECT_FALSE(thread.IsAttached());
  EXPECT_FALSE(thread.IsStarted());
  EXPECT_EQ(thread.GetThreadId(), 0u);
  const auto start = Clock::now();
  thread.Join();  // would wait forever on a handle that was never created
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

  // SpawnThread itself: the id goes back to 0 and the event keeps only the caller's reference.
  TThreadFinishedEvent* event = TThreadFinishedEvent::Create();
  std::uint32_t id = 1234;
  EXPECT_THROW(SpawnThread(&id, &NeverRuns, nullptr, 3, 0, "Doomed", event), EException);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(event->GetReferenceCount(), 1u);
  event->Release();
}

struct TBlockedRunnable : TRunnableObject {
  void Run() override {}
};

TEST_F(ThreadCreationSeam, AFailedRunnableStartThrowsAndLeavesItNotRunning) {
  g_refuseWith = ENOMEM;
  TBlockedRunnable runnable;
  EXPECT_THROW(runnable.Start(nullptr, 3, 0, "DoomedRunnable"), EException);
  EXPECT_FALSE(runnable.IsRunning());
  EXPECT_FALSE(runnable.IsAttached());
  EXPECT_EQ(runnable.Join(), 1u);
}

TEST_F(ThreadCreationSeam, AHandleDestroyedWhileItsThreadRunsLeavesTheThreadItsEvent) {
  TThreadProbe probe;
  {
    TThread thread;
    thread.Start(&TThreadProbe::Entry, &probe, 3, 0, "Outlives");
    probe.reported.Wait();
  }  // destroyed while attached: the thread is detached and runs on
  probe.release.Set();
  // The thread sets the finished event after its handle is gone (sanitizer builds catch a use of
  // freed memory here).
  g_trampolineReturned.Wait();
}

TEST_F(ThreadCreationSeam, TheLastHolderOfTheFinishedEventFreesIt) {
  TThreadProbe probe;
  TThreadFinishedEvent* event = TThreadFinishedEvent::Create();
  std::uint32_t id = 0;
  const TPlatformThread thread = SpawnThread(&id, &TThreadProbe::Entry, &probe, 3, 0, "Counted", event);
  EXPECT_NE(id, 0u);
  EXPECT_EQ(event->GetReferenceCount(), 2u);  // the caller's and the start record's
  probe.release.Set();
  pthread_join(thread, nullptr);
  g_trampolineReturned.Wait();
  EXPECT_EQ(event->GetReferenceCount(), 1u);
  EXPECT_TRUE(event->GetEvent().TimedWait(0));
  event->Release();
}

struct TWaitingRunnable : TRunnableObject {
  TEvent started{TEvent::kManualReset};
  TEvent release{TEvent::kManualReset};
  void Run() override {
    started.Set();
    release.Wait();
  }
};

struct TQuickRunnable : TRunnableObject {
  TEvent release{TEvent::kManualReset};
  void Run() override { release.Wait(); }
};

TEST_F(ThreadCreationSeam, ARunnableDestroyedOnceRunEndedLeavesTheThreadItsEvent) {
  auto* runnable = new TQuickRunnable;
  runnable->Start(nullptr, 3, 0, "RunnableGone");
  runnable->release.Set();
  // The owner sees Run end and drops the object without joining; the thread still has to signal
  // its finished event afterwards.
  while (runnable->IsRunning()) std::this_thread::yield();
  delete runnable;
  g_trampolineReturned.Wait();
}

// ---- TBasicThread

class TRecordingLoop : public TBasicThread {
 public:
  explicit TRecordingLoop(std::uint32_t firstTimedWaitMs = 0) : TBasicThread(3, 0x20000), timedWaitMs_(firstTimedWaitMs) {}

  TEvent entered{TEvent::kManualReset};
  TEvent answered{TEvent::kAutoReset};  // set after each answer is recorded
  std::vector<bool> answers;
  bool returned = false;
  bool wasCurrentThread = false;
  std::uint32_t threadIndex = 0;
  Clock::duration timedWaitLasted{};

 protected:
  void Run() override {
    wasCurrentThread = IsCurrentThread();
    threadIndex = GetCurrentThreadIndex();
    entered.Set();
    if (timedWaitMs_ != 0) {
      const auto start = Clock::now();
      const bool stop = WaitForWakeTimed(timedWaitMs_);
      timedWaitLasted = Clock::now() - start;
      Answer(stop);
    }
    for (;;) {
      const bool stop = WaitForWake();
      Answer(stop);
      if (stop) break;
    }
    returned = true;
  }

 private:
  void Answer(bool stop) {
    answers.push_back(stop);
    answered.Set();
  }
  std::uint32_t timedWaitMs_;
};

TEST(BasicThreadThreaded, StopWakesABlockedLoopAndReturnsAfterTheThreadEnded) {
  const std::uint32_t attachedBefore = GetAttachedThreadCount();
  TRecordingLoop loop;
  loop.Start("BasicLoop");
  EXPECT_TRUE(loop.IsRunning());
  loop.entered.Wait();
  EXPECT_FALSE(loop.IsCurrentThread());
  loop.Stop();
  EXPECT_TRUE(loop.returned);
  EXPECT_EQ(loop.answers, std::vector<bool>{true});
  EXPECT_TRUE(loop.wasCurrentThread);
  EXPECT_NE(loop.threadIndex, 0u);  // the loop ran attached to the engine
  EXPECT_FALSE(loop.GetThread().IsAttached());
  EXPECT_EQ(GetAttachedThreadCount(), attachedBefore);
}

TEST(BasicThreadThreaded, WakesAnswerFalseUntilTheStop) {
  constexpr std::uint32_t kTimeoutMs = 30;
  TRecordingLoop loop(kTimeoutMs);
  loop.Start("TimedLoop");
  // Nobody wakes the timed wait: it ends by its time-out with false.
  loop.answered.Wait();
  EXPECT_EQ(loop.answers, std::vector<bool>{false});
  EXPECT_GE(loop.timedWaitLasted, std::chrono::milliseconds(kTimeoutMs));
  // A wake without a stop request answers false as well.
  loop.Wake();
  loop.answered.Wait();
  EXPECT_EQ(loop.answers, (std::vector<bool>{false, false}));
  loop.Stop();
  EXPECT_EQ(loop.answers, (std::vector<bool>{false, false, true}));
}

template <typename TException>
class TThrowingLoop : public TBasicThread {
 public:
  explicit TThrowingLoop(TException exception) : TBasicThread(3, 0), exception_(exception) {}

 protected:
  void Run() override { throw exception_; }

 private:
  TException exception_;
};

template <typename TException>
void RunThrowingLoop(TException exception) {
  TThrowingLoop<TException> loop(exception);
  loop.Start("Throws");
  loop.GetThread().Join();
}

TEST(BasicThreadThreadedDeathTest, AnExceptionLeavingTheLoopIsDescribedAndThrownOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(RunThrowingLoop(EException(L"loop failed")),
               "EExceptionE? raised in basic thread loop [0-9]+\nloop failed\n");
  EXPECT_DEATH(RunThrowingLoop(std::bad_alloc()), "OUT OF MEMORY error in basic thread loop [0-9]+\n");
  EXPECT_DEATH(RunThrowingLoop(std::runtime_error("other")), "Unexpected .*runtime_error in basic thread loop [0-9]+");
}

// ---- TRunnableObject

struct TPollingRunnable : TRunnableObject {
  TEvent started{TEvent::kManualReset};
  bool sawItselfRunning = false;
  std::uint32_t threadIndex = 0;
  std::uint32_t engineId = 0;
  void Run() override {
    sawItselfRunning = IsRunning();
    threadIndex = GetCurrentThreadIndex();
    engineId = GetCurrentThreadId();
    started.Set();
    while (!IsStopRequested()) std::this_thread::yield();
  }
};

TEST(RunnableObjectThreaded, RunsAttachedUntilStopAndJoin) {
  const std::uint32_t attachedBefore = GetAttachedThreadCount();
  TPollingRunnable runnable;
  EXPECT_EQ(runnable.GetCreatorThreadId(), GetCurrentThreadId());
  const std::uint32_t id = runnable.Start(nullptr, 3, 0, "Runnable");
  EXPECT_EQ(id, runnable.GetThreadId());
  EXPECT_TRUE(runnable.IsAttached());
  runnable.started.Wait();
  EXPECT_EQ(runnable.StopAndJoin(), 1u);
  EXPECT_FALSE(runnable.IsRunning());
  EXPECT_FALSE(runnable.IsAttached());
  EXPECT_TRUE(runnable.sawItselfRunning);
  EXPECT_NE(runnable.threadIndex, 0u);
  EXPECT_EQ(runnable.engineId, id);
  EXPECT_EQ(GetAttachedThreadCount(), attachedBefore);
  EXPECT_EQ(runnable.Join(), 1u);  // nothing left to join
}

}  // namespace
}  // namespace Orvan
