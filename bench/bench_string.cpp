// Cost of the engine string's sharing against std::string's copies: copying and destroying a
// string of N bytes, beside the floor of one uncontended atomic increment and decrement, and the
// hash of a text already hashed once (the engine's cached word against std::hash); and ReplaceAll
// over a text of N occurrences against a std::string built in one pass.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
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

// N occurrences of "ab" between single letters, each replaced by "xyz": the text grows by N.
std::string ReplaceAllText(std::int64_t occurrences) {
  std::string text;
  for (std::int64_t i = 0; i < occurrences; ++i) text += "ab.";
  return text;
}

void BM_ReplaceAll_EngineString(benchmark::State& state) {
  const Orvan::TOrvString<char> source(ReplaceAllText(state.range(0)));
  const Orvan::TOrvString<char> search("ab");
  const Orvan::TOrvString<char> replacement("xyz");
  for (auto _ : state) {
    Orvan::TOrvString<char> text(source);
    text.ReplaceAll(search, replacement);
    benchmark::DoNotOptimize(text.GetContent());
  }
}

void BM_ReplaceAll_StdStringOnePass(benchmark::State& state) {
  const std::string source = ReplaceAllText(state.range(0));
  for (auto _ : state) {
    std::string text;
    text.reserve(source.size() + static_cast<std::size_t>(state.range(0)));
    for (std::size_t at = 0, next; at < source.size(); at = next + 2) {
      next = source.find("ab", at);
      if (next == std::string::npos) {
        text.append(source, at, std::string::npos);
        break;
      }
      text.append(source, at, next - at).append("xyz");
    }
    benchmark::DoNotOptimize(text.data());
  }
}

BENCHMARK(BM_Copy_EngineString)->Arg(8)->Arg(100);
BENCHMARK(BM_Copy_StdString)->Arg(8)->Arg(100);
BENCHMARK(BM_Copy_AtomicFloor);
BENCHMARK(BM_HashAgain_EngineString)->Arg(100);
BENCHMARK(BM_HashAgain_StdString)->Arg(100);
BENCHMARK(BM_ReplaceAll_EngineString)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReplaceAll_StdStringOnePass)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

}  // namespace
