# Quick start: `make run` builds the program and shows the sample table;
# `make test` builds a sanitizer configuration and runs every test;
# `make bench` measures the Release build on generated tables (see README).
BUILD_DIR   ?= build
TEST_DIR    ?= build-test
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX      ?= /usr/local

# Benchmark: table sizes, timed runs per job, the job list.
BENCH_RECORDS      ?= 1000000
BENCH_MEMO_RECORDS ?= 200000
BENCH_RUNS         ?= 5
BENCH_JOBS         ?= bench/jobs.txt
BENCH_DIR          ?= $(BUILD_DIR)/bench/$(BENCH_RECORDS)-$(BENCH_MEMO_RECORDS)
# The spilled order: a large table, its own job list (bench/jobs-spill.txt).
BENCH_SPILL_RECORDS ?= 20000000
BENCH_SPILL_RUNS    ?= 1
BENCH_SPILL_DIR     ?= $(BUILD_DIR)/bench/spill-$(BENCH_SPILL_RECORDS)

.PHONY: all build run test clean sample tools install bench bench-spill fuzz

all: build

# Installs the build tools a fresh Debian or Ubuntu machine may lack.
tools:
	@sh .ci/install-tools

build: tools
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DRORARODI_TESTS=OFF >/dev/null
	cmake --build $(BUILD_DIR) -j $(JOBS)

sample: build
	@test -f examples/customers.dbf || sh examples/make_sample.sh examples/customers.dbf

run: sample
	./$(BUILD_DIR)/rorarodi /VERSION
	./$(BUILD_DIR)/rorarodi examples/customers.dbf /COUNT /STRUCT
	./$(BUILD_DIR)/rorarodi examples/customers.dbf /HDR /RANGE:1-3 /SELECT:*

test: tools
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRORARODI_SANITIZE=ON -DRORARODI_TESTS=ON >/dev/null
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure -j $(JOBS)

# Builds the fuzz targets with clang (installed when missing) and runs each for
# FUZZ_SECONDS seconds (FUZZ_TARGETS="filter convert" picks targets); see
# tests/fuzz/run_fuzzers.sh.
FUZZ_SECONDS ?= 60
fuzz: tools
	FUZZ_SECONDS=$(FUZZ_SECONDS) JOBS=$(JOBS) sh tests/fuzz/run_fuzzers.sh $(FUZZ_TARGETS)

bench: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target bench_tools
	@mkdir -p $(BENCH_DIR)
	@test -f $(BENCH_DIR)/done -a -f $(BENCH_DIR)/people_936.dbf || { echo "Writing the benchmark tables into $(BENCH_DIR)"; \
		./$(BUILD_DIR)/bench_make_tables $(BENCH_DIR) $(BENCH_RECORDS) $(BENCH_MEMO_RECORDS) && touch $(BENCH_DIR)/done; }
	./$(BUILD_DIR)/bench_run_bench $(BENCH_JOBS) $(BENCH_RUNS) bin=./$(BUILD_DIR)/rorarodi \
		floor=./$(BUILD_DIR)/bench_floor dir=$(BENCH_DIR)

# Orders of a table of BENCH_SPILL_RECORDS records (2.8 GB at 20,000,000) within a
# 64 MiB budget, against the in-memory path.
bench-spill: build
	cmake --build $(BUILD_DIR) -j $(JOBS) --target bench_tools
	@mkdir -p $(BENCH_SPILL_DIR)
	@test -f $(BENCH_SPILL_DIR)/done || { echo "Writing the benchmark tables into $(BENCH_SPILL_DIR)"; \
		./$(BUILD_DIR)/bench_make_tables $(BENCH_SPILL_DIR) $(BENCH_SPILL_RECORDS) 0 && touch $(BENCH_SPILL_DIR)/done; }
	./$(BUILD_DIR)/bench_run_bench bench/jobs-spill.txt $(BENCH_SPILL_RUNS) bin=./$(BUILD_DIR)/rorarodi \
		floor=./$(BUILD_DIR)/bench_floor dir=$(BENCH_SPILL_DIR)

# Installs the program and its manual page under $(DESTDIR)$(PREFIX).
install: build
	install -d $(DESTDIR)$(PREFIX)/bin $(DESTDIR)$(PREFIX)/share/man/man1
	install -m 755 $(BUILD_DIR)/rorarodi $(DESTDIR)$(PREFIX)/bin/rorarodi
	install -m 644 docs/rorarodi.1 $(DESTDIR)$(PREFIX)/share/man/man1/rorarodi.1

clean:
	rm -rf $(BUILD_DIR) $(TEST_DIR) build-fuzz
