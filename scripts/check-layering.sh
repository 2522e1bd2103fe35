#!/usr/bin/env bash
# Checks that every `#include "folder/..."` line of the tracked C and C++
# sources follows the layering table in docs/layering.md: a file may include
# from its own top-level folder and from the folders its folder's row names.
# A source in a folder without a row fails as well. Lists every offending line.
#   scripts/check-layering.sh [FILE...]   (default: every tracked source)
set -euo pipefail
cd "$(dirname "$0")/.."
table=docs/layering.md
[ -r "$table" ] || { echo "check-layering: cannot read $table" >&2; exit 2; }

# Rows look like: | `folder` | `a` `b` ... |
declare -A allowed=()
while IFS= read -r row; do
  folder=$(sed -n 's/^| *`\([^`]*\)` *|.*/\1/p' <<<"$row")
  [ -n "$folder" ] || continue
  rest=${row#*|}
  rest=${rest#*|}
  allowed[$folder]=" $folder $( (grep -o '`[^`]*`' <<<"$rest" || true) | tr -d '`' | tr '\n' ' ')"
done < <(grep '^| *`' "$table")
[ ${#allowed[@]} -gt 0 ] || { echo "check-layering: no rows in $table" >&2; exit 2; }

if [ $# -gt 0 ]; then
  files=("$@")
else
  mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h' '*.rc')
fi
bad=0
for f in "${files[@]}"; do
  case "$f" in */*) ;; *) continue ;; esac  # top-level files have no folder
  folder=${f%%/*}
  if [ -z "${allowed[$folder]+set}" ]; then
    echo "$f: folder '$folder' has no row in $table" >&2
    bad=1
    continue
  fi
  while IFS=: read -r line text; do
    target=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' <<<"$text")
    case "$target" in */*) ;; *) continue ;; esac  # a header beside the file
    dep=${target%%/*}
    case "${allowed[$folder]}" in
      *" $dep "*) ;;
      *)
        echo "$f:$line: '$folder' may not include \"$target\" (see $table)" >&2
        bad=1
        ;;
    esac
  done < <(grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$f" || true)
done
[ "$bad" -eq 0 ] || exit 1
echo "layering: ${#files[@]} files follow $table"
