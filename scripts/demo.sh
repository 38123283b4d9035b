#!/usr/bin/env bash
# The main job against the built-in simulator: settings, track table, all tracks and the marks
# into KML, a sample route uploaded. Every exchange is shown (--trace).
#   BUILD_DIR (default build/) is where it builds.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/deps.sh
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build "$BUILD_DIR" --target pelnora-sim pelnora-cli -j"$(nproc)"

sim_bin="$root/$BUILD_DIR/sim/pelnora-sim"
cli_bin="$root/$BUILD_DIR/cli/pelnora-cli"
out="demo-output"
route="examples/moscow-route.kml"
mkdir -p "$out"

sim_out=$(mktemp)
sim_pid=
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -f "$sim_out"
}
trap cleanup EXIT INT TERM

"$sim_bin" --demo >"$sim_out" &
sim_pid=$!
port=
for _ in $(seq 1 100); do
    port=$(head -n 1 "$sim_out" 2>/dev/null || true)
    [ -n "$port" ] && break
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        echo "demo: the simulator did not start" >&2
        exit 1
    fi
    sleep 0.05
done
if [ -z "$port" ]; then
    echo "demo: the simulator did not report its device path" >&2
    exit 1
fi
echo "Simulated device on $port"
"$cli_bin" --version

step() {
    echo
    echo "== pelnora-cli $*"
    "$cli_bin" --port "$port" --trace "$@"
}

step query
step utc 3 0
step interval 5
step anemometer 100 95
step table
step download --all --output "$out/tracks.kml"
step marks --output "$out/marks.kml"
"$cli_bin" --port "$port" table --json >"$out/table.json"
step route "$route"

echo
echo "Summary"
echo "  tracks: $root/$out/tracks.kml ($(wc -c <"$out/tracks.kml") bytes)"
echo "  marks:  $root/$out/marks.kml ($(wc -c <"$out/marks.kml") bytes)"
echo "  table:  $root/$out/table.json"
echo "  route uploaded: $root/$route"
