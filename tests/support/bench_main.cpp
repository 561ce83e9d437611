// main of the benchmark programs: the engine is started around the benchmarks, as for the tests.
#include <benchmark/benchmark.h>

#include "support/engine_test_environment.h"

int main(int argc, char** argv) {
  OrvTest::StartEngineForTests();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  OrvTest::StopEngineForTests();
  return 0;
}
