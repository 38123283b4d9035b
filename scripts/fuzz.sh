#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each one.
#   scripts/fuzz.sh [SECONDS]   time per target (default 60); ROUTE_RUNS stops the route
#                               reader after that many inputs instead (default: no limit)
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
ROUTE_RUNS=${ROUTE_RUNS:--1}
BUILD_DIR=${BUILD_DIR:-build-fuzz}
JOBS=${JOBS:-2}

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPELNORA_FUZZ=ON -DPELNORA_GUI=OFF -DPELNORA_TESTS=OFF -DPELNORA_BENCH=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"$JOBS" --target fuzz_route fuzz_device

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
corpus="$BUILD_DIR/corpus"
mkdir -p "$corpus/route" "$corpus/device" "$BUILD_DIR/artifacts"
# Seeds: every KML and GPX file of the tests and examples, and a few device answers.
find tests examples fuzz/regressions \( -name '*.kml' -o -name '*.gpx' \) -exec cp {} "$corpus/route/" \;
printf '\x00\x05\x03\x0d\x09\x00\x00\x00\x00\x00\x05\x00\x02\xff\xff\xff\xff\xdd\xdd\xdd\xdd\xff\xff\xff\xff' \
  > "$corpus/device/table"
printf '\x04\x03' > "$corpus/device/marks"
printf '\x08\x02' > "$corpus/device/query"

run() {
  local target=$1 dir=$2 log="$BUILD_DIR/$1.log"
  shift 2
  echo "== $target"
  local status=0
  "$BUILD_DIR/fuzz/$target" "$dir" -artifact_prefix="$BUILD_DIR/artifacts/$target-" \
    -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 "$@" >"$log" 2>&1 || status=$?
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|Done)' "$log" || true
  if [ "$status" -ne 0 ]; then
    grep -A30 -E '==[0-9]+==ERROR|deadly signal|Timeout' "$log" | head -60
    echo "$target failed (status $status); the input is in $BUILD_DIR/artifacts/" >&2
    exit 1
  fi
}
# Route files up to 256 KiB: large enough for every bound of the markup scan to be met.
run fuzz_route "$corpus/route" -max_total_time="$SECONDS_PER_TARGET" -runs="$ROUTE_RUNS" \
  -max_len="${ROUTE_MAX_LEN:-262144}" -dict=fuzz/kml.dict
run fuzz_device "$corpus/device" -max_total_time="$SECONDS_PER_TARGET" -max_len=8192
echo "fuzzing: no crash, leak or hang"
