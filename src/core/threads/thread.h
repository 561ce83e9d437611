// The engine's threads: SpawnThread starts a platform thread that knows its engine id and name;
// TThread is the handle of one such thread; TBasicThread runs a virtual loop with a wake-up event
// and a stop flag; TRunnableObject runs a virtual Run attached to the engine.
//
// Use:
//   class TWorker : public TBasicThread {
//     void Run() override { while (!WaitForWake()) DoWork(); }   // true once Stop was called
//   };
//   TWorker worker(3, 0x20000);  worker.Start("Worker");  ...  worker.Wake();  ...  worker.Stop();
//
// Handles are used by the thread that owns them, never by the thread they stand for.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

#include "core/singletons/non_copyable.h"
#include "core/sync/event.h"
#include "core/sync/mutex.h"

namespace Orvan {

using TPlatformThread = pthread_t;
// A thread's body; its result is not used.
using TThreadEntry = std::uint32_t (*)(void* argument);

// What TThread::StartDefault uses.
inline constexpr std::uint32_t kDefaultThreadPriorityLevel = 3;
inline constexpr std::uint32_t kDefaultThreadStackSize = 0x10000;
inline constexpr const char* kDefaultThreadName = "To be named";

// The event a thread sets once its entry has returned. The thread's handle and its start record
// each hold a reference, so a handle destroyed while its thread runs on does not take the event
// away from under the thread; whichever lets go last frees it.
class TThreadFinishedEvent {
 public:
  // A new block holding one reference, not signalled.
  static TThreadFinishedEvent* Create() { return new TThreadFinishedEvent; }
  void AddReference() { references_.fetch_add(1, std::memory_order_relaxed); }
  void Release() {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  TEvent& GetEvent() { return event_; }
  std::uint32_t GetReferenceCount() const { return references_.load(std::memory_order_acquire); }

 private:
  TThreadFinishedEvent() : event_(TEvent::kAutoReset) {}
  ~TThreadFinishedEvent() = default;

  std::atomic<std::uint32_t> references_{1};
  TEvent event_;
};

// Starts a joinable thread that stores its engine id, takes the name (the platform keeps 15
// characters) and calls entry(argument); when that returns it sets `finishedEvent` (null: none).
// The id is taken and stored through `threadId` before the thread exists. The SCHED_FIFO priority
// of `level` goes into the creation attributes, whose scheduling is inherited from the creator; the
// stack is at least `stackSize` bytes (the platform default when that is larger).
// When the platform cannot create the thread, *threadId is set back to 0, nothing is leaked and an
// EException naming the thread and the system's error text is thrown.
TPlatformThread SpawnThread(std::uint32_t* threadId, TThreadEntry entry, void* argument, std::uint32_t level,
                            std::uint32_t stackSize, const char* name, TThreadFinishedEvent* finishedEvent);

// Makes a running thread SCHED_FIFO at the priority of `level`; returns the pthread error code (0 on
// success; EPERM without the privilege to do so).
int SetThreadPriority(TPlatformThread thread, std::uint32_t level);

// Test seam: the function that creates platform threads (pthread_create unless replaced). Returns
// the previous one.
using TThreadCreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
TThreadCreateFunction SetThreadCreateFunctionForTests(TThreadCreateFunction function);

class TThread {
 public:
  TThread();
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  // Starts the thread; on failure (EException) the handle stays not attached and not started.
  void Start(TThreadEntry entry, void* argument, std::uint32_t level, std::uint32_t stackSize, const char* name);
  // Start with this handle as argument, level 3, 65536 bytes of stack and the name "To be named".
  void StartDefault(TThreadEntry entry);
  // Waits for an attached thread to end; returns at once for a handle with no thread.
  void Join();

  bool IsStarted() const { return started_; }
  void ClearStarted() { started_ = false; }
  bool IsAttached() const { return threadId_ != 0; }
  // Forgets the thread without touching it.
  void Detach() { threadId_ = 0; }
  std::uint32_t GetThreadId() const { return threadId_; }
  TPlatformThread GetHandle() const { return handle_; }
  TEvent& GetFinishedEvent() { return finishedEvent_->GetEvent(); }

 private:
  TPlatformThread handle_{};
  std::uint32_t threadId_ = 0;
  TThreadFinishedEvent* finishedEvent_;
  bool started_ = false;
};

class TBasicThread : public Meta::NonCopyable {
 public:
  TBasicThread(std::uint32_t priorityLevel, std::uint32_t stackSize);
  virtual ~TBasicThread();

  // Starts the loop on a new thread attached to the engine.
  void Start(const char* name);
  // Requests the stop, wakes the loop and waits for the thread to end.
  void Stop();
  // Releases one wait for a wake-up.
  void Wake();
  // Waits for a wake-up; true when the stop was requested.
  bool WaitForWake();
  // The same with a time-out; the answer is the stop flag whether or not the wait timed out.
  bool WaitForWakeTimed(std::uint32_t milliseconds);
  bool IsCurrentThread() const;
  bool IsRunning() const { return running_; }
  std::uint32_t GetPriorityLevel() const { return priorityLevel_; }
  std::uint32_t GetStackSize() const { return stackSize_; }
  TThread& GetThread() { return thread_; }

 protected:
  // The thread's body. It returns when WaitForWake or WaitForWakeTimed answers true.
  virtual void Run() = 0;

 private:
  // Attaches the thread, runs the loop, detaches. An exception leaving the loop is described on
  // stderr and thrown on unchanged, without the detach.
  static std::uint32_t RunWrapper(void* object);

  TThread thread_;
  std::uint32_t priorityLevel_;
  TEvent wakeEvent_;
  std::atomic<std::uint32_t> stopRequested_{0};
  TMutex mutex_;
  std::uint32_t stackSize_;
  bool running_ = false;
};

class TRunnableObject {
 public:
  TRunnableObject();
  virtual ~TRunnableObject();
  TRunnableObject(const TRunnableObject&) = delete;
  TRunnableObject& operator=(const TRunnableObject&) = delete;

  // The thread's body; it polls IsStopRequested.
  virtual void Run() = 0;

  // Starts Run on a new thread and returns its engine id; the argument is ignored. On failure
  // (EException) the object stays not attached and not running.
  std::uint32_t Start(void* ignored, std::uint32_t level, std::uint32_t stackSize, const char* name);
  // What the thread runs: attach to the engine, Run, clear the running flag, detach (the last two
  // also when Run throws).
  void RunInThread();
  // Waits for an attached thread to end (not for the event); returns 1.
  std::uint32_t Join();
  // Requests the stop, then Join; returns 1.
  std::uint32_t StopAndJoin();

  bool IsRunning() const { return running_.load(std::memory_order_acquire); }
  bool IsStopRequested() const { return stopRequested_.load(std::memory_order_acquire); }
  std::uint32_t GetThreadId() const { return threadId_; }
  std::uint32_t GetCreatorThreadId() const { return creatorThreadId_; }
  bool IsAttached() const { return threadId_ != 0; }
  void Detach() { threadId_ = 0; }
  TEvent& GetFinishedEvent() { return finishedEvent_->GetEvent(); }

 private:
  // The entry SpawnThread calls: the one place where the thread body is entered.
  static std::uint32_t ThreadEntry(void* object);

  TPlatformThread handle_{};
  std::uint32_t threadId_ = 0;
  TThreadFinishedEvent* finishedEvent_;
  std::uint32_t creatorThreadId_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
};

}  // namespace Orvan
