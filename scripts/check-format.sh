#!/usr/bin/env bash
# Checks that the project's C and C++ sources follow .clang-format.
# Fails listing the files that do not; `clang-format -i FILE` mends them.
#   scripts/check-format.sh [FILE...]   (default: every tracked source)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h')
fi
[ ${#files[@]} -gt 0 ] || exit 0
bad=()
for f in "${files[@]}"; do
  clang-format --dry-run --Werror "$f" >/dev/null 2>&1 || bad+=("$f")
done
if [ ${#bad[@]} -gt 0 ]; then
  echo "Not formatted with .clang-format (run clang-format -i):" >&2
  printf '  %s\n' "${bad[@]}" >&2
  exit 1
fi
echo "format: ${#files[@]} files follow .clang-format"
