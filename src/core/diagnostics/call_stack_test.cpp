#include "core/diagnostics/call_stack.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/diagnostics/call_stack_symbols.h"
#include "support/process_allocator_seam.h"

// Probes with external linkage, so the executable's dynamic symbol table names them.
namespace OrvTest {

__attribute__((noinline)) void CallStackProbeInner(std::ostream& out) {
  Orvan::TSimpleCallStack stack(0, 10, Orvan::GetCurrentThreadId(), Orvan::GetCallStackProcessId());
  out << stack;
  asm volatile("" ::: "memory");
}

__attribute__((noinline)) void CallStackProbeOuter(std::ostream& out) {
  CallStackProbeInner(out);
  asm volatile("" ::: "memory");
}

std::vector<std::string> g_probeLines;

__attribute__((noinline)) void BacktraceSymbolsProbe(int marker) {
  std::vector<std::string>& lines = g_probeLines;
  lines.clear();
  lines.reserve(static_cast<std::size_t>(marker));
  Orvan::TSimpleCallStack stack(0, 10, Orvan::GetCurrentThreadId(), Orvan::GetCallStackProcessId());
  char** symbols = ::backtrace_symbols(stack.GetFrames(), static_cast<int>(stack.GetFrameCount()));
  for (std::uint32_t i = 0; i < stack.GetFrameCount(); ++i) {
    lines.push_back(Orvan::DemangleBacktraceLine(symbols[i]).c_str());
  }
  std::free(symbols);
  asm volatile("" ::: "memory");
}

}  // namespace OrvTest

namespace Orvan {
namespace {

std::string Demangle(const std::string& name) {
  int status = -1;
  char* text = abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status);
  std::string result = status == 0 ? text : name;
  std::free(text);
  return result;
}

// The demangled function names of a written stack, one per line.
std::vector<std::string> FunctionNames(const std::string& written) {
  std::vector<std::string> names;
  std::istringstream lines(written);
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t marker = line.find("\" line 0 ");
    names.push_back(marker == std::string::npos ? "?" : Demangle(line.substr(marker + 9)));
  }
  return names;
}

TEST(CallStack, CaptureNamesTheCallingFunctionsInOrder) {
  std::ostringstream written;
  OrvTest::CallStackProbeOuter(written);
  const std::vector<std::string> names = FunctionNames(written.str());
  ASSERT_GE(names.size(), 2u);
  EXPECT_LE(names.size(), 9u);
  // The constructor's own frame is dropped: the stack starts at its caller.
  EXPECT_EQ(names[0], "OrvTest::CallStackProbeInner(std::ostream&)");
  EXPECT_EQ(names[1], "OrvTest::CallStackProbeOuter(std::ostream&)");
}

TEST(CallStack, BacktraceLinesOfACapturedStackDemangle) {
  OrvTest::BacktraceSymbolsProbe(10);
  const std::vector<std::string> lines = OrvTest::g_probeLines;
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("(OrvTest::BacktraceSymbolsProbe(int)+0x"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find(") [0x"), std::string::npos) << lines[0];
}

TEST(CallStack, DemangleBacktraceLineReplacesOnlyAValidName) {
  const struct {
    const char* line;
    const char* expected;
  } cases[] = {
      {"./server(_ZN5Orvan3FooEv+0x1c) [0x55d0]", "./server(Orvan::Foo()+0x1c) [0x55d0]"},
      {"./server(_ZN5Orvan3BarEi+0x0) [0x10]", "./server(Orvan::Bar(int)+0x0) [0x10]"},
      {"./server [0x55d0]", "./server [0x55d0]"},                    // no "("
      {"./server(main) [0x55d0]", "./server(main) [0x55d0]"},        // no "+"
      {"./server(main+0x10) [0x55d0]", "./server(main+0x10) [0x55d0]"},  // not a mangled name
      {"./server(+0x10) [0x55d0]", "./server(+0x10) [0x55d0]"},      // empty name
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(DemangleBacktraceLine(c.line).c_str(), c.expected) << c.line;
  }
}

TEST(CallStack, CaptureBacktraceDropsSkippedFrames) {
  void* frames[3];
  EXPECT_EQ(CaptureBacktrace(frames, 3, 3), 0u);  // backtrace fills all 3, all 3 skipped
  EXPECT_EQ(CaptureBacktrace(frames, 3, 7), 0u);
  EXPECT_EQ(CaptureBacktrace(frames, 0, 0), 0u);

  void* whole[6];
  void* skipped[6];
  const std::uint32_t wholeCount = CaptureBacktrace(whole, 6, 0);
  const std::uint32_t skippedCount = CaptureBacktrace(skipped, 6, 1);
  // The test runner's frames are deep enough to fill the buffer (less a tool's interposed frame).
  ASSERT_GE(wholeCount, 5u);
  ASSERT_EQ(skippedCount, wholeCount - 1);
  for (std::uint32_t i = 0; i + 1 < wholeCount; ++i) EXPECT_EQ(skipped[i], whole[i + 1]) << i;
}

// A backtrace interposed by a tool (a sanitizer's) adds its own frame before the caller's.
TEST(CallStack, FramesBeforeTheCallersOwnAreDropped) {
  void* const interposed = reinterpret_cast<void*>(0x10);
  void* const own = reinterpret_cast<void*>(0x20);
  void* const callerReturn = reinterpret_cast<void*>(0x30);
  void* const above = reinterpret_cast<void*>(0x40);
  const struct {
    std::vector<void*> taken;
    std::uint32_t skip;
    std::vector<void*> kept;
  } cases[] = {
      {{own, callerReturn, above}, 0, {own, callerReturn, above}},
      {{own, callerReturn, above}, 1, {callerReturn, above}},
      {{interposed, own, callerReturn, above}, 0, {own, callerReturn, above}},
      {{interposed, own, callerReturn, above}, 2, {above}},
      {{interposed, own, callerReturn, above}, 3, {}},
      {{own, above}, 1, {above}},  // no return address to place the caller: frame 0 is its own
      {{}, 0, {}},
  };
  for (const auto& c : cases) {
    std::vector<void*> frames = c.taken;
    frames.resize(8);
    const std::uint32_t count =
        DropLeadingFrames(frames.data(), static_cast<int>(c.taken.size()), c.skip, callerReturn);
    EXPECT_EQ(std::vector<void*>(frames.begin(), frames.begin() + count), c.kept) << c.taken.size() << " " << c.skip;
  }
}

TEST(CallStack, OtherThreadsStackIsEmptyAndWritesNothing) {
  const TSimpleCallStack stack(0, 10, GetCurrentThreadId() + 1000, GetCallStackProcessId());
  EXPECT_EQ(stack.GetFrameCount(), 0u);
  EXPECT_EQ(stack.GetFrames(), nullptr);
  EXPECT_EQ(stack.GetThreadId(), GetCurrentThreadId() + 1000);
  std::ostringstream narrow;
  narrow << stack;
  EXPECT_EQ(narrow.str(), "");
  std::wostringstream wide;
  wide << stack;
  EXPECT_EQ(wide.str(), L"");
  void* frames[4];
  EXPECT_EQ(CaptureBacktraceOfThread(frames, 4, 0, GetCurrentThreadId() + 1000), 0u);
}

TEST(CallStack, FrameArrayConstructorCopiesAndCopiesTakeTheCopiersIds) {
  void* frames[3] = {reinterpret_cast<void*>(0x1111), reinterpret_cast<void*>(0x2222),
                     reinterpret_cast<void*>(0x3333)};
  TSimpleCallStack stack(frames, 3);
  EXPECT_EQ(stack.GetThreadId(), GetCurrentThreadId());
  EXPECT_EQ(stack.GetProcessId(), GetCallStackProcessId());
  EXPECT_EQ(stack.GetFlag(), 1u);
  ASSERT_EQ(stack.GetFrameCount(), 3u);
  EXPECT_NE(stack.GetFrames(), frames);
  EXPECT_EQ(stack.GetFrames()[2], frames[2]);

  const TSimpleCallStack foreign(0, 10, 0xFFFF, 1234);
  TSimpleCallStack copy(foreign);
  EXPECT_EQ(copy.GetProcessId(), GetCallStackProcessId());
  EXPECT_EQ(copy.GetThreadId(), GetCurrentThreadId());
  copy = stack;
  ASSERT_EQ(copy.GetFrameCount(), 3u);
  EXPECT_NE(copy.GetFrames(), stack.GetFrames());
  EXPECT_EQ(copy.GetFrames()[0], frames[0]);
  copy = foreign;
  EXPECT_EQ(copy.GetFrameCount(), 0u);
  EXPECT_EQ(copy.GetFrames(), nullptr);
}

TEST(CallStack, PoolsAreChosenByKindAndCount) {
  const struct {
    ECallStackKind kind;
    std::uint32_t count;
    ECallStackFramePool pool;
  } cases[] = {
      {ECallStackKind::kSimple, 1, ECallStackFramePool::kSmall},
      {ECallStackKind::kSimple, 31, ECallStackFramePool::kSmall},
      {ECallStackKind::kSimple, 32, ECallStackFramePool::kSimpleOverflow},
      {ECallStackKind::kSimple, 500, ECallStackFramePool::kSimpleOverflow},
      {ECallStackKind::kLong, 31, ECallStackFramePool::kSmall},
      {ECallStackKind::kLong, 32, ECallStackFramePool::kLong2},
      {ECallStackKind::kLong, 63, ECallStackFramePool::kLong2},
      {ECallStackKind::kLong, 64, ECallStackFramePool::kLong3},
      {ECallStackKind::kLong, 127, ECallStackFramePool::kLong3},
      {ECallStackKind::kLong, 128, ECallStackFramePool::kLong4},
  };
  for (const auto& c : cases) EXPECT_EQ(SelectCallStackFramePool(c.kind, c.count), c.pool) << c.count;
  EXPECT_EQ(GetCallStackFramePoolChunkBytes(ECallStackFramePool::kSmall), 32 * sizeof(void*));
  EXPECT_EQ(GetCallStackFramePoolChunkBytes(ECallStackFramePool::kLong4), 255 * sizeof(void*));
}

// Arrays longer than one chunk of their pool get room for every frame: two arrays taken one after
// the other never overlap.
TEST(CallStack, FrameArraysHoldTheirWholeCount) {
  const struct {
    ECallStackKind kind;
    std::uint32_t count;
  } cases[] = {{ECallStackKind::kSimple, 31}, {ECallStackKind::kSimple, 32}, {ECallStackKind::kSimple, 200},
               {ECallStackKind::kLong, 63},   {ECallStackKind::kLong, 300}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    void** first = AllocateCallStackFrames(c.kind, c.count);
    void** second = AllocateCallStackFrames(c.kind, c.count);
    for (std::uint32_t i = 0; i < c.count; ++i) first[i] = reinterpret_cast<void*>(std::uintptr_t{0xA000} + i);
    for (std::uint32_t i = 0; i < c.count; ++i) second[i] = reinterpret_cast<void*>(std::uintptr_t{0xB000} + i);
    std::uint32_t intact = 0;
    for (std::uint32_t i = 0; i < c.count; ++i) {
      intact += first[i] == reinterpret_cast<void*>(std::uintptr_t{0xA000} + i) ? 1 : 0;
    }
    EXPECT_EQ(intact, c.count);
    FreeCallStackFrames(c.kind, second, c.count);
    FreeCallStackFrames(c.kind, first, c.count);
  }
  std::vector<void*> frames(100, reinterpret_cast<void*>(0x42));
  TSimpleCallStack big(frames.data(), 100);
  TSimpleCallStack copy(big);
  EXPECT_EQ(copy.GetFrames()[99], reinterpret_cast<void*>(0x42));
}

TEST(CallStack, LongStackCapturesNothingAndFlagsAnUnusableDepth) {
  const struct {
    std::uint32_t skip;
    std::uint32_t depth;
    std::uint8_t flag;
  } cases[] = {{0, 10, 1}, {0, 0, 0}, {0, 253, 1}, {1, 253, 1}, {252, 10, 0}, {300, 10, 0}, {10, 0, 0}};
  for (const auto& c : cases) {
    const TLongCallStack stack(c.skip, c.depth, GetCurrentThreadId(), 77);
    EXPECT_EQ(stack.GetFlag(), c.flag) << c.skip << " " << c.depth;
    EXPECT_EQ(stack.GetFrameCount(), 0u);
    EXPECT_EQ(stack.GetFrames(), nullptr);
    EXPECT_EQ(stack.GetProcessId(), 77u);
    TLongCallStack copy(stack);
    EXPECT_EQ(copy.GetFrameCount(), 0u);
    copy = stack;
    EXPECT_EQ(copy.GetProcessId(), GetCallStackProcessId());
  }
  WarmUpSimpleCallStackPools();
  WarmUpLongCallStackPools();
}

// Runs in the death test's child: no core file, standard output joins the checked error output,
// and the process allocator fails, so a frame array needing a new pool block cannot be had.
void AllocateFramesWithoutMemory() {
  const rlimit noCore{0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);
  ::dup2(STDERR_FILENO, STDOUT_FILENO);
  OrvTest::InstallSeam();
  OrvTest::g_seam.failAllocate = true;
  AllocateCallStackFrames(ECallStackKind::kLong, 100000);
}

TEST(CallStackDeathTest, FrameArrayFailureEndsTheProcessWithItsCount) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(AllocateFramesWithoutMemory(), ::testing::KilledBySignal(SIGABRT),
              "Critical error! Impossible to allocate a TSimpleCallStack \\(100000 elements\\)!");
}

TEST(CallStackThreaded, CopyOfAnotherThreadsStackTakesTheCopiersThreadId) {
  std::uint32_t otherId = 0;
  TSimpleCallStack* captured = nullptr;
  std::thread worker([&] {
    otherId = GetCurrentThreadId();
    captured = new TSimpleCallStack(0, 10, otherId, GetCallStackProcessId());
  });
  worker.join();
  ASSERT_NE(captured, nullptr);
  EXPECT_EQ(captured->GetThreadId(), otherId);
  EXPECT_GT(captured->GetFrameCount(), 0u);
  const TSimpleCallStack copy(*captured);
  EXPECT_EQ(copy.GetThreadId(), GetCurrentThreadId());
  EXPECT_NE(copy.GetThreadId(), otherId);
  ASSERT_EQ(copy.GetFrameCount(), captured->GetFrameCount());
  EXPECT_EQ(copy.GetFrames()[0], captured->GetFrames()[0]);
  delete captured;
}

}  // namespace
}  // namespace Orvan
