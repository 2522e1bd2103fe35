# shellcheck shell=bash
# Wine prefixes for running the Windows programs. Sourced (bash) by test.sh,
# scripts/package.sh and cmake/wine-run.sh, so a prefix is made one way:
#   . scripts/wine-prefix.sh
#   wine_prefix_new       a fresh throw-away prefix, exported as WINEPREFIX
#                         and made ready
#   wine_prefix_ready     makes the prefix WINEPREFIX names ready when it is
#                         not yet (it has no system.reg)
#   wine_prefix_remove    ends the wine server of the prefix wine_prefix_new
#                         made and removes it; does nothing otherwise, so it
#                         can be an EXIT trap set before the prefix exists
# Sourcing exports WINEDEBUG=-all (no Wine chatter in test output) and keeps
# Wine from offering its .NET and HTML engines, which nothing here needs.

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
orogrid_wine_prefix_made=""

wine_prefix_ready() {
  if [ -z "${WINEPREFIX:-}" ]; then
    echo "wine-prefix: WINEPREFIX is not set" >&2
    return 1
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # Let the prefix's server end: a desktop process left over from the
    # display-less set-up would keep later windows from a virtual display.
    wineserver -w
  fi
}

wine_prefix_new() {
  WINEPREFIX="$(mktemp -d "${TMPDIR:-/tmp}/orogrid-wine.XXXXXX")"
  export WINEPREFIX
  orogrid_wine_prefix_made="$WINEPREFIX"
  wine_prefix_ready
}

wine_prefix_remove() {
  if [ -n "$orogrid_wine_prefix_made" ] && [ -d "$orogrid_wine_prefix_made" ]; then
    WINEPREFIX="$orogrid_wine_prefix_made" wineserver -k 2>/dev/null || true
    rm -rf "$orogrid_wine_prefix_made"
  fi
  orogrid_wine_prefix_made=""
}
