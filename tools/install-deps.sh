#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that
# are missing, so a machine that has them all does not touch apt at all.
set -euo pipefail

packages=(
  cmake ninja-build g++
  libgtest-dev
  libcli11-dev nlohmann-json3-dev
  srecord
  g++-mingw-w64-x86-64-posix googletest
  clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  xvfb xauth imagemagick
  wine wine64 fonts-wine
  dpkg-dev file help2man lintian nsis zip
  time  # tools/bench.sh: CPU time and peak memory of kelobsl-cli
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Wine is optional: where it cannot be installed the Windows tests are
# skipped (and say so), the rest must install. Its fonts (a recommendation
# only) give the windows under Wine their Windows fonts in the screenshots.
wine_packages=()
required=()
for p in "${missing[@]}"; do
  case "$p" in wine|wine64|fonts-wine) wine_packages+=("$p") ;; *) required+=("$p") ;; esac
done
if [ ${#required[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${required[@]}"
fi
if [ ${#wine_packages[@]} -gt 0 ]; then
  $SUDO apt-get install -y -qq --no-install-recommends "${wine_packages[@]}" ||
    echo "install-deps: Wine could not be installed; the Windows tests will be skipped."
fi
