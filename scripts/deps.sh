#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need (when missing).
#   scripts/deps.sh [PACKAGE...]   also the packages named (the fuzz and package scripts' own)
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev qt6-serialport-dev qt6-translations-l10n
  libtinyxml-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  gpsbabel libxml2-utils gdal-bin
  tzdata fonts-dejavu-core locales
  "$@"
)

SUDO=
[ "$(id -u)" -eq 0 ] || SUDO=sudo

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# A Russian locale, so the tests can show that numbers in files keep the full stop under it.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 || echo "note: ru_RU.UTF-8 locale not generated"
fi
