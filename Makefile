# Entry points: test, test-sanitize, test-tsan, soak, bench, capacity, fuzz, fuzz-smoke, run, clean.
# WERROR=1 turns compiler and linker warnings into errors (CI uses it).

WERROR ?= 0
JOBS ?= $(shell nproc)
FUZZ_SECONDS ?= 60
# Ticks of the soak's first game (200 ms each: 3,000 are ten minutes); make test runs 300.
SOAK_TICKS ?= 3000
CMAKE_WERROR := $(if $(filter 1,$(WERROR)),ON,OFF)

BUILD_DEBUG := build/debug
BUILD_SANITIZE := build/sanitize
BUILD_TSAN := build/tsan
BUILD_RELEASE := build/release
BUILD_FUZZ := build/fuzz
BENCH_RESULTS := build/bench-results
# Absolute, as the corpus folders given to the targets: some targets run each input in a working
# folder of their own, in which a relative path would name another place.
FUZZ_FINDINGS := $(CURDIR)/$(BUILD_FUZZ)/findings
# The symbolizer (Debian llvm-16) names functions and lines in the stack traces of a finding.
FUZZ_SYMBOLIZER := /usr/bin/llvm-symbolizer-16
FUZZ_ENV := ASAN_SYMBOLIZER_PATH=$(FUZZ_SYMBOLIZER) \
	ASAN_OPTIONS=external_symbolizer_path=$(FUZZ_SYMBOLIZER):symbolize=1 \
	UBSAN_OPTIONS=external_symbolizer_path=$(FUZZ_SYMBOLIZER):symbolize=1:print_stacktrace=1

# Suites whose names contain this run real threads; the ThreadSanitizer build runs them.
TSAN_TESTS ?= Threaded

# ctest runs two lanes side by side (test_resources.json in the build folder): the unit tests and the
# fuzz replays keep a core busy and take one of JOBS slots; the Python suites mostly wait on the
# network and the clock (a tenth of a core each, a fifth under the sanitizers), and take one of
# TEST_WAITS slots: four side by side finish them all in about two minutes, and leave the timing
# checks of the slow suites enough of 2 cores. Tests ctest has not timed yet start longest first
# (their COST).
TEST_WAITS ?= 4
TEST_SLOTS = $(shell echo $$(( $(JOBS) + $(TEST_WAITS) )))
CMAKE_TEST_LANES := -DORV_TEST_CPUS=$(JOBS) -DORV_TEST_WAITS=$(TEST_WAITS)
# The builds the tests run carry the server's test seams; Release builds (bench, capacity, run) do not.
CMAKE_TEST_SEAMS := -DORV_TEST_SEAMS=ON
CMAKE_RELEASE := -DCMAKE_BUILD_TYPE=Release -DORV_TEST_SEAMS=OFF
CTEST := ctest -j $(TEST_SLOTS) --resource-spec-file test_resources.json --output-on-failure
# The sanitizer build: the code under test at -O1, which keeps the tests quick, the test programs' own
# sources at -O0, which compiles them three times faster; line tables (-g1) are all the sanitizers'
# stack traces need. No benchmarks: nothing runs them there.
CMAKE_SANITIZE := -DORV_SANITIZE=address,undefined -DCMAKE_CXX_FLAGS=-O1 -DCMAKE_CXX_FLAGS_DEBUG=-g1 \
	-DORV_TEST_CODE_OPTIONS=-O0 -DORV_BUILD_BENCH=OFF

.PHONY: all setup test test-sanitize test-tsan soak bench capacity fuzz fuzz-smoke run clean

all: test

setup:
	@bash scripts/setup.sh build

test: setup
	@cmake -S . -B $(BUILD_DEBUG) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWERROR=$(CMAKE_WERROR) $(CMAKE_TEST_LANES) \
		$(CMAKE_TEST_SEAMS) >/dev/null
	@cmake --build $(BUILD_DEBUG) -j $(JOBS)
	@cd $(BUILD_DEBUG) && $(CTEST)

test-sanitize: setup
	@cmake -S . -B $(BUILD_SANITIZE) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWERROR=$(CMAKE_WERROR) \
		$(CMAKE_SANITIZE) $(CMAKE_TEST_LANES) $(CMAKE_TEST_SEAMS) >/dev/null
	@cmake --build $(BUILD_SANITIZE) -j $(JOBS)
	@cd $(BUILD_SANITIZE) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 $(CTEST)

test-tsan: setup
	@cmake -S . -B $(BUILD_TSAN) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWERROR=$(CMAKE_WERROR) \
		-DORV_SANITIZE=thread -DORV_BUILD_BENCH=OFF -DCMAKE_CXX_FLAGS=-O1 $(CMAKE_TEST_LANES) $(CMAKE_TEST_SEAMS) >/dev/null
	@cmake --build $(BUILD_TSAN) -j $(JOBS)
	@cd $(BUILD_TSAN) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
		$(CTEST) -R '$(TSAN_TESTS)'

# The relay soak alone (ctest label "soak") against the Debug server, for SOAK_TICKS ticks.
soak: setup
	@cmake -S . -B $(BUILD_DEBUG) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DWERROR=$(CMAKE_WERROR) $(CMAKE_TEST_LANES) \
		$(CMAKE_TEST_SEAMS) >/dev/null
	@cmake --build $(BUILD_DEBUG) -j $(JOBS) --target DedicatedServer
	@cd $(BUILD_DEBUG) && ORV_SOAK_TICKS=$(SOAK_TICKS) ctest -L soak --output-on-failure --verbose

bench: setup
	@cmake -S . -B $(BUILD_RELEASE) -G Ninja $(CMAKE_RELEASE) -DWERROR=$(CMAKE_WERROR) \
		-DORV_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD_RELEASE) -j $(JOBS)
	@mkdir -p $(BENCH_RESULTS)
	@for prog in $(BUILD_RELEASE)/bench_*; do \
		name=$$(basename $$prog); \
		echo "== $$name"; \
		$$prog --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
			--benchmark_min_time=0.2 --benchmark_out_format=json \
			--benchmark_out=$(BENCH_RESULTS)/$$name.json || exit 1; \
	done

# The capacity ladder: G full-house games at once (G = 1, 4, 16, 32, then doubling) against G Release
# servers pinned to the first CAPACITY_CORES cores, the generator on the others, until a game misses;
# each game lasts CAPACITY_TICKS ticks. Tables on the output, figures in build/capacity/capacity.json.
CAPACITY_CORES ?= 2
CAPACITY_TICKS ?= 300

capacity: setup
	@cmake -S . -B $(BUILD_RELEASE) -G Ninja $(CMAKE_RELEASE) -DWERROR=$(CMAKE_WERROR) \
		-DORV_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD_RELEASE) -j $(JOBS) --target DedicatedServer capacity_generator
	@$(BUILD_RELEASE)/capacity_generator --server $(BUILD_RELEASE)/DedicatedServer --ladder \
		--ticks $(CAPACITY_TICKS) --server-cores $(CAPACITY_CORES) --out build/capacity

# Each target runs for FUZZ_SECONDS, FUZZ_JOBS targets side by side (scripts/fuzz-run.sh); a finding
# (crash-*, leak-*, timeout-*, oom-*) is written to $(FUZZ_FINDINGS)/<target>/ and the run goes on
# with the other targets, printing each failed target's report and findings and failing at the end.
FUZZ_JOBS ?= 1

fuzz:
	@bash scripts/setup.sh fuzz
	@cmake -S . -B $(BUILD_FUZZ) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWERROR=$(CMAKE_WERROR) \
		-DCMAKE_C_COMPILER=clang-16 -DCMAKE_CXX_COMPILER=clang++-16 -DORV_FUZZ=ON \
		-DORV_SANITIZE=address,undefined >/dev/null
	@cmake --build $(BUILD_FUZZ) -j $(JOBS)
	@$(FUZZ_ENV) bash scripts/fuzz-run.sh $(BUILD_FUZZ) $(FUZZ_SECONDS) $(FUZZ_JOBS) $(FUZZ_FINDINGS)

# What CI runs: every target for 20 s, two at a time (a 2-core machine).
fuzz-smoke:
	@$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=20 FUZZ_JOBS=2

# The Release server against the local match-making peer, in build/run/ (scripts/run-local.sh).
run: setup
	@cmake -S . -B $(BUILD_RELEASE) -G Ninja $(CMAKE_RELEASE) -DWERROR=$(CMAKE_WERROR) \
		-DORV_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD_RELEASE) -j $(JOBS) --target DedicatedServer
	@bash scripts/check-no-test-seams.sh $(BUILD_RELEASE)/DedicatedServer
	@bash scripts/run-local.sh $(BUILD_RELEASE)/DedicatedServer

clean:
	rm -rf build
