#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) and runs each for a bounded time from its
# seed corpus in fuzz/corpus/<target>. A crash, leak, time-out or undefined behaviour in any target
# fails the run (after every target had its turn); the input that did it is kept in
# build-fuzz/findings/. Each target's log is build-fuzz/logs/<target>.log. A target's own libFuzzer
# flags (e.g. a larger -max_len) are in fuzz/<target>.options, one a line.
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 20 s, every target)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
shift || true
dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTAVREL_FUZZ=ON -DTAVREL_TESTS=OFF -DTAVREL_WERROR=ON >/dev/null
cmake --build "$dir" --target fuzz_targets -j "$(nproc)"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi
mkdir -p "$dir/logs" "$dir/findings"

# One target's run; its outcome goes to $dir/logs/<target>.status (0 clean, 1 a finding).
run_target() {
    local target=$1 options=()
    # The corpus grows in the build folder; the committed seeds are only read.
    mkdir -p "$dir/corpus/$target"
    rm -f "$dir/findings/$target-"*
    if [ -f "fuzz/$target.options" ]; then mapfile -t options < "fuzz/$target.options"; fi
    if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$dir/fuzz/$target" "$dir/corpus/$target" "fuzz/corpus/$target" -max_total_time="$seconds" \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$dir/findings/$target-" "${options[@]}" >"$dir/logs/$target.log" 2>&1; then
        echo 0 >"$dir/logs/$target.status"
    else
        echo 1 >"$dir/logs/$target.status"
    fi
}

# As many targets at once as there are cores, each for its full time.
running=0
for target in "${targets[@]}"; do
    rm -f "$dir/logs/$target.status"
    run_target "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$(nproc)" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

failed=()
for target in "${targets[@]}"; do
    printf '%-24s ' "$target"
    if [ "$(cat "$dir/logs/$target.status" 2>/dev/null)" = 0 ]; then
        grep -o 'stat::number_of_executed_units: *[0-9]*' "$dir/logs/$target.log" | awk '{printf "%s runs", $2}' || true
        grep -o 'stat::average_exec_per_sec: *[0-9]*' "$dir/logs/$target.log" | awk '{printf ", %s/s\n", $2}' || true
    else
        echo "FINDING (see $dir/logs/$target.log)"
        grep -E '^(==[0-9]+==ERROR|SUMMARY)|runtime error' "$dir/logs/$target.log" | head -5 || true
        failed+=("$target")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Fuzzing found faults in: ${failed[*]}" >&2
    exit 1
fi
