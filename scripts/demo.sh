#!/usr/bin/env bash
# Sets up, builds and runs the kit's main job. With no board at hand it runs against a simulated
# KR2H70X board: the sample image is converted, a signed and encrypted boot image is built from it
# and checked, and the board is reached through each of its three doors (J-Link, UART, USB DFU).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tavrel-cli tavrel_sim_jlink

cli=build/src/tavrel-cli
out=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$out"
}
trap cleanup EXIT

step() { printf '\n== %s\n' "$*"; }

step "Convert the sample application image"
"$cli" hex2bin examples/sample.hex "$out/sram.bin" "$out/flash.bin"

step "Build a signed, encrypted KR2H70X boot image from it, then check it"
"$cli" keygen --public-key "$out/public.der" --private-key "$out/private.der"
"$cli" generate --bin "$out/sram.bin" --dest 00100000 --entry 00100101 --output "$out/boot.bin" \
    --key "$(od -An -tx1 -N32 /dev/urandom | tr -d ' \n' | tee "$out/key.txt")" \
    --public-key "$out/public.der" --private-key "$out/private.der"
"$cli" inspect "$out/boot.bin" --public-key "$out/public.der" --key "$(cat "$out/key.txt")"

step "Start a simulated KR2H70X board"
"$cli" sim --chip KR2H70X --socket "$out/board.sock" --flash-file "$out/flash-image.bin" >"$out/sim.txt" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q "Press Ctrl-C" "$out/sim.txt" 2>/dev/null && break; sleep 0.1; done
cat "$out/sim.txt"
port=$(sed -n 's/^Serial door: \([^ ]*\).*/\1/p' "$out/sim.txt")
loaders=$(sed -n 's/^  loader files: //p' "$out/sim.txt")

step "Connect over J-Link"
TAVREL_JLINK_LIBRARY="$PWD/build/src/libtavrel_sim_jlink.so" TAVREL_SIM_SOCKET="$out/board.sock" \
    "$cli" connect --chip KR2H70X --interface JLINK --loader-dir "$loaders"

step "Connect over the serial boot ROM"
"$cli" connect --chip KR2H70X --interface UART --port "$port" --loader-dir "$loaders"

step "Connect over USB DFU"
TAVREL_SIM_SOCKET="$out/board.sock" "$cli" connect --chip KR2H70X --interface USB

step "Done: the kit reached the board through all three doors"
