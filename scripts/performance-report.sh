#!/usr/bin/env bash
# Measures tavrel-cli against the line rate and against the tools users would otherwise run, and
# writes the figures, their targets and a plot to docs/PERFORMANCE.md (docs/serial-throughput.png).
# Every ratio compares two runs made here, in this one run of the script. Takes a few minutes.
#   scripts/performance-report.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
bash scripts/install-deps.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=g++ >/dev/null
cmake --build "$build" -j2 --target tavrel-cli tavrel_sim_jlink >/dev/null
cli=$PWD/$build/src/tavrel-cli
jlinkLibrary=$PWD/$build/src/libtavrel_sim_jlink.so

work=$(mktemp -d)
sims=()
cleanup() {
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT

g++ -shared -fPIC -O2 -Wall -Wextra -Werror bench/NoSleep.cpp -o "$work/libnosleep.so"
# Other work on the machine (builds) slows the short runs: said in the report.
loadStart=$(cut -d' ' -f1-3 /proc/loadavg)

say() { printf '%s\n' "$*" >&2; }
# measure NAME CMD...: runs CMD once under /usr/bin/time; NAME.wall, .cpu (user + system, s), .kb
# (peak resident set) go into $work/t. A failing command stops the report.
measure() {
    local name=$1
    shift
    if ! /usr/bin/time -f "%e %U %S %M" -o "$work/time.txt" "$@" >"$work/out.txt" 2>&1; then
        say "failed: $*"
        cat "$work/out.txt" >&2
        exit 1
    fi
    read -r wall user system kb <"$work/time.txt"
    printf '%s.wall %s\n%s.cpu %s\n%s.kb %s\n' "$name" "$wall" "$name" "$(printf '%.2f' "$(echo "$user + $system" | bc -l)")" \
        "$name" "$kb" >>"$work/t"
}
# Short runs are repeated and the shortest wall time counts (the machine may be shared).
rounds=5
# shortest NAME: NAME.wall from NAME.1.wall ... NAME.$rounds.wall.
shortest() {
    printf '%s.wall %s\n' "$1" "$(grep -E "^$1\.[0-9]+\.wall " "$work/t" | awk '{print $2}' | sort -g | head -1)" \
        >>"$work/t"
}
# best NAME CMD...: NAME.wall, the shortest of $rounds runs.
best() {
    local name=$1
    shift
    for round in $(seq "$rounds"); do measure "$name.$round" "$@"; done
    shortest "$name"
}
get() { awk -v k="$1" '$1 == k {v = $2} END {print v}' "$work/t"; }
calc() { echo "$*" | bc -l; }
fmt() { printf "%.${2:-2}f" "$1"; }

# A board process; prints its printout's file. start_board NAME OPTIONS...
start_board() {
    local name=$1
    shift
    "$cli" sim --socket "$work/$name.sock" "$@" >"$work/$name.txt" 2>&1 &
    sims+=($!)
    for _ in $(seq 100); do grep -q "Press Ctrl-C" "$work/$name.txt" 2>/dev/null && break; sleep 0.1; done
    grep -q "Press Ctrl-C" "$work/$name.txt" || { cat "$work/$name.txt" >&2; exit 1; }
}

# ---- Intel HEX to binary, 32 MiB contiguous
say "hex2bin against objcopy (32 MiB)"
head -c $((32 << 20)) /dev/urandom >"$work/image32.bin"
objcopy -I binary -O ihex "$work/image32.bin" "$work/image32.hex"
rm "$work/image32.bin"
for round in $(seq "$rounds"); do
    measure "objcopy.$round" objcopy -I ihex -O binary "$work/image32.hex" "$work/objcopy.bin"
    measure "hex2bin.$round" "$cli" hex2bin "$work/image32.hex" "$work/hex2bin.bin"
done
shortest objcopy
shortest hex2bin
cmp -s "$work/objcopy.bin" "$work/hex2bin.bin" || { say "hex2bin and objcopy disagree"; exit 1; }
rm "$work/image32.hex" "$work/objcopy.bin" "$work/hex2bin.bin"

# ---- Boot image generation, 16 MiB - 1 KiB, encrypted and signed
say "generate against openssl (16 MiB - 1 KiB)"
head -c $(((16 << 20) - 1024)) /dev/urandom >"$work/source.bin"
"$cli" keygen --public-key "$work/public.der" --private-key "$work/private.der" >/dev/null
key=$(od -An -tx1 -N32 /dev/urandom | tr -d ' \n')
iv=00000000000000000000000000000000
for round in $(seq "$rounds"); do
    measure "generate.$round" "$cli" generate --bin "$work/source.bin" --dest 00100000 --entry 00100101 \
        --output "$work/boot.bin" --force --key "$key" --nonce 000102030405060708090a0b \
        --public-key "$work/public.der" --private-key "$work/private.der"
    measure "sha256.$round" openssl dgst -sha256 -out /dev/null "$work/source.bin"
    measure "ctr.$round" openssl enc -aes-256-ctr -K "$key" -iv "$iv" -in "$work/source.bin" -out /dev/null
    measure "cbc.$round" openssl enc -aes-256-cbc -K "$key" -iv "$iv" -in "$work/source.bin" -out /dev/null
done
for name in generate sha256 ctr cbc; do shortest "$name"; done
printf 'openssl.wall %.2f\n' "$(calc "$(get sha256.wall) + $(get ctr.wall) + $(get cbc.wall)")" >>"$work/t"
rm "$work/source.bin" "$work/boot.bin"

# ---- Serial route, paced line: KR2A600, 64 KiB program with verify, 64 KiB read
say "serial programming on a paced line"
start_board serial --chip KR2A600 --paced-serial
port=$(sed -n 's/^Serial door: \([^ ]*\).*/\1/p' "$work/serial.txt")
loaders=$(sed -n 's/^  loader files: //p' "$work/serial.txt")
head -c 65536 /dev/urandom >"$work/app64.bin"
bauds=(57600 115200 230400 300000)
for baud in "${bauds[@]}"; do
    uart=(--chip KR2A600 --interface UART --port "$port" --baud "$baud" --loader-dir "$loaders")
    measure "connect.$baud" "$cli" connect "${uart[@]}"
    measure "program.$baud" "$cli" program "${uart[@]}" --bin "$work/app64.bin" --address 0 --verify
    measure "read.$baud" "$cli" read "${uart[@]}" --address 0 --length 10000 --output "$work/read.bin"
    cmp -s "$work/read.bin" "$work/app64.bin" || { say "the flash read back at $baud baud is not the image"; exit 1; }
done

# ---- J-Link and DFU: with the host's waits, and with every sleep removed (protocol cost only)
say "J-Link and DFU, with and without the host's waits"
start_board h70x --chip KR2H70X --flash-type Other
h70xLoaders=$(sed -n 's/^  loader files: //p' "$work/h70x.txt")
head -c $((512 << 10)) /dev/urandom >"$work/image512.bin"
jlink=(env TAVREL_JLINK_LIBRARY="$jlinkLibrary" TAVREL_SIM_SOCKET="$work/serial.sock")
usb=(env TAVREL_SIM_SOCKET="$work/h70x.sock")
jlinkProgram=("$cli" program --chip KR2A600 --interface JLINK --bin "$work/image512.bin" --address 0 --verify
    --loader-dir "$loaders")
usbProgram=("$cli" program --chip KR2H70X --interface USB --bin "$work/image512.bin" --address 0 --verify)
best jlink "${jlink[@]}" "${jlinkProgram[@]}"
best jlink-nowait "${jlink[@]}" LD_PRELOAD="$work/libnosleep.so" "${jlinkProgram[@]}"
best usb "${usb[@]}" "${usbProgram[@]}"
best usb-nowait "${usb[@]}" LD_PRELOAD="$work/libnosleep.so" "${usbProgram[@]}"

# ---- Writing only what changes, on boards whose flash takes a serial NOR part's times (--paced-flash)
say "blank chunks over UART, unchanged sectors over J-Link, DFU erase on a timed flash"
start_board timed --chip KR2A600 --paced-serial --paced-flash
timedPort=$(sed -n 's/^Serial door: \([^ ]*\).*/\1/p' "$work/timed.txt")
timedLoaders=$(sed -n 's/^  loader files: //p' "$work/timed.txt")
# 1 MiB, three quarters 0xFF: the first 256 KiB random, the rest blank (an image padded to the flash).
head -c $((256 << 10)) /dev/urandom >"$work/sparse.bin"
head -c $((768 << 10)) /dev/zero | tr '\0' '\377' >>"$work/sparse.bin"
sparseUart=(--chip KR2A600 --interface UART --port "$timedPort" --baud 115200 --loader-dir "$timedLoaders")
measure sparse.connect "$cli" connect "${sparseUart[@]}"
measure sparse.program "$cli" program "${sparseUart[@]}" --bin "$work/sparse.bin" --address 0
# Where data ends and blank begins (8 KiB at 0x3F000), read back and compared with the image.
"$cli" read "${sparseUart[@]}" --address 3F000 --length 2000 --output "$work/sparse-read.bin" >/dev/null 2>&1
cmp -s "$work/sparse-read.bin" <(dd if="$work/sparse.bin" bs=4096 skip=63 count=2 status=none) ||
    { say "the flash read back over UART is not the image"; exit 1; }
# The same unchanged 1 MiB image programmed again over J-Link, with and without --skip-unchanged.
head -c $((1 << 20)) /dev/urandom >"$work/image1m.bin"
timedJlink=(env TAVREL_JLINK_LIBRARY="$jlinkLibrary" TAVREL_SIM_SOCKET="$work/timed.sock" "$cli" program --chip KR2A600
    --interface JLINK --bin "$work/image1m.bin" --address 0 --verify --loader-dir "$timedLoaders")
measure unchanged.first "${timedJlink[@]}"
best unchanged.rewrite "${timedJlink[@]}"
best unchanged.skip "${timedJlink[@]}" --skip-unchanged
grep -q "256 of 256 sectors already held the image; 0 erased and written" "$work/out.txt" ||
    { cat "$work/out.txt" >&2; say "--skip-unchanged did not find every sector unchanged"; exit 1; }
# DFU erase-all of a timed 1 MiB part (W25Q80BV): the device asks to be polled when the part is done.
start_board dfu --chip KR2H70X --paced-flash
dfu=(env TAVREL_SIM_SOCKET="$work/dfu.sock" "$cli")
best dfu.connect "${dfu[@]}" connect --chip KR2H70X --interface USB
best dfu.erase "${dfu[@]}" erase --chip KR2H70X --interface USB --all
chipEraseSeconds=2.5

# ---- Peak memory of program: 64 KiB and 16 MiB images (J-Link, KR2H70X with a 16 MiB flash)
say "peak memory of program"
head -c $((16 << 20)) /dev/urandom >"$work/image16m.bin"
for image in app64.bin image16m.bin; do
    measure "memory.$image" env TAVREL_JLINK_LIBRARY="$jlinkLibrary" TAVREL_SIM_SOCKET="$work/h70x.sock" "$cli" program --chip KR2H70X --interface JLINK --flash-type Other \
        --bin "$work/$image" --address 0 --loader-dir "$h70xLoaders"
done

# ---- The report
say "writing docs/PERFORMANCE.md"
mkdir -p docs
payload=65536
row() { printf '| %s | %s | %s | %s |\n' "$1" "$2" "$3" "$4"; }
verdict() { if [ "$(calc "$1")" = 1 ]; then echo "met"; else echo "**not met**"; fi; }
{
    for baud in "${bauds[@]}"; do
        line=$(calc "$baud / 10")
        connect=$(get "connect.$baud.wall")
        program=$(get "program.$baud.wall")
        read=$(get "read.$baud.wall")
        echo "$line $(calc "2 * $payload / ($program - $connect)") $(calc "$payload / ($read - $connect)") \
$(calc "2 * $payload / $program") $(calc "$payload / $read")"
    done
} >"$work/serial.dat"
gnuplot <<EOF
set terminal pngcairo size 800,500 font ",10"
set output "docs/serial-throughput.png"
set title "Serial route (KR2A600, paced line): payload against line rate"
set xlabel "line rate (baud / 10), bytes/s"
set ylabel "payload, bytes/s"
set key top left
set grid
set xrange [0:32000]
set yrange [0:32000]
plot x title "line rate" with lines dashtype 2 lc rgb "gray", \
     0.9 * x title "90 % target" with lines dashtype 3 lc rgb "red", \
     "$work/serial.dat" using 1:2 title "program + verify, transfer" with linespoints pt 7, \
     "$work/serial.dat" using 1:3 title "read, transfer" with linespoints pt 5, \
     "$work/serial.dat" using 1:4 title "program + verify, whole command" with linespoints pt 6, \
     "$work/serial.dat" using 1:5 title "read, whole command" with linespoints pt 4
EOF

hexRatio=$(calc "$(get objcopy.wall) / $(get hex2bin.wall)")
genRatio=$(calc "$(get generate.wall) / $(get openssl.wall)")
cpu115=$(calc "100 * $(get program.115200.cpu) / $(get program.115200.wall)")
cpu300=$(calc "100 * $(get program.300000.cpu) / $(get program.300000.wall)")
mem64=$(get memory.app64.bin.kb)
mem16=$(get memory.image16m.bin.kb)
{
    echo "# Performance"
    echo
    echo "Written by \`scripts/performance-report.sh\` from one run; every ratio compares two runs of that run."
    echo
    echo "- Machine: $(uname -srm), $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git rev-parse --short HEAD)"
    buildType=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt")
    [ -n "$buildType" ] || buildType="RelWithDebInfo (the default)"
    echo "- Build: $buildType, g++ $(g++ -dumpfullversion); load average at the start: $loadStart, at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "- Boards: \`tavrel-cli sim\` processes; the serial door paces its line (\`--paced-serial\`: 10 bit times a"
    echo "  byte at the host's rate, both ways). Short runs take the best of $rounds."
    echo
    echo "## Summary"
    echo
    echo "| figure | measured | target | |"
    echo "|---|---|---|---|"
    row "hex2bin, 32 MiB contiguous HEX: objcopy's time / ours" "$(fmt "$hexRatio") x ($(get hex2bin.wall) s against $(get objcopy.wall) s)" "at least 1 x" "$(verdict "$hexRatio >= 1")"
    row "generate, 16 MiB - 1 KiB, encrypted and signed: ours / openssl's crypto" "$(fmt "$genRatio") x ($(get generate.wall) s against $(get openssl.wall) s)" "at most 1.5 x" "$(verdict "$genRatio <= 1.5")"
    for baud in "${bauds[@]}"; do
        line=$(calc "$baud / 10")
        program=$(awk -v b="$line" '$1 == b {print $2}' "$work/serial.dat")
        read=$(awk -v b="$line" '$1 == b {print $3}' "$work/serial.dat")
        row "serial $baud baud, program + verify, transfer: payload / line rate" "$(fmt "$(calc "100 * $program / $line")" 1) % ($(fmt "$program" 0) B/s)" "at least 90 %" "$(verdict "$program >= 0.9 * $line")"
        row "serial $baud baud, read, transfer: payload / line rate" "$(fmt "$(calc "100 * $read / $line")" 1) % ($(fmt "$read" 0) B/s)" "at least 90 %" "$(verdict "$read >= 0.9 * $line")"
    done
    for route in jlink usb; do
        routeName=$([ $route = jlink ] && echo "J-Link (KR2A600)" || echo "USB DFU (KR2H70X)")
        row "$routeName, 512 KiB program + verify: payload as shipped / with the host's sleeps removed" "$(fmt "$(calc "$(get "$route-nowait.wall") / $(get "$route.wall")")") ($(get "$route.wall") s against $(get "$route-nowait.wall") s)" "none set: what is left is protocol cost" "$([ $route = jlink ] && echo "no host wait to remove" || echo "the 1 s poll time-out the device asks after its erase (below)")"
    done
    sparseRate=$(calc "1048576 / ($(get sparse.program.wall) - $(get sparse.connect.wall))")
    row "serial 115200 baud, 1 MiB image three quarters 0xFF, program, transfer: payload / line rate" "$(fmt "$(calc "100 * $sparseRate / 11520")" 1) % ($(fmt "$sparseRate" 0) B/s)" "above 100 % (blank chunks not sent)" "$(verdict "$sparseRate > 11520")"
    row "J-Link (KR2A600, timed flash), unchanged 1 MiB image programmed again with verify: --skip-unchanged / without" "$(fmt "$(calc "$(get unchanged.skip.wall) / $(get unchanged.rewrite.wall)")" 3) ($(get unchanged.skip.wall) s against $(get unchanged.rewrite.wall) s)" "below 1" "$(verdict "$(get unchanged.skip.wall) < $(get unchanged.rewrite.wall)")"
    dfuErase=$(calc "$(get dfu.erase.wall) - $(get dfu.connect.wall)")
    row "USB DFU (KR2H70X, timed 1 MiB part), erase all: erase / the part's chip erase" "$(fmt "$(calc "$dfuErase / $chipEraseSeconds")") ($(fmt "$dfuErase") s against $chipEraseSeconds s)" "under 1.2 (the device's poll time-out, no one-second grid)" "$(verdict "$dfuErase < 1.2 * $chipEraseSeconds")"
    row "host CPU during a paced serial program + verify (115200 / 300000 baud)" "$(fmt "$cpu115" 1) % / $(fmt "$cpu300" 1) % of one core" "under 5 %" "$(verdict "$cpu115 < 5 && $cpu300 < 5")"
    row "peak memory of program, 64 KiB / 16 MiB image" "$mem64 KiB / $mem16 KiB (difference $((mem16 - mem64)) KiB)" "flat (difference well under 16 MiB)" "$(verdict "$mem16 - $mem64 < 1024")"
    echo
    echo "## Intel HEX to binary"
    echo
    echo "A 32 MiB random image as a contiguous Intel HEX file (\`objcopy -I binary -O ihex\`, 16-byte records),"
    echo "converted by \`tavrel-cli hex2bin\` and by \`objcopy -I ihex -O binary\`; the outputs are compared byte for byte."
    echo
    echo "| program | wall time (best of $rounds) | CPU (first run) | peak memory |"
    echo "|---|---|---|---|"
    echo "| tavrel-cli hex2bin | $(get hex2bin.wall) s | $(get hex2bin.1.cpu) s | $(get hex2bin.1.kb) KiB |"
    echo "| objcopy | $(get objcopy.wall) s | $(get objcopy.1.cpu) s | $(get objcopy.1.kb) KiB |"
    echo
    echo "## Boot image generation"
    echo
    echo "\`tavrel-cli generate\` of a 16 MiB - 1 KiB binary, AES-256-CCM encrypted and RSA-2048/SHA-256 signed, written"
    echo "to disk (the output is synced before it replaces the destination), against what \`openssl\` itself needs to hash"
    echo "and encrypt the same bytes: SHA-256, AES-256-CTR and AES-256-CBC (CCM is CTR plus a CBC-MAC), each a run of"
    echo "its own that reads the file."
    echo
    echo "| run | wall time (best of $rounds) |"
    echo "|---|---|"
    echo "| tavrel-cli generate | $(get generate.wall) s |"
    echo "| openssl dgst -sha256 | $(get sha256.wall) s |"
    echo "| openssl enc -aes-256-ctr | $(get ctr.wall) s |"
    echo "| openssl enc -aes-256-cbc | $(get cbc.wall) s |"
    echo "| openssl, the three together | $(get openssl.wall) s |"
    echo
    echo "## Serial route on a paced line"
    echo
    echo "KR2A600 over its serial boot ROM: \`connect\` (the ROM takes the UART loader, which starts and answers),"
    echo "\`program --verify\` of a 64 KiB image (128 KiB of payload: written, then read back) and \`read\` of 64 KiB."
    echo "The whole command includes the bring-up; the transfer is the command minus the \`connect\` time of the same"
    echo "rate. The line rate is baud / 10 bytes per second."
    echo
    echo "| baud | line rate | connect | program + verify | transfer | whole command | read | transfer | whole command | host CPU (program) |"
    echo "|---|---|---|---|---|---|---|---|---|---|"
    for baud in "${bauds[@]}"; do
        line=$(calc "$baud / 10")
        read -r _ pt rt pw rw < <(awk -v b="$line" '$1 == b' "$work/serial.dat")
        echo "| $baud | $(fmt "$line" 0) B/s | $(get "connect.$baud.wall") s | $(get "program.$baud.wall") s | $(fmt "$(calc "100 * $pt / $line")" 1) % | $(fmt "$(calc "100 * $pw / $line")" 1) % | $(get "read.$baud.wall") s | $(fmt "$(calc "100 * $rt / $line")" 1) % | $(fmt "$(calc "100 * $rw / $line")" 1) % | $(get "program.$baud.cpu") s |"
    done
    echo
    echo "![Serial throughput against line rate](serial-throughput.png)"
    echo
    echo "What the line cannot carry as payload is the protocol's: each 1 KiB write or read is one loader packet"
    echo "(7 bytes of code, length and CRC) answered by a status or data reply before the next is sent, so every"
    echo "packet also costs the reply and one turn-around of the line (the board's and the host's reaction). The"
    echo "bring-up is the boot ROM's and does not shrink with the rate: the handshake waits 140 ms after its 0x55"
    echo "before counting the ROM's answer, the simulated ROM sends its state byte 300 ms after the handshake (its"
    echo "configured delay), then it pulls the UART loader with requests of its own sizes and starts it. That fixed"
    echo "part is why the whole-command figures fall below 90 % at the higher rates for a 64 KiB image: it is the"
    pt300=$(awk '$1 == 30000 {print $2}' "$work/serial.dat")
    whole1m=$(calc "100 * (2 * 1048576 / (2 * 1048576 / $pt300 + $(get connect.300000.wall))) / 30000")
    echo "difference between the whole-command and the transfer columns, and weighs less as images grow (at"
    echo "300000 baud, these figures give a 1 MiB image $(fmt "$whole1m" 1) % of the line rate through the whole"
    echo "program + verify command)."
    echo
    echo "## J-Link and USB DFU"
    echo
    echo "\`program --verify\` of a 512 KiB image through a board process's J-Link door (KR2A600) and DFU device"
    echo "(KR2H70X with a 16 MiB flash), as shipped and with every sleep of the host removed (\`bench/NoSleep.cpp\` preloaded:"
    echo "\`nanosleep\`, \`clock_nanosleep\` and \`usleep\` return at once). What remains is the protocol's cost."
    echo
    echo "| route | as shipped | no host sleeps | payload, as shipped | payload, no sleeps | no sleeps / as shipped (time) |"
    echo "|---|---|---|---|---|---|"
    for route in jlink usb; do
        with=$(get "$route.wall")
        without=$(get "$route-nowait.wall")
        echo "| $([ $route = jlink ] && echo J-Link || echo USB DFU) | $with s | $without s | $(fmt "$(calc "2 * 524288 / $with / 1024")" 0) KiB/s | $(fmt "$(calc "2 * 524288 / $without / 1024")" 0) KiB/s | $(fmt "$(calc "$without / $with")") |"
    done
    echo
    echo "J-Link: the host samples the mailbox flag with a 1 ms sleep between reads; the simulated loader has its"
    echo "reply ready by the first sample or soon after, so the sleeps cost next to nothing (the two times differ by"
    echo "the machine's noise); each 8 KiB chunk is one command and one reply through the mailbox. USB DFU: this"
    echo "board's flash is not timed, and its device answers the first status request after erasing all flash with"
    echo "busy and a poll time-out of one second; the host honours it, and that second is nearly all of the"
    echo "difference (on a timed flash the device asks for the part's own time instead, below). Writing and reading"
    echo "have no sleeps: each 2 KiB block takes its mode, address and data requests, each checked by a status request."
    echo
    echo "## Writing only what changes, on a timed flash"
    echo
    echo "Boards started with \`--paced-flash\`: the flash takes a serial NOR part's typical times (W25Q-series"
    echo "datasheet: 0.7 ms a 256-byte page program, 45 ms a 4 KiB sector erase, 150 ms a 64 KiB block erase, 2.5 s a"
    echo "MiB for the whole part); the serial door paces its line at the rate the host set (\`--paced-serial\`)."
    echo
    echo "| run | connect | whole command | transfer | payload / line rate |"
    echo "|---|---|---|---|---|"
    sparseTransfer=$(calc "$(get sparse.program.wall) - $(get sparse.connect.wall)")
    echo "| UART 115200 baud (11520 B/s), KR2A600, program of a 1 MiB image three quarters 0xFF | $(get sparse.connect.wall) s | $(get sparse.program.wall) s | $(fmt "$sparseTransfer") s | $(fmt "$(calc "100 * 1048576 / $sparseTransfer / 11520")" 1) % (whole command $(fmt "$(calc "100 * 1048576 / $(get sparse.program.wall) / 11520")" 1) %) |"
    echo
    echo "The image is 256 KiB of random data followed by 768 KiB of 0xFF, as an image padded to the flash's size."
    echo "The page erases the flash first; a 1 KiB chunk that is all 0xFF inside what the run has just erased is not"
    echo "sent (the flash already holds it) and counts as done, so only the data quarter crosses the line: 1 MiB of"
    echo "image in the time of 256 KiB of packets plus the erase. Where data ends and blank begins is read back and"
    echo "compared with the image."
    echo
    echo "| J-Link, KR2A600, the same 1 MiB image programmed again, with verify | wall time (best of $rounds) |"
    echo "|---|---|"
    echo "| first programming (the flash blank before) | $(get unchanged.first.wall) s |"
    echo "| again, as usual: erase, write, verify | $(get unchanged.rewrite.wall) s |"
    echo "| again, \`--skip-unchanged\` | $(get unchanged.skip.wall) s |"
    echo
    echo "Without the option the run erases the part and writes its 4096 pages again (about 2.5 s + 2.9 s of the"
    echo "part's own time); with it, the 256 sectors the image covers are read first (reading over the mailbox is"
    echo "fast), all of them already hold the image, so nothing is erased or written; the verify reads it once more."
    echo
    echo "| USB DFU, KR2H70X, timed W25Q80BV (1 MiB) | wall time (best of $rounds) |"
    echo "|---|---|"
    echo "| connect (open, detach, device information) | $(get dfu.connect.wall) s |"
    echo "| erase --all | $(get dfu.erase.wall) s |"
    echo "| erase alone (the difference) | $(fmt "$dfuErase") s, the part's chip erase $chipEraseSeconds s |"
    echo
    echo "The device takes the erase request at once and answers each status request with busy and, as its poll"
    echo "time-out, the time the part still needs; the host waits exactly that long before it asks again, so the"
    echo "erase ends when the part is done. Polled on a fixed one-second grid, as before, the same erase would"
    echo "end at the first poll after the part's $chipEraseSeconds s, at 3 s."
    echo
    echo "## Peak memory of program"
    echo
    echo "\`program\` (no verify) over J-Link to a KR2H70X with a 16 MiB flash, a 64 KiB and a 16 MiB image."
    echo
    echo "| image | peak resident set | wall time |"
    echo "|---|---|---|"
    echo "| 64 KiB | $mem64 KiB | $(get memory.app64.bin.wall) s |"
    echo "| 16 MiB | $mem16 KiB | $(get memory.image16m.bin.wall) s |"
    echo
    echo "The image is handed to the link a chunk at a time from the file, so memory does not grow with it."
} >docs/PERFORMANCE.md
say "done: docs/PERFORMANCE.md, docs/serial-throughput.png"
