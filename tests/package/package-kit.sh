#!/usr/bin/env bash
# package-kit.sh SOURCE BUILD VERSION CPACK: makes the Debian package from the built tree, unpacks it
# into an empty folder and checks it: its contents, its dependencies, lintian's verdict, the
# desktop entries, the manual pages and completions, and that the unpacked tavrel-cli programs and
# reads a simulated board with nothing from the build folder. Exits 77 (skipped) when a tool it
# needs is missing.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$1 build_dir=$2 version=$3 cpack=$4

for tool in "$cpack" dpkg-deb dpkg-shlibdeps lintian desktop-file-validate man gzip; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
check() { local what=$1; shift; if "$@"; then echo "ok: $what"; else fail "$what"; fi; }

echo "== the package"
"$cpack" --config "$build_dir/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/out/tavrel_"$version"_*.deb)
echo "$deb"
check "the README names the package of this version" grep -q "tavrel_${version}_" "$source_dir/README.md"
check "the package's version is the project's" test "$(dpkg-deb -f "$deb" Version)" = "$version"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libstdc++6 libqt6widgets6 libqt6gui6 libusb-1.0-0 libssl3 libtommath1; do
    check "depends on $library (a linked library's package)" grep -q "\b$library\b" <<<"$depends"
done

echo "== lintian"
lintian --tag-display-limit 0 "$deb" >"$work/lintian.txt" 2>&1 || true
cat "$work/lintian.txt"
check "lintian reports no error" bash -c "! grep -q '^E: ' '$work/lintian.txt'"

echo "== the unpacked kit"
root="$work/root"
mkdir "$root"
dpkg-deb -x "$deb" "$root"
kit="$root/usr/lib/tavrel"
for program in tavrel-cli Tavrel KR2H70X_Generate_Bin; do
    check "usr/bin/$program links into the kit folder" test -L "$root/usr/bin/$program" -a -x "$root/usr/bin/$program"
done
check "the links are relative" test "$(readlink "$root/usr/bin/tavrel-cli")" = ../lib/tavrel/tavrel-cli
check "the generator beside the programmer" test -x "$kit/KR2H70X_Generate_Bin/KR2H70X_Generate_Bin"
check "the user guide beside the programmer" test -s "$kit/Tavrel User Guide.pdf"
check "config/ for the vendor's loaders" test -d "$kit/config"
check "the simulated board's J-Link library in sim/" test -f "$kit/sim/libtavrel_sim_jlink.so"
check "the simulated board's 14 loader files" test "$(ls "$kit/sim/config" | wc -l)" = 14
check "the copyright file" test -s "$root/usr/share/doc/tavrel/copyright"
check "no program looks into the build folder (no RPATH)" \
    bash -c "! readelf -d '$kit/tavrel-cli' '$kit/Tavrel' '$kit/KR2H70X_Generate_Bin/KR2H70X_Generate_Bin' '$kit/sim/libtavrel_sim_jlink.so' | grep -q 'R.*PATH'"
check "the unpacked programmer starts (its --help)" env QT_QPA_PLATFORM=offscreen "$root/usr/bin/Tavrel" --help
check "--version says the project's version" test "$("$root/usr/bin/tavrel-cli" --version)" = "tavrel-cli $version"

rule="$root/usr/lib/udev/rules.d/60-tavrel.rules"
check "the udev rule opens the default DFU id to the seat's user" \
    grep -q 'ATTR{idVendor}=="1209", ATTR{idProduct}=="0001", TAG+="uaccess"' "$rule"

for entry in "$root"/usr/share/applications/*.desktop; do
    check "desktop-file-validate $(basename "$entry")" desktop-file-validate "$entry"
    exec=$(sed -n 's/^Exec=//p' "$entry")
    check "$(basename "$entry") starts $exec from usr/bin" test -x "$root/usr/bin/$exec"
    icon=$(sed -n 's/^Icon=//p' "$entry")
    check "the icon $icon in every size" test "$(ls "$root"/usr/share/icons/hicolor/*/apps/"$icon".png | wc -l)" -ge 4
done
check "two desktop entries" test "$(ls "$root"/usr/share/applications/*.desktop | wc -l)" = 2

# A page for the program and each command --help lists, each rendering without a warning.
commands=$("$root/usr/bin/tavrel-cli" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z0-9]*\) .*/\1/p')
check "--help lists the commands" test -n "$commands"
for page in tavrel-cli $(printf 'tavrel-cli-%s ' $commands) Tavrel KR2H70X_Generate_Bin; do
    file="$root/usr/share/man/man1/$page.1.gz"
    if [ ! -f "$file" ]; then fail "no manual page $page"; continue; fi
    warnings=$(MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)
    check "man -l renders $page" test -z "$warnings" -a -n "$(MANWIDTH=80 man -l "$file" 2>/dev/null)"
done
check "the program page names the kit's loader folder" \
    bash -c "MANWIDTH=200 man -l '$root/usr/share/man/man1/tavrel-cli.1.gz' 2>/dev/null | grep -q '/usr/lib/tavrel/config'"
# The options a command's --help lists are the ones its page lists.
for command in $commands; do
    listed=$("$root/usr/bin/tavrel-cli" "$command" --help | grep -o -- '--[a-z0-9-]*' | sort -u)
    paged=$(MANWIDTH=200 man -l "$root/usr/share/man/man1/tavrel-cli-$command.1.gz" 2>/dev/null | grep -o -- '--[a-z0-9-]*' | sort -u)
    missing=$(comm -23 <(echo "$listed") <(echo "$paged") | tr '\n' ' ')
    check "the page of $command lists its options${missing:+ (not: $missing)}" test -z "$missing"
done

completion="$root/usr/share/bash-completion/completions/tavrel-cli"
check "the bash completion registers" \
    bash -c "source '$completion'; complete -p tavrel-cli | grep -q '_tavrel_cli tavrel-cli'"
offered=$(bash -c "source '$completion'; COMP_WORDS=(tavrel-cli program --interface ''); COMP_CWORD=3; _tavrel_cli; echo \${COMPREPLY[*]}")
check "it completes --interface's values" test "$offered" = "JLINK UART USB"
zsh_folder="$root/usr/share/zsh/vendor-completions"
check "the zsh completion" grep -q '^#compdef tavrel-cli' "$zsh_folder/_tavrel-cli"
if command -v zsh >/dev/null; then
    check "zsh completes the commands" zsh -f "$here/zsh-complete.zsh" "$zsh_folder" "tavrel-cli pro" program
    check "zsh completes --interface's values" zsh -f "$here/zsh-complete.zsh" "$zsh_folder" \
        "tavrel-cli program --interface " JLINK UART USB
    check "zsh completes --chip's families" zsh -f "$here/zsh-complete.zsh" "$zsh_folder" \
        "tavrel-cli connect --chip KR2H" KR2H70X
else
    echo "zsh is not installed: its completion is not tried"
fi

echo "== the unpacked tavrel-cli against the unpacked simulated board"
cd "$work"
export TAVREL_WORK_DIR="$work/tavrel-work"
unset TAVREL_JLINK_LIBRARY TAVREL_SIM_SOCKET TAVREL_SIM_CONFIG TAVREL_BUILD_DIR TAVREL_DFU_ID
cli="$root/usr/bin/tavrel-cli"
"$cli" sim --chip KR2A600 --socket "$work/board.sock" >"$work/sim.txt" 2>&1 &
sim_pid=$!
for _ in $(seq 300); do grep -q "Press Ctrl-C" "$work/sim.txt" 2>/dev/null && break; sleep 0.1; done
cat "$work/sim.txt"
check "sim names the kit's J-Link library" grep -q "TAVREL_JLINK_LIBRARY=$kit/sim/libtavrel_sim_jlink.so " "$work/sim.txt"
jlink=(env TAVREL_JLINK_LIBRARY="$kit/sim/libtavrel_sim_jlink.so" TAVREL_SIM_SOCKET="$work/board.sock")
app="$source_dir/examples/kr2a600-app.hex"
check "program over J-Link with the kit's simulated loaders" \
    "${jlink[@]}" "$cli" program --chip KR2A600 --interface JLINK --hex "$app" --verify --loader-dir "$kit/sim/config"
# Loaders in config/ beside the program are found through the link in usr/bin, no --loader-dir.
cp "$kit"/sim/config/* "$kit/config/"
check "read over J-Link with the loaders in config/ beside the program" \
    "${jlink[@]}" "$cli" read --chip KR2A600 --interface JLINK --address 0 --length 3000 --output "$work/flash.bin"
mkdir "$work/no-loaders"
refused=$("${jlink[@]}" "$cli" read --chip KR2A600 --interface JLINK --address 0 --length 10 --dump \
    --loader-dir "$work/no-loaders" 2>&1 || true)
check "--loader-dir wins over config/ beside the program" grep -q "Load file lost" <<<"$refused"
"$cli" hex2bin "$app" "$work/app-sram.bin" "$work/app-flash.bin" >/dev/null
check "the flash holds the image's SRAM segments at 0x1000" \
    cmp -n "$(stat -c %s "$work/app-sram.bin")" "$work/app-sram.bin" "$work/flash.bin" 0 4096
check "the flash holds the image's execute-in-place segment at 0x2000" \
    cmp -n "$(stat -c %s "$work/app-flash.bin")" "$work/app-flash.bin" "$work/flash.bin" 0 8192

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "the package holds a working kit"
