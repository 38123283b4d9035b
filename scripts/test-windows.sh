#!/usr/bin/env bash
# The core and pelnora-cli built for Windows (mingw-w64, static) and run under Wine against the
# simulator: the simulator's pseudo-terminal is the prefix's COM5, and every answer and file of
# the Windows CLI is compared with the Linux CLI's from the same simulator.
#   BUILD_DIR (default build/): the Linux build that gives pelnora-sim and pelnora-cli.
#   WIN_BUILD_DIR (default build-win/): the cross build, TinyXML's source and the Wine prefix.
#   --measure: also time the 65535-point track over the Wine COM port beside the Linux CLI.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
measure=0
[ "${1:-}" = "--measure" ] && measure=1

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
need=()
for p in g++-mingw-w64-x86-64 wine64 wine dpkg-dev build-essential cmake ninja-build googletest \
         libtinyxml-dev libcli11-dev nlohmann-json3-dev; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq -o DPkg::Lock::Timeout=600 --no-install-recommends "${need[@]}" ||
        { echo "test-windows: could not install ${need[*]}" >&2; exit 1; }
fi

BUILD_DIR=${BUILD_DIR:-build}
WIN_BUILD_DIR=${WIN_BUILD_DIR:-build-win}
mkdir -p "$WIN_BUILD_DIR"
win_dir=$(cd "$WIN_BUILD_DIR" && pwd)

# TinyXML from Debian's source package (its patches applied), fetched through apt with a private
# source list, so the machine's own apt configuration stays as it is.
tinyxml="$win_dir/tinyxml-src/tinyxml"
if [ ! -f "$tinyxml/tinyxml.cpp" ]; then
    apt_dir="$win_dir/apt"
    mkdir -p "$apt_dir/lists/partial" "$win_dir/tinyxml-src"
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
    printf 'deb-src http://deb.debian.org/debian %s main\ndeb-src http://deb.debian.org/debian-security %s-security main\n' \
        "$codename" "$codename" >"$apt_dir/sources.list"
    apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
              -o "Dir::State::Lists=$apt_dir/lists" -o Debug::NoDropPrivs=1)
    if ! apt-get "${apt_opts[@]}" update -qq ||
       ! (cd "$win_dir/tinyxml-src" && apt-get "${apt_opts[@]}" source --download-only -qq tinyxml) ||
       ! (cd "$win_dir/tinyxml-src" && rm -rf tinyxml && dpkg-source -q -x tinyxml_*.dsc tinyxml >/dev/null); then
        echo "test-windows: could not get TinyXML's Debian source package" >&2
        exit 1
    fi
fi

echo "== Cross build ($WIN_BUILD_DIR)"
cmake -S . -B "$WIN_BUILD_DIR" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELNORA_WERROR=ON -DPELNORA_TINYXML_SOURCE="$tinyxml" \
    >/dev/null || exit 1
cmake --build "$WIN_BUILD_DIR" -j"$(nproc)" --target pelnora-cli pelnora_windows_tests || exit 1
echo "== Linux build ($BUILD_DIR)"
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELNORA_GUI=OFF \
        -DPELNORA_TESTS=OFF -DPELNORA_BENCH=OFF >/dev/null || exit 1
fi
cmake --build "$BUILD_DIR" -j"$(nproc)" --target pelnora-sim pelnora-cli || exit 1

sim_bin="$root/$BUILD_DIR/sim/pelnora-sim"
linux_cli="$root/$BUILD_DIR/cli/pelnora-cli"
win_cli="$win_dir/cli/pelnora-cli.exe"
work="$win_dir/e2e"
rm -rf "$work"
mkdir -p "$work/lin" "$work/win"

export WINEPREFIX="$win_dir/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
echo "== Fresh Wine prefix"
rm -rf "$WINEPREFIX"
wineboot -i >/dev/null 2>&1
wineserver -w

sim_pid=
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null
        wait "$sim_pid" 2>/dev/null
    fi
    sim_pid=
}
trap 'cleanup; wineserver -k 2>/dev/null' EXIT

# Starts the simulator with the given options; its pty becomes the prefix's COM5.
start_sim() {
    cleanup
    "$sim_bin" "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    port=
    for _ in $(seq 1 100); do
        port=$(head -n 1 "$work/sim.out" 2>/dev/null)
        [ -n "$port" ] && break
        sleep 0.05
    done
    [ -n "$port" ] || { echo "test-windows: the simulator did not start" >&2; exit 1; }
    ln -sfn "$port" "$WINEPREFIX/dosdevices/com5"
}

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1"; [ -n "${2:-}" ] && echo "$2" | sed 's/^/     /'; }

# Runs the Windows CLI in win/ and the Linux CLI in lin/ with the same arguments.
win() { (cd "$work/win" && timeout 120 wine "$win_cli" --port COM5 "$@"); }
lin() { (cd "$work/lin" && timeout 120 "$linux_cli" --port "$port" "$@"); }

# same NAME ARGS...: both CLIs exit alike and print the same standard output (the Windows
# console's text mode ends lines with CR LF).
same() {
    local name=$1
    shift
    win "$@" 2>"$work/win.err" | tr -d '\r' >"$work/win.out"
    local win_rc=${PIPESTATUS[0]}
    lin "$@" >"$work/lin.out" 2>"$work/lin.err"
    local lin_rc=$?
    if [ "$win_rc" -ne "$lin_rc" ]; then
        fail "$name" "exit $win_rc on Windows, $lin_rc on Linux: $(head -c 300 "$work/win.err")"
    elif ! cmp -s "$work/win.out" "$work/lin.out"; then
        fail "$name" "$(diff "$work/win.out" "$work/lin.out" | head -5)"
    else
        pass "$name (exit $win_rc)"
    fi
}

# same_file NAME FILE ARGS...: both exit 0 and write byte-identical FILE.
same_file() {
    local name=$1 file=$2
    shift 2
    rm -f "$work/win/$file" "$work/lin/$file"
    win "$@" >/dev/null 2>"$work/win.err"
    local win_rc=$?
    lin "$@" >/dev/null 2>"$work/lin.err"
    local lin_rc=$?
    if [ "$win_rc" -ne 0 ] || [ "$lin_rc" -ne 0 ]; then
        fail "$name" "exit $win_rc on Windows, $lin_rc on Linux: $(head -c 300 "$work/win.err")"
    elif [ ! -s "$work/win/$file" ] || ! cmp -s "$work/win/$file" "$work/lin/$file"; then
        fail "$name" "$(cmp "$work/win/$file" "$work/lin/$file" 2>&1)"
    else
        pass "$name ($(stat -c %s "$work/win/$file") bytes, identical)"
    fi
}

echo "== End-to-end against the simulator on COM5"
win_version=$(wine "$win_cli" --version 2>/dev/null | tr -d '\r')
lin_version=$("$linux_cli" --version 2>/dev/null)
if [ -n "$win_version" ] && [ "$win_version" = "$lin_version" ]; then
    pass "--version ($win_version)"
else
    fail "--version" "Windows \"$win_version\", Linux \"$lin_version\""
fi
start_sim --demo
same "query" query
same "utc" utc 3 30
same "interval" interval 5
same "table" table
# Local time: the same zone on both sides (POSIX rule and the Windows C runtime read it alike).
TZ=MSK-3 same_file "download of all tracks" tracks.kml download --all --output tracks.kml
TZ=MSK-3 same_file "marks" marks.kml marks --output marks.kml
cp "$root/examples/moscow-route.kml" "$work/win/route.kml"
cp "$root/examples/moscow-route.kml" "$work/lin/route.kml"
same "route" route route.kml
sleep 0.5  # the device takes a quiet line as the end of a route: no command straight after it
# A folder as the route: refused with the same message, nothing sent.
mkdir -p "$work/win/folder.kml" "$work/lin/folder.kml"
win route folder.kml >/dev/null 2>"$work/win.err"
win_rc=$?
lin route folder.kml >/dev/null 2>"$work/lin.err"
lin_rc=$?
if [ "$win_rc" -eq 1 ] && [ "$lin_rc" -eq 1 ] && [ "$(tr -d '\r' <"$work/win.err")" = "$(cat "$work/lin.err")" ]; then
    pass "route of a folder refused ($(head -n 1 "$work/lin.err"))"
else
    fail "route of a folder refused" "exit $win_rc on Windows, $lin_rc on Linux: $(cat "$work/win.err")"
fi
same "clear" clear --yes
same "table after clear" table

# A track whose checksum does not match is dropped: the others are written, exit 3 as on Linux.
start_sim --demo --bad-checksum 1
TZ=MSK-3 lin download --all --drop-bad --output partial.kml >/dev/null 2>"$work/lin.err"
lin_rc=$?
start_sim --demo --bad-checksum 1
TZ=MSK-3 win download --all --drop-bad --output partial.kml >/dev/null 2>"$work/win.err"
win_rc=$?
if [ "$win_rc" -eq 3 ] && [ "$lin_rc" -eq 3 ] && cmp -s "$work/win/partial.kml" "$work/lin/partial.kml"; then
    pass "download with a checksum failure (exit 3, $(stat -c %s "$work/win/partial.kml") bytes, identical)"
else
    fail "download with a checksum failure" "exit $win_rc on Windows, $lin_rc on Linux: $(tr '\r' '\n' <"$work/win.err" | grep -av "^Получение" | grep -a . | head -n 2)"
fi

# A slow line: at 110 baud a 32-byte record takes 2.9 s, longer than the read time-out, so
# each read's whole time-out must grow by the line time of the bytes it asks for.
start_sim --empty --big-track 3
lin download --all --output slow.kml >/dev/null 2>&1
start_sim --empty --big-track 3 --baud 110
start=$(date +%s%N)
win --baud 110 download --all --output slow.kml >"$work/win.out" 2>"$work/win.err"
rc=$?
ms=$((($(date +%s%N) - start) / 1000000))
if [ "$rc" -eq 0 ] && cmp -s "$work/win/slow.kml" "$work/lin/slow.kml"; then
    pass "3-point track at 110 baud ($ms ms, identical)"
else
    fail "3-point track at 110 baud" "exit $rc after $ms ms: $(tr '\r' '\n' <"$work/win.err" | grep -a . | tail -n 2)"
fi

# A device that does not answer: the time-out record ends the read; no hang.
start_sim --demo --silent 33
start=$(date +%s%N)
win query >"$work/win.out" 2>"$work/win.err"
rc=$?
ms=$((($(date +%s%N) - start) / 1000000))
if [ "$rc" -eq 1 ] && grep -q "Прибор не отвечает" "$work/win.err" "$work/win.out"; then
    pass "silent device (exit 1 after $ms ms)"
else
    fail "silent device" "exit $rc: $(cat "$work/win.err" "$work/win.out")"
fi

# A port that does not exist: the system's text for "file not found" (code 2).
cleanup
rm -f "$WINEPREFIX/dosdevices/com9"
(cd "$work/win" && timeout 60 wine "$win_cli" --port COM9 query) >"$work/win.out" 2>"$work/win.err"
rc=$?
if [ "$rc" -eq 1 ] && grep -Eqi "file not found|cannot find the file" "$work/win.err"; then
    pass "missing port: $(head -n 1 "$work/win.err" | tr -d '\r')"
else
    fail "missing port" "exit $rc: $(cat "$work/win.err")"
fi

# The device hangs up in the middle of a download: an error, not silence, and the file that
# was there stays as it was.
start_sim --demo --hangup-after 3000
echo "old" >"$work/win/kept.kml"
start=$(date +%s%N)
win download --all --drop-bad --output kept.kml >"$work/win.out" 2>"$work/win.err"
rc=$?
ms=$((($(date +%s%N) - start) / 1000000))
if [ "$rc" -eq 1 ] && [ "$(cat "$work/win/kept.kml")" = "old" ] && [ "$ms" -lt 30000 ]; then
    pass "hang-up (exit 1 after $ms ms: $(tr '\r' '\n' <"$work/win.err" | grep -av "^Получение" | grep -a . | head -n 1); old file kept)"
else
    fail "hang-up" "exit $rc after $ms ms: $(tail -n 3 "$work/win.err")"
fi
cleanup

echo "== Windows unit tests under Wine (the port cases against the simulator on COM5)"
start_sim --demo
if (cd "$work" && PELNORA_TEST_COM=COM5 timeout 300 wine \
        "$win_dir/tests/windows/pelnora_windows_tests.exe" --gtest_brief=1) >"$work/unit.out" 2>&1; then
    pass "unit tests ($(grep -Eo '[0-9]+ tests?' "$work/unit.out" | tail -n 1))"
else
    fail "unit tests" "$(grep -aE 'FAILED|Failure|error' "$work/unit.out" | head -n 10)"
fi
cleanup

if [ "$measure" -eq 1 ]; then
    for scenario in "--demo" "--empty --big-track 65535"; do
        echo "== Download of all tracks (pelnora-sim $scenario) over COM5 and over the pty"
        # shellcheck disable=SC2086
        start_sim $scenario
        for side in win lin; do
            rm -f "$work/$side/big.kml"
            start=$(date +%s%N)
            $side download --all --output big.kml >/dev/null 2>&1
            rc=$?
            ms=$((($(date +%s%N) - start) / 1000000))
            echo "$side: exit $rc, $ms ms, $(stat -c %s "$work/$side/big.kml" 2>/dev/null || echo 0) bytes"
        done
        if cmp -s "$work/win/big.kml" "$work/lin/big.kml"; then
            pass "measured files identical ($scenario)"
        else
            fail "measured files identical ($scenario)"
        fi
    done
    cleanup
fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
