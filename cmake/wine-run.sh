#!/usr/bin/env bash
# Runs a Windows test program under Wine for ctest. The caller (test.sh)
# normally provides a throw-away WINEPREFIX; without one a prefix beside the
# build is made on first use.
set -eu
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="${TMPDIR:-/tmp}/orogrid-wine-$(id -u)"
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  # Its desktop process must not outlive the set-up without a display.
  wineserver -w
fi
exec wine "$@"
