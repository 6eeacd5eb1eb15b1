#!/usr/bin/env bash
# Sets up, builds and runs every test: a g++ Release build (the configuration users and packagers
# build), then an ASan+UBSan build with clang, then every fuzz target for a bounded time
# (scripts/fuzz.sh; a finding fails the run). Warnings are errors in all of them.
# TAVREL_SKIP_SANITIZE=1 leaves the sanitizer build out, TAVREL_SKIP_FUZZ=1 the fuzzing (quicker
# local runs); TAVREL_FUZZ_SECONDS sets each target's time (default 20).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
run_suite() {  # build-dir compiler tests-at-once extra-cmake-args...
    local dir=$1 cxx=$2 tests=$3; shift 3
    cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DTAVREL_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" -j "$tests" --output-on-failure --timeout 300
}

# The Release tests mostly wait on simulated boards and their lines (a quarter of their time is
# CPU), so twice as many run at once as there are cores; the sanitizer build's tests are CPU-bound.
run_suite build g++ $((2 * jobs)) -DCMAKE_BUILD_TYPE=Release
if [ "${TAVREL_SKIP_SANITIZE:-0}" != 1 ]; then
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        LSAN_OPTIONS=print_suppressions=0:suppressions="$PWD/scripts/lsan-suppressions.txt" \
        run_suite build-asan clang++ "$jobs" -DCMAKE_BUILD_TYPE=Debug -DTAVREL_SANITIZE=ON
fi
if [ "${TAVREL_SKIP_FUZZ:-0}" != 1 ]; then
    bash scripts/fuzz.sh "${TAVREL_FUZZ_SECONDS:-20}"
fi
