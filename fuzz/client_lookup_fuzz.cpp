// libFuzzer target: elevation lookups of the client library over a grid a
// hostile or broken server wrote. The input is a position and method,
// then patches of 8 bytes at chosen places of an otherwise good snapshot of
// the test map; every answer must be one of the lookup's codes, with a
// finite elevation on success, and nothing may fault or overflow.
// Threading: single-threaded, as libFuzzer calls it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "client/orogrid_client.h"
#include "tests/support/ClientTestMap.h"

namespace {

struct Grids {
  orogrid_snapshot good;
  orogrid_snapshot work;
};

Grids& Prepared() {
  static Grids* grids = [] {
    auto* g = new Grids();
    auto record = std::make_unique<TrnShmData>();
    std::memset(static_cast<void*>(record.get()), 0, sizeof *record);
    clienttest::FillRecord(*record, 47.26, 11.35, true);
    std::memcpy(g->good.coarse, record->coarseGrid, sizeof g->good.coarse);
    std::memcpy(g->good.fine, record->fineGrid, sizeof g->good.fine);
    g->good.pixels_per_degree_x = clienttest::kPixelsPerDegree;
    g->good.pixels_per_degree_y = clienttest::kPixelsPerDegree;
    return g;
  }();
  return *grids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Grids& g = Prepared();
  if (size < 20) {
    return 0;
  }
  double latitude = 0.0;
  double longitude = 0.0;
  std::int32_t method = 0;
  std::memcpy(&latitude, data, 8);
  std::memcpy(&longitude, data + 8, 8);
  std::memcpy(&method, data + 16, 4);
  // Most inputs should ask about the published area: take the position as
  // an offset from the aircraft when it is small.
  if (std::fabs(latitude) < 1.0 && std::fabs(longitude) < 1.0) {
    latitude = 47.26 + latitude * 7.0;
    longitude = 11.35 + longitude * 7.0;
  }
  g.work = g.good;
  auto* bytes = reinterpret_cast<unsigned char*>(&g.work);
  const std::size_t patchable = sizeof g.work;
  for (std::size_t at = 20; at + 12 <= size; at += 12) {
    std::uint32_t offset = 0;
    std::memcpy(&offset, data + at, 4);
    offset %= static_cast<std::uint32_t>(patchable - 8);
    std::memcpy(bytes + offset, data + at + 4, 8);
  }
  double metres = 0.0;
  int grid = 0;
  const int code = orogrid_snapshot_elevation(&g.work, sizeof g.work, latitude, longitude,
                                              method & 1, &metres, &grid);
  switch (code) {
    case OROGRID_OK:
      if (!std::isfinite(metres) || (grid != OROGRID_GRID_FINE && grid != OROGRID_GRID_COARSE)) {
        std::abort();
      }
      break;
    case OROGRID_E_OUTSIDE_AREA:
    case OROGRID_E_NO_DATA:
    case OROGRID_E_INVALID_ARGUMENT:
      break;
    default:
      std::abort();
  }
  return 0;
}
