#!/usr/bin/env bash
# Builds, then runs every pelnora-shots-* program offscreen; pictures go to BUILD_DIR/screenshots/.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
bash scripts/build.sh
out="$BUILD_DIR/screenshots"
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen
status=0
found=0
while IFS= read -r shots; do
  found=1
  echo "== $(basename "$shots")"
  "$shots" "$out" || status=1
done < <(find "$BUILD_DIR" -type f -name 'pelnora-shots-*' -perm -u+x | sort)
if [ "$found" = 0 ]; then
  echo "no pelnora-shots-* programs under $BUILD_DIR" >&2
  exit 1
fi
echo "pictures in $out"
exit $status
