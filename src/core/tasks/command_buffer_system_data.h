// What a thread knows about the deferred call it runs: the completion-port handle the call runs
// under and the chain of execution frames of the calls it is running, one per nested call. Calls
// stamped with ordering ids take them from the innermost frame; ExecuteCall runs one call under a
// new frame and reports an exception that leaves it.
#pragma once

#include <cstdint>

#include "core/tasks/completion_port_handle.h"
#include "core/threads/thread_local_storage.h"

namespace Orvan {

class TAbstractDeferredCall;
class TSoftwareCommandBufferEvaluator;
class TThreadLocalSoftwareCommandBufferSystemData;

// One frame per call being run, on the stack of the thread running it.
struct TDeferredCallExecutionFrame {
  TThreadLocalSoftwareCommandBufferSystemData* systemData;
  TDeferredCallExecutionFrame* previous;
  TAbstractDeferredCall* call;
  // Numbers the calls stamped while this one runs.
  std::uint32_t sequence;
  void* scratch;
};

class TThreadLocalSoftwareCommandBufferSystemData final : public TThreadLocalObject {
 public:
  TThreadLocalSoftwareCommandBufferSystemData() = default;
  // Releases the port handle held.
  ~TThreadLocalSoftwareCommandBufferSystemData() override = default;

  // The handle the thread's current call runs under (null outside calls).
  TCompletionPortHandleRef currentHandle;
  TDeferredCallExecutionFrame* currentFrame = nullptr;
  // Numbers the calls stamped on this thread outside any call: {0}, {1}, ...
  std::uint32_t rootSequence = 0;
};

// The name of the thread-local slot that holds each thread's system data.
inline constexpr const char kCommandBufferSystemDataSlotName[] = "TThreadLocalSoftwareCommandBufferSystemData";

// The slot's index: looked up by name, registered when absent (once per process).
std::uint32_t RegisterCommandBufferSystemDataSlot();
// The calling thread's system data, created on first use; the thread must be attached to the engine.
TThreadLocalSoftwareCommandBufferSystemData* GetCommandBufferSystemData();
// Destroys the calling thread's system data (releasing its handle) and clears the slot.
void ReleaseCommandBufferSystemData();
// The calling thread's current handle (null outside calls).
TCompletionPortHandleRef& GetCurrentHandle();

// Gives a call without ordering ids the ids of the call running on this thread followed by the
// running call's next sequence number; with no running call, the next number of the thread's root
// counter. A call that has ids keeps them.
void StampOrderingIds(TAbstractDeferredCall* call);

// Runs the call under a new execution frame. An exception leaving the call is shown through the
// engine dialog and thrown on unchanged.
void ExecuteCall(TSoftwareCommandBufferEvaluator* evaluator, TAbstractDeferredCall* call,
                 TThreadLocalSoftwareCommandBufferSystemData* systemData);

}  // namespace Orvan
