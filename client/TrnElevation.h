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
// The map is a globe: longitude -180 and +180 are one meridian, and the
// server's window goes on past a pole down the other side of the globe (the
// same rows, the longitude 180 degrees away, in reverse order). A column of
// the grid may therefore hold rows of two map columns half a turn apart,
// and a neighbour east of the last column or south of the last row is found
// across that seam (GlobeCell).
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

// Columns and rows of the whole globe at a scale: 360 and 180 per degree.
inline std::int64_t GlobeColumns(const MapScale& s) {
  return static_cast<std::int64_t>(s.pixelsPerDegreeX) * 360;
}
inline std::int64_t GlobeRows(const MapScale& s) {
  return static_cast<std::int64_t>(s.pixelsPerDegreeY) * 180;
}

// v modulo m (m > 0), in 0..m-1.
inline std::int64_t WrapIndex(std::int64_t v, std::int64_t m) {
  const std::int64_t r = v % m;
  return r < 0 ? r + m : r;
}

// The cell (x, y) of a globe of `columns` x `rows` cells that position
// (column, row) stands for, when it lies past an edge: columns wrap, and a
// row past a pole comes down the other side, half a turn of columns away.
// True when (column, row) lies over a pole (the cell's rows then run the
// other way). Cells may be pixels or sub-cells (three per pixel each way).
inline bool GlobeCell(std::int64_t column, std::int64_t row, std::int64_t columns,
                      std::int64_t rows, std::int64_t& x, std::int64_t& y) {
  const std::int64_t r = WrapIndex(row, 2 * rows);
  const bool over = r >= rows;
  y = over ? 2 * rows - 1 - r : r;
  x = WrapIndex(column + (over ? columns / 2 : 0), columns);
  return over;
}

// The map column a point names (longitude +180 is column 0 again).
inline std::int64_t PointColumn(const TrnGridPoint& p, const MapScale& s) {
  const std::int64_t c = RoundToInt((p.longitude + 180.0) * s.pixelsPerDegreeX);
  return c == kNoPixel ? kNoPixel : WrapIndex(c, GlobeColumns(s));
}

inline std::int64_t PointRow(const TrnGridPoint& p, const MapScale& s) {
  return RoundToInt((90.0 - p.latitude) * s.pixelsPerDegreeY);
}

// True when coarse point (i, j) is map pixel (column, row), a pixel of the
// map (0 <= column < 360 x, 0 <= row < 180 x pixels per degree); sets i and
// j. `hint` is the column index to try first (a neighbour's), or -1.
template <class Grids>
bool FindCoarse(const Grids& g, const MapScale& s, std::int64_t column, std::int64_t row, int& i,
                int& j, int hint = -1) {
  const std::int64_t rows = GlobeRows(s);
  const std::int64_t columns = GlobeColumns(s);
  // Where a grid column can hold the row, from the row of its top point:
  // straight down; or, when the column starts over the north pole, back up
  // to row 0 and down again; or over the south pole after the last row.
  const auto tryColumn = [&](int ci) {
    const std::int64_t top = PointRow(g.Coarse(ci, 0), s);
    const std::int64_t candidates[] = {row - top, top - row, top + 1 + row,
                                       2 * rows - 1 - row - top};
    for (const std::int64_t cj : candidates) {
      if (cj < 0 || cj >= trn::kCoarseSize) {
        continue;
      }
      const TrnGridPoint p = g.Coarse(ci, static_cast<int>(cj));
      if (PointRow(p, s) == row && PointColumn(p, s) == column) {
        i = ci;
        j = static_cast<int>(cj);
        return true;
      }
    }
    return false;
  };
  if (hint >= 0 && hint < trn::kCoarseSize && tryColumn(hint)) {
    return true;
  }
  // Where a regular grid has it, on either side of a pole.
  const std::int64_t first = PointColumn(g.Coarse(0, 0), s);
  std::int64_t guesses[2] = {-1, -1};
  if (first != kNoPixel && columns > 0) {
    guesses[0] = WrapIndex(column - first, columns);
    guesses[1] = WrapIndex(column + columns / 2 - first, columns);
  }
  for (const std::int64_t guess : guesses) {
    if (guess != hint && guess >= 0 && guess < trn::kCoarseSize &&
        tryColumn(static_cast<int>(guess))) {
      return true;
    }
  }
  for (int ci = 0; ci < trn::kCoarseSize; ++ci) {
    if (ci != guesses[0] && ci != guesses[1] && ci != hint && tryColumn(ci)) {
      return true;
    }
  }
  return false;
}

// The fine sub-point of map sub-cell (column3, row3), three per pixel each
// way (0 <= column3 < 3 x map columns).
template <class Grids>
bool FindFine(const Grids& g, const MapScale& s, std::int64_t column3, std::int64_t row3,
              TrnGridPoint& out, int hint = -1) {
  const std::int64_t column = column3 / 3;
  const std::int64_t row = row3 / 3;
  int i = 0;
  int j = 0;
  if (column3 < 0 || row3 < 0 || !FindCoarse(g, s, column, row, i, j, hint)) {
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
  // refines that pixel, else the coarse one; none: outside. Longitude +180
  // lies in column 0; latitude -90 in the last row across the pole, as the
  // server has it.
  const std::int64_t columns = GlobeColumns(s);
  const std::int64_t rows = GlobeRows(s);
  const double px = (longitude + 180.0) * s.pixelsPerDegreeX;
  const double py = (90.0 - latitude) * s.pixelsPerDegreeY;
  const std::int64_t unwrappedX = FloorToInt(px);
  const std::int64_t unwrappedY = FloorToInt(py);
  std::int64_t baseX = 0;
  std::int64_t baseY = 0;
  const bool baseOver = GlobeCell(unwrappedX, unwrappedY, columns, rows, baseX, baseY);
  int i = 0;
  int j = 0;
  if (!FindCoarse(g, s, baseX, baseY, i, j)) {
    return OROGRID_E_OUTSIDE_AREA;
  }
  bool fine = false;
  if (i >= trn::kFineOrigin && i < trn::kFineOrigin + trn::kFineSize && j >= trn::kFineOrigin &&
      j < trn::kFineOrigin + trn::kFineSize) {
    const TrnGridPoint corner = g.Fine(i - trn::kFineOrigin, j - trn::kFineOrigin, 0, 0);
    const TrnGridPoint coarse = g.Coarse(i, j);
    fine = corner.latitude == coarse.latitude && corner.longitude == coarse.longitude;
  }
  const std::int64_t scale = fine ? 3 : 1;
  const double fx = px * static_cast<double>(scale);
  const double fy = py * static_cast<double>(scale);
  // The cell of the position at the grid's scale, kept inside the base
  // pixel (a product that rounds to the next pixel stays in this one).
  const int subX = fine ? ClampSub(FloorToInt(fx) - unwrappedX * 3) : 0;
  const int subY = fine ? ClampSub(FloorToInt(fy) - unwrappedY * 3) : 0;
  const std::int64_t cx = unwrappedX * scale + subX;
  const std::int64_t cy = unwrappedY * scale + subY;
  // Neighbours, by position on the globe at the grid's scale: sub-points of
  // the same pixel straight from its fine cell, others where a regular grid
  // has them first.
  const auto find = [&](std::int64_t ux, std::int64_t uy, TrnGridPoint& p) {
    std::int64_t x = 0;
    std::int64_t y = 0;
    GlobeCell(ux, uy, columns * scale, rows * scale, x, y);
    const int hint = i + static_cast<int>(ux / scale - unwrappedX);
    if (fine) {
      if (x / 3 == baseX && y / 3 == baseY) {
        p = g.Fine(i - trn::kFineOrigin, j - trn::kFineOrigin, static_cast<int>(x % 3),
                   static_cast<int>(y % 3));
        return true;
      }
      return FindFine(g, s, x, y, p, hint);
    }
    return FindCoarsePoint(g, s, x, y, p, hint);
  };
  TrnGridPoint nw{};
  if (fine) {
    // Over the pole the sub-rows of the pixel run the other way.
    nw = g.Fine(i - trn::kFineOrigin, j - trn::kFineOrigin, subX, baseOver ? 2 - subY : subY);
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
