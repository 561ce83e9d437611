// Lookups and insert/erase pairs of the engine's open hash map against std::unordered_map and
// abseil's flat_hash_map. Keys are N distinct random u32 values; lookups walk a precomputed
// shuffle of them (hits) or of N other values (misses), so no order helps any table. The string
// pair looks names up in a table of engine strings, whose probes carry their cached hash, against
// std::string keys.
#include <benchmark/benchmark.h>

#include <absl/container/flat_hash_map.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/text/hash_functors.h"

namespace {

using namespace Orvan;

struct TKeySet {
  std::vector<std::uint32_t> keys;     // insertion order
  std::vector<std::uint32_t> hits;     // the keys, shuffled
  std::vector<std::uint32_t> misses;   // as many absent values, shuffled
};

const TKeySet& KeysFor(std::size_t n) {
  static std::map<std::size_t, std::unique_ptr<TKeySet>> cache;
  auto& slot = cache[n];
  if (!slot) {
    slot = std::make_unique<TKeySet>();
    std::mt19937 random(static_cast<std::uint32_t>(n) * 2654435761u + 1);
    std::unordered_set<std::uint32_t> seen;
    while (slot->keys.size() < n) {
      const std::uint32_t key = random();
      if (seen.insert(key).second) slot->keys.push_back(key);
    }
    while (slot->misses.size() < n) {
      const std::uint32_t key = random();
      if (seen.insert(key).second) slot->misses.push_back(key);
    }
    slot->hits = slot->keys;
    std::shuffle(slot->hits.begin(), slot->hits.end(), random);
  }
  return *slot;
}

// The three tables behind one interface.
struct TOpenTable {
  TU32ToU32Map map;
  void Insert(std::uint32_t key, std::uint32_t value) {
    TU32ToU32Map::TEntryType* entry;
    if (map.FindOrInsert(key, &entry)) ::new (static_cast<void*>(entry)) TU32ToU32Map::TEntryType{key, value};
  }
  const void* Find(std::uint32_t key) const { return map.Find(key); }
  void Erase(std::uint32_t key) { map.Erase(key); }
};

template <typename TMap>
struct TStdLikeTable {
  TMap map;
  void Insert(std::uint32_t key, std::uint32_t value) { map.emplace(key, value); }
  const void* Find(std::uint32_t key) const {
    const auto found = map.find(key);
    return found == map.end() ? nullptr : &found->second;
  }
  void Erase(std::uint32_t key) { map.erase(key); }
};

using TStdTable = TStdLikeTable<std::unordered_map<std::uint32_t, std::uint32_t>>;
using TAbslTable = TStdLikeTable<absl::flat_hash_map<std::uint32_t, std::uint32_t>>;

// One filled table per type and size, shared by the benchmarks and their repetitions; the
// insert/erase benchmark leaves it as it found it.
template <typename TTable>
TTable& TableFor(std::size_t n) {
  static std::map<std::size_t, std::unique_ptr<TTable>> cache;
  auto& slot = cache[n];
  if (!slot) {
    slot = std::make_unique<TTable>();
    for (const std::uint32_t key : KeysFor(n).keys) slot->Insert(key, key ^ 0x5555u);
  }
  return *slot;
}

template <typename TTable>
void RunFind(benchmark::State& state, bool hits) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const TTable& table = TableFor<TTable>(n);
  const std::vector<std::uint32_t>& probes = hits ? KeysFor(n).hits : KeysFor(n).misses;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(table.Find(probes[i]));
    if (++i == probes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

template <typename TTable>
void BM_FindHit(benchmark::State& state) {
  RunFind<TTable>(state, true);
}
template <typename TTable>
void BM_FindMiss(benchmark::State& state) {
  RunFind<TTable>(state, false);
}

template <typename TTable>
void BM_InsertErase(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  TTable& table = TableFor<TTable>(n);
  const std::vector<std::uint32_t>& absent = KeysFor(n).misses;
  std::size_t i = 0;
  for (auto _ : state) {
    table.Insert(absent[i], 1);
    table.Erase(absent[i]);
    if (++i == absent.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

// N distinct names of 6 to 24 letters, and a shuffled list of them to look up.
struct TNameSet {
  std::vector<std::string> names;
  std::vector<std::string> lookups;
};

const TNameSet& NamesFor(std::size_t n) {
  static std::map<std::size_t, std::unique_ptr<TNameSet>> cache;
  auto& slot = cache[n];
  if (!slot) {
    slot = std::make_unique<TNameSet>();
    std::mt19937 random(static_cast<std::uint32_t>(n) + 77);
    std::unordered_set<std::string> seen;
    while (slot->names.size() < n) {
      std::string name(6 + random() % 19, ' ');
      for (char& c : name) c = static_cast<char>('a' + random() % 26);
      if (seen.insert(name).second) slot->names.push_back(name);
    }
    slot->lookups = slot->names;
    std::shuffle(slot->lookups.begin(), slot->lookups.end(), random);
  }
  return *slot;
}

using TNameMap = TOpenHashMap<TKeyValueEntry<TOrvString<char>, std::uint32_t>, TStringHash, TStringEqual,
                              default_allocator<unsigned char>>;

void BM_FindHitString_OpenHashMap(benchmark::State& state) {
  const TNameSet& names = NamesFor(static_cast<std::size_t>(state.range(0)));
  TNameMap map;
  for (std::uint32_t i = 0; i < names.names.size(); ++i) map.InsertNew(TOrvString<char>(names.names[i]), i);
  // Probes are strings of their own (not the keys' blocks), as names arriving from elsewhere are.
  std::vector<TOrvString<char>> probes(names.lookups.begin(), names.lookups.end());
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.Find(probes[i]));
    if (++i == probes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_FindHitString_StdUnorderedMap(benchmark::State& state) {
  const TNameSet& names = NamesFor(static_cast<std::size_t>(state.range(0)));
  std::unordered_map<std::string, std::uint32_t> map;
  for (std::uint32_t i = 0; i < names.names.size(); ++i) map.emplace(names.names[i], i);
  const std::vector<std::string>& probes = names.lookups;
  std::size_t i = 0;
  for (auto _ : state) {
    const auto found = map.find(probes[i]);
    benchmark::DoNotOptimize(found == map.end() ? nullptr : &found->second);
    if (++i == probes.size()) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_FindHitString_OpenHashMap)->Arg(100000);
BENCHMARK(BM_FindHitString_StdUnorderedMap)->Arg(100000);

void Sizes(benchmark::internal::Benchmark* benchmark) { benchmark->Arg(1000)->Arg(1000000); }

BENCHMARK(BM_FindHit<TOpenTable>)->Name("BM_FindHit_OpenHashMap")->Apply(Sizes);
BENCHMARK(BM_FindHit<TStdTable>)->Name("BM_FindHit_StdUnorderedMap")->Apply(Sizes);
BENCHMARK(BM_FindHit<TAbslTable>)->Name("BM_FindHit_AbslFlatHashMap")->Apply(Sizes);
BENCHMARK(BM_FindMiss<TOpenTable>)->Name("BM_FindMiss_OpenHashMap")->Apply(Sizes);
BENCHMARK(BM_FindMiss<TStdTable>)->Name("BM_FindMiss_StdUnorderedMap")->Apply(Sizes);
BENCHMARK(BM_FindMiss<TAbslTable>)->Name("BM_FindMiss_AbslFlatHashMap")->Apply(Sizes);
BENCHMARK(BM_InsertErase<TOpenTable>)->Name("BM_InsertErase_OpenHashMap")->Apply(Sizes);
BENCHMARK(BM_InsertErase<TStdTable>)->Name("BM_InsertErase_StdUnorderedMap")->Apply(Sizes);
BENCHMARK(BM_InsertErase<TAbslTable>)->Name("BM_InsertErase_AbslFlatHashMap")->Apply(Sizes);

}  // namespace
