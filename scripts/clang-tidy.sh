#!/usr/bin/env bash
# Runs clang-tidy over the project's own sources with a build's compile
# database. Fails on any finding.   scripts/clang-tidy.sh BUILD_DIR
set -euo pipefail
build="${1:?build directory with compile_commands.json}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
mapfile -t files < <(git ls-files '*.cpp' | grep -v '/win32/' | grep -v '^fuzz/')
[ ${#files[@]} -gt 0 ] || exit 0
run-clang-tidy -quiet -p "$build" -j "$(nproc)" "${files[@]/#/$root/}" 2>&1 \
  | grep -v '^[0-9]* warnings\? generated' \
  | tee "$build/clang-tidy.log"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ] || grep -q 'error:\|warning:' "$build/clang-tidy.log"; then
  echo "clang-tidy found problems (see $build/clang-tidy.log)" >&2
  exit 1
fi
