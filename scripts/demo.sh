#!/usr/bin/env bash
# Sets up, builds and runs the kit's main job. With no board at hand it runs against a simulated
# board: a KR2A600 application is programmed with its boot header and verified over J-Link, then
# over the serial boot ROM, read back and compared with what the image put there, and the flash is
# erased and read back blank; a signed, encrypted KR2H70X boot image is built, checked, programmed
# over USB DFU with verification and read back.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc)" --target tavrel-cli tavrel_sim_jlink

cli=build/src/tavrel-cli
out=$(mktemp -d)
sim_pid=
h70x_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    [ -n "$h70x_pid" ] && kill "$h70x_pid" 2>/dev/null && wait "$h70x_pid" 2>/dev/null
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

step "Start a simulated KR2A600 board"
"$cli" sim --chip KR2A600 --socket "$out/board.sock" >"$out/sim.txt" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q "Press Ctrl-C" "$out/sim.txt" 2>/dev/null && break; sleep 0.1; done
cat "$out/sim.txt"
port=$(sed -n 's/^Serial door: \([^ ]*\).*/\1/p' "$out/sim.txt")
loaders=$(sed -n 's/^  loader files: //p' "$out/sim.txt")
jlink=(env TAVREL_JLINK_LIBRARY="$PWD/build/src/libtavrel_sim_jlink.so" TAVREL_SIM_SOCKET="$out/board.sock")
app=examples/kr2a600-app.hex

step "Program $app with its boot header over J-Link, and verify"
"${jlink[@]}" "$cli" program --chip KR2A600 --interface JLINK --hex "$app" --verify --loader-dir "$loaders"

step "Program it again over the serial boot ROM, and verify"
"$cli" program --chip KR2A600 --interface UART --port "$port" --hex "$app" --verify --loader-dir "$loaders"

step "Read the flash back and compare it with the image"
"${jlink[@]}" "$cli" read --chip KR2A600 --interface JLINK --address 0 --length 3000 --output "$out/flash.bin" \
    --loader-dir "$loaders"
"$cli" hex2bin "$app" "$out/app-sram.bin" "$out/app-flash.bin" >/dev/null
echo "boot header (security block and the first segment descriptor):"
od -An -tx1 -N48 "$out/flash.bin"
# same FILE OFFSET TEXT: the flash read back holds FILE at OFFSET.
same() {
    if cmp -n "$(stat -c %s "$1")" "$1" "$out/flash.bin" 0 "$2"; then
        echo "$3, byte for byte"
    else
        echo "the flash does not hold $1 at $2" >&2
        exit 1
    fi
}
same "$out/app-sram.bin" 4096 "flash 0x1000: the image's SRAM segments"
same "$out/app-flash.bin" 8192 "flash 0x2000: the image's execute-in-place segment"

step "Erase the whole flash over J-Link and read it back"
"${jlink[@]}" "$cli" erase --chip KR2A600 --interface JLINK --all --loader-dir "$loaders"
"${jlink[@]}" "$cli" read --chip KR2A600 --interface JLINK --address 0 --length 3000 --output "$out/blank.bin" \
    --loader-dir "$loaders"
if cmp -s "$out/blank.bin" <(head -c 12288 /dev/zero | tr '\0' '\377'); then
    echo "flash 0x0000-0x2FFF reads 0xFF: blank"
else
    echo "the flash is not blank after the erase" >&2
    exit 1
fi

step "Start a simulated KR2H70X board"
"$cli" sim --chip KR2H70X --socket "$out/h70x.sock" >"$out/h70x.txt" 2>&1 &
h70x_pid=$!
for _ in $(seq 100); do grep -q "Press Ctrl-C" "$out/h70x.txt" 2>/dev/null && break; sleep 0.1; done
cat "$out/h70x.txt"
usb=(env TAVREL_SIM_SOCKET="$out/h70x.sock")

step "Program the boot image over USB DFU, verify it, and read it back"
"${usb[@]}" "$cli" program --chip KR2H70X --interface USB --bin "$out/boot.bin" --address 0 --verify
"${usb[@]}" "$cli" read --chip KR2H70X --interface USB --address 0 \
    --length "$(printf '%X' "$(stat -c %s "$out/boot.bin")")" --output "$out/boot-readback.bin"
if cmp "$out/boot.bin" "$out/boot-readback.bin"; then
    echo "flash 0x0000: the boot image, byte for byte"
else
    echo "the KR2H70X flash does not hold the boot image" >&2
    exit 1
fi

step "Done: programmed, verified, read back and erased through the simulated boards' J-Link, serial and USB DFU doors"
