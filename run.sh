#!/usr/bin/env bash
# The whole demonstration: installs what is missing, builds Orogrid, makes the
# world terrain map when it is missing, starts the server, flies the
# simulation stand-in down the Inn valley into Innsbruck against it, shows
# the terrain live in a window when there is a display ($DISPLAY) or draws
# terrain pictures during the flight otherwise, and ends with the stand-in reporting
# the simulation lost and the server shutting itself down after its
# countdown. Server lines are marked [orogrid], stand-in lines [sim].
#   ./run.sh            the demonstration
#   ./run.sh --server   only the server (on a terminal: q closes, a = About)
#   ./run.sh --pixels-per-degree K [--server]   the same on a map of K pixels
#                       per degree (1..120), made once under build/run/maps
#                       and served with orogrid --map
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build

build=build/run
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DOROGRID_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
bin="$build/bin"
[ -f "$bin/Bitmaps/Terrain/KtTerrainMap.bmp" ] || {
  echo "No terrain map at $bin/Bitmaps/Terrain/KtTerrainMap.bmp" >&2; exit 1; }

map_args=()
if [ "${1:-}" = "--pixels-per-degree" ]; then
  k="${2:?--pixels-per-degree needs a number of pixels per degree}"; shift 2
  map="$build/maps/KtTerrainMap-$k.bmp"
  [ -f "$map" ] || { mkdir -p "$build/maps" && "$bin/orogrid-mapmaker" \
    /usr/share/ferret-vis/data/etopo5.cdf "$map" --pixels-per-degree "$k"; }
  map_args=(--map "$map")
fi
if [ "${1:-}" = "--server" ]; then
  exec "$bin/orogrid" "${map_args[@]}"
fi

pictures="$build/pictures"
mkdir -p "$pictures"
log="$build/orogrid.log"
pids=()
# However the demonstration ends (a failing stand-in, Ctrl-C), the server and
# the picture tool do not outlive it.
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "== Starting the server"
: > "$log"
"$bin/orogrid" "${map_args[@]}" < /dev/null > >(tee "$log" | sed -u 's/^/[orogrid] /') 2>&1 &
server=$!
pids+=("$server")
# Until the server has made the record (the segment appears) or shown its
# first status line, at most 30 s.
for _ in $(seq 300); do
  if [ -e /dev/shm/TrnShmSpace ] || [ -s "$log" ]; then
    break
  fi
  if ! kill -0 "$server" 2>/dev/null; then
    echo "The server ended at start-up" >&2
    exit 1
  fi
  sleep 0.1
done

window=false
if [ -n "${DISPLAY:-}" ]; then
  window=true
  echo "== Showing the terrain live in a window (n: heading-up / north-up, q: close)"
  "$bin/orogrid-view" --window > >(sed -u 's/^/[view] /') 2>&1 &
else
  echo "== Drawing the terrain every 5 s into $pictures/terrain.png (no display for a window)"
  "$bin/orogrid-view" "$pictures/terrain.png" --every 5 > >(sed -u 's/^/[view] /') 2>&1 &
fi
view=$!
pids+=("$view")

echo "== Flying Salzburg -> Innsbruck at 2400 m, 30 times real time"
"$bin/orogrid-sim" --time-scale 30 --hold 3 --altitude 2400 > >(sed -u 's/^/[sim] /') 2>&1

echo "== The simulation is lost; waiting for the server's countdown"
status=0
wait "$server" || status=$?
if $window; then
  echo "== Server ended with status $status. The window stays until you close it (q)."
  wait "$view" || true
else
  wait || true
  echo "== Server ended with status $status. Last picture: $pictures/terrain.png"
fi
exit "$status"
