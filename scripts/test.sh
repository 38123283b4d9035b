#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under CTest.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
#   scripts/test.sh --tsan      ThreadSanitizer on the threaded tests, in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

extra=(-DPELNORA_WERROR=ON)
case "${1:-}" in
  --sanitize) export BUILD_DIR=${BUILD_DIR:-build-asan}; extra+=(-DPELNORA_SANITIZE=ON -DPELNORA_BENCH=OFF) ;;
  --tsan)     export BUILD_DIR=${BUILD_DIR:-build-tsan}; extra+=(-DPELNORA_TSAN=ON -DPELNORA_BENCH=OFF)
              tsan=1 ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--sanitize|--tsan]" >&2; exit 2 ;;
esac
BUILD_DIR=${BUILD_DIR:-build}
filter=()
if [ -n "${tsan:-}" ]; then
  # The threaded parts only: port and commands, simulator, track download and its session, the
  # download worker with its progress dialog, the fault sweep, the hostile device, the
  # table read stopped from another thread.
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${extra[@]}" >/dev/null
  cmake --build "$BUILD_DIR" -j"$(nproc)" --target link_port_test link_commands_test sim_test \
    track_download_tests track_short_read_tests gui_tracks_page_tests fault_sweep_tests \
    track_session_tests hostile_device_tests link_bounds_test
  # Two tests sample the dialog with timers and expect its pace; TSan slows it tenfold.
  filter=(-R '^(PtyPort|Commands|SimulatorTest|TrackExchange|ShortReads|TrackPage|FaultSweep|TrackSession|HostileDevice|TableBound|SlowLine)\.'
          -E '^TrackPage\.(WindowStaysLiveWhileATrackDownloads|MiddleTrackWithBadChecksumIsAskedAbout)$')
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$PWD/tests/tsan.supp}
else
  bash scripts/build.sh "${extra[@]}"
fi

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" --timeout 300 "${filter[@]}"
