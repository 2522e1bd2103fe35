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

echo "-- Debian package"
(cd build/linux-release && cpack -G DEB >/dev/null)
deb=$(ls build/linux-release/packages/orogrid_*.deb | head -n 1)
cp "$deb" "$out/"
scratch=$(mktemp -d)

trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
server="$scratch/opt/orogrid/bin/orogrid"
[ -x "$server" ] && [ -f "$scratch/opt/orogrid/bin/Bitmaps/Terrain/KtTerrainMap.bmp" ] \
  || { echo "package layout is wrong" >&2; exit 1; }
timeout 60 "$server" > "$scratch/server.log" 2>&1 &
pid=$!
sleep 2
"$scratch/opt/orogrid/bin/orogrid-sim" --state lost >/dev/null
if ! wait "$pid"; then
  echo "installed server did not end cleanly:" >&2; cat "$scratch/server.log" >&2; exit 1
fi
if grep -q "Sorry ::" "$scratch/server.log"; then
  echo "installed server did not find its map:" >&2; cat "$scratch/server.log" >&2; exit 1
fi
echo "installed server loaded its map and ended after the simulation was lost"


echo "-- Windows installer"
version=$(sed -n 's/^project(Orogrid VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
makensis -V2 -DBINDIR="$PWD/build/windows/bin" -DMAPFILE="$PWD/$map" \
  -DVERSION="$version" -DOUTFILE="$PWD/$out/orogrid-$version-setup.exe" packaging/orogrid.nsi
prefix=$(mktemp -d)
export WINEPREFIX="$prefix" WINEDEBUG=-all
wineboot -i >/dev/null 2>&1 || true
wineserver -w
wine "$out/orogrid-$version-setup.exe" /S
wineserver -w
installed="$prefix/drive_c/Program Files/Norvalia/Bitmaps/Terrain/KtTerrainMap.bmp"
if ! cmp -s "$installed" "$map"; then
  echo "installer did not put the map at C:\\Program Files\\Norvalia\\Bitmaps\\Terrain" >&2
  wineserver -k || true; rm -rf "$prefix"; exit 1
fi
[ -f "$prefix/drive_c/Program Files/Norvalia/Orogrid/orogrid.exe" ] \
  || { echo "installer did not install orogrid.exe" >&2; exit 1; }
wineserver -k 2>/dev/null || true; rm -rf "$prefix"
echo "installer put the programs and the map in place"
