#!/usr/bin/env bash
# Makes the Debian package build-pkg/pelnora_VERSION_ARCH.deb with CPack.
#   scripts/package.sh          build the package
#   scripts/package.sh --check  also validate the desktop entry and the AppStream data, run
#                               lintian (errors fail, warnings listed), install the package with
#                               apt-get, run its programs from the installed paths, remove it
set -euo pipefail
cd "$(dirname "$0")/.."
# The build's packages, and what packaging (and, with --check, validating) needs.
extra=(dpkg-dev file gzip)
[ "${1:-}" = "--check" ] && extra+=(lintian desktop-file-utils appstream man-db)
bash scripts/deps.sh "${extra[@]}"

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo
BUILD_DIR=${BUILD_DIR:-build-pkg}
# Debian's hardening flags, as a distribution build would use them.
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)"
export LDFLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DPELNORA_TESTS=OFF -DPELNORA_BENCH=OFF -DPELNORA_WERROR=OFF >/dev/null
cmake --build "$BUILD_DIR" -j"$(nproc)"
rm -f "$BUILD_DIR"/pelnora_*.deb
(cd "$BUILD_DIR" && cpack -G DEB >/dev/null)
deb=$(ls "$BUILD_DIR"/pelnora_*.deb)
echo "package: $deb"
dpkg-deb --field "$deb" Package Version Architecture Depends

[ "${1:-}" = "--check" ] || exit 0

staging=$(mktemp -d)
trap 'rm -rf "$staging"' EXIT
dpkg-deb -x "$deb" "$staging"
desktop-file-validate "$staging"/usr/share/applications/*.desktop
appstreamcli validate --no-net --explain "$staging"/usr/share/metainfo/*.metainfo.xml

# lintian: errors fail the check, warnings are listed.
lintian_out=$(lintian --tag-display-limit 0 "$deb" || true)
[ -n "$lintian_out" ] && echo "$lintian_out"
if echo "$lintian_out" | grep -q '^E:'; then
  echo "lintian reported errors" >&2
  exit 1
fi
echo "lintian: no errors ($(echo "$lintian_out" | grep -c '^W:' || true) warnings)"

# Installed for real, then used from the installed paths.
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get install -y -qq "./$deb" >/dev/null
trap '$SUDO apt-get remove -y -qq pelnora >/dev/null || true; rm -rf "$staging"' EXIT
/usr/bin/pelnora-cli --version
/usr/bin/pelnora-cli --simulate table
man -w pelnora-cli
man -w pelnora
man -w pelnora-sim
test -f /usr/share/bash-completion/completions/pelnora-cli
echo "package check: passed"
