#!/bin/sh
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, writes their seeds, and runs each target in turn.
#
#   tests/fuzz/run_fuzzers.sh [target...]      (all targets when none is named)
#
# FUZZ_SECONDS (default 60) bounds each run; FUZZ_DIR (default build-fuzz) holds the
# build, the seeds (seeds/<target>), the growing corpus (corpus/<target>) and any
# input that failed (artifacts/<target>/). JOBS is the build's parallelism.
set -eu
cd "$(dirname "$0")/../.."

FUZZ_SECONDS=${FUZZ_SECONDS:-60}
FUZZ_DIR=${FUZZ_DIR:-build-fuzz}
JOBS=${JOBS:-2}

# clang and its libFuzzer runtime, installed like the other build tools.
fuzzer_runtime() {
    command -v clang++ >/dev/null 2>&1 || return 1
    echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' |
        clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o /dev/null >/dev/null 2>&1
}
if ! fuzzer_runtime; then
    sh .ci/install-tools clang libclang-rt-dev
fi
sh .ci/install-tools

CC=clang CXX=clang++ cmake -S . -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRORARODI_FUZZ=ON \
    -DRORARODI_TESTS=OFF >/dev/null
cmake --build "$FUZZ_DIR" -j "$JOBS"
rm -rf "$FUZZ_DIR/seeds"
"$FUZZ_DIR/tests/fuzz/fuzz_seeds" "$FUZZ_DIR/seeds"

# The targets' scratch files go to one directory of this run, removed at its end.
scratch_base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch_base=/dev/shm
RORARODI_FUZZ_SCRATCH=$(mktemp -d "$scratch_base/rorarodi-fuzz-run-XXXXXX")
export RORARODI_FUZZ_SCRATCH
trap 'rm -rf "$RORARODI_FUZZ_SCRATCH"' EXIT

targets=${*:-"table_open calculator filter list_file convert"}
for target in $targets; do
    mkdir -p "$FUZZ_DIR/corpus/$target" "$FUZZ_DIR/artifacts/$target"
    dictionary=""
    [ -f "tests/fuzz/dictionaries/$target.dict" ] && dictionary="-dict=tests/fuzz/dictionaries/$target.dict"
    echo "Fuzzing $target for $FUZZ_SECONDS seconds"
    # shellcheck disable=SC2086
    "$FUZZ_DIR/tests/fuzz/fuzz_$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=4096 \
        -print_final_stats=1 -artifact_prefix="$FUZZ_DIR/artifacts/$target/" $dictionary \
        "$FUZZ_DIR/corpus/$target" "$FUZZ_DIR/seeds/$target" "tests/fuzz/regressions/$target"
done
