// Allocation cost of the engine's operator new against the process allocator underneath it, on
// the pattern of a server's working set: 10,000 live blocks, one replaced at random per iteration.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "support/engine_test_environment.h"

namespace {

constexpr std::size_t kLiveBlocks = 10000;

// Same index sequence for both variants, so the difference is the allocation path alone.
std::vector<std::uint32_t> MakeIndices() {
  std::vector<std::uint32_t> indices(1 << 16);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (auto& index : indices) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    index = static_cast<std::uint32_t>(state % kLiveBlocks);
  }
  return indices;
}

template <typename Allocate, typename Release>
void RunReplace(benchmark::State& state, Allocate allocate, Release release) {
  const auto size = static_cast<std::size_t>(state.range(0));
  static const std::vector<std::uint32_t> indices = MakeIndices();
  std::vector<void*> live(kLiveBlocks);
  for (auto& block : live) block = allocate(size);
  std::size_t step = 0;
  for (auto _ : state) {
    const std::uint32_t index = indices[step++ & (indices.size() - 1)];
    release(live[index]);
    live[index] = allocate(size);
    benchmark::DoNotOptimize(live[index]);
  }
  for (void* block : live) release(block);
}

void BM_Replace_Malloc(benchmark::State& state) {
  RunReplace(state, [](std::size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
}

void BM_Replace_EngineNew(benchmark::State& state) {
  RunReplace(state, [](std::size_t n) { return ::operator new(n); }, [](void* p) { ::operator delete(p); });
}

BENCHMARK(BM_Replace_Malloc)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);
BENCHMARK(BM_Replace_EngineNew)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);

}  // namespace

int main(int argc, char** argv) {
  OrvTest::StartEngineForTests();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  OrvTest::StopEngineForTests();
  return 0;
}
