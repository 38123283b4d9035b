#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under CTest.
#   scripts/test.sh             normal build in build/
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh

extra=(-DPELNORA_WERROR=ON)
case "${1:-}" in
  --sanitize) export BUILD_DIR=${BUILD_DIR:-build-asan}; extra+=(-DPELNORA_SANITIZE=ON -DPELNORA_BENCH=OFF) ;;
  --tsan)     export BUILD_DIR=${BUILD_DIR:-build-tsan}; extra+=(-DPELNORA_TSAN=ON -DPELNORA_BENCH=OFF) ;;
  "") ;;
  *) echo "usage: scripts/test.sh [--sanitize|--tsan]" >&2; exit 2 ;;
esac
BUILD_DIR=${BUILD_DIR:-build}
bash scripts/build.sh "${extra[@]}"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$BUILD_DIR"
ctest --output-on-failure -j"$(nproc)" --timeout 300
