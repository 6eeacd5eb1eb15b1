#!/usr/bin/env bash
# Sets up, builds and runs the kit's main job against what is at hand.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tavrel-cli

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# Convert the sample application image, as every program operation does first.
build/src/tavrel-cli hex2bin examples/sample.hex "$out/sram.bin" "$out/flash.bin"
