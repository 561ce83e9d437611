// Cost of copying a file name against copying its path text: a copy of a TFileName takes no lock
// and touches only its node's count word, whatever the length of the path.
#include <benchmark/benchmark.h>

#include <string>

#include "core/filesystem/file_name.h"

namespace {

// A path of about `length` bytes in components of ten characters.
std::string MakePath(std::size_t length) {
  std::string path;
  for (int i = 0; path.size() < length; ++i) {
    if (!path.empty()) path.push_back('/');
    path += "component" + std::to_string(i % 10);
  }
  path.resize(length);
  return path;
}

void BM_CopyFileName_TFileName(benchmark::State& state) {
  const Orvan::TFileName source(MakePath(static_cast<std::size_t>(state.range(0))).c_str());
  for (auto _ : state) {
    Orvan::TFileName copy(source);
    benchmark::DoNotOptimize(copy.GetNode());
  }
}

void BM_CopyFileName_StdString(benchmark::State& state) {
  const std::string source = MakePath(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    std::string copy(source);
    benchmark::DoNotOptimize(copy.data());
  }
}

}  // namespace

BENCHMARK(BM_CopyFileName_TFileName)->Arg(1000);
BENCHMARK(BM_CopyFileName_StdString)->Arg(1000);
