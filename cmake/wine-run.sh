#!/usr/bin/env bash
# Runs a Windows test program under Wine for ctest. The caller (test.sh)
# normally provides a throw-away WINEPREFIX; without one a prefix beside the
# build is made on first use.
set -eu
# shellcheck source=scripts/wine-prefix.sh
. "$(dirname "$0")/../scripts/wine-prefix.sh"
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="${TMPDIR:-/tmp}/orogrid-wine-$(id -u)"
  export WINEPREFIX
fi
wine_prefix_ready
exec wine "$@"
