#!/usr/bin/env bash
# Installs the Debian 12 packages Orogrid's build, tests and demo need, only
# those that are missing. Uses sudo when not run as root.
#   scripts/install-deps.sh [build|test|ci|flightgear]
#   build: compilers, CMake, Cairo (with its X11 surface), GDAL, the world
#          elevation data
#   test:  build + MinGW-w64, Wine, Xvfb, GoogleTest, Google Benchmark, and
#          the screenshot tools the window tests take pictures with
#   ci:    test + clang/libFuzzer, clang-tidy, NSIS
#   flightgear: test + FlightGear (/usr/games/fgfs, about 1.8 GB with its
#          data) and the D-Bus session bus it needs, for the test that flies
#          it through orogrid-bridge; never part of the other levels
set -euo pipefail
level="${1:-build}"
case "$level" in
  build|test|ci|flightgear) ;;
  *) echo "unknown level \"$level\" (build, test, ci or flightgear)" >&2; exit 1 ;;
esac

packages=(build-essential cmake ninja-build pkg-config git
          libcairo2-dev libx11-dev fonts-liberation fontconfig
          libgdal-dev gdal-bin ferret-datasets)
if [ "$level" = test ] || [ "$level" = ci ] || [ "$level" = flightgear ]; then
  packages+=(libgtest-dev libgmock-dev googletest libbenchmark-dev
             mingw-w64 wine wine64 xvfb xauth x11-apps imagemagick)
fi
if [ "$level" = ci ]; then
  packages+=(clang-14 libfuzzer-14-dev libclang-rt-14-dev clang-tidy clang-format nsis)
fi
if [ "$level" = flightgear ]; then
  packages+=(flightgear dbus-daemon)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
# wine needs the 32-bit architecture only for 32-bit programs; ours are 64-bit.
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
