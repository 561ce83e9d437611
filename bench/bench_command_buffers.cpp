// What running deferred calls through a command buffer costs: N member calls (one u32 argument)
// pushed as a sequential buffer on the immediate evaluator "IMMSCBS" and waited for, against the
// floor of this design (the same calls taken from their pool, run and deleted, with no buffer,
// handle or frame) and against N lambdas in a reserved std::vector<std::function<void()>>. A
// parallel buffer waited for off the main thread on a 4-worker evaluator is recorded beside them.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "core/tasks/command_buffer_evaluator.h"
#include "core/threads/thread_attachment.h"

namespace {

using namespace Orvan;

class TSink {
 public:
  void Add(std::uint32_t value) { sum_.fetch_add(value, std::memory_order_relaxed); }
  std::uint64_t Sum() const { return sum_.load(std::memory_order_relaxed); }

 private:
  std::atomic<std::uint64_t> sum_{0};
};

using TAddCall = TDeferredMemberFunctionCallWithParams<TSink, std::uint32_t>;

TSoftwareCommandBufferRef MakeBuffer(TSink& sink, std::uint32_t count, bool parallel) {
  TSoftwareCommandBufferRef buffer = TSoftwareCommandBufferRef::Create(parallel);
  for (std::uint32_t i = 0; i < count; ++i) {
    TDeferredCallHolder call = MakeDeferredMemberCall(&sink, &TSink::Add, i);
    buffer->AddCall(call);
  }
  return buffer;
}

void BM_RunCalls_ImmediateBuffer(benchmark::State& state) {
  // The multi-threaded evaluator is made immediate too: no worker runs beside the measure.
  InitSoftwareCommandBufferEvaluators(true);
  TSoftwareCommandBufferEvaluator* evaluator = GetSoftwareCommandBufferEvaluator(false);
  const auto count = static_cast<std::uint32_t>(state.range(0));
  TSink sink;
  for (auto _ : state) {
    TSoftwareCommandBufferRef buffer = MakeBuffer(sink, count, false);
    evaluator->PushCommandBufferWaitForCompletion(buffer, 3);
  }
  benchmark::DoNotOptimize(sink.Sum());
  state.SetItemsProcessed(state.iterations() * count);
  ShutdownSoftwareCommandBufferEvaluators();
}
BENCHMARK(BM_RunCalls_ImmediateBuffer)->Arg(16)->Arg(1024);

void BM_RunCalls_PoolFloor(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  TSink sink;
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < count; ++i) {
      TAbstractDeferredCall* call = new TAddCall(&sink, &TSink::Add, i);
      call->EvalNow(nullptr);
      delete call;
    }
  }
  benchmark::DoNotOptimize(sink.Sum());
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_RunCalls_PoolFloor)->Arg(16)->Arg(1024);

void BM_RunCalls_StdFunctionVector(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  TSink sink;
  std::vector<std::function<void()>> calls;
  calls.reserve(count);
  for (auto _ : state) {
    for (std::uint32_t i = 0; i < count; ++i) calls.emplace_back([&sink, i] { sink.Add(i); });
    for (std::function<void()>& call : calls) call();
    calls.clear();
  }
  benchmark::DoNotOptimize(sink.Sum());
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_RunCalls_StdFunctionVector)->Arg(16)->Arg(1024);

void BM_RunCalls_MultiThreadParallelBuffer(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  TSink sink;
  TSoftwareCommandBufferEvaluator evaluator("BENCH", false, 4, 2);
  // The waiter is not the main thread, so it helps the workers while it waits.
  std::thread waiter([&] {
    AttachThreadToEngine();
    for (auto _ : state) {
      TSoftwareCommandBufferRef buffer = MakeBuffer(sink, count, true);
      evaluator.PushCommandBufferWaitForCompletion(buffer, 3);
    }
    DetachThreadFromEngine();
  });
  waiter.join();
  benchmark::DoNotOptimize(sink.Sum());
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_RunCalls_MultiThreadParallelBuffer)->Arg(16)->Arg(1024)->UseRealTime();

}  // namespace
