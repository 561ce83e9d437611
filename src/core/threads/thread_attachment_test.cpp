#include "core/threads/thread_attachment.h"

#include <gtest/gtest.h>

#include <thread>

#include "core/threads/thread_id.h"
#include "core/threads/thread_local_storage.h"

namespace Orvan {
namespace {

TEST(ThreadAttachment, TheMainThreadIsTheOneThatRanTheStaticInitialisers) {
  EXPECT_EQ(GetEngineMainThreadId(), GetCurrentThreadId());
  EXPECT_TRUE(IsEngineMainThread());
  // The engine's start-up attached it.
  EXPECT_NE(GetCurrentThreadIndex(), 0u);
  EXPECT_GE(GetAttachedThreadCount(), 1u);
}

TEST(ThreadAttachmentThreaded, AttachRegistersOnceButCountsEveryCall) {
  TThreadLocalStorageManager* manager = GetThreadLocalStorageManager();
  const std::uint32_t attached = GetAttachedThreadCount();
  const std::uint32_t registered = manager->GetThreadCount();
  struct TSeen {
    bool mainThread = true;
    std::uint32_t indexAfterFirst = 0;
    std::uint32_t indexAfterSecond = 0;
    std::uint32_t attachedAfterTwo = 0;
    std::uint32_t registeredAfterTwo = 0;
    std::uint32_t indexAfterDetach = 1;
    std::uint32_t attachedAfterDetach = 0;
    std::uint32_t registeredAfterDetach = 0;
    std::uint32_t attachedAfterSecondDetach = 0;
  } seen;
  std::thread([&] {
    seen.mainThread = IsEngineMainThread();
    AttachThreadToEngine();
    seen.indexAfterFirst = GetCurrentThreadIndex();
    AttachThreadToEngine();
    seen.indexAfterSecond = GetCurrentThreadIndex();
    seen.attachedAfterTwo = GetAttachedThreadCount();
    seen.registeredAfterTwo = manager->GetThreadCount();
    DetachThreadFromEngine();
    seen.indexAfterDetach = GetCurrentThreadIndex();
    seen.attachedAfterDetach = GetAttachedThreadCount();
    seen.registeredAfterDetach = manager->GetThreadCount();
    DetachThreadFromEngine();  // not registered any more: only uncounted
    seen.attachedAfterSecondDetach = GetAttachedThreadCount();
  }).join();
  EXPECT_FALSE(seen.mainThread);
  EXPECT_NE(seen.indexAfterFirst, 0u);
  EXPECT_EQ(seen.indexAfterSecond, seen.indexAfterFirst);
  EXPECT_EQ(seen.attachedAfterTwo, attached + 2);
  EXPECT_EQ(seen.registeredAfterTwo, registered + 1);
  EXPECT_EQ(seen.indexAfterDetach, 0u);
  EXPECT_EQ(seen.attachedAfterDetach, attached + 1);
  EXPECT_EQ(seen.registeredAfterDetach, registered);
  EXPECT_EQ(seen.attachedAfterSecondDetach, attached);
}

}  // namespace
}  // namespace Orvan
