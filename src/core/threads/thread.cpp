// Platform threads of the engine and their handles.
#include "core/threads/thread.h"

#include <sched.h>
#include <sys/prctl.h>
#include <sys/types.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <typeinfo>

#include "core/diagnostics/dialog.h"
#include "core/diagnostics/engine_exception.h"
#include "core/memory/global_allocation.h"
#include "core/text/text_encoding.h"
#include "core/threads/thread_attachment.h"
#include "core/threads/thread_id.h"
#include "core/threads/thread_services.h"

namespace Orvan {

namespace {

// Built by the creator, freed by the new thread once its entry has returned. The name is copied
// behind the record, so the creator's text need not outlive the call.
struct TThreadStartRecord {
  TThreadEntry function;
  void* argument;
  std::uint32_t threadId;
  const char* name;
  TThreadFinishedEvent* finishedEvent;
};

// Diagnostics of the basic-thread run wrapper are composed into a buffer of this size.
constexpr std::size_t kDiagnosticBufferSize = 4096;
// Room for the system's text of a creation error.
constexpr std::size_t kErrorTextSize = 256;

std::atomic<TThreadCreateFunction> g_createThread{&pthread_create};

void* ThreadTrampoline(void* parameter) {
  auto* record = static_cast<TThreadStartRecord*>(parameter);
  StoreCurrentThreadId(record->threadId);
  prctl(PR_SET_NAME, record->name, 0, 0, 0);
  record->function(record->argument);
  // The record goes first; the event was copied out of it and stays alive through its reference.
  TThreadFinishedEvent* finishedEvent = record->finishedEvent;
  FreeMemory(kDomainEngine, record);
  if (finishedEvent != nullptr) {
    finishedEvent->GetEvent().Set();
    finishedEvent->Release();
  }
  return nullptr;
}

// Destroys the creation attributes on every way out of SpawnThread.
class TThreadAttributes {
 public:
  TThreadAttributes() { pthread_attr_init(&attributes_); }
  ~TThreadAttributes() { pthread_attr_destroy(&attributes_); }
  TThreadAttributes(const TThreadAttributes&) = delete;
  TThreadAttributes& operator=(const TThreadAttributes&) = delete;
  pthread_attr_t* Get() { return &attributes_; }

 private:
  pthread_attr_t attributes_;
};

[[noreturn]] void ThrowThreadCreationFailed(const char* name, int error) {
  char errorText[kErrorTextSize];
  const char* text = strerror_r(error, errorText, sizeof(errorText));
  char message[kDiagnosticBufferSize];
  std::snprintf(message, sizeof(message), "Could not create the thread \"%s\": %s", name != nullptr ? name : "",
                text);
  throw EException(Utf8ToWide(TOrvString<char>(message)));
}

const char* TypeNameOf(const std::type_info& type) {
  const char* name = type.name();
  return *name == '*' ? name + 1 : name;
}

}  // namespace

TPlatformThread SpawnThread(std::uint32_t* threadId, TThreadEntry entry, void* argument, std::uint32_t level,
                            std::uint32_t stackSize, const char* name, TThreadFinishedEvent* finishedEvent) {
  TThreadAttributes attributes;
  // The policy goes first: the platform checks the priority against the policy already set.
  pthread_attr_setschedpolicy(attributes.Get(), SCHED_FIFO);
  sched_param parameter{};
  parameter.sched_priority = GetPriorityForLevel(level);
  pthread_attr_setschedparam(attributes.Get(), &parameter);
  std::size_t defaultStackSize = 0;
  pthread_attr_getstacksize(attributes.Get(), &defaultStackSize);
  if (defaultStackSize < stackSize) pthread_attr_setstacksize(attributes.Get(), stackSize);

  *threadId = TakeNextThreadId();

  const char* threadName = name != nullptr ? name : "";
  const std::size_t nameBytes = std::strlen(threadName) + 1;
  void* block = AllocateMemory(kDomainEngine, sizeof(TThreadStartRecord) + nameBytes, false);
  if (block == nullptr) {
    *threadId = 0;
    ThrowBadAlloc();
  }
  auto* record = static_cast<TThreadStartRecord*>(block);
  char* nameCopy = static_cast<char*>(block) + sizeof(TThreadStartRecord);
  std::memcpy(nameCopy, threadName, nameBytes);
  *record = TThreadStartRecord{entry, argument, *threadId, nameCopy, finishedEvent};
  if (finishedEvent != nullptr) finishedEvent->AddReference();

  TPlatformThread thread{};
  const int result = g_createThread.load(std::memory_order_relaxed)(&thread, attributes.Get(), &ThreadTrampoline,
                                                                      record);
  if (result != 0) {
    if (finishedEvent != nullptr) finishedEvent->Release();
    FreeMemory(kDomainEngine, record);
    *threadId = 0;
    ThrowThreadCreationFailed(name, result);
  }
  return thread;
}

int SetThreadPriority(TPlatformThread thread, std::uint32_t level) {
  sched_param parameter{};
  parameter.sched_priority = GetPriorityForLevel(level);
  return pthread_setschedparam(thread, SCHED_FIFO, &parameter);
}

TThreadCreateFunction SetThreadCreateFunctionForTests(TThreadCreateFunction function) {
  return g_createThread.exchange(function != nullptr ? function : &pthread_create);
}

// ---- TThread

TThread::TThread() : finishedEvent_(TThreadFinishedEvent::Create()) {}

TThread::~TThread() {
  if (threadId_ != 0) pthread_detach(handle_);
  finishedEvent_->Release();
}

void TThread::Start(TThreadEntry entry, void* argument, std::uint32_t level, std::uint32_t stackSize,
                    const char* name) {
  started_ = true;
  try {
    handle_ = SpawnThread(&threadId_, entry, argument, level, stackSize, name, finishedEvent_);
  } catch (...) {
    started_ = false;
    throw;
  }
}

void TThread::StartDefault(TThreadEntry entry) {
  Start(entry, this, kDefaultThreadPriorityLevel, kDefaultThreadStackSize, kDefaultThreadName);
}

void TThread::Join() {
  if (threadId_ == 0) return;
  pthread_join(handle_, nullptr);
  threadId_ = 0;
  finishedEvent_->GetEvent().Wait();
}

// ---- TBasicThread

TBasicThread::TBasicThread(std::uint32_t priorityLevel, std::uint32_t stackSize)
    : priorityLevel_(priorityLevel), wakeEvent_(TEvent::kAutoReset), stackSize_(stackSize) {}

TBasicThread::~TBasicThread() = default;

void TBasicThread::Start(const char* name) {
  thread_.Start(&TBasicThread::RunWrapper, this, priorityLevel_, stackSize_, name);
  running_ = true;
}

void TBasicThread::Stop() {
  {
    TMutexLocker locker(mutex_);
    stopRequested_.exchange(1);
    wakeEvent_.Set();
  }
  thread_.Join();
}

void TBasicThread::Wake() { wakeEvent_.Set(); }

bool TBasicThread::WaitForWake() {
  wakeEvent_.Wait();
  TMutexLocker locker(mutex_);
  return stopRequested_.load(std::memory_order_relaxed) != 0;
}

bool TBasicThread::WaitForWakeTimed(std::uint32_t milliseconds) {
  wakeEvent_.TimedWait(milliseconds);
  TMutexLocker locker(mutex_);
  return stopRequested_.load(std::memory_order_relaxed) != 0;
}

bool TBasicThread::IsCurrentThread() const { return thread_.GetThreadId() == GetCurrentThreadId(); }

std::uint32_t TBasicThread::RunWrapper(void* object) {
  auto* self = static_cast<TBasicThread*>(object);
  AttachThreadToEngine();
  // The ids are u32; "%zd" wants a signed size.
  const auto threadId = static_cast<ssize_t>(GetCurrentThreadId());
  char diagnostic[kDiagnosticBufferSize];
  try {
    self->Run();
  } catch (const EException& exception) {
    std::snprintf(diagnostic, sizeof(diagnostic), "%s raised in basic thread loop %zd\n%s\n%s\n",
                  TypeNameOf(typeid(exception)), threadId, exception.what(), "");
    std::fputs(diagnostic, stderr);
    throw;
  } catch (const std::bad_alloc&) {
    std::snprintf(diagnostic, sizeof(diagnostic), "OUT OF MEMORY error in basic thread loop %zd\n", threadId);
    std::fputs(diagnostic, stderr);
    throw;
  } catch (const std::exception& exception) {
    std::snprintf(diagnostic, sizeof(diagnostic), "Unexpected %s in basic thread loop %zd\n%s\n",
                  TypeNameOf(typeid(exception)), threadId, "");
    std::fputs(diagnostic, stderr);
    throw;
  }
  DetachThreadFromEngine();
  return 0;
}

// ---- TRunnableObject

TRunnableObject::TRunnableObject()
    : finishedEvent_(TThreadFinishedEvent::Create()), creatorThreadId_(GetCurrentThreadId()) {}

TRunnableObject::~TRunnableObject() {
  if (threadId_ != 0) pthread_detach(handle_);
  finishedEvent_->Release();
}

std::uint32_t TRunnableObject::Start(void*, std::uint32_t level, std::uint32_t stackSize, const char* name) {
  running_.store(true, std::memory_order_release);
  try {
    handle_ = SpawnThread(&threadId_, &TRunnableObject::ThreadEntry, this, level, stackSize, name, finishedEvent_);
  } catch (...) {
    running_.store(false, std::memory_order_release);
    throw;
  }
  return threadId_;
}

std::uint32_t TRunnableObject::ThreadEntry(void* object) {
  // An exception escaping the body becomes a dialog; the thread then ends normally.
  return RunCatchingExceptions(static_cast<TRunnableObject*>(object));
}

void TRunnableObject::RunInThread() {
  // A body that throws still ends its run: the flag is cleared and the thread detached on the way
  // out, so IsRunning does not report a dead thread and its thread-local objects are released.
  class TEndOfRun {
   public:
    explicit TEndOfRun(std::atomic<bool>& running) : running_(running) {}
    ~TEndOfRun() {
      running_.store(false, std::memory_order_release);
      if (attached) DetachThreadFromEngine();
    }
    bool attached = false;

   private:
    std::atomic<bool>& running_;
  };
  TEndOfRun end(running_);
  AttachThreadToEngine();
  end.attached = true;
  Run();
}

std::uint32_t TRunnableObject::Join() {
  if (threadId_ != 0) {
    pthread_join(handle_, nullptr);
    threadId_ = 0;
  }
  return 1;
}

std::uint32_t TRunnableObject::StopAndJoin() {
  stopRequested_.store(true, std::memory_order_release);
  return Join();
}

}  // namespace Orvan
