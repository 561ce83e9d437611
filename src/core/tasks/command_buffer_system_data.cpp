// Per-thread command-buffer data, ordering-id stamping and the single-call execution step.
#include "core/tasks/command_buffer_system_data.h"

#include <atomic>
#include <exception>

#include "core/diagnostics/dialog.h"
#include "core/memory/global_allocation.h"
#include "core/tasks/deferred_call.h"
#include "core/text/string_streamable.h"

namespace Orvan {

namespace {

constexpr std::uint32_t kNoSlot = TThreadLocalStorageManager::kNoSlot;
std::atomic<std::uint32_t> g_systemDataSlot{kNoSlot};

// Site of the dialog that reports an exception leaving a deferred call.
constexpr std::uint32_t kCallExceptionDialogId = 58;
// Calls carry no debug name in this build.
constexpr const char kNoDebugName[] = "NoDebugNameInNoFrameProfiler";
constexpr const char kStdExceptionFormat[] = "Le EvalNow de la commande \"%1\" a jet\u00e9 une exception!\n%2\n%3";
constexpr const char kOtherExceptionFormat[] = "Le EvalNow de la commande \"%1\" a jet\u00e9 une exception!\n%2";

void ReportCallException(const std::exception* exception) {
  const TDialogDescriptor descriptor{0, kCallExceptionDialogId, 1, kDialogButtonsIgnoreOnceIgnoreAlwaysQuit,
                                     kQuitGameCaption, 0};
  const TStringStreamableImpl<const char[sizeof(kNoDebugName)]> name(kNoDebugName);
  if (exception != nullptr) {
    const char* what = exception->what();
    const TStringStreamableImpl<const char* const> whatText(what);
    const TStringStreamableImpl<const char[1]> empty("");
    const TStringStreamable* arguments[] = {&name, &whatText, &empty};
    OrvDialog(&descriptor, kStdExceptionFormat, arguments, 3);
  } else {
    const TStringStreamableImpl<const char[1]> empty("");
    const TStringStreamable* arguments[] = {&name, &empty};
    OrvDialog(&descriptor, kOtherExceptionFormat, arguments, 2);
  }
}

// Restores the thread's previous frame and frees the scratch block, also when the call throws.
class TFrameScope {
 public:
  TFrameScope(TDeferredCallExecutionFrame& frame) : frame_(frame) { frame.systemData->currentFrame = &frame; }
  ~TFrameScope() {
    frame_.systemData->currentFrame = frame_.previous;
    if (frame_.scratch != nullptr) FreeMemory(kDomainEngine, frame_.scratch);
  }
  TFrameScope(const TFrameScope&) = delete;
  TFrameScope& operator=(const TFrameScope&) = delete;

 private:
  TDeferredCallExecutionFrame& frame_;
};

}  // namespace

std::uint32_t RegisterCommandBufferSystemDataSlot() {
  TThreadLocalStorageManager* manager = GetThreadLocalStorageManager();
  TMutexLocker locker(*GetThreadLocalStorageMutex());
  std::uint32_t slot = manager->FindSlotIndex(kCommandBufferSystemDataSlotName);
  if (slot == kNoSlot) slot = manager->RegisterSlot(kCommandBufferSystemDataSlotName);
  g_systemDataSlot.store(slot, std::memory_order_release);
  return slot;
}

TThreadLocalSoftwareCommandBufferSystemData* GetCommandBufferSystemData() {
  std::uint32_t slot = g_systemDataSlot.load(std::memory_order_acquire);
  if (slot == kNoSlot) slot = RegisterCommandBufferSystemDataSlot();
  auto* data = static_cast<TThreadLocalSoftwareCommandBufferSystemData*>(ReadThreadLocalSlot(slot));
  if (data == nullptr) {
    data = new TThreadLocalSoftwareCommandBufferSystemData;
    GetThreadLocalStorageManager()->SetSlot(slot, data);
  }
  return data;
}

void ReleaseCommandBufferSystemData() {
  const std::uint32_t slot = g_systemDataSlot.load(std::memory_order_acquire);
  if (slot == kNoSlot || GetCurrentThreadSlotArray() == nullptr) return;
  TThreadLocalObject* data = ReadThreadLocalSlot(slot);
  if (data == nullptr) return;
  GetThreadLocalStorageManager()->SetSlot(slot, nullptr);
  delete data;
}

TCompletionPortHandleRef& GetCurrentHandle() { return GetCommandBufferSystemData()->currentHandle; }

void StampOrderingIds(TAbstractDeferredCall* call) {
  TAbstractDeferredCall::TOrderingIds& ids = call->GetOrderingIds();
  if (!ids.IsEmpty()) return;
  TThreadLocalSoftwareCommandBufferSystemData* data = GetCommandBufferSystemData();
  TDeferredCallExecutionFrame* frame = data->currentFrame;
  if (frame == nullptr) {
    ids.PushBack(data->rootSequence++);
    return;
  }
  if (frame->call != call) ids = frame->call->GetOrderingIds();
  ids.PushBack(frame->sequence++);
}

void ExecuteCall(TSoftwareCommandBufferEvaluator* evaluator, TAbstractDeferredCall* call,
                 TThreadLocalSoftwareCommandBufferSystemData* systemData) {
  TDeferredCallExecutionFrame frame{systemData, systemData->currentFrame, call, 0, nullptr};
  try {
    TFrameScope scope(frame);
    call->EvalNow(evaluator);
  } catch (const std::exception& exception) {
    ReportCallException(&exception);
    throw;
  } catch (...) {
    ReportCallException(nullptr);
    throw;
  }
}

}  // namespace Orvan
