// Attaching threads to the engine, and the main thread's record.
#include "core/threads/thread_attachment.h"

#include <atomic>
#include <cassert>

#include "core/threads/thread_id.h"
#include "core/threads/thread_local_storage.h"

namespace Orvan {

namespace {

std::atomic<std::uint32_t> g_attachedThreadCount{0};

}  // namespace

// Static initialisation runs on the main thread.
TEngineMainThreadRecord::TEngineMainThreadRecord() noexcept : threadId(GetCurrentThreadId()) {}

void AttachThreadToEngine() {
  TThreadLocalStorageManager* manager = GetThreadLocalStorageManager();
  assert(manager != nullptr && "the thread-local storage is created at engine start-up");
  manager->RegisterThread();
  g_attachedThreadCount.fetch_add(1, std::memory_order_acq_rel);
}

void DetachThreadFromEngine() {
  if (TThreadLocalStorageManager* manager = GetThreadLocalStorageManager()) manager->UnregisterThread();
  g_attachedThreadCount.fetch_sub(1, std::memory_order_acq_rel);
}

std::uint32_t GetAttachedThreadCount() { return g_attachedThreadCount.load(std::memory_order_acquire); }

std::uint32_t GetEngineMainThreadId() { return EngineMainThreadRecord.threadId; }

bool IsEngineMainThread() { return GetCurrentThreadId() == EngineMainThreadRecord.threadId; }

}  // namespace Orvan
