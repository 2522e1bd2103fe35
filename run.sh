#!/usr/bin/env bash
# Builds Orogrid, makes the world terrain map when it is missing and starts
# the server. Installs the Debian packages it needs when they are missing.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build

cmake -S . -B build/run -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DOROGRID_BUILD_TESTS=OFF >/dev/null
cmake --build build/run -j "$(nproc)"
exec build/run/bin/orogrid
