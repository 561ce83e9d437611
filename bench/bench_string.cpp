// Cost of the engine string's sharing against std::string's copies: copying and destroying a
// string of N bytes, beside the floor of one uncontended atomic increment and decrement, and the
// hash of a text already hashed once (the engine's cached word against std::hash).
#include <benchmark/benchmark.h>

#include <atomic>
#include <functional>
#include <string>

#include "core/text/engine_string.h"

namespace {

std::string MakeText(std::size_t length) {
  std::string text;
  for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>('a' + i % 26));
  return text;
}

void BM_Copy_EngineString(benchmark::State& state) {
  const Orvan::TOrvString<char> source(MakeText(static_cast<std::size_t>(state.range(0))));
  for (auto _ : state) {
    Orvan::TOrvString<char> copy(source);
    benchmark::DoNotOptimize(copy.GetContent());
  }
}

void BM_Copy_StdString(benchmark::State& state) {
  const std::string source = MakeText(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}

void BM_Copy_AtomicFloor(benchmark::State& state) {
  std::atomic<std::int32_t> count{1};
  for (auto _ : state) {
    count.fetch_add(1, std::memory_order_relaxed);
    benchmark::DoNotOptimize(count.fetch_sub(1, std::memory_order_acq_rel));
  }
}

void BM_HashAgain_EngineString(benchmark::State& state) {
  const Orvan::TOrvString<char> text(MakeText(static_cast<std::size_t>(state.range(0))));
  benchmark::DoNotOptimize(text.GetHash());
  for (auto _ : state) {
    benchmark::DoNotOptimize(text.GetHash());
    benchmark::ClobberMemory();
  }
}

void BM_HashAgain_StdString(benchmark::State& state) {
  const std::string text = MakeText(static_cast<std::size_t>(state.range(0)));
  const std::hash<std::string> hash;
  benchmark::DoNotOptimize(hash(text));
  for (auto _ : state) {
    benchmark::DoNotOptimize(hash(text));
    benchmark::ClobberMemory();
  }
}

BENCHMARK(BM_Copy_EngineString)->Arg(8)->Arg(100);
BENCHMARK(BM_Copy_StdString)->Arg(8)->Arg(100);
BENCHMARK(BM_Copy_AtomicFloor);
BENCHMARK(BM_HashAgain_EngineString)->Arg(100);
BENCHMARK(BM_HashAgain_StdString)->Arg(100);

}  // namespace
