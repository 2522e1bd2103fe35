// libFuzzer target: the route file parser of orogrid-sim. Any bytes must be
// either refused with an error or give 2..1000 waypoints inside the valid
// latitude and longitude ranges.
// Threading: single-threaded, as libFuzzer calls it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "tools/sim/Route.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static CRoute route;
  if (route.Parse(reinterpret_cast<const char*>(data), size)) {
    if (route.Count() < 2 || route.Count() > CRoute::kMaxWaypoints || route.GetError()[0] != '\0') {
      std::abort();
    }
    for (int i = 0; i < route.Count(); ++i) {
      if (!ValidPosition(route.At(i).latitude, route.At(i).longitude)) {
        std::abort();
      }
    }
  } else if (route.GetError()[0] == '\0') {
    std::abort();
  }
  return 0;
}
