// A snapshot as the server publishes one at 12 pixels a degree around an
// aircraft, for the moving map's tests and benchmark: 100 m everywhere but
// a 3000 m block east of the aircraft (14..40 km east, 12 km either side).
//
// Threading: pure functions; any thread.
#pragma once

#include <cmath>
#include <cstring>

#include "client/orogrid_client.h"

namespace maptest {

inline constexpr double kKmPerDegree = 111.195;

inline void FillSnapshot(orogrid_snapshot& s, double lat, double lon, double heading) {
  std::memset(&s, 0, sizeof s);
  s.pixels_per_degree_x = 12;
  s.pixels_per_degree_y = 12;
  s.sub_cell_lat_span = 1.0 / 36;
  s.sub_cell_lon_span = 1.0 / 36;
  s.aircraft.latitude = lat;
  s.aircraft.longitude = lon;
  s.aircraft.heading = heading;
  s.aircraft.elevation = 100;
  s.aircraft.simulation_state = 1;
  const double refLat = std::ceil(lat * 12) / 12;
  const double refLon = std::floor(lon * 12) / 12;
  const double kmEast = kKmPerDegree * std::cos(lat * 3.14159265358979323846 / 180);
  const auto elevation = [&](double pLat, double pLon) {
    const double east = (pLon - lon) * kmEast;
    const double north = (pLat - lat) * kKmPerDegree;
    return (east > 14 && east < 40 && std::fabs(north) < 12) ? 3000 : 100;
  };
  for (int i = 0; i < OROGRID_COARSE_SIZE; ++i) {
    for (int j = 0; j < OROGRID_COARSE_SIZE; ++j) {
      orogrid_point& p = s.coarse[i][j];
      p.latitude = refLat - (j - 75) / 12.0;
      p.longitude = refLon + (i - 75) / 12.0;
      p.elevation = elevation(p.latitude - 1.0 / 24, p.longitude + 1.0 / 24);
    }
  }
  for (int cx = 0; cx < OROGRID_FINE_SIZE; ++cx) {
    for (int cy = 0; cy < OROGRID_FINE_SIZE; ++cy) {
      for (int sx = 0; sx < OROGRID_SUBDIV; ++sx) {
        for (int sy = 0; sy < OROGRID_SUBDIV; ++sy) {
          orogrid_point& p = s.fine[cx][cy][sx][sy];
          p.latitude = s.coarse[67 + cx][67 + cy].latitude - sy / 36.0;
          p.longitude = s.coarse[67 + cx][67 + cy].longitude + sx / 36.0;
          p.elevation = elevation(p.latitude - 1.0 / 72, p.longitude + 1.0 / 72);
        }
      }
    }
  }
}

}  // namespace maptest
