#!/usr/bin/env bash
# Makes the Debian package and the Windows installer from the release builds
# (build/linux-release and build/windows, as test.sh leaves them) and checks
# that each installed server finds its map:
#  - the .deb is unpacked into a scratch root; the server started there must
#    load its map (no "Sorry ::" on its status line) and end by itself once
#    the simulation stand-in reports the simulation lost;
#  - the client library in the unpacked .deb is found by an outside project:
#    examples/c-client is configured with find_package (and compiled once
#    more with pkg-config's flags), then run, with the Python ctypes example,
#    against the packaged server and a flying orogrid-sim in a private
#    /dev/shm;
#  - the installer runs silently under Wine in a throw-away prefix and must
#    put the map at C:\Program Files\Norvalia\Bitmaps\Terrain\KtTerrainMap.bmp
#    and the client DLL, its import library and header beside the programs.
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
  && [ -x "$scratch/opt/orogrid/bin/orogrid-bridge" ] \
  && [ -f "$scratch/opt/orogrid/share/flightgear/Protocol/orogrid.xml" ] \
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

echo "-- Client library: an outside project against the unpacked package"
opt="$scratch/opt/orogrid"
for f in include/orogrid/orogrid_client.h lib/liborogrid_client.a lib/liborogrid_client.so \
    lib/cmake/Orogrid/OrogridConfig.cmake lib/pkgconfig/orogrid.pc; do
  [ -e "$opt/$f" ] || { echo "package lacks $f" >&2; exit 1; }
done
cmake -S examples/c-client -B "$scratch/c-client" -G Ninja -DCMAKE_PREFIX_PATH="$opt" >/dev/null
cmake --build "$scratch/c-client" >/dev/null
# shellcheck disable=SC2046 # pkg-config's flags are meant to split
cc -o "$scratch/c-client-pc" examples/c-client/main.c \
  $(PKG_CONFIG_PATH="$opt/lib/pkgconfig" pkg-config --cflags --libs orogrid) -lm \
  -Wl,-rpath,"$opt/lib"
# The server and the stand-in on the real segment name, in a /dev/shm of
# their own; the examples must print the elevation under the flying aircraft.
cat > "$scratch/live.sh" <<LIVE
set -eu
mount -t tmpfs tmpfs /dev/shm
"$opt/bin/orogrid" > "$scratch/live-server.log" 2>&1 &
server=\$!
sleep 1
"$opt/bin/orogrid-sim" --time-scale 30 --duration 20 > "$scratch/live-sim.log" 2>&1 &
sim=\$!
sleep 3
"$scratch/c-client/orogrid-c-client"
"$scratch/c-client-pc"
python3 examples/python/orogrid_elevation.py --library "$opt/lib/liborogrid_client.so.1"
kill \$sim
wait \$sim || true
wait \$server || true
LIVE
if ! timeout 120 unshare --mount --propagation private bash "$scratch/live.sh" \
    > "$scratch/live.log" 2>&1 \
    || ! grep -q "under the aircraft (.*): -\?[0-9]* m" "$scratch/live.log" \
    || ! grep -q "ground -\?[0-9]* m" "$scratch/live.log"; then
  echo "the client examples did not print the elevation under the flying aircraft:" >&2
  cat "$scratch/live.log" "$scratch/live-sim.log" >&2; exit 1
fi
grep -E "under the aircraft|5 km ahead|ground" "$scratch/live.log"
echo "the C example (find_package, pkg-config) and the Python example read the aircraft's terrain"

echo "-- Windows installer"
makensis -V2 -DBINDIR="$PWD/build/windows/bin" -DLIBDIR="$PWD/build/windows/lib" \
  -DINCLUDEDIR="$PWD/client" -DDATADIR="$PWD/data" -DMAPFILE="$PWD/$map" \
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
for f in orogrid.exe orogrid-bridge.exe orogrid_client.dll lib/orogrid_client.lib \
    include/orogrid/orogrid_client.h share/flightgear/Protocol/orogrid.xml; do
  [ -f "$prefix/drive_c/Program Files/Norvalia/Orogrid/$f" ] \
    || { echo "installer did not install $f" >&2; exit 1; }
done
echo "installer put the programs, the client library and the map in place"
