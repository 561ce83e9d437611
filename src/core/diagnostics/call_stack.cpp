// Call-stack capture, the frame-array pools and the demangling of backtrace lines.
#include "core/diagnostics/call_stack.h"

#include <cxxabi.h>
#include <unistd.h>

#include <boost/pool/pool.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/singletons/created_on_first_use.h"
#include "core/sync/mutex.h"

namespace Orvan {

namespace {

// Chunk sizes: the frame counts of each pool times 8-byte frames.
constexpr std::uint32_t kSmallChunkFrames = 32;
constexpr std::uint32_t kSimpleOverflowChunkFrames = 10;
constexpr std::uint32_t kLong2ChunkFrames = 64;
constexpr std::uint32_t kLong3ChunkFrames = 128;
constexpr std::uint32_t kLong4ChunkFrames = 255;
// Every pool's first block holds 32 chunks.
constexpr std::size_t kFirstBlockChunks = 32;

template <std::uint32_t kChunkFrames>
class TFramePoolHolder {
 public:
  TFramePoolHolder() : pool_(kChunkFrames * kCallStackFrameBytes, kFirstBlockChunks) {}

  void** Allocate(std::size_t chunks) {
    TMutexLocker lock(mutex_);
    return static_cast<void**>(pool_.ordered_malloc(chunks));
  }
  void Free(void** frames, std::size_t chunks) {
    TMutexLocker lock(mutex_);
    pool_.ordered_free(frames, chunks);
  }

 private:
  // Destroyed at exit in reverse order: the mutex first, then the pool with every block it holds.
  boost::pool<> pool_;
  TMutex mutex_;
};

TCreatedOnFirstUse<TFramePoolHolder<kSmallChunkFrames>> g_smallPool;
TCreatedOnFirstUse<TFramePoolHolder<kSimpleOverflowChunkFrames>> g_simpleOverflowPool;
TCreatedOnFirstUse<TFramePoolHolder<kLong2ChunkFrames>> g_long2Pool;
TCreatedOnFirstUse<TFramePoolHolder<kLong3ChunkFrames>> g_long3Pool;
TCreatedOnFirstUse<TFramePoolHolder<kLong4ChunkFrames>> g_long4Pool;

// Calls `use` with the holder of the pool, built on first use.
template <typename TUse>
decltype(auto) WithFramePool(ECallStackFramePool pool, TUse&& use) {
  switch (pool) {
    case ECallStackFramePool::kSmall:
      return use(g_smallPool.Get());
    case ECallStackFramePool::kSimpleOverflow:
      return use(g_simpleOverflowPool.Get());
    case ECallStackFramePool::kLong2:
      return use(g_long2Pool.Get());
    case ECallStackFramePool::kLong3:
      return use(g_long3Pool.Get());
    case ECallStackFramePool::kLong4:
      return use(g_long4Pool.Get());
  }
  std::abort();  // no such pool: SelectCallStackFramePool never answers one
}

std::uint32_t ChunkFrames(ECallStackFramePool pool) {
  switch (pool) {
    case ECallStackFramePool::kSmall:
      return kSmallChunkFrames;
    case ECallStackFramePool::kSimpleOverflow:
      return kSimpleOverflowChunkFrames;
    case ECallStackFramePool::kLong2:
      return kLong2ChunkFrames;
    case ECallStackFramePool::kLong3:
      return kLong3ChunkFrames;
    case ECallStackFramePool::kLong4:
      return kLong4ChunkFrames;
  }
  return kSmallChunkFrames;
}

// Enough chunks for `count` frames: one for every count a pool is meant for.
std::size_t ChunksFor(ECallStackFramePool pool, std::uint32_t count) {
  const std::uint32_t perChunk = ChunkFrames(pool);
  return (static_cast<std::size_t>(count) + perChunk - 1) / perChunk;
}

[[noreturn]] void AbortOnFrameArrayFailure(std::uint32_t count) {
  const std::size_t elements = count;
  std::printf("Critical error! Impossible to allocate a TSimpleCallStack (%zd elements)!\n", elements);
  std::fflush(stdout);
  std::abort();
}

void** CopyFrames(ECallStackKind kind, void* const* frames, std::uint32_t count) {
  if (count == 0) return nullptr;
  void** copy = AllocateCallStackFrames(kind, count);
  std::memcpy(copy, frames, count * sizeof(void*));
  return copy;
}

// The usable depth of a long stack; a skip beyond its limit leaves none.
std::uint32_t UsableLongDepth(std::uint32_t skip, std::uint32_t depth) {
  const std::uint64_t needed = std::uint64_t{skip} + depth + 1;
  if (needed <= 254) return depth;
  return skip >= 252 ? 0 : 252 - skip;
}

}  // namespace

std::uint32_t DropLeadingFrames(void** frames, int taken, std::uint32_t skip, const void* callerReturn) {
  if (taken <= 0) return 0;
  const std::uint32_t total = static_cast<std::uint32_t>(taken);
  // Interposed frames are few: look for the caller's return address among the first ones.
  constexpr std::uint32_t kInterposedFramesLimit = 4;
  std::uint32_t own = 0;
  for (std::uint32_t i = 1; i < total && i <= kInterposedFramesLimit; ++i) {
    if (frames[i] == callerReturn) {
      own = i - 1;
      break;
    }
  }
  const std::uint64_t first = std::uint64_t{own} + skip;
  if (first >= total) return 0;
  const std::uint32_t count = total - static_cast<std::uint32_t>(first);
  std::memmove(frames, frames + first, count * sizeof(void*));
  return count;
}

std::uint32_t GetCallStackFramePoolChunkBytes(ECallStackFramePool pool) {
  return ChunkFrames(pool) * kCallStackFrameBytes;
}

ECallStackFramePool SelectCallStackFramePool(ECallStackKind kind, std::uint32_t count) {
  if (count < 32) return ECallStackFramePool::kSmall;
  if (kind == ECallStackKind::kSimple) return ECallStackFramePool::kSimpleOverflow;
  if (count < 64) return ECallStackFramePool::kLong2;
  if (count < 128) return ECallStackFramePool::kLong3;
  return ECallStackFramePool::kLong4;
}

void** AllocateCallStackFrames(ECallStackKind kind, std::uint32_t count) {
  const ECallStackFramePool pool = SelectCallStackFramePool(kind, count);
  const std::size_t chunks = ChunksFor(pool, count);
  void** const frames = WithFramePool(pool, [chunks](auto& holder) { return holder.Allocate(chunks); });
  if (frames == nullptr) AbortOnFrameArrayFailure(count);
  return frames;
}

void FreeCallStackFrames(ECallStackKind kind, void** frames, std::uint32_t count) {
  if (frames == nullptr) return;
  const ECallStackFramePool pool = SelectCallStackFramePool(kind, count);
  const std::size_t chunks = ChunksFor(pool, count);
  WithFramePool(pool, [frames, chunks](auto& holder) { holder.Free(frames, chunks); });
}

void WarmUpSimpleCallStackPools() {
  g_smallPool.Get();
  g_simpleOverflowPool.Get();
}

void WarmUpLongCallStackPools() {
  g_smallPool.Get();
  g_long2Pool.Get();
  g_long3Pool.Get();
  g_long4Pool.Get();
}

std::uint32_t GetCallStackProcessId() { return static_cast<std::uint32_t>(::getpid()); }

// ---- TSimpleCallStack

TSimpleCallStack::TSimpleCallStack(std::uint32_t skip, std::uint32_t /*depth*/, std::uint32_t threadId,
                                   std::uint32_t processId)
    : TAbstractCallStack(processId, threadId) {
  void* captured[kCaptureCapacity];
  count_ = CaptureBacktraceOfThread(captured, kCaptureCapacity, skip + 1, threadId);
  frames_ = CopyFrames(ECallStackKind::kSimple, captured, count_);
}

TSimpleCallStack::TSimpleCallStack(void* const* frames, std::uint32_t count)
    : TAbstractCallStack(GetCallStackProcessId(), GetCurrentThreadId()) {
  frames_ = CopyFrames(ECallStackKind::kSimple, frames, count);
  count_ = count;
}

TSimpleCallStack::TSimpleCallStack(const TSimpleCallStack& other)
    : TSimpleCallStack(other.frames_, other.count_) {}

TSimpleCallStack& TSimpleCallStack::operator=(const TSimpleCallStack& other) {
  if (this == &other) return *this;
  FreeCallStackFrames(ECallStackKind::kSimple, frames_, count_);
  frames_ = nullptr;
  count_ = 0;
  frames_ = CopyFrames(ECallStackKind::kSimple, other.frames_, other.count_);
  count_ = other.count_;
  return *this;
}

TSimpleCallStack::~TSimpleCallStack() { FreeCallStackFrames(ECallStackKind::kSimple, frames_, count_); }

// ---- TLongCallStack

TLongCallStack::TLongCallStack(std::uint32_t skip, std::uint32_t depth, std::uint32_t threadId,
                               std::uint32_t processId)
    : TAbstractCallStack(processId, threadId) {
  if (UsableLongDepth(skip, depth) == 0) flag_ = 0;
}

TLongCallStack::TLongCallStack(const TLongCallStack& other)
    : TAbstractCallStack(GetCallStackProcessId(), GetCurrentThreadId()) {
  frames_ = CopyFrames(ECallStackKind::kLong, other.frames_, other.count_);
  count_ = other.count_;
}

TLongCallStack& TLongCallStack::operator=(const TLongCallStack& other) {
  if (this == &other) return *this;
  FreeCallStackFrames(ECallStackKind::kLong, frames_, count_);
  frames_ = nullptr;
  count_ = 0;
  frames_ = CopyFrames(ECallStackKind::kLong, other.frames_, other.count_);
  count_ = other.count_;
  return *this;
}

TLongCallStack::~TLongCallStack() { FreeCallStackFrames(ECallStackKind::kLong, frames_, count_); }

// ---- Demangling

TOrvString<char> DemangleBacktraceLine(const char* line) {
  const char* open = std::strchr(line, '(');
  const char* plus = std::strrchr(line, '+');
  if (open == nullptr || plus == nullptr || plus <= open) return TOrvString<char>(line);
  const std::string mangled(open + 1, plus);
  int status = -1;
  char* demangled = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
  if (status != 0 || demangled == nullptr) {
    std::free(demangled);
    return TOrvString<char>(line);
  }
  TOrvString<char> result(line, static_cast<std::uint32_t>(open + 1 - line));
  result += demangled;
  result += plus;
  std::free(demangled);
  return result;
}

}  // namespace Orvan
