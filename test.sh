#!/usr/bin/env bash
# Builds Orogrid for Linux and for Windows (MinGW-w64) and runs every test:
# the Linux programs natively, the Windows programs under Wine in a
# throw-away prefix, with a virtual display for the ones that open windows.
# Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh test

jobs="$(nproc)"

echo "== Linux: configure, build, test"
cmake --preset linux-release >/dev/null
cmake --build --preset linux-release -j "$jobs"
ctest --preset linux-release -j "$jobs"

echo "== Windows: configure, build, test under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
. scripts/wine-prefix.sh
trap wine_prefix_remove EXIT
wine_prefix_new
xvfb-run -a ctest --preset windows

echo "== All tests passed on Linux and Windows"
