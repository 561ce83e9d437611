// Captured call stacks: the return addresses of a thread, attached to assertion reports and
// dialogs. Frame arrays come from fixed-size chunk pools, so a capture costs one backtrace call,
// one pooled block and one copy. Symbolisation lives in call_stack_symbols.h.
#pragma once

#include <execinfo.h>

#include <cstdint>

#include "core/text/engine_string.h"
#include "core/threads/thread_id.h"

namespace Orvan {

// Moves the frames after the caller's first `skip` ones to the front and returns their count (0
// when none is left). The caller's own frame is the one just before `callerReturn` (the caller's
// return address); a backtrace interposed by a tool adds frames before it, which are dropped too.
std::uint32_t DropLeadingFrames(void** frames, int taken, std::uint32_t skip, const void* callerReturn);

// Takes up to `capacity` return addresses of the calling thread and drops the first `skip` of
// them; returns the count kept (0 when skip >= the count taken). Always inlined, so frame 0 is the
// caller's own frame.
__attribute__((always_inline)) inline std::uint32_t CaptureBacktrace(void** frames, std::uint32_t capacity,
                                                                     std::uint32_t skip) {
  return DropLeadingFrames(frames, ::backtrace(frames, static_cast<int>(capacity)), skip,
                           __builtin_return_address(0));
}

// Only a thread's own stack can be taken: 0 for any other thread id.
__attribute__((always_inline)) inline std::uint32_t CaptureBacktraceOfThread(void** frames, std::uint32_t capacity,
                                                                             std::uint32_t skip,
                                                                             std::uint32_t threadId) {
  if (threadId != GetCurrentThreadId()) return 0;
  return CaptureBacktrace(frames, capacity, skip);
}

class TAbstractCallStack {
 public:
  virtual ~TAbstractCallStack() = default;

  std::uint32_t GetProcessId() const { return processId_; }
  std::uint32_t GetThreadId() const { return threadId_; }
  std::uint8_t GetFlag() const { return flag_; }
  std::uint32_t GetFrameCount() const { return count_; }
  void* const* GetFrames() const { return frames_; }

 protected:
  TAbstractCallStack(std::uint32_t processId, std::uint32_t threadId) : processId_(processId), threadId_(threadId) {}
  TAbstractCallStack(const TAbstractCallStack&) = delete;
  TAbstractCallStack& operator=(const TAbstractCallStack&) = delete;

  std::uint32_t processId_;
  std::uint32_t reserved_ = 0;  // read by nothing
  std::uint32_t threadId_;
  std::uint8_t flag_ = 1;
  std::uint32_t count_ = 0;
  void** frames_ = nullptr;  // null when count_ is 0
};

// Captures at most 10 frames: the constructor's own frame and `skip` more are dropped, so at most
// 9 - skip remain. `depth` does not limit the capture.
class TSimpleCallStack : public TAbstractCallStack {
 public:
  static constexpr std::uint32_t kCaptureCapacity = 10;

  // Captures nothing (count 0) unless threadId is the calling thread's engine id.
  __attribute__((noinline)) TSimpleCallStack(std::uint32_t skip, std::uint32_t depth, std::uint32_t threadId,
                                             std::uint32_t processId);
  // A pooled copy of the frames, with the calling process's and thread's ids.
  TSimpleCallStack(void* const* frames, std::uint32_t count);
  // Copies take the copier's process and thread ids, not the source's.
  TSimpleCallStack(const TSimpleCallStack& other);
  TSimpleCallStack& operator=(const TSimpleCallStack& other);
  ~TSimpleCallStack() override;
};

// Captures nothing; only constructed, copied and destroyed. Its flag is 0 when the usable depth is
// 0: the depth, or 252 - skip when skip + depth + 1 exceeds 254.
class TLongCallStack : public TAbstractCallStack {
 public:
  TLongCallStack(std::uint32_t skip, std::uint32_t depth, std::uint32_t threadId, std::uint32_t processId);
  TLongCallStack(const TLongCallStack& other);
  TLongCallStack& operator=(const TLongCallStack& other);
  ~TLongCallStack() override;
};

// The process id as the call stacks keep it.
std::uint32_t GetCallStackProcessId();

// ---- Frame-array pools. Each is a boost::pool (first block of 32 chunks) under its own TMutex,
// built on first use and destroyed at exit. Frames are 8 bytes here; a chunk holds 32 frames in
// the small pool, 64, 128 and 255 in the long pools, and 10 in the simple overflow pool. An array
// longer than one chunk takes as many contiguous chunks as its count needs.
enum class ECallStackKind { kSimple, kLong };
enum class ECallStackFramePool : std::uint32_t { kSmall, kSimpleOverflow, kLong2, kLong3, kLong4 };

inline constexpr std::uint32_t kCallStackFrameBytes = sizeof(void*);
std::uint32_t GetCallStackFramePoolChunkBytes(ECallStackFramePool pool);
// Small for 1 to 31 frames; simple stacks above go to the overflow pool, long stacks to long 2
// (32-63), long 3 (64-127) and long 4 (128 and more).
ECallStackFramePool SelectCallStackFramePool(ECallStackKind kind, std::uint32_t count);
// Room for `count` frames (count > 0). A pool that yields nothing ends the process with a message.
void** AllocateCallStackFrames(ECallStackKind kind, std::uint32_t count);
void FreeCallStackFrames(ECallStackKind kind, void** frames, std::uint32_t count);

// Build the pools ahead of the first capture; nothing depends on calling them.
void WarmUpSimpleCallStackPools();
void WarmUpLongCallStackPools();

// Turns "module(mangled+offset) [address]" into the same line with the name demangled; a line
// without "(" or "+", or whose name does not demangle, comes back unchanged.
TOrvString<char> DemangleBacktraceLine(const char* line);

}  // namespace Orvan
