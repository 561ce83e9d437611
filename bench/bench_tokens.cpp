// Cost of the token tables on a 32-bit case-sensitive table of N texts of 10 bytes: interning texts
// already present (text-pointer keys) against a std::unordered_map<std::string, u32> behind a
// std::mutex, and the text of an id against a std::vector<std::string> indexed by id.
// Lookups visit the texts in a shuffled order, so neither side is helped by a sequential walk.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/tokens/interned_token.h"
#include "core/tokens/interned_token_table.h"

namespace {

struct TBenchTableTag {};
using TBenchTable = Orvan::TInternedTokenTable<TBenchTableTag, std::uint32_t, Orvan::ETokenCaseRule::kCaseSensitive>;

// N distinct texts of 10 bytes ("Name" and six characters that vary).
std::vector<std::string> MakeTexts(std::uint32_t count) {
  std::vector<std::string> texts;
  texts.reserve(count);
  char text[16];
  for (std::uint32_t i = 0; i < count; ++i) {
    std::snprintf(text, sizeof text, "Name%c%05u", static_cast<char>('A' + i % 26), i);
    texts.emplace_back(text);
  }
  return texts;
}

// A fixed shuffled visiting order of 0 .. count - 1 (count a power of two).
std::vector<std::uint32_t> MakeOrder(std::uint32_t count) {
  std::vector<std::uint32_t> order(count);
  for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
  std::mt19937 random(20240611);
  std::shuffle(order.begin(), order.end(), random);
  return order;
}

void BM_InternExisting_TokenTable(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::string> texts = MakeTexts(count);
  const std::vector<std::uint32_t> order = MakeOrder(count);
  TBenchTable::Create();
  std::vector<const char*> keys(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    TBenchTable::Intern(texts[i].c_str());
    keys[i] = texts[order[i]].c_str();
  }
  std::uint32_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TBenchTable::Intern(keys[next]));
    next = (next + 1) & (count - 1);
  }
  state.SetItemsProcessed(state.iterations());
  TBenchTable::Shutdown();
}

void BM_InternExisting_StdUnorderedMapMutex(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::string> texts = MakeTexts(count);
  const std::vector<std::uint32_t> order = MakeOrder(count);
  std::unordered_map<std::string, std::uint32_t> map;
  std::mutex mutex;
  // The same find-or-add as interning: ids are dense, given in arrival order.
  auto intern = [&](const char* text) {
    std::lock_guard<std::mutex> lock(mutex);
    auto found = map.find(text);
    if (found != map.end()) return found->second;
    const auto id = static_cast<std::uint32_t>(map.size());
    map.emplace(text, id);
    return id;
  };
  std::vector<const char*> keys(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    intern(texts[i].c_str());
    keys[i] = texts[order[i]].c_str();
  }
  std::uint32_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(intern(keys[next]));
    next = (next + 1) & (count - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

// The text of an id is its characters' address (what c_str gives). With kReadFirstByte the
// lookup also reads the first character, which for the token table lies in the engine string's
// own block, a cache line the vector's inline short strings do not need.
template <bool kReadFirstByte>
void TextOfIdTokenTable(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::string> texts = MakeTexts(count);
  const std::vector<std::uint32_t> order = MakeOrder(count);
  TBenchTable::Create();
  std::vector<Orvan::TInternedToken<TBenchTable>> tokens;
  for (std::uint32_t i = 0; i < count; ++i) tokens.emplace_back(texts[i].c_str());
  std::vector<Orvan::TInternedToken<TBenchTable>> visits(count);
  for (std::uint32_t i = 0; i < count; ++i) visits[i] = tokens[order[i]];
  std::uint32_t next = 0;
  for (auto _ : state) {
    const char* text = visits[next].c_str();
    if constexpr (kReadFirstByte) {
      benchmark::DoNotOptimize(static_cast<unsigned>(static_cast<unsigned char>(*text)));
    } else {
      benchmark::DoNotOptimize(text);
    }
    next = (next + 1) & (count - 1);
  }
  state.SetItemsProcessed(state.iterations());
  TBenchTable::Shutdown();
}

template <bool kReadFirstByte>
void TextOfIdStdVector(benchmark::State& state) {
  const auto count = static_cast<std::uint32_t>(state.range(0));
  const std::vector<std::string> texts = MakeTexts(count);
  const std::vector<std::uint32_t> order = MakeOrder(count);
  // Index = id; id 0 is the empty text, as in a token table.
  std::vector<std::string> byId;
  byId.emplace_back();
  for (const std::string& text : texts) byId.push_back(text);
  std::vector<std::uint32_t> visits(count);
  for (std::uint32_t i = 0; i < count; ++i) visits[i] = order[i] + 1;
  std::uint32_t next = 0;
  for (auto _ : state) {
    const char* text = byId[visits[next]].c_str();
    if constexpr (kReadFirstByte) {
      benchmark::DoNotOptimize(static_cast<unsigned>(static_cast<unsigned char>(*text)));
    } else {
      benchmark::DoNotOptimize(text);
    }
    next = (next + 1) & (count - 1);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_TextOfId_TokenTable(benchmark::State& state) { TextOfIdTokenTable<false>(state); }
void BM_TextOfId_StdVector(benchmark::State& state) { TextOfIdStdVector<false>(state); }
void BM_TextFirstByteOfId_TokenTable(benchmark::State& state) { TextOfIdTokenTable<true>(state); }
void BM_TextFirstByteOfId_StdVector(benchmark::State& state) { TextOfIdStdVector<true>(state); }

BENCHMARK(BM_InternExisting_TokenTable)->Arg(4096);
BENCHMARK(BM_InternExisting_StdUnorderedMapMutex)->Arg(4096);
BENCHMARK(BM_TextOfId_TokenTable)->Arg(4096);
BENCHMARK(BM_TextOfId_StdVector)->Arg(4096);
BENCHMARK(BM_TextFirstByteOfId_TokenTable)->Arg(4096);
BENCHMARK(BM_TextFirstByteOfId_StdVector)->Arg(4096);

}  // namespace
