# Entry points:
#   make demo    quarvane-sim on a free loopback port and the qvctl walkthrough
#   make demo-exporter  quarvane-exporter before quarvane-sim: one scrape of /metrics
#   make check   the whole test suite under AddressSanitizer and UndefinedBehaviorSanitizer
#                (clang), a short run of the fuzzer on every target, and the threads test
#                under ThreadSanitizer (gcc)
#   make build   plain build
#   make uninstall  removes what `cmake --install $(BUILD_DIR)` installed
#   make fuzz    the reply fuzzer on every target for FUZZ_SECONDS
#   make bench   the benchmarks, with the ratios they are judged by
#   make bench-exporter  one scrape of quarvane-exporter by protections, its memory over 10,000
#   make tsan    the threads test under ThreadSanitizer (part of make check)
BUILD_DIR ?= build
CHECK_DIR ?= build-check
FUZZ_DIR ?= build-fuzz
BENCH_DIR ?= build-bench
TSAN_DIR ?= build-tsan
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
FUZZ_SECONDS ?= 60
FUZZ_SMOKE_RUNS ?= 1000
FUZZ_JOBS ?= $(JOBS)
BENCH_ARGS ?=

.PHONY: deps build demo demo-exporter check clean fuzz-build fuzz fuzz-smoke bench bench-exporter \
	uninstall tsan tsan-run check-fuzz check-tests

deps:
	@tools/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j $(JOBS)

# Exactly the files install_manifest.txt lists, and the directories the
# install created once they are empty (sudo make uninstall for /usr/local).
uninstall:
	cmake -DBUILD_DIR=$(BUILD_DIR) -P cmake/uninstall.cmake

# The walkthrough: quarvane-sim on a free loopback port, qvctl against it.
demo: build
	tools/demo.sh $(BUILD_DIR)

demo-exporter: build
	tools/quarvane-exporter/demo.sh $(BUILD_DIR)

# One checked tree: clang, the sanitizers everywhere, the fuzzer built next
# to the tests. Then three runs side by side, since the tests spend most of
# their time waiting on the processes they start: the fuzzer on every target
# (its seeds and FUZZ_SMOKE_RUNS inputs in all), the test suite, and the
# ThreadSanitizer tree, built with gcc so that both compilers see the
# library's code with warnings as errors. Line tables are all the
# sanitizers' reports need.
check: deps
	cmake -S . -B $(CHECK_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_FUZZ=ON \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only
	cmake --build $(CHECK_DIR) -j $(JOBS)
	$(MAKE) --no-print-directory -j 3 --output-sync=target check-fuzz check-tests tsan-run

check-fuzz:
	fuzz/run_fuzzers.sh --smoke $(CHECK_DIR)/fuzz $(FUZZ_SMOKE_RUNS) $(JOBS)

check-tests:
	cd $(CHECK_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 300

# Many threads with handles of their own under ThreadSanitizer: the
# library's core and the one test program, nothing else.
tsan: deps
	$(MAKE) --no-print-directory tsan-run

tsan-run:
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQV_TSAN=ON \
	  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
	cmake --build $(TSAN_DIR) -j $(JOBS) --target qv_thread_tests
	TSAN_OPTIONS="halt_on_error=1" QUARVANE_PARAMETERS=/nonexistent/qvtest.ini \
	  $(TSAN_DIR)/tests/qv_thread_tests

# The fuzzer: clang with libFuzzer, the library instrumented throughout.
fuzz-build: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQV_FUZZ=ON -DQV_BUILD_TESTS=OFF
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzzers

fuzz: fuzz-build
	fuzz/run_fuzzers.sh $(FUZZ_DIR)/fuzz $(FUZZ_SECONDS) $(FUZZ_JOBS)

fuzz-smoke: fuzz-build
	fuzz/run_fuzzers.sh --smoke $(FUZZ_DIR)/fuzz $(FUZZ_SMOKE_RUNS) $(FUZZ_JOBS)

# The benchmarks: an optimised build without sanitizers; each pair of
# measurements is printed with its ratio after the run.
bench: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BENCH=ON \
	  -DQV_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target qv_bench
	$(BENCH_DIR)/bench/qv_bench --benchmark_out=$(BENCH_DIR)/bench/results.json \
	  --benchmark_out_format=json $(BENCH_ARGS)
	python3 bench/summary.py $(BENCH_DIR)/bench/results.json

bench-exporter: deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BENCH=ON \
	  -DQV_BUILD_TESTS=OFF
	cmake --build $(BENCH_DIR) -j $(JOBS) --target qv_exporter_bench
	$(BENCH_DIR)/bench/qv_exporter_bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD_DIR) $(CHECK_DIR) $(FUZZ_DIR) $(BENCH_DIR) $(TSAN_DIR)
