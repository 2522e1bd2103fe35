// Terrain elevation at a latitude and longitude from the published grids.
//
// A grid point stands for the map pixel (coarse grid) or the third of a
// pixel (fine grid) whose north-west corner it sits on. The coarse grid is
// a mosaic of bands the server took around the aircraft as it moved, so the
// grid is not assumed regular: a pixel is found by the positions the points
// themselves carry (a column's pixel from its longitude, a row's from its
// latitude), first where a regular grid would have it, then by a scan.
// The fine cell (cx, cy) refines coarse point (67 + cx, 67 + cy) and is used
// only when its first sub-point sits exactly on that coarse point, as it
// does in one publication.
//
// Methods: nearest gives the value of the point whose cell contains the
// position; bilinear weighs that point and its east, south and south-east
// neighbours by the position inside the cell, the cell's own value standing
// in for a neighbour that is not in the grid.
//
// Grids is any type with `TrnGridPoint Coarse(int i, int j) const` and
// `TrnGridPoint Fine(int cx, int cy, int sx, int sy) const`.
//
// Threading: pure functions over what the accessor reads.
#pragma once

#include <cmath>
#include <cstdint>

#include "client/orogrid_client.h"
#include "shm/TrnInterfaceShm.h"

namespace client {

struct MapScale {
  double pixelsPerDegreeX;
  double pixelsPerDegreeY;
};

// Rounding and flooring by conversion (llround and floor are library calls,
// and a lookup makes a dozen of them).
// A value beyond any map (a hostile record's 1e300, a NaN) gives
// kNoPixel, which matches no pixel a position can have.
inline constexpr std::int64_t kNoPixel = -(std::int64_t{1} << 62);
inline std::int64_t FloorToInt(double v) {
  if (!(v > -1e15 && v < 1e15)) {
    return kNoPixel;
  }
  const auto t = static_cast<std::int64_t>(v);
  return static_cast<double>(t) > v ? t - 1 : t;
}
// Halves round up; the values rounded here are whole numbers give or take
// the error of a degree conversion.
inline std::int64_t RoundToInt(double v) { return FloorToInt(v + 0.5); }

inline std::int64_t PointColumn(const TrnGridPoint& p, const MapScale& s) {
  return RoundToInt((p.longitude + 180.0) * s.pixelsPerDegreeX);
}

inline std::int64_t PointRow(const TrnGridPoint& p, const MapScale& s) {
  return RoundToInt((90.0 - p.latitude) * s.pixelsPerDegreeY);
}

// True when coarse point (i, j) is map pixel (column, row); sets i and j.
// `hint` is the column index to try first (a neighbour's), or -1.
template <class Grids>
bool FindCoarse(const Grids& g, const MapScale& s, std::int64_t column, std::int64_t row, int& i,
                int& j, int hint = -1) {
  const auto tryColumn = [&](int ci) {
    const TrnGridPoint top = g.Coarse(ci, 0);
    if (PointColumn(top, s) != column) {
      return false;
    }
    const std::int64_t cj = row - PointRow(top, s);
    if (cj < 0 || cj >= trn::kCoarseSize) {
      return false;
    }
    const TrnGridPoint p = g.Coarse(ci, static_cast<int>(cj));
    if (PointRow(p, s) != row || PointColumn(p, s) != column) {
      return false;
    }
    i = ci;
    j = static_cast<int>(cj);
    return true;
  };
  if (hint >= 0 && hint < trn::kCoarseSize && tryColumn(hint)) {
    return true;
  }
  const std::int64_t guess = column - PointColumn(g.Coarse(0, 0), s);
  if (guess != hint && guess >= 0 && guess < trn::kCoarseSize &&
      tryColumn(static_cast<int>(guess))) {
    return true;
  }
  for (int ci = 0; ci < trn::kCoarseSize; ++ci) {
    if (ci != guess && ci != hint && tryColumn(ci)) {
      return true;
    }
  }
  return false;
}

// The fine sub-point of global sub-cell (column3, row3), three per pixel.
template <class Grids>
bool FindFine(const Grids& g, const MapScale& s, std::int64_t column3, std::int64_t row3,
              TrnGridPoint& out, int hint = -1) {
  const std::int64_t column = column3 >= 0 ? column3 / 3 : (column3 - 2) / 3;
  const std::int64_t row = row3 >= 0 ? row3 / 3 : (row3 - 2) / 3;
  int i = 0;
  int j = 0;
  if (!FindCoarse(g, s, column, row, i, j, hint)) {
    return false;
  }
  const int cx = i - trn::kFineOrigin;
  const int cy = j - trn::kFineOrigin;
  if (cx < 0 || cx >= trn::kFineSize || cy < 0 || cy >= trn::kFineSize) {
    return false;
  }
  const TrnGridPoint corner = g.Fine(cx, cy, 0, 0);
  const TrnGridPoint coarse = g.Coarse(i, j);
  if (corner.latitude != coarse.latitude || corner.longitude != coarse.longitude) {
    return false;
  }
  out = g.Fine(cx, cy, static_cast<int>(column3 - column * 3), static_cast<int>(row3 - row * 3));
  return true;
}

template <class Grids>
bool FindCoarsePoint(const Grids& g, const MapScale& s, std::int64_t column, std::int64_t row,
                     TrnGridPoint& out, int hint = -1) {
  int i = 0;
  int j = 0;
  if (!FindCoarse(g, s, column, row, i, j, hint)) {
    return false;
  }
  out = g.Coarse(i, j);
  return true;
}

// Sub-cell index 0..2 (a product that rounds to the next pixel stays in this one).
inline int ClampSub(std::int64_t sub) {
  return sub < 0 ? 0 : (sub > 2 ? 2 : static_cast<int>(sub));
}

// Returns an OROGRID_ code; on OROGRID_OK *metres and *grid are set.
template <class Grids>
int LookupElevation(const Grids& g, const MapScale& s, double latitude, double longitude,
                    int method, double* metres, int* grid) {
  if (!(latitude >= -90.0 && latitude <= 90.0 && longitude >= -180.0 && longitude <= 180.0) ||
      (method != OROGRID_NEAREST && method != OROGRID_BILINEAR)) {
    return OROGRID_E_INVALID_ARGUMENT;
  }
  if (!(s.pixelsPerDegreeX >= 1.0 && s.pixelsPerDegreeY >= 1.0)) {
    return OROGRID_E_NO_DATA;
  }
  {
    // A grid never published is all zeros: its corners coincide.
    const TrnGridPoint first = g.Coarse(0, 0);
    const TrnGridPoint last = g.Coarse(trn::kCoarseSize - 1, trn::kCoarseSize - 1);
    if (first.latitude == last.latitude && first.longitude == last.longitude) {
      return OROGRID_E_NO_DATA;
    }
  }
  // The pixel holding the position decides the grid: the fine one when it
  // refines that pixel, else the coarse one; none: outside.
  const double px = (longitude + 180.0) * s.pixelsPerDegreeX;
  const double py = (90.0 - latitude) * s.pixelsPerDegreeY;
  int i = 0;
  int j = 0;
  if (!FindCoarse(g, s, FloorToInt(px), FloorToInt(py), i, j)) {
    return OROGRID_E_OUTSIDE_AREA;
  }
  bool fine = false;
  if (i >= trn::kFineOrigin && i < trn::kFineOrigin + trn::kFineSize && j >= trn::kFineOrigin &&
      j < trn::kFineOrigin + trn::kFineSize) {
    const TrnGridPoint corner = g.Fine(i - trn::kFineOrigin, j - trn::kFineOrigin, 0, 0);
    const TrnGridPoint coarse = g.Coarse(i, j);
    fine = corner.latitude == coarse.latitude && corner.longitude == coarse.longitude;
  }
  const double scale = fine ? 3.0 : 1.0;
  const double fx = px * scale;
  const double fy = py * scale;
  const std::int64_t cx = FloorToInt(fx);
  const std::int64_t cy = FloorToInt(fy);
  const std::int64_t basePx = FloorToInt(px);
  const std::int64_t basePy = FloorToInt(py);
  // Neighbours: sub-points of the same pixel straight from its fine cell;
  // others where a regular grid has them first.
  const auto find = [&](std::int64_t x, std::int64_t y, TrnGridPoint& p) {
    if (fine) {
      if (x / 3 == basePx && y / 3 == basePy) {
        p = g.Fine(i - trn::kFineOrigin, j - trn::kFineOrigin, static_cast<int>(x - basePx * 3),
                   static_cast<int>(y - basePy * 3));
        return true;
      }
      return FindFine(g, s, x, y, p, i + static_cast<int>(x / 3 - basePx));
    }
    return FindCoarsePoint(g, s, x, y, p, i + static_cast<int>(x - basePx));
  };
  TrnGridPoint nw{};
  if (fine) {
    nw = g.Fine(i - trn::kFineOrigin, j - trn::kFineOrigin, ClampSub(cx - FloorToInt(px) * 3),
                ClampSub(cy - FloorToInt(py) * 3));
  } else {
    nw = g.Coarse(i, j);
  }
  double value = nw.elevation;
  if (method == OROGRID_BILINEAR) {
    TrnGridPoint ne = nw;
    TrnGridPoint sw = nw;
    TrnGridPoint se = nw;
    if (!find(cx + 1, cy, ne)) {
      ne = nw;
    }
    if (!find(cx, cy + 1, sw)) {
      sw = nw;
    }
    if (!find(cx + 1, cy + 1, se)) {
      se = nw;
    }
    const double u = fx - static_cast<double>(cx);
    const double v = fy - static_cast<double>(cy);
    value = (1.0 - u) * (1.0 - v) * nw.elevation + u * (1.0 - v) * ne.elevation +
            (1.0 - u) * v * sw.elevation + u * v * se.elevation;
  }
  *metres = value;
  if (grid != nullptr) {
    *grid = fine ? OROGRID_GRID_FINE : OROGRID_GRID_COARSE;
  }
  return OROGRID_OK;
}

}  // namespace client
