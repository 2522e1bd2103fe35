#!/usr/bin/env bash
# Makes the Debian package and the Windows installer from the release builds
# (build/linux-release and build/windows, as test.sh leaves them) and checks
# that each installed server finds its map:
#  - the .deb is unpacked into a scratch root; the server started there must
#    load its map (no "Sorry ::" on its status line) and end by itself once
#    the simulation stand-in reports the simulation lost;
#  - the installer runs silently under Wine in a throw-away prefix and must
#    put the map at C:\Program Files\Norvalia\Bitmaps\Terrain\KtTerrainMap.bmp.
# Packages land in build/artefacts/.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/artefacts
mkdir -p "$out"
map=build/linux-release/bin/Bitmaps/Terrain/KtTerrainMap.bmp
[ -f "$map" ] || { echo "No default map at $map (is ferret-datasets installed?)" >&2; exit 1; }

. scripts/wine-prefix.sh
scratch=""
# However the script ends: the scratch root, a server still running, and the
# installer's Wine prefix go.
cleanup() {
  [ -z "${pid:-}" ] || kill "$pid" 2>/dev/null || true
  [ -z "$scratch" ] || rm -rf "$scratch"
  wine_prefix_remove
}
trap cleanup EXIT

echo "-- Debian package"
# The package cpack reports having made, not whatever older one lies beside it.
report=$(cd build/linux-release && cpack -G DEB)
deb=$(sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' <<<"$report" | tail -n 1)
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "cpack made no .deb:" >&2; echo "$report" >&2; exit 1
fi
version=$(dpkg-deb -f "$deb" Version)
[ -n "$version" ] || { echo "no version in $deb" >&2; exit 1; }
cp "$deb" "$out/"
scratch=$(mktemp -d)
dpkg-deb -x "$deb" "$scratch"
server="$scratch/opt/orogrid/bin/orogrid"
[ -x "$server" ] && [ -f "$scratch/opt/orogrid/bin/Bitmaps/Terrain/KtTerrainMap.bmp" ] \
  || { echo "package layout is wrong" >&2; exit 1; }
timeout 60 "$server" > "$scratch/server.log" 2>&1 &
pid=$!
# Until the server shows its first status line (it has made or joined the
# record by then), at most 30 s.
for _ in $(seq 300); do
  if [ -s "$scratch/server.log" ] || ! kill -0 "$pid" 2>/dev/null; then
    break
  fi
  sleep 0.1
done
"$scratch/opt/orogrid/bin/orogrid-sim" --state lost >/dev/null
status=0
wait "$pid" || status=$?
pid=""
if [ "$status" -ne 0 ]; then
  echo "installed server did not end cleanly:" >&2; cat "$scratch/server.log" >&2; exit 1
fi
if grep -q "Sorry ::" "$scratch/server.log"; then
  echo "installed server did not find its map:" >&2; cat "$scratch/server.log" >&2; exit 1
fi
echo "installed server loaded its map and ended after the simulation was lost"

echo "-- Windows installer"
makensis -V2 -DBINDIR="$PWD/build/windows/bin" -DMAPFILE="$PWD/$map" \
  -DVERSION="$version" -DOUTFILE="$PWD/$out/orogrid-$version-setup.exe" packaging/orogrid.nsi
wine_prefix_new
prefix="$WINEPREFIX"
wine "$out/orogrid-$version-setup.exe" /S
wineserver -w
installed="$prefix/drive_c/Program Files/Norvalia/Bitmaps/Terrain/KtTerrainMap.bmp"
if ! cmp -s "$installed" "$map"; then
  echo "installer did not put the map at C:\\Program Files\\Norvalia\\Bitmaps\\Terrain" >&2
  exit 1
fi
[ -f "$prefix/drive_c/Program Files/Norvalia/Orogrid/orogrid.exe" ] \
  || { echo "installer did not install orogrid.exe" >&2; exit 1; }
echo "installer put the programs and the map in place"
