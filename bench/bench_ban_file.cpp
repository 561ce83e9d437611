// Cost of rewriting the ban file ("id=end" lines outside any section) with every ban changed: the
// INI profile's batch of changes against the floor of writing the same bytes to a temporary file
// and putting it in place the same durable way. The old way, one rewrite per entry, grows with the
// square of the list and is measured at small lists only.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "network/files/durable_file_replace.h"
#include "network/files/ini_profile.h"
#include "support/temporary_folder.h"

namespace {

using Orvan::ServerTools::TIniChange;
using Orvan::ServerTools::TIniProfile;

// Client ids and ends as the refresh writes them; `round` changes every end.
struct TBanList {
  std::vector<std::string> keys;
  std::vector<std::string> ends;
  TBanList(std::size_t count, int round) {
    for (std::size_t i = 0; i < count; ++i) {
      keys.push_back(std::to_string(76561198000000000ull + i * 7));
      ends.push_back(std::to_string(1900000000 + static_cast<long>(i) + round));
    }
  }
  std::string Text() const {
    std::string text;
    for (std::size_t i = 0; i < keys.size(); ++i) text += keys[i] + "=" + ends[i] + "\n";
    return text;
  }
};

void WriteWhole(const std::string& path, const std::string& text) {
  const std::string temporary = path + "~";
  std::FILE* out = std::fopen(temporary.c_str(), "wb");
  if (out == nullptr) std::abort();
  std::fwrite(text.data(), 1, text.size(), out);
  std::fclose(out);
  if (Orvan::Network::ReplaceFileDurably(temporary.c_str(), path.c_str()) != 0) std::abort();
}

void BM_BanFileRewrite_IniPutStrings(benchmark::State& state) {
  OrvTest::TTemporaryFolder folder("orv_bench_bans");
  const std::string path = folder.Path("banned_clients.ini");
  const auto count = static_cast<std::size_t>(state.range(0));
  const TBanList lists[] = {TBanList(count, 0), TBanList(count, 1)};
  WriteWhole(path, lists[0].Text());
  std::vector<TIniChange> changes[2];
  for (int round = 0; round < 2; ++round) {
    for (std::size_t i = 0; i < count; ++i) {
      changes[round].push_back({nullptr, lists[round].keys[i].c_str(), lists[round].ends[i].c_str()});
    }
  }
  int round = 1;
  for (auto _ : state) {
    if (!TIniProfile::IniPutStrings(changes[round].data(), changes[round].size(), path.c_str())) std::abort();
    round ^= 1;
  }
}

void BM_BanFileRewrite_WriteFloor(benchmark::State& state) {
  OrvTest::TTemporaryFolder folder("orv_bench_bans");
  const std::string path = folder.Path("banned_clients.ini");
  const auto count = static_cast<std::size_t>(state.range(0));
  const TBanList lists[] = {TBanList(count, 0), TBanList(count, 1)};
  int round = 1;
  for (auto _ : state) {
    WriteWhole(path, lists[round].Text());
    round ^= 1;
  }
}

void BM_BanFileRewrite_IniPutStringPerEntry(benchmark::State& state) {
  OrvTest::TTemporaryFolder folder("orv_bench_bans");
  const std::string path = folder.Path("banned_clients.ini");
  const auto count = static_cast<std::size_t>(state.range(0));
  const TBanList lists[] = {TBanList(count, 0), TBanList(count, 1)};
  WriteWhole(path, lists[0].Text());
  int round = 1;
  for (auto _ : state) {
    for (std::size_t i = 0; i < count; ++i) {
      TIniProfile::IniPutString(nullptr, lists[round].keys[i].c_str(), lists[round].ends[i].c_str(), path.c_str());
    }
    round ^= 1;
  }
}

}  // namespace

BENCHMARK(BM_BanFileRewrite_IniPutStrings)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BanFileRewrite_WriteFloor)->Arg(1000)->Arg(20000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BanFileRewrite_IniPutStringPerEntry)->Arg(1000)->Unit(benchmark::kMillisecond);
