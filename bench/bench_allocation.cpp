// Allocation costs on the pattern of a server's working set: a live set of blocks or objects, one
// replaced at random per iteration. The engine's operator new against the process allocator under
// it; a pooled class against malloc/free and against the bare atomic operations that one
// replacement through the pool needs, on one thread and on eight threads with a live set each.
#include <benchmark/benchmark.h>

#include <atomic>
#include <barrier>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

#include "core/memory/typed_pool.h"

namespace {

// The same random index sequence for every variant, drawn before timing, so the difference
// between variants is the allocation path alone.
constexpr std::size_t kIndexCount = std::size_t{1} << 16;

std::vector<std::uint32_t> MakeIndices(std::uint32_t liveCount, std::uint64_t seed) {
  std::vector<std::uint32_t> indices(kIndexCount);
  std::uint64_t state = 0x9E3779B97F4A7C15ull ^ seed;
  for (auto& index : indices) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    index = static_cast<std::uint32_t>(state % liveCount);
  }
  return indices;
}

// ---- Blocks of N bytes, 10,000 live: operator new/delete against malloc/free.

constexpr std::uint32_t kLiveBlocks = 10000;

template <typename Allocate, typename Release>
void RunReplaceBlocks(benchmark::State& state, Allocate allocate, Release release) {
  const auto size = static_cast<std::size_t>(state.range(0));
  static const std::vector<std::uint32_t> indices = MakeIndices(kLiveBlocks, 0);
  std::vector<void*> live(kLiveBlocks);
  for (auto& block : live) block = allocate(size);
  std::size_t step = 0;
  for (auto _ : state) {
    const std::uint32_t index = indices[step++ & (kIndexCount - 1)];
    release(live[index]);
    live[index] = allocate(size);
    benchmark::DoNotOptimize(live[index]);
  }
  for (void* block : live) release(block);
}

void BM_Replace_Malloc(benchmark::State& state) {
  RunReplaceBlocks(state, [](std::size_t n) { return std::malloc(n); }, [](void* p) { std::free(p); });
}

void BM_Replace_EngineNew(benchmark::State& state) {
  RunReplaceBlocks(state, [](std::size_t n) { return ::operator new(n); }, [](void* p) { ::operator delete(p); });
}

BENCHMARK(BM_Replace_Malloc)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);
BENCHMARK(BM_Replace_EngineNew)->Arg(16)->Arg(64)->Arg(256)->Arg(4096);

// ---- 64-byte objects of a pooled class, N live.

struct TBenchObject {
  ORV_POOLED_ALLOCATION(TBenchObject)
  std::uint64_t words[8];
};
static_assert(sizeof(TBenchObject) == 64);

struct TThroughPool {
  static TBenchObject* New() { return new TBenchObject; }
  static void Delete(TBenchObject* object) { delete object; }
};

struct TThroughMalloc {
  static TBenchObject* New() {
    void* block = std::malloc(sizeof(TBenchObject));
    if (block == nullptr) throw std::bad_alloc();
    return ::new (block) TBenchObject;
  }
  static void Delete(TBenchObject* object) {
    object->~TBenchObject();
    std::free(object);
  }
};

template <typename TOps>
void RunReplace(benchmark::State& state) {
  const auto liveCount = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::uint32_t> indices = MakeIndices(liveCount, 0);
  std::vector<TBenchObject*> live(liveCount);
  for (auto& object : live) object = TOps::New();
  std::size_t step = 0;
  for (auto _ : state) {
    const std::uint32_t index = indices[step++ & (kIndexCount - 1)];
    TOps::Delete(live[index]);
    live[index] = TOps::New();
    benchmark::DoNotOptimize(live[index]);
  }
  for (TBenchObject* object : live) TOps::Delete(object);
}

void BM_PoolReplace_Pool(benchmark::State& state) { RunReplace<TThroughPool>(state); }
void BM_PoolReplace_Malloc(benchmark::State& state) { RunReplace<TThroughMalloc>(state); }

// The atomic operations of one replacement and nothing else: the push's exchange of the element's
// next word and its 16-byte swap, the pop's 16-byte swap, and the two live-count updates; each
// swap loads its expected pair first, as the pool does.
void BM_PoolReplace_AtomicFloor(benchmark::State& state) {
  using namespace Orvan;
  const auto liveCount = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::uint32_t> indices = MakeIndices(liveCount, 0);
  std::vector<TBenchObject> elements(liveCount);
  TAtomicTaggedPointer head;
  head.parts = {&elements[0], 0};
  std::atomic<std::uint32_t> liveCounter{0};
  std::size_t step = 0;
  for (auto _ : state) {
    const std::uint32_t index = indices[step++ & (kIndexCount - 1)];
    void* element = &elements[index];
    TTaggedPointer pushed = LoadTaggedPointer(head);
    static_cast<void>(__atomic_exchange_n(static_cast<void**>(element), pushed.pointer, __ATOMIC_SEQ_CST));
    CompareAndSwapTaggedPointer(head, pushed, {element, pushed.tag + 1});
    liveCounter.fetch_sub(1, std::memory_order_relaxed);
    TTaggedPointer popped = LoadTaggedPointer(head);
    CompareAndSwapTaggedPointer(head, popped, {popped.pointer, popped.tag + 1});
    liveCounter.fetch_add(1, std::memory_order_relaxed);
    benchmark::DoNotOptimize(popped.pointer);
  }
}

// Eight threads, each replacing objects of its own live set; one benchmark iteration is a batch of
// kBatch replacements on every thread. The benchmark's thread does one share of the work, so its
// times follow the batch's.
constexpr int kThreads = 8;
constexpr std::uint32_t kBatch = 10000;

template <typename TOps>
void RunReplace8Threads(benchmark::State& state) {
  const auto liveCount = static_cast<std::uint32_t>(state.range(0));
  std::barrier sync(kThreads);
  std::atomic<bool> stop{false};
  auto replaceBatch = [](std::vector<TBenchObject*>& live, const std::vector<std::uint32_t>& indices,
                                  std::size_t& step) {
    for (std::uint32_t i = 0; i < kBatch; ++i) {
      const std::uint32_t index = indices[step++ & (kIndexCount - 1)];
      TOps::Delete(live[index]);
      live[index] = TOps::New();
      benchmark::DoNotOptimize(live[index]);
    }
  };
  std::vector<std::thread> helpers;
  for (int t = 1; t < kThreads; ++t) {
    helpers.emplace_back([&, t] {
      const std::vector<std::uint32_t> indices = MakeIndices(liveCount, static_cast<std::uint64_t>(t));
      std::vector<TBenchObject*> live(liveCount);
      for (auto& object : live) object = TOps::New();
      std::size_t step = 0;
      for (;;) {
        sync.arrive_and_wait();
        if (stop.load(std::memory_order_relaxed)) break;
        replaceBatch(live, indices, step);
        sync.arrive_and_wait();
      }
      for (TBenchObject* object : live) TOps::Delete(object);
    });
  }
  const std::vector<std::uint32_t> indices = MakeIndices(liveCount, 0);
  std::vector<TBenchObject*> live(liveCount);
  for (auto& object : live) object = TOps::New();
  std::size_t step = 0;
  for (auto _ : state) {
    sync.arrive_and_wait();
    replaceBatch(live, indices, step);
    sync.arrive_and_wait();
  }
  stop.store(true, std::memory_order_relaxed);
  sync.arrive_and_wait();
  for (std::thread& helper : helpers) helper.join();
  for (TBenchObject* object : live) TOps::Delete(object);
  state.SetItemsProcessed(state.iterations() * kThreads * kBatch);
}

void BM_PoolReplace8Threads_Pool(benchmark::State& state) { RunReplace8Threads<TThroughPool>(state); }
void BM_PoolReplace8Threads_Malloc(benchmark::State& state) { RunReplace8Threads<TThroughMalloc>(state); }

BENCHMARK(BM_PoolReplace_Pool)->Arg(64)->Arg(100000);
BENCHMARK(BM_PoolReplace_Malloc)->Arg(64)->Arg(100000);
BENCHMARK(BM_PoolReplace_AtomicFloor)->Arg(64);
BENCHMARK(BM_PoolReplace8Threads_Pool)->Arg(100000);
BENCHMARK(BM_PoolReplace8Threads_Malloc)->Arg(100000);

}  // namespace
